// align_table: rewrites a table drawn with a delimiter so that the cells of a
// column have one width, header rows first, for the column bounds taken from
// the heading.  A column is as wide as the first header row's longest cell
// plus 20, or as its own longest cell when that is longer.
//
// The table is read line by line in its own storage (one template per
// character width), once to find the header rows and the widths and again to
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

// ---- the row-end and empty-cell steps, over text as it is written ----------

// What a replacement writes: `n` times `c`.
struct Fill {
    char32_t c;
    size_t n;
    template <class Out>
    void to(Out& out) const {
        if (c == U' ') return out.spaces(n);
        for (size_t i = 0; i < n; ++i) out.put(c);
    }
};

// A stage takes text as a sink does and passes on what its sub gives.
template <class Self>
struct Stage {
    void put(View32 s) {
        for (char32_t c : s) self().put(c);
    }
    template <class C>
    void put(Span<C> s) {
        for (size_t i = 0; i < s.n; ++i) self().put(static_cast<char32_t>(s[i]));
    }

private:
    Self& self() { return static_cast<Self&>(*this); }
};

// sub(r"(\s)+" + word, repl, text), or with the word's last letter repeated
// (r"(\s)+new_line+") when `repeat_last`.  The word holds no white space, so
// a match is a whole run of it (from where the scan stands) and the word
// right after: the run is held until what follows tells.
template <class Next>
class SpacesThenWord : public Stage<SpacesThenWord<Next>> {
public:
    using Stage<SpacesThenWord>::put;
    SpacesThenWord(View32 word, bool repeat_last, Fill repl, Next& next)
        : word_(word), repeat_last_(repeat_last), repl_(repl), next_(next) {}

    void put(char32_t c) {
        if (repeating_) {
            if (c == word_.back()) return;
            repeating_ = false;
        }
        if (matched_) {
            if (c == word_[matched_]) {
                if (++matched_ == word_.size()) {
                    run_.clear();
                    matched_ = 0;
                    repl_.to(next_);
                    repeating_ = repeat_last_;
                }
                return;
            }
            release();
        }
        if (is_space(c)) return hold(c, 1);
        if (!run_.empty() && c == word_[0]) {
            matched_ = 1;
            return;
        }
        release();
        next_.put(c);
    }
    void spaces(size_t k) {
        if (!k) return;
        repeating_ = false;
        if (matched_) release();
        hold(U' ', k);
    }
    // The end of the text.
    void finish() {
        release();
        repeating_ = false;
    }

private:
    void hold(char32_t c, size_t k) {
        if (!run_.empty() && run_.back().c == c) {
            run_.back().n += k;
        } else {
            run_.push_back({c, k});
        }
    }
    // what was held goes on as it stood
    void release() {
        for (const Fill& f : run_) f.to(next_);
        run_.clear();
        next_.put(word_.substr(0, matched_));
        matched_ = 0;
    }

    View32 word_;
    bool repeat_last_;
    Fill repl_;
    Next& next_;
    std::vector<Fill> run_;  // white space, by runs of one character
    size_t matched_ = 0;     // letters of the word after the run
    bool repeating_ = false;
};

// sub(word + r"(\s)+", repl, text): the letters that may begin an occurrence
// of the word are held (an occurrence not followed by white space gives way
// to the next one that overlaps it, as the scan tries each start in turn).
template <class Next>
class WordThenSpaces : public Stage<WordThenSpaces<Next>> {
public:
    using Stage<WordThenSpaces>::put;
    WordThenSpaces(View32 word, Fill repl, Next& next)
        : word_(word), repl_(repl), next_(next), border_(word.size() + 1, 0) {
        // border_[k]: the longest proper prefix of word[:k] that also ends it
        for (size_t k = 2; k <= word.size(); ++k) {
            size_t b = border_[k - 1];
            while (b && word[k - 1] != word[b]) b = border_[b];
            border_[k] = word[k - 1] == word[b] ? b + 1 : 0;
        }
    }

