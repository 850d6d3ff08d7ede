// Reading the rows of a drawn table: its lines, in the str's own storage
// (one template per character width), cut into cells at the delimiter.
#pragma once
#include <Python.h>
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>
#include "core/tabular.hpp"
#include "pyutil/object.hpp"

namespace core::tabular::drawn {

using pyutil::Object;
using pyutil::own;

using U32 = std::u32string;
using View32 = std::u32string_view;

inline constexpr size_t npos = static_cast<size_t>(-1);
inline constexpr size_t maximum_spaces = 20;
inline const U32 separator = U"#_D_#";
inline const U32 empty_marker = U"header_missing";
inline const U32 row_end = U"new_line";
// A one-character delimiter that is no blank and none of these can neither be
// part of a marker nor of a match of the steps that take the markers out, so
// that those steps work cell by cell.
inline constexpr View32 marker_letters = U"header_missingnew_lin#_D";

inline bool plain_delimiter(const U32& d) {
    return d.size() == 1 && !is_space(d[0]) && marker_letters.find(d[0]) == View32::npos;
}

// A delimiter with white space at an edge: what the row-end and empty-cell
// steps would take of it is left to it.
inline bool blank_edged(const U32& d) { return !d.empty() && (is_space(d.front()) || is_space(d.back())); }

// Characters of a str's own storage (or of a buffer of the same width).
template <class C>
struct Span {
    const C* p = nullptr;
    size_t n = 0;
    size_t size() const { return n; }
    bool empty() const { return n == 0; }
    C operator[](size_t i) const { return p[i]; }
    Span sub(size_t at, size_t len) const { return {p + at, len}; }
};

template <class C>
constexpr int kind_of() {
    return sizeof(C) == 1 ? PyUnicode_1BYTE_KIND : sizeof(C) == 2 ? PyUnicode_2BYTE_KIND : PyUnicode_4BYTE_KIND;
}

template <class C>
Span<C> characters(Handle s) {
    return {static_cast<const C*>(PyUnicode_DATA(s.ptr())), static_cast<size_t>(PyUnicode_GET_LENGTH(s.ptr()))};
}

template <class C>
Object to_str(Span<C> s) {
    return own(PyUnicode_FromKindAndData(kind_of<C>(), s.p, static_cast<Py_ssize_t>(s.n)));
}
inline Object to_str(View32 s) { return to_str(Span<char32_t>{s.data(), s.size()}); }

template <class C>
Span<C> lstripped(Span<C> s) {
    size_t i = 0;
    while (i < s.n && is_space(s[i])) ++i;
    return s.sub(i, s.n - i);
}
template <class C>
Span<C> rstripped(Span<C> s) {
    size_t n = s.n;
    while (n > 0 && is_space(s[n - 1])) --n;
    return s.sub(0, n);
}
template <class C>
Span<C> stripped(Span<C> s) {
    return rstripped(lstripped(s));
}

// Whether `word` stands in `s` at `at`, and where it stands first from `from`.
template <class S, class W>
bool starts_with(const S& s, size_t at, const W& word) {
    if (at + word.size() > s.size()) return false;
    for (size_t k = 0; k < word.size(); ++k)
        if (static_cast<char32_t>(s[at + k]) != static_cast<char32_t>(word[k])) return false;
    return true;
}
template <class S, class W>
size_t find_word(const S& s, const W& word, size_t from) {
    for (size_t at = from; at + word.size() <= s.size(); ++at)
        if (starts_with(s, at, word)) return at;
    return npos;
}

template <class C>
void append(std::vector<C>& out, const U32& s) {
    for (char32_t c : s) out.push_back(static_cast<C>(c));
}

// sub(escape(d) + " +" + escape(d), d + "header_missing" + d, s), the
// delimiter taken literally.  Of the spaces after a delimiter, the greedy
// " +" can give back only the closing delimiter's own leading spaces (all of
// it, for a delimiter of spaces): one place to try, so a run of blanks is
// read once.  (A delimiter is written only where it stood, so it fits the
// width.)
template <class S, class C>
void mark_empty_cells(const S& s, const U32& d, std::vector<C>& out) {
    size_t lead = 0;
    while (lead < d.size() && d[lead] == U' ') ++lead;
    const size_t given_back = lead == d.size() ? d.size() : lead;
    size_t i = 0;
    while (i < s.size()) {
        if (starts_with(s, i, d)) {
            const size_t q = i + d.size();
            size_t r = q;
            while (r < s.size() && s[r] == ' ') ++r;
            const size_t j = r - std::min(r, given_back);
            if (j > q && starts_with(s, j, d)) {
                append(out, d);
                append(out, empty_marker);
                append(out, d);
                i = j + d.size();
                continue;
            }
        }
        out.push_back(s[i++]);
    }
}

// s.replace(from, to) of str
template <class S, class C>
void replace_all(const S& s, const U32& from, const U32& to, std::vector<C>& out) {
    if (from.empty()) {
        // `to` before every character and at the end (a str subclass unequal
        // to "" can be an empty delimiter)
        for (size_t i = 0; i < s.size(); ++i) {
            append(out, to);
            out.push_back(s[i]);
        }
        append(out, to);
        return;
    }
    size_t pos = 0;
    for (size_t at; (at = find_word(s, from, pos)) != npos; pos = at + from.size()) {
        for (size_t i = pos; i < at; ++i) out.push_back(s[i]);
        append(out, to);
    }
    for (size_t i = pos; i < s.size(); ++i) out.push_back(s[i]);
}

// The table's lines one by one, as str.split("\n") gives them.
template <class C, class Each>
void for_each_line(Span<C> text, Each&& each) {
    size_t pos = 0;
    for (;;) {
        size_t at = pos;
        if constexpr (sizeof(C) == 1) {
            const void* lf = std::memchr(text.p + pos, '\n', text.n - pos);
            at = lf ? static_cast<size_t>(static_cast<const C*>(lf) - text.p) : text.n;
        } else {
            while (at < text.n && text[at] != '\n') ++at;
        }
        each(text.sub(pos, at - pos));
        if (at == text.n) return;
        pos = at + 1;
    }
}

// The cells of one line: the line with its empty cells marked (when
// `mark`), every delimiter replaced by the separator, stripped, split at the
// separator.
template <class C>
class RowReader {
public:
    RowReader(const U32& d, bool mark) : d_(d), mark_(mark), plain_(plain_delimiter(d)) {
        append(marker_, empty_marker);
    }
    RowReader(const RowReader&) = delete;
    RowReader& operator=(const RowReader&) = delete;

