// align_table: rewrites a table drawn with a delimiter so that the cells of a
// column have one width, header rows first, for the column bounds taken from
// the heading.  A column is as wide as the first header row's longest cell
// plus 20, or as its own longest cell when that is longer.
//
// The table is read line by line in its own storage (one template per
// character width), once to find the header rows and the widths and again to
// write them, into one str of the kind its widest character needs.
#include <algorithm>
#include <vector>
#include "core/align_stages.hpp"
#include "core/tabular.hpp"
#include "pyutil/hooks.hpp"
#include "pyutil/ops.hpp"
#include "pyutil/regex.hpp"
#include "pyutil/text.hpp"

namespace core::tabular {

using namespace pyutil;

namespace {

using namespace drawn;

class Aligner {
public:
    Aligner(Handle header_fields, bool multi_line, Py_ssize_t the_length, const U32& delimiter)
        : multi_line_(multi_line), the_length_(the_length), d_(delimiter), header_fields_(borrow(header_fields)) {
        read_headings();
    }

    // The aligned text of the rows of `text` (a str, alive through the call)
    // read with `split_at` for the delimiter, or a null object when no row is
    // a header row.  `right_justified` is asked for its truth once a header
    // row was found.
    Object align(Handle text, const U32& split_at, bool mark, Handle right_justified) {
        switch (PyUnicode_KIND(text.ptr())) {
            case PyUnicode_1BYTE_KIND: return align_as<Py_UCS1>(text, split_at, mark, right_justified);
            case PyUnicode_2BYTE_KIND: return align_as<Py_UCS2>(text, split_at, mark, right_justified);
            default: return align_as<Py_UCS4>(text, split_at, mark, right_justified);
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
    Object align_as(Handle text, const U32& split_at, bool mark, Handle right_justified) {
        const Span<C> table = characters<C>(text);
        RowReader<C> reader(split_at, mark);
        std::vector<int> lines;
        // per column: its longest cell as written left-justified, and right-justified
        std::vector<size_t> longest_left, longest_right;
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
                if (column == longest_left.size()) {
                    longest_left.push_back(0);
                    longest_right.push_back(0);
                }
                longest_left[column] = std::max(longest_left[column], lstripped(cell).n);
                longest_right[column] = std::max(longest_right[column], rstripped(cell).n);
                ++column;
            }
        });
        if (first_header) return Object();
        right_ = truth(right_justified);
        // each column as wide as its longest cell, so that none pushes the rest of its line aside
        widths_ = std::move(right_ ? longest_right : longest_left);
        for (size_t& w : widths_) w = std::max(w, width_);

        // The row-end and empty-cell steps never take what belongs to a
        // delimiter: one with white space at an edge has them done cell by cell.
        const bool guarded = blank_edged(d_);
        const bool by_cell = plain_delimiter(d_) || guarded;
        if (sub_.get().is(re_sub())) {
            // re's own sub: the row-end and empty-cell steps are done here, as
            // the text is written (cell by cell when no match can cross a delimiter)
            return written([&](auto&& out) {
                out.put(View32(d_));
                stepped_block(table, reader, lines, true, by_cell, out);
                out.put(View32(U"+----+\n"));
                out.put(View32(d_));
                stepped_block(table, reader, lines, false, by_cell, out);
                out.put(U'\n');
            });
        }
        // Through a bound sub the cells are joined by the separator, which no
        // match takes, where a match could take the delimiter's white space.
        const View32 joiner = guarded ? View32(separator) : View32(d_);
        Object header = written([&](auto&& out) { block(table, reader, lines, true, false, joiner, out); });
        Object body = written([&](auto&& out) { block(table, reader, lines, false, false, joiner, out); });
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
        if (guarded) {
            header = replace(header, to_str(joiner), d);
            body = replace(body, to_str(joiner), d);
        }
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
               View32 joiner, Sink& out) const {
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
                    if (!first) out.put(joiner);
                    first = false;
                    if (by_cell) {
                        stepped_cell(side_stripped(cell), widths_[column], header, out);
                    } else {
                        element(side_stripped(cell), widths_[column], out);
                    }
                    ++column;
                }
                if (!first) out.put(joiner);
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
        if (by_cell) return block(table, reader, lines, header, true, d_, out);
        stepped(header, out, [&](auto& stage) { block(table, reader, lines, header, false, d_, stage); });
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
    bool right_ = false;
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

// A bar at a line's end stands without the blank beside it that a
// delimiter such as " | " holds: each line, stripped, gets the delimiter's
// leading and trailing white space back, so that it reads as the bar alone
// would.  For a delimiter with text between white space, not across lines.
bool pads_line_edges(const U32& d) {
    return blank_edged(d) && d.find(U'\n') == U32::npos &&
           std::any_of(d.begin(), d.end(), [](char32_t c) { return !is_space(c); });
}

template <class C>
Object edge_padded_as(Handle text, const U32& d) {
    const View32 all(d);
    size_t lead = 0, trail = 0;
    while (is_space(all[lead])) ++lead;
    while (is_space(all[all.size() - 1 - trail])) ++trail;
    return written([&](auto&& out) {
        bool first = true;
        for_each_line(characters<C>(text), [&](Span<C> line) {
            if (!first) out.put(U'\n');
            first = false;
            const Span<C> s = stripped(line);
            if (s.empty()) return;
            out.put(all.substr(0, lead));
            out.put(s);
            out.put(all.substr(all.size() - trail));
        });
    });
}
Object edge_padded(Handle text, const U32& d) {
    switch (PyUnicode_KIND(text.ptr())) {
        case PyUnicode_1BYTE_KIND: return edge_padded_as<Py_UCS1>(text, d);
        case PyUnicode_2BYTE_KIND: return edge_padded_as<Py_UCS2>(text, d);
        default: return edge_padded_as<Py_UCS4>(text, d);
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
    Object lines = borrow(table);
    if (is_str(table) && is_str(delimiter)) {
        const U32 d = code_points(delimiter);
        if (pads_line_edges(d)) lines = edge_padded(table, d);
    }
    bool native = false;
    Object marked = marked_table(lines, delimiter, native);
    // no row has two cells without a delimiter (or a separator) in the text; with
    // re's own functions nobody sees the searches and compiles that would tell so
    if (native && !pyutil::str_contains(lines, delimiter) && !pyutil::str_contains(lines, PYU_STR("#_D_#")) &&
        global(PYU_STR("search")).is(re_search()) && global(PYU_STR("compile")).is(re_compile()))
        return borrow(table);
    const U32 d = code_points(delimiter);
    Handle text = native ? Handle(lines) : Handle(marked);
    Aligner aligner(header_fields, multi_line, the_length, d);
    Object aligned;
    if (d.find(U'\n') == U32::npos) {
        aligned = aligner.align(text, d, native, a[5]);
    } else {
        // a delimiter across lines: replaced in the whole text before it is cut into lines
        const Object separated_text = separated(text, d, native);
        aligned = aligner.align(separated_text, separator, false, a[5]);
    }
    return aligned ? aligned : borrow(table);
}

}  // namespace core::tabular