    void put(char32_t c) {
        if (eating_) {
            if (is_space(c)) return;
            eating_ = false;
        }
        if (held_ == word_.size()) {
            if (is_space(c)) return matched();
            fall_back(border_[held_]);
        }
        while (held_ && c != word_[held_]) fall_back(border_[held_]);
        if (c == word_[held_]) {
            ++held_;
            return;
        }
        next_.put(c);
    }
    void spaces(size_t k) {
        if (!k || eating_) return;
        if (held_ == word_.size()) return matched();
        fall_back(0);
        next_.spaces(k);
    }
    // The end of the text.
    void finish() {
        fall_back(0);
        eating_ = false;
    }

private:
    void matched() {
        held_ = 0;
        repl_.to(next_);
        eating_ = true;
    }
    // the held letters before the last `keep` go on as they stood
    void fall_back(size_t keep) {
        next_.put(word_.substr(0, held_ - keep));
        held_ = keep;
    }

    View32 word_;
    Fill repl_;
    Next& next_;
    std::vector<size_t> border_;
    size_t held_ = 0;
    bool eating_ = false;
};

class Aligner {
public:
    Aligner(Handle header_fields, bool multi_line, Py_ssize_t the_length, const U32& delimiter, bool right_justified)
        : multi_line_(multi_line), the_length_(the_length), d_(delimiter), right_(right_justified),
          header_fields_(borrow(header_fields)) {
        read_headings();
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

    // What a line is: not written, a data row, or a header row so many times.
    static constexpr int not_written = -1;

    template <class C>
    Object align_as(Handle text, const U32& split_at, bool mark) {
        const Span<C> table = characters<C>(text);
        RowReader<C> reader(split_at, mark);
        std::vector<int> lines;
        std::vector<size_t> longest;  // per column: its longest cell as written
        bool first_header = true;
        std::vector<Span<C>> test;
        for_each_line(table, [&](Span<C> line) {
            const std::vector<Span<C>>& row = reader.read(line);
            const int times = classify(row, test);
            lines.push_back(times);
            if (times == not_written) return;
            if (times > 0 && first_header) {
                first_header = false;
                for (Span<C> cell : row) width_ = std::max(width_, cell.n);
                width_ += maximum_spaces;
            }
            size_t column = 0;
            for (Span<C> cell : row) {
                if (cell.empty()) continue;
                if (column == longest.size()) longest.push_back(0);
                longest[column] = std::max(longest[column], side_stripped(cell).n);
                ++column;
            }
        });
        if (first_header) return Object();
        // each column as wide as its longest cell, so that none pushes the rest of its line aside
        widths_ = std::move(longest);
        for (size_t& w : widths_) w = std::max(w, width_);

        if (sub_.get().is(re_sub())) {
            // re's own sub: the row-end and empty-cell steps are done here, as
            // the text is written (cell by cell when no match can cross a delimiter)
            const bool by_cell = plain_delimiter(d_);
            return written([&](auto&& out) {
                out.put(View32(d_));
                stepped_block(table, reader, lines, true, by_cell, out);
                out.put(View32(U"+----+\n"));
                out.put(View32(d_));
                stepped_block(table, reader, lines, false, by_cell, out);
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

    // not_written, or how many heading lines accept the row (0: a data row)
    template <class C>
    int classify(const std::vector<Span<C>>& row, std::vector<Span<C>>& test) {
        if (row.size() == 1 && !wide_gap(row[0])) return not_written;
        test.clear();
        if (multi_line_ && static_cast<Py_ssize_t>(row.size()) == the_length_ + 1 && row[0].empty())
            test.push_back(Span<C>());
        for (Span<C> cell : row)
            if (!cell.empty()) test.push_back(cell);
        int times = 0;
        const bool own_compile = compile_.get().is(re_compile());
        if (own_compile && stale_) read_headings();
        if (own_compile && plain_) {
            for (auto& line : headings_) times += accepted(test, line);
        } else {
            // user code may run from here on: header_fields is read as it stands at each step
            stale_ = changed_ = true;
            if (multi_line_) {
                Object it = iter(header_fields_);
                while (Object line = next(it)) times += accepted_now(test, line);
            } else {
                times = accepted_now(test, header_fields_);
            }
        }
        if (times) {
            keep_header_row(row);
            return times;
        }
        // while the test stays as it was, a row equal to a header row passes it too
        return changed_ && among_header_rows(row) ? not_written : 0;
    }

    // The header rows (each as often as it was accepted) or the data rows,
    // their non-empty cells and then the row-end marker, every element
    // justified to its column's width and joined by the delimiter; `by_cell`,
    // the row ends and the empty-cell markers replaced as the sub steps do,
    // cell by cell.
    template <class C, class Sink>
    void block(Span<C> table, RowReader<C>& reader, const std::vector<int>& lines, bool header, bool by_cell,
               Sink& out) const {
        bool first = true;
        size_t at = 0;
        for_each_line(table, [&](Span<C> line) {
            const int times = lines[at++];
            const int count = header ? std::max(times, 0) : times == 0;
            if (!count) return;
            const std::vector<Span<C>>& row = reader.read(line);
            for (int k = 0; k < count; ++k) {
                size_t column = 0;
                for (Span<C> cell : row) {
                    if (cell.empty()) continue;
                    if (!first) out.put(View32(d_));
                    first = false;
                    if (by_cell) {
                        stepped_cell(side_stripped(cell), widths_[column], header, out);
                    } else {
                        element(side_stripped(cell), widths_[column], out);
                    }
                    ++column;
                }
                if (!first) out.put(View32(d_));
                first = false;
                if (by_cell) {
                    out.put(U'\n');
                } else {
                    justified(View32(row_end), width_, out);
                }
            }
        });
    }

    // block() through the row-end and empty-cell steps into `out`.
    template <class C, class Sink>
    void stepped_block(Span<C> table, RowReader<C>& reader, const std::vector<int>& lines, bool header, bool by_cell,
                       Sink& out) const {
        if (by_cell) return block(table, reader, lines, header, true, out);
        stepped(header, out, [&](auto& stage) { block(table, reader, lines, header, false, stage); });
    }

    // What `emit(stage)` writes, through sub(<row end>, "\n") and then
    // sub(<empty-cell marker>, W blanks), into `out`.
    template <class Sink, class Emit>
    void stepped(bool header, Sink& out, Emit&& emit) const {
        const Fill line_feed{U'\n', 1}, blanks{U' ', width_};
        if (right_) {
            SpacesThenWord<Sink> missing(empty_marker, false, blanks, out);
            SpacesThenWord<SpacesThenWord<Sink>> ends(row_end, header, line_feed, missing);
            emit(ends);
            ends.finish();
            missing.finish();
        } else {
            WordThenSpaces<Sink> missing(empty_marker, blanks, out);
            WordThenSpaces<WordThenSpaces<Sink>> ends(row_end, line_feed, missing);
            emit(ends);
            ends.finish();
            missing.finish();
        }
    }

    // A cell as the steps leave it, for a delimiter that no match can cross.
    template <class C, class Sink>
    void stepped_cell(Span<C> s, size_t w, bool header, Sink& out) const {
        if (!has_marker_letters(s)) return element(s, w, out);
        if (is_empty_marker(s)) return out.spaces(w);
        stepped(header, out, [&](auto& stage) { element(s, w, stage); });
    }

    // A cell justified to its column's width `w`.  The empty-cell marker is
    // justified to W, the rest of `w` beside it where the step that blanks it
    // does not reach, so that it comes out as `w` blanks.
    template <class C, class Sink>
    void element(Span<C> s, size_t w, Sink& out) const {
        if (!is_empty_marker(s)) return justified(s, w, out);
        if (right_) {
            justified(s, width_, out);
            out.spaces(w - width_);
        } else {
            out.spaces(w - width_);
            justified(s, width_, out);
        }
    }

    template <class S, class Sink>
    void justified(S s, size_t w, Sink& out) const {
        const size_t pad = s.size() < w ? w - s.size() : 0;
        if (right_) out.spaces(pad);
        out.put(s);
        if (!right_) out.spaces(pad);
    }

    template <class C>
    static bool has_marker_letters(Span<C> s) {
        for (size_t i = 0; i < s.n; ++i)
            if (s[i] == '_') return true;
        return false;
    }
    template <class C>
    static bool is_empty_marker(Span<C> s) {
        return s.n == empty_marker.size() && starts_with(s, 0, empty_marker);
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
        stale_ = true;
        return truth(call(search, {PYU_STR("   +"), to_str(cell)}));
    }

    // The kept reading of header_fields: it watches their types (a list or a
    // tuple of exact str, or of such lines) and whether user code ran since
    // it was taken (a rebound search or compile called, which marks it stale).
    void read_headings() {
        if (stale_) changed_ = true;
        stale_ = false;
        plain_ = false;
        headings_.clear();
        auto plain_sequence = [](Handle s) { return PyList_CheckExact(s.ptr()) || PyTuple_CheckExact(s.ptr()); };
        auto read_line = [&](Handle line) {
            if (!plain_sequence(line)) return false;
            std::vector<Heading> headings;
            for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(line.ptr()); ++i) {
                Handle text = PySequence_Fast_GET_ITEM(line.ptr(), i);
                if (!PyUnicode_CheckExact(text.ptr())) return false;
                headings.push_back({borrow(text)});
            }
            headings_.push_back(std::move(headings));
            return true;
        };
        bool plain = true;
        if (!multi_line_) {
            plain = read_line(header_fields_);
        } else if (!plain_sequence(header_fields_)) {
            plain = false;
        } else {
            for (Py_ssize_t i = 0; plain && i < PySequence_Fast_GET_SIZE(header_fields_.ptr()); ++i)
                plain = read_line(PySequence_Fast_GET_ITEM(header_fields_.ptr(), i));
        }
        if (!plain) headings_.clear();
        plain_ = plain;
    }

    // At least two different heading texts match the cells at their
    // positions, from the kept reading: re's own compile, exact str texts.
    template <class C>
    bool accepted(const std::vector<Span<C>>& test, std::vector<Heading>& line) {
        std::vector<Handle> matched;  // heading texts, kept by `line`
        for (size_t k = 0; k < std::min(test.size(), line.size()); ++k) {
            Heading& h = line[k];
            if (!h.match) remember(h);
            const Span<C> cell = stripped(test[k]);
            // re's own expression cannot match a cell that lacks its literal start
            if (!starts_with(cell, 0, h.prefix)) continue;
            if (!truth(invoke(h.match, to_str(cell)))) continue;
            if (std::none_of(matched.begin(), matched.end(), [&](Handle seen) { return same_or_equal(seen, h.text); }))
                matched.push_back(h.text);
        }
        return matched.size() > 1;
    }

    // The compiled heading, kept for the call: re.compile of an exact str runs
    // no user code and gives the same expression each time.
    static void remember(Heading& h) {
        h.match = getattr(compile_user_pattern(re_compile(), h.text), PYU_STR("match"));
        if (has_inline_flags(h.text)) return;
        const CodePoints text(h.text);
        const Py_ssize_t n = literal_prefix_length(h.text);
        for (Py_ssize_t i = 0; i < n; ++i) h.prefix.push_back(text[i]);
    }

    // The same test as the steps make it: the cells zipped with the heading
    // line as it stands, each text compiled through core's current `compile`
    // and gathered in a set.
    template <class C>
    bool accepted_now(const std::vector<Span<C>>& test, Handle line) {
        Object matched = new_set();
        Object it = iter(line);
        for (size_t k = 0; k < test.size(); ++k) {
            Object text = next(it);
            if (!text) break;
            Object match = getattr(compile_user_pattern(compile_.get(), text), PYU_STR("match"));
            if (truth(invoke(match, to_str(stripped(test[k]))))) set_add(matched, text);
        }
        return PySet_GET_SIZE(matched.ptr()) > 1;
    }

    // The distinct header rows so far, for a row that fails a header test
    // that has changed: it is not a data row when it equals one of them.
    template <class C>
    void keep_header_row(const std::vector<Span<C>>& row) {
        if (among_header_rows(row)) return;
        std::vector<U32> cells;
        for (Span<C> cell : row) cells.emplace_back(cell.p, cell.p + cell.n);
        header_rows_.push_back(std::move(cells));
    }
    template <class C>
    bool among_header_rows(const std::vector<Span<C>>& row) const {
        return std::any_of(header_rows_.begin(), header_rows_.end(), [&](const std::vector<U32>& kept) {
            if (kept.size() != row.size()) return false;
            for (size_t i = 0; i < row.size(); ++i)
                if (row[i].n != kept[i].size() || !starts_with(row[i], 0, kept[i])) return false;
            return true;
        });
    }

    // sub(pattern, repl, text) through core's current `sub`
    Object sub(Handle pattern, Handle repl, Handle text) { return call(sub_.get(), {pattern, repl, text}); }

    bool multi_line_;
    Py_ssize_t the_length_;
    const U32& d_;
    bool right_;
    Object header_fields_;
    std::vector<std::vector<Heading>> headings_;
    bool plain_ = false, stale_ = false;
    bool changed_ = false;  // the header test may have changed since the first row
    std::vector<std::vector<U32>> header_rows_;
    size_t width_ = 0;            // W, of the first header row
    std::vector<size_t> widths_;  // per column, W or its longest cell
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