    const std::vector<Span<C>>& read(Span<C> line) {
        if (!(plain_ && split_in_place(line))) split_copy(line);
        // an empty cell between two delimiters keeps its column, as a blank one does
        for (size_t i = 1; i + 1 < cells_.size(); ++i)
            if (cells_[i].empty()) cells_[i] = marker();
        return cells_;
    }

private:
    Span<C> marker() const { return {marker_.data(), marker_.size()}; }

    // The cells straight from the line, for a plain delimiter and a line
    // without '#' (where the separator can only stand for a delimiter).
    bool split_in_place(Span<C> line) {
        cells_.clear();
        const Span<C> s = stripped(line);
        const char32_t d = d_[0];
        size_t start = 0;
        for (size_t i = 0; i < s.n; ++i) {
            const char32_t c = s[i];
            if (c == '#') return false;
            if (c == d) {
                cells_.push_back(s.sub(start, i - start));
                start = i + 1;
            }
        }
        cells_.push_back(s.sub(start, s.n - start));
        if (mark_) {
            // a cell of spaces between two delimiters, unless the delimiter
            // before it closed the cell marked before
            bool after_mark = false;
            for (size_t i = 1; i + 1 < cells_.size(); ++i) {
                const Span<C> cell = cells_[i];
                bool blank = !cell.empty() && !after_mark;
                for (size_t k = 0; blank && k < cell.n; ++k) blank = cell[k] == ' ';
                if (blank) cells_[i] = marker();
                after_mark = blank;
            }
        }
        return true;
    }

    void split_copy(Span<C> line) {
        cells_.clear();
        replaced_.clear();
        if (mark_) {
            marked_.clear();
            mark_empty_cells(line, d_, marked_);
            replace_all(marked_, d_, separator, replaced_);
        } else {
            replace_all(line, d_, separator, replaced_);
        }
        const Span<C> s = stripped(Span<C>{replaced_.data(), replaced_.size()});
        size_t pos = 0;
        for (size_t at; (at = find_word(s, separator, pos)) != npos; pos = at + separator.size())
            cells_.push_back(s.sub(pos, at - pos));
        cells_.push_back(s.sub(pos, s.n - pos));
    }

    const U32& d_;
    bool mark_, plain_;
    std::vector<C> marker_, marked_, replaced_;
    std::vector<Span<C>> cells_;
};

}  // namespace core::tabular::drawn
