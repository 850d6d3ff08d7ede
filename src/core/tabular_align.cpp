// align_table: rewrites a table drawn with a delimiter so that every cell has
// one width, header rows first, for the column bounds taken from the heading.
#include <algorithm>
#include <string>
#include <string_view>
#include "core/tabular.hpp"
#include "pyutil/ops.hpp"

namespace core::tabular {

using namespace pyutil;

namespace {

using U32 = std::u32string;
using View = std::u32string_view;
using Row = std::vector<View>;

constexpr size_t maximum_spaces = 20;
const U32 separator = U"#_D_#";
const U32 empty_marker = U"header_missing";
const U32 row_end = U"new_line";

U32 code_points(PyObject* s) {
    const CodePoints t(s);
    U32 out(static_cast<size_t>(t.size()), U'\0');
    for (Py_ssize_t i = 0; i < t.size(); ++i) out[i] = t[i];
    return out;
}

Object to_str(View s) { return own(PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, s.data(), s.size())); }

bool starts_with(View s, size_t at, View word) { return at + word.size() <= s.size() && s.substr(at, word.size()) == word; }

View lstripped(View s) {
    size_t i = 0;
    while (i < s.size() && is_space(s[i])) ++i;
    return s.substr(i);
}
View rstripped(View s) {
    size_t n = s.size();
    while (n > 0 && is_space(s[n - 1])) --n;
    return s.substr(0, n);
}
View stripped(View s) { return rstripped(lstripped(s)); }

// A cell of spaces only between two delimiters becomes the empty-cell marker
// (delimiter, spaces, delimiter -> delimiter, marker, delimiter), the
// delimiter taken literally; the spaces give back as a greedy " +" would.
U32 mark_empty_cells(View s, View d) {
    U32 out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        if (starts_with(s, i, d)) {
            const size_t q = i + d.size();
            size_t r = q;
            while (r < s.size() && s[r] == U' ') ++r;
            size_t j = r;
            while (j > q && !starts_with(s, j, d)) --j;
            if (j > q) {
                out.append(d).append(empty_marker).append(d);
                i = j + d.size();
                continue;
            }
        }
        out += s[i++];
    }
    return out;
}

U32 replace_all(View s, View from, View to) {
    U32 out;
    out.reserve(s.size());
    if (from.empty()) {
        // as str.replace: `to` before every character and at the end (a str
        // subclass unequal to "" can be an empty delimiter)
        for (char32_t c : s) out.append(to).push_back(c);
        return out.append(to);
    }
    size_t pos = 0;
    for (size_t at; (at = s.find(from, pos)) != View::npos; pos = at + from.size()) out.append(s.substr(pos, at - pos)).append(to);
    out.append(s.substr(pos));
    return out;
}

// s.split(sep) of str
Row split(View s, View sep) {
    Row cells;
    size_t pos = 0;
    for (size_t at; (at = s.find(sep, pos)) != View::npos; pos = at + sep.size()) cells.push_back(s.substr(pos, at - pos));
    cells.push_back(s.substr(pos));
    return cells;
}

