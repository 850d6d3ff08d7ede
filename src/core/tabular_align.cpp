// align_table: rewrites a table drawn with a delimiter so that every cell has
// one width, header rows first, for the column bounds taken from the heading.
//
// The table is read line by line in its own storage (one template per
// character width), once to find the header rows and the width and again to
// write them, into one str of the kind its widest character needs.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>
#include "core/tabular.hpp"
#include "pyutil/hooks.hpp"
#include "pyutil/ops.hpp"
#include "pyutil/regex.hpp"
#include "pyutil/text.hpp"

namespace core::tabular {

using namespace pyutil;

namespace {

using U32 = std::u32string;
using View32 = std::u32string_view;

constexpr size_t npos = static_cast<size_t>(-1);
constexpr size_t maximum_spaces = 20;
const U32 separator = U"#_D_#";
const U32 empty_marker = U"header_missing";
const U32 row_end = U"new_line";
// A one-character delimiter that is no blank and none of these can neither be
// part of a marker nor of a match of the steps that take the markers out, so
// that those steps work cell by cell.
constexpr View32 marker_letters = U"header_missingnew_lin#_D";

bool plain_delimiter(const U32& d) {
    return d.size() == 1 && !is_space(d[0]) && marker_letters.find(d[0]) == View32::npos;
}

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
Object to_str(View32 s) { return to_str(Span<char32_t>{s.data(), s.size()}); }

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
// delimiter taken literally; the spaces give back as a greedy " +" would.
// (A delimiter is written only where it stood, so it fits the width.)
template <class S, class C>
void mark_empty_cells(const S& s, const U32& d, std::vector<C>& out) {
    size_t i = 0;
    while (i < s.size()) {
        if (starts_with(s, i, d)) {
            const size_t q = i + d.size();
            size_t r = q;
            while (r < s.size() && s[r] == ' ') ++r;
            size_t j = r;
            while (j > q && !starts_with(s, j, d)) --j;
            if (j > q) {
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

// re.sub(word + r"(\s)+", repl, s)
U32 sub_word_then_spaces(View32 s, View32 word, View32 repl) {
    U32 out;
    size_t pos = 0, from = 0;
    for (size_t j; (j = s.find(word, from)) != View32::npos;) {
        size_t end = j + word.size();
        while (end < s.size() && is_space(s[end])) ++end;
        if (end == j + word.size()) {
            from = j + 1;
            continue;
        }
        out.append(s.substr(pos, j - pos)).append(repl);
        pos = from = end;
    }
    out.append(s.substr(pos));
    return out;
}

// re.sub(r"(\s)+" + word, repl, s), or with the word's last letter repeated
// ("new_line+") when `repeat_last`.
U32 sub_spaces_then_word(View32 s, View32 word, bool repeat_last, View32 repl) {
    U32 out;
    size_t pos = 0, from = 0;
    for (size_t j; (j = s.find(word, from)) != View32::npos;) {
        if (j == pos || !is_space(s[j - 1])) {
            from = j + 1;
            continue;
        }
        size_t start = j - 1;
        while (start > pos && is_space(s[start - 1])) --start;
        size_t end = j + word.size();
        if (repeat_last)
            while (end < s.size() && s[end] == word.back()) ++end;
        out.append(s.substr(pos, start - pos)).append(repl);
        pos = from = end;
    }
    out.append(s.substr(pos));
    return out;
}

// Sizes the result: its length and its widest character.
struct Measure {
    size_t n = 0;
    char32_t widest = 0;
    void put(char32_t c) {
        ++n;
        widest = std::max(widest, c);
    }
    void put(View32 s) {
        for (char32_t c : s) put(c);
    }
    template <class C>
    void put(Span<C> s) {
        n += s.n;
        for (size_t i = 0; i < s.n; ++i) widest = std::max<char32_t>(widest, s[i]);
    }
    void spaces(size_t k) {
        if (!k) return;
        n += k;
        widest = std::max(widest, U' ');
    }
};

// Writes the result into the storage of a str made to its measure.
template <class O>
struct Writer {
    O* p;
    void put(char32_t c) { *p++ = static_cast<O>(c); }
    void put(View32 s) {
        for (char32_t c : s) put(c);
    }
    template <class C>
    void put(Span<C> s) {
        if constexpr (std::is_same_v<C, O>) {
            std::memcpy(p, s.p, s.n * sizeof(O));
            p += s.n;
        } else {
            for (size_t i = 0; i < s.n; ++i) *p++ = static_cast<O>(s[i]);
        }
    }
    void spaces(size_t k) {
        std::fill_n(p, k, static_cast<O>(' '));
        p += k;
    }
};

// One str written by `emit(sink)`, measured first.
template <class Emit>
Object written(Emit&& emit) {
    Measure measure;
    emit(measure);
    Object out = own(PyUnicode_New(static_cast<Py_ssize_t>(measure.n), measure.widest));
    void* data = PyUnicode_DATA(out.ptr());
    switch (PyUnicode_KIND(out.ptr())) {
        case PyUnicode_1BYTE_KIND: emit(Writer<Py_UCS1>{static_cast<Py_UCS1*>(data)}); break;
        case PyUnicode_2BYTE_KIND: emit(Writer<Py_UCS2>{static_cast<Py_UCS2*>(data)}); break;
        default: emit(Writer<Py_UCS4>{static_cast<Py_UCS4*>(data)}); break;
    }
    return out;
}

class Aligner {
public:
    Aligner(Handle header_fields, bool multi_line, Py_ssize_t the_length, const U32& delimiter, bool right_justified)
        : multi_line_(multi_line), the_length_(the_length), d_(delimiter), right_(right_justified) {
        auto heading_line = [](Handle line) {
            std::vector<Heading> headings;
            Object it = iter(line);
            while (Object text = next(it)) headings.push_back({text});
            return headings;
        };
        if (multi_line) {
            Object it = iter(header_fields);
            while (Object line = next(it)) headings_.push_back(heading_line(line));
        } else {
            headings_.push_back(heading_line(header_fields));
        }
    }

    // The aligned text of the rows of `text` (a str, alive through the call)
    // read with `split_at` for the delimiter, or a null object when no row is
    // a header row.
    Object align(Handle text, const U32& split_at, bool mark) {
        switch (PyUnicode_KIND(text.ptr())) {
            case PyUnicode_1BYTE_KIND: return align_as<Py_UCS1>(text, split_at, mark);
            case PyUnicode_2BYTE_KIND: return align_as<Py_UCS2>(text, split_at, mark);
            default: return align_as<Py_UCS4>(text, split_at, mark);
        }
    }

private:
    struct Heading {
        Object text;
        Object match;  // compiled by re's own `compile` when first needed
        U32 prefix;    // what every match of it starts with, as far as its text tells
    };

    // What a line is: not a row, a data row, or a header row so many times.
    static constexpr int skipped = -1;

    template <class C>
    Object align_as(Handle text, const U32& split_at, bool mark) {
        const Span<C> table = characters<C>(text);
        RowReader<C> reader(split_at, mark);
        std::vector<int> lines;
        bool first_header = true;
        std::vector<Span<C>> test;
        for_each_line(table, [&](Span<C> line) {
            const std::vector<Span<C>>& row = reader.read(line);
            const int times = classify(row, test);
            lines.push_back(times);
            if (times == skipped) return;
            if (times > 0 && first_header) {
                first_header = false;
                for (Span<C> cell : row) width_ = std::max(width_, cell.n);
                width_ += maximum_spaces;
            }
            for (Span<C> cell : row) widest_ = std::max(widest_, side_stripped(cell).n);
        });
        if (first_header) return Object();
        // no cell wider than the columns, so that none pushes the rest of its line aside
        width_ = std::max(width_, widest_);

        if (plain_delimiter(d_) && sub_.get().is(re_sub())) {
            // re's own sub: the steps are done here, cell by cell
            return written([&](auto&& out) {
                out.put(View32(d_));
                block(table, reader, lines, true, true, out);
                out.put(View32(U"+----+\n"));
                out.put(View32(d_));
                block(table, reader, lines, false, true, out);
                out.put(U'\n');
            });
        }
        Object header = written([&](auto&& out) { block(table, reader, lines, true, false, out); });
        Object body = written([&](auto&& out) { block(table, reader, lines, false, false, out); });
        const Object blanks = multiply(PYU_STR(" "), integer(static_cast<Py_ssize_t>(width_)));
        if (right_) {
            header = sub(PYU_STR("(\\s)+new_line+"), PYU_STR("\n"), header);
            body = sub(PYU_STR("(\\s)+new_line"), PYU_STR("\n"), body);
        } else {
            header = sub(PYU_STR("new_line(\\s)+"), PYU_STR("\n"), header);
            body = sub(PYU_STR("new_line(\\s)+"), PYU_STR("\n"), body);
        }
        Handle missing = right_ ? PYU_STR("(\\s)+header_missing") : PYU_STR("header_missing(\\s)+");
        header = sub(missing, blanks, header);
        body = sub(missing, blanks, body);
        const Object d = to_str(d_);
        return format(PYU_STR("{}{}+----+\n{}{}\n"), {d, header, d, body});
    }

    // skipped, or how many heading lines accept the row (0: a data row)
    template <class C>
    int classify(const std::vector<Span<C>>& row, std::vector<Span<C>>& test) {
        if (row.size() == 1 && !wide_gap(row[0])) return skipped;
        test.clear();
        if (multi_line_ && static_cast<Py_ssize_t>(row.size()) == the_length_ + 1 && row[0].empty())
            test.push_back(Span<C>());
        for (Span<C> cell : row)
            if (!cell.empty()) test.push_back(cell);
        // a row equal to a header row passes the same test, so being among
        // the header rows is having passed it now
        int times = 0;
        for (auto& line : headings_) times += accepted(test, line);
        return times;
    }

    // The header rows (each as often as it was accepted) or the data rows,
    // their non-empty cells and then the row-end marker, every element
    // justified to the width and joined by the delimiter; with `steps`, the
    // row ends and the empty-cell markers replaced as the sub steps do.
    template <class C, class Sink>
    void block(Span<C> table, RowReader<C>& reader, const std::vector<int>& lines, bool header, bool steps,
               Sink& out) const {
        bool first = true;
        size_t at = 0;
        for_each_line(table, [&](Span<C> line) {
            const int times = lines[at++];
            const int count = header ? std::max(times, 0) : times == 0;
            if (!count) return;
            const std::vector<Span<C>>& row = reader.read(line);
            for (int k = 0; k < count; ++k) {
                for (Span<C> cell : row) {
                    if (cell.empty()) continue;
                    if (!first) out.put(View32(d_));
                    first = false;
                    element(side_stripped(cell), header, steps, out);
                }
                if (!first) out.put(View32(d_));
                first = false;
                if (steps) {
                    out.put(U'\n');
                } else {
                    justified(Span<char32_t>{row_end.data(), row_end.size()}, out);
                }
            }
        });
    }

    template <class C, class Sink>
    void element(Span<C> s, bool header, bool steps, Sink& out) const {
        if (steps && has_marker_letters(s)) {
            if (starts_with(s, 0, empty_marker) && s.n == empty_marker.size()) {
                out.spaces(width_);
                return;
            }
            if (find_word(s, row_end, 0) != npos || find_word(s, empty_marker, 0) != npos) {
                stepped(s, header, out);
                return;
            }
        }
        justified(s, out);
    }

    template <class C>
    static bool has_marker_letters(Span<C> s) {
        for (size_t i = 0; i < s.n; ++i)
            if (s[i] == '_') return true;
        return false;
    }

    template <class C, class Sink>
    void justified(Span<C> s, Sink& out) const {
        const size_t pad = s.n < width_ ? width_ - s.n : 0;
        if (right_) out.spaces(pad);
        out.put(s);
        if (!right_) out.spaces(pad);
    }

    // A cell holding a marker's text, through the steps on its own.
    template <class C, class Sink>
    void stepped(Span<C> s, bool header, Sink& out) const {
        U32 text;
        const size_t pad = s.n < width_ ? width_ - s.n : 0;
        if (right_) text.append(pad, U' ');
        for (size_t i = 0; i < s.n; ++i) text.push_back(s[i]);
        if (!right_) text.append(pad, U' ');
        const U32 blanks(width_, U' ');
        if (right_) {
            text = sub_spaces_then_word(text, row_end, header, U"\n");
            text = sub_spaces_then_word(text, empty_marker, false, blanks);
        } else {
            text = sub_word_then_spaces(text, row_end, U"\n");
            text = sub_word_then_spaces(text, empty_marker, blanks);
        }
        out.put(View32(text));
    }

    template <class C>
    Span<C> side_stripped(Span<C> cell) const {
        return right_ ? rstripped(cell) : lstripped(cell);
    }

    // search("   +", cell) through core's current `search`
    template <class C>
    bool wide_gap(Span<C> cell) {
        Object search = search_.get();
        if (search.is(re_search())) return find_word(cell, View32(U"   "), 0) != npos;
        return truth(call(search, {PYU_STR("   +"), to_str(cell)}));
    }

    // At least two different heading texts match the cells at their positions.
    template <class C>
    bool accepted(const std::vector<Span<C>>& test, std::vector<Heading>& line) {
        std::vector<Handle> matched;  // heading texts, kept by `line`
        for (size_t k = 0; k < std::min(test.size(), line.size()); ++k) {
            Heading& h = line[k];
            // compiled for each cell through the current `compile`; re's own gives the same expression each time
            Object compile = compile_.get();
            const bool own_compile = compile.is(re_compile());
            Object match = own_compile ? h.match : Object();
            if (!match) {
                match = getattr(compile_user_pattern(compile, h.text.ptr()), PYU_STR("match"));
                if (own_compile) remember(h, match);
            }
            const Span<C> cell = stripped(test[k]);
            // re's own expression cannot match a cell that lacks its literal start
            if (own_compile && !starts_with(cell, 0, h.prefix)) continue;
            if (!truth(invoke(match, to_str(cell)))) continue;
            if (std::none_of(matched.begin(), matched.end(), [&](Handle seen) { return same_or_equal(seen, h.text); }))
                matched.push_back(h.text);
        }
        return matched.size() > 1;
    }

    static void remember(Heading& h, const Object& match) {
        h.match = match;
        if (!PyUnicode_CheckExact(h.text.ptr()) || has_inline_flags(h.text)) return;
        const CodePoints text(h.text);
        const Py_ssize_t n = literal_prefix_length(h.text);
        for (Py_ssize_t i = 0; i < n; ++i) h.prefix.push_back(text[i]);
    }

    // sub(pattern, repl, text) through core's current `sub`
    Object sub(Handle pattern, Handle repl, Handle text) { return call(sub_.get(), {pattern, repl, text}); }

    bool multi_line_;
    Py_ssize_t the_length_;
    const U32& d_;
    bool right_;
    std::vector<std::vector<Heading>> headings_;
    size_t width_ = 0, widest_ = 0;
    CachedGlobal search_{frame(), PYU_STR("search")}, compile_{frame(), PYU_STR("compile")},
        sub_{frame(), PYU_STR("sub")};
};

U32 code_points(Handle s) {
    const CodePoints t(s);
    U32 out(static_cast<size_t>(t.size()), U'\0');
    for (Py_ssize_t i = 0; i < t.size(); ++i) out[i] = t[i];
    return out;
}

// text with its empty cells marked (when `mark`) and every delimiter replaced
// by the separator, as one str: for a delimiter that spans lines.
template <class C>
Object separated_as(Handle text, const U32& d, bool mark) {
    const Span<C> s = characters<C>(text);
    std::vector<C> out;
    if (mark) {
        std::vector<C> marked;
        mark_empty_cells(s, d, marked);
        replace_all(marked, d, separator, out);
    } else {
        replace_all(s, d, separator, out);
    }
    return to_str(Span<C>{out.data(), out.size()});
}
Object separated(Handle text, const U32& d, bool mark) {
    switch (PyUnicode_KIND(text.ptr())) {
        case PyUnicode_1BYTE_KIND: return separated_as<Py_UCS1>(text, d, mark);
        case PyUnicode_2BYTE_KIND: return separated_as<Py_UCS2>(text, d, mark);
        default: return separated_as<Py_UCS4>(text, d, mark);
    }
}

[[noreturn]] void raise_unequal_heading_lines() {
    raise(PyExc_AttributeError,
          "Header fields are not of the same length. Please provide equal length header fields");
}

// The table with its empty cells marked: sub(escape(d) + " +" + escape(d),
// d + "header_missing" + d, table) through core's current `sub` and `escape`;
// a null object (and `native`) while they are re's own, the marking left to
// the rows.
Object marked_table(Handle table, Handle delimiter, bool& native) {
    Object sub = global(PYU_STR("sub"));
    Object escape = global(PYU_STR("escape"));
    native = sub.is(re_sub()) && escape.is(re_escape()) && is_str(table) && is_str(delimiter);
    if (native) return Object();
    Object pattern = add(call(escape, {delimiter}), PYU_STR(" +"));
    pattern = add(pattern, call(global(PYU_STR("escape")), {delimiter}));
    Object marker = add(add(delimiter, PYU_STR("header_missing")), delimiter);
    // sub reads its replacement as a template: with its backslashes doubled
    // it gives the marker as written, whatever the delimiter holds
    if (is_str(marker)) marker = replace(marker, PYU_STR("\\"), PYU_STR("\\\\"));
    Object marked = call(sub, {pattern, marker, table});
    if (!is_str(marked) || !is_str(delimiter)) {
        // what the next step, marked.replace(d, "#_D_#"), makes of other objects: their own error
        call_method(marked, PYU_STR("replace"), {delimiter, PYU_STR("#_D_#")});
        raise(PyExc_TypeError, "the table to align must be a str");
    }
    return marked;
}

}  // namespace

Object align_table_body(const Args& a) {
    Handle self = a[0], table = a[1], header_fields = a[2];
    Object delimiter = equal(a[4], pyutil::empty_str()) ? borrow(PYU_STR("|")) : borrow(a[4]);
    const bool multi_line = truth(getattr(self, PYU_STR("multi_line")));
    Py_ssize_t the_length = -1;
    if (multi_line) {
        the_length = length(getitem(header_fields, integer(0)));
        Object it = iter(header_fields);
        while (Object line = next(it))
            if (length(line) != the_length) raise_unequal_heading_lines();
    }
    bool native = false;
    Object marked = marked_table(table, delimiter, native);
    // no row has two cells without a delimiter (or a separator) in the text; with
    // re's own functions nobody sees the searches and compiles that would tell so
    if (native && !pyutil::str_contains(table, delimiter) && !pyutil::str_contains(table, PYU_STR("#_D_#")) &&
        global(PYU_STR("search")).is(re_search()) && global(PYU_STR("compile")).is(re_compile()))
        return borrow(table);
    const U32 d = code_points(delimiter);
    Handle text = native ? table : Handle(marked);
    const bool right_justified = truth(a[5]);
    Aligner aligner(header_fields, multi_line, the_length, d, right_justified);
    Object aligned;
    if (d.find(U'\n') == U32::npos) {
        aligned = aligner.align(text, d, native);
    } else {
        // a delimiter across lines: replaced in the whole text before it is cut into lines
        const Object separated_text = separated(text, d, native);
        aligned = aligner.align(separated_text, separator, false);
    }
    return aligned ? aligned : borrow(table);
}

}  // namespace core::tabular