// re.sub(word + r"(\s)+", repl, s)
U32 sub_word_then_spaces(View s, View word, View repl) {
    U32 out;
    size_t pos = 0, from = 0;
    for (size_t j; (j = s.find(word, from)) != View::npos;) {
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
U32 sub_spaces_then_word(View s, View word, bool repeat_last, View repl) {
    U32 out;
    size_t pos = 0, from = 0;
    for (size_t j; (j = s.find(word, from)) != View::npos;) {
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

// A text of the alignment: its code points while re's own `sub` is the one
// that works on it (done here), else the object the current `sub` returned.
struct Piece {
    U32 text;
    Object other;
    Object object() const { return other ? other : to_str(text); }
};

// piece = sub(pattern, repl, piece) through core's current `sub`; re's own is
// done here by `native` on the code points.
template <class Native>
void sub_step(Piece& piece, PyObject* pattern, View repl, Native&& native) {
    Object sub = global(PYU_STR("sub"));
    if (sub.ptr() == re_sub() && piece.other && PyUnicode_Check(piece.other.ptr())) {
        piece.text = code_points(piece.other.ptr());
        piece.other = Object();
    }
    if (sub.ptr() == re_sub() && !piece.other) {
        piece.text = native(piece.text, repl);
        return;
    }
    Object text = piece.object();
    piece.other = call(sub, {pattern, to_str(repl).ptr(), text.ptr()});
}

class Aligner {
public:
    Aligner(PyObject* header_fields, bool multi_line, Py_ssize_t the_length, View delimiter, bool right_justified)
        : multi_line_(multi_line), the_length_(the_length), d_(delimiter), right_(right_justified) {
        auto heading_line = [](PyObject* line) {
            std::vector<Heading> headings;
            Object it = iter(line);
            while (Object text = next(it.ptr())) headings.push_back({text, {}});
            return headings;
        };
        if (multi_line) {
            Object it = iter(header_fields);
            while (Object line = next(it.ptr())) headings_.push_back(heading_line(line.ptr()));
        } else {
            headings_.push_back(heading_line(header_fields));
        }
    }

    // The aligned text, or a null object when no row is a header row;
    // `marked` is the table with its empty cells marked.
    Object align(View marked) {
        const U32 text = replace_all(marked, d_, separator);
        std::vector<Row> rows;
        for (View piece : split(text, U"\n")) {
            Row cells = split(stripped(piece), separator);
            // an empty cell between two delimiters keeps its column, as a blank one does
            for (size_t i = 1; i + 1 < cells.size(); ++i)
                if (cells[i].empty()) cells[i] = empty_marker;
            rows.push_back(std::move(cells));
        }
        std::vector<const Row*> header_rows, data_rows;
        for (const Row& row : rows) {
            if (row.size() == 1 && !wide_gap(row[0])) continue;
            Row test;
            if (multi_line_ && static_cast<Py_ssize_t>(row.size()) == the_length_ + 1 && row[0].empty())
                test.push_back(View());
            for (View cell : row)
                if (!cell.empty()) test.push_back(cell);
            // a row equal to a header row passes the same test, so being among
            // the header rows is having passed it now
            bool header = false;
            for (auto& line : headings_) {
                if (!accepted(test, line)) continue;
                header_rows.push_back(&row);
                header = true;
            }
            if (!header) data_rows.push_back(&row);
        }

        size_t width = 0;
        for (const Row* row : header_rows) {
            if (*row != *header_rows.front()) continue;
            for (View cell : *row) width = std::max(width, cell.size());
        }
        if (header_rows.empty()) return {};
        width += maximum_spaces;
        // no cell wider than the columns, so that none pushes the rest of its line aside
        for (auto* rows_of : {&header_rows, &data_rows})
            for (const Row* row : *rows_of)
                for (View cell : *row) width = std::max(width, (right_ ? rstripped(cell) : lstripped(cell)).size());

        const U32 blanks(width, U' ');
        Piece header{joined(header_rows, width), {}};
        Piece body{joined(data_rows, width), {}};
        auto ends_right = [](bool repeat_last) {
            return [repeat_last](View s, View repl) { return sub_spaces_then_word(s, row_end, repeat_last, repl); };
        };
        auto ends_left = [](View s, View repl) { return sub_word_then_spaces(s, row_end, repl); };
        if (right_) {
            sub_step(header, PYU_STR("(\\s)+new_line+"), U"\n", ends_right(true));
            sub_step(body, PYU_STR("(\\s)+new_line"), U"\n", ends_right(false));
        } else {
            sub_step(header, PYU_STR("new_line(\\s)+"), U"\n", ends_left);
            sub_step(body, PYU_STR("new_line(\\s)+"), U"\n", ends_left);
        }
        for (Piece* part : {&header, &body}) {
            if (right_)
                sub_step(*part, PYU_STR("(\\s)+header_missing"), blanks,
                         [](View s, View repl) { return sub_spaces_then_word(s, empty_marker, false, repl); });
            else
                sub_step(*part, PYU_STR("header_missing(\\s)+"), blanks,
                         [](View s, View repl) { return sub_word_then_spaces(s, empty_marker, repl); });
        }
        if (header.other || body.other) {
            Object d = to_str(d_);
            return format(PYU_STR("{}{}+----+\n{}{}\n"), {d.ptr(), header.object().ptr(), d.ptr(), body.object().ptr()});
        }
        U32 out;
        out.append(d_).append(header.text).append(U"+----+\n").append(d_).append(body.text).append(U"\n");
        return to_str(out);
    }

private:
    struct Heading {
        Object text;
        Object match;  // compiled by re's own `compile` when first needed
    };

    // search("   +", cell) through core's current `search`
    bool wide_gap(View cell) {
        Object search = search_.get();
        if (search.ptr() == re_search()) return cell.find(U"   ") != View::npos;
        return truth(call(search, {PYU_STR("   +"), to_str(cell).ptr()}).ptr());
    }

    // At least two different heading texts match the cells at their positions.
    bool accepted(const Row& test, std::vector<Heading>& line) {
        std::vector<PyObject*> matched;
        for (size_t k = 0; k < std::min(test.size(), line.size()); ++k) {
            Heading& h = line[k];
            // compiled for each cell through the current `compile`; re's own gives the same expression each time
            Object compile = compile_.get();
            Object match = compile.ptr() == re_compile() ? h.match : Object();
            if (!match) {
                match = getattr(compile_user_pattern(compile, h.text.ptr()).ptr(), PYU_STR("match"));
                if (compile.ptr() == re_compile()) h.match = match;
            }
            Object cell = to_str(stripped(test[k]));
            PyObject* arg = cell.ptr();
            if (!truth(own(PyObject_Vectorcall(match.ptr(), &arg, 1, nullptr)).ptr())) continue;
            bool seen = false;
            for (PyObject* other : matched)
                if ((seen = check(PyObject_RichCompareBool(other, h.text.ptr(), Py_EQ)) != 0)) break;
            if (!seen) matched.push_back(h.text.ptr());
        }
        return matched.size() > 1;
    }

    // The non-empty cells of the rows, each row closed by the row-end marker,
    // every element justified to `width` and joined by the delimiter.
    U32 joined(const std::vector<const Row*>& rows, size_t width) const {
        U32 out;
        bool first = true;
        auto element = [&](View e) {
            if (!first) out.append(d_);
            first = false;
            e = right_ ? rstripped(e) : lstripped(e);
            const size_t pad = e.size() < width ? width - e.size() : 0;
            if (right_) out.append(pad, U' ');
            out.append(e);
            if (!right_) out.append(pad, U' ');
        };
        for (const Row* row : rows) {
            for (View cell : *row)
                if (!cell.empty()) element(cell);
            element(row_end);
        }
        return out;
    }

    bool multi_line_;
    Py_ssize_t the_length_;
    View d_;
    bool right_;
    std::vector<std::vector<Heading>> headings_;
    GlobalName search_{frame(), PYU_STR("search")}, compile_{frame(), PYU_STR("compile")};
};

// `needle in text`, scanning for its first character at memchr speed.
bool holds(PyObject* text, PyObject* needle) {
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text), m = PyUnicode_GET_LENGTH(needle);
    if (m == 0) return true;
    const Py_UCS4 first = PyUnicode_READ_CHAR(needle, 0);
    for (Py_ssize_t at = 0; (at = PyUnicode_FindChar(text, first, at, n, 1)) >= 0; ++at) {
        if (at + m > n) return false;
        if (PyUnicode_Tailmatch(text, needle, at, at + m, -1) == 1) return true;
    }
    return false;
}

[[noreturn]] void raise_unequal_heading_lines() {
    raise(PyExc_AttributeError,
          "Header fields are not of the same length. Please provide equal length header fields");
}

// The table with its empty cells marked: sub(escape(d) + " +" + escape(d),
// d + "header_missing" + d, table) through core's current `sub` and `escape`,
// done here while they are re's own.
Object marked_table(PyObject* table, PyObject* delimiter, bool& native) {
    Object sub = global(PYU_STR("sub"));
    Object escape = global(PYU_STR("escape"));
    native = sub.ptr() == re_sub() && escape.ptr() == re_escape() && PyUnicode_Check(table) &&
             PyUnicode_Check(delimiter);
    if (native) return Object();
    Object pattern = own(PyNumber_Add(call(escape, {delimiter}).ptr(), PYU_STR(" +")));
    pattern = own(PyNumber_Add(pattern.ptr(), call(global(PYU_STR("escape")), {delimiter}).ptr()));
    Object marker = own(PyNumber_Add(own(PyNumber_Add(delimiter, PYU_STR("header_missing"))).ptr(), delimiter));
    Object marked = call(sub, {pattern.ptr(), marker.ptr(), table});
    if (!PyUnicode_Check(marked.ptr()) || !PyUnicode_Check(delimiter)) {
        // what the next step, marked.replace(d, "#_D_#"), makes of other objects: their own error
        call_method(marked, PYU_STR("replace"), {delimiter, PYU_STR("#_D_#")});
        raise(PyExc_TypeError, "the table to align must be a str");
    }
    return marked;
}

}  // namespace

Object align_table_body(const Args& a) {
    PyObject* self = a[0];
    PyObject* table = a[1];
    PyObject* header_fields = a[2];
    Object delimiter = truth(own(PyObject_RichCompare(a[4], empty_str(), Py_EQ)).ptr()) ? borrow(PYU_STR("|"))
                                                                                            : borrow(a[4]);
    const bool multi_line = truth(getattr(self, PYU_STR("multi_line")).ptr());
    Py_ssize_t the_length = -1;
    if (multi_line) {
        the_length = PyObject_Length(getitem(header_fields, own(PyLong_FromLong(0)).ptr()).ptr());
        if (the_length < 0) throw PyError();
        Object it = iter(header_fields);
        while (Object line = next(it.ptr())) {
            Py_ssize_t n = PyObject_Length(line.ptr());
            if (n < 0) throw PyError();
            if (n != the_length) raise_unequal_heading_lines();
        }
    }
    bool native = false;
    Object marked = marked_table(table, delimiter.ptr(), native);
    // no row has two cells without a delimiter (or a separator) in the text; with
    // re's own functions nobody sees the searches and compiles that would tell so
    if (native && !holds(table, delimiter.ptr()) && !holds(table, PYU_STR("#_D_#")) &&
        global(PYU_STR("search")).ptr() == re_search() && global(PYU_STR("compile")).ptr() == re_compile())
        return borrow(table);
    const U32 d = code_points(delimiter.ptr());
    const U32 text = native ? mark_empty_cells(code_points(table), d) : code_points(marked.ptr());
    Object aligned = Aligner(header_fields, multi_line, the_length, d, truth(a[5])).align(text);
    return aligned ? aligned : borrow(table);
}

}  // namespace core::tabular
