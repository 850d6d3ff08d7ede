// The table-parsing driver: the constructor of column_result_t.
#include <algorithm>
#include <cstring>
#include "core/tabular.hpp"
#include "pyutil/ops.hpp"
#include "pyutil/regex.hpp"

namespace core::tabular {

using namespace pyutil;

namespace {

struct Settings {
    Object header_fields, terminal, skip_header, title, right_justified, label_fields, skip_line;
    PyObject* parse_key;
    PyObject* delimiter;
};


Object index_object(Py_ssize_t i) { return own(PyLong_FromSsize_t(i)); }

Py_ssize_t as_index(const Object& o) {
    Py_ssize_t v = PyNumber_AsSsize_t(o.ptr(), PyExc_OverflowError);
    if (v == -1) check_no_error();
    return v;
}

Py_ssize_t match_end(PyObject* m) { return as_index(call_method(m, PYU_STR("end"), {})); }
Py_ssize_t match_start(PyObject* m) { return as_index(call_method(m, PYU_STR("start"), {})); }

Object stored_text(const Settings& s) { return getitem(global(PYU_STR("text_to_parse")), s.parse_key); }

// ---- fixed expressions, matched in C++ -----------------------------------------

bool is_blank(Py_UCS4 c) { return c == ' ' || c == '\t'; }

// "(?P<Title>[^/\s]+/[^/\s]+/[^/\s]+/\S+)\s*#$" matched at the start of a line
// (a device prompt); lines hold no line feed here.
bool is_prompt(const CodePoints& t, Py_ssize_t i, Py_ssize_t end) {
    for (int part = 0; part < 3; ++part) {
        const Py_ssize_t from = i;
        while (i < end && t[i] != '/' && !is_space(t[i])) ++i;
        if (i == from || i == end || t[i] != '/') return false;
        ++i;
    }
    if (end - i < 2 || t[end - 1] != '#' || is_space(t[i])) return false;
    while (i < end - 1 && !is_space(t[i])) ++i;
    while (i < end - 1 && is_space(t[i])) ++i;
    return i == end - 1;
}

bool has_dashes(const CodePoints& t, Py_ssize_t i, Py_ssize_t end) {
    for (; i + 2 < end; ++i)
        if (t[i] == '-' && t[i + 1] == '-' && t[i + 2] == '-') return true;
    return false;
}

// "[a-zA-Z0-9]+" found in the line
bool has_alnum(const CodePoints& t, Py_ssize_t i, Py_ssize_t end) {
    for (; i < end; ++i) {
        Py_UCS4 c = t[i];
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    }
    return false;
}

// A line of the stored output: code points [start, end) of a str that the
// cut keeps alive.
struct LineRef {
    PyObject* text;
    Py_ssize_t start, end;
};

// The lines, each followed by a line feed, as one str with its exact largest code point.
Object joined_lines(const std::vector<LineRef>& lines) {
    Py_ssize_t total = 0;
    Py_UCS4 maxchar = '\n';
    for (const LineRef& line : lines) {
        total += line.end - line.start + 1;
        if (PyUnicode_IS_ASCII(line.text)) continue;
        const CodePoints t(line.text);
        for (Py_ssize_t i = line.start; i < line.end; ++i) maxchar = std::max(maxchar, t[i]);
    }
    Object out = own(PyUnicode_New(total, maxchar));
    const int kind = PyUnicode_KIND(out.ptr());
    void* data = PyUnicode_DATA(out.ptr());
    Py_ssize_t pos = 0;
    // copied here: PyUnicode_CopyCharacters refuses ASCII characters of a latin-1
    // str for an ASCII one when the str has other characters before them
    for (const LineRef& line : lines) {
        const Py_ssize_t n = line.end - line.start;
        if (PyUnicode_KIND(line.text) == kind) {
            memcpy(static_cast<char*>(data) + kind * pos,
                   static_cast<const char*>(PyUnicode_DATA(line.text)) + kind * line.start, kind * n);
        } else {
            const CodePoints t(line.text);
            for (Py_ssize_t i = 0; i < n; ++i) PyUnicode_WRITE(kind, data, pos + i, t[line.start + i]);
        }
        pos += n;
        PyUnicode_WRITE(kind, data, pos++, '\n');
    }
    return out;
}

// ---- titled tables ---------------------------------------------------------------

// Collects the lines of each titled table, titles in order of first appearance.
class TitleCut {
public:
    explicit TitleCut(Object title_match) : match_(std::move(title_match)), titles_(own(PyDict_New())) {}

    // One line of the output, `line` being the str text[start:end] or null.
    void add(PyObject* text, Py_ssize_t start, Py_ssize_t end, Object line) {
        const CodePoints t(text);
        if (end == start || is_prompt(t, start, end) || has_dashes(t, start, end)) return;
        if (!line) line = own(PyUnicode_Substring(text, start, end));
        PyObject* arg = line.ptr();
        if (truth(own(PyObject_Vectorcall(match_.ptr(), &arg, 1, nullptr)).ptr())) {
            // a title seen again starts its table afresh, where it first stood
            PyObject* known = PyDict_GetItemWithError(titles_.ptr(), arg);
            if (known) {
                current_ = PyLong_AsSsize_t(known);
                tables_[current_].clear();
            } else {
                check_no_error();
                current_ = static_cast<Py_ssize_t>(tables_.size());
                tables_.emplace_back();
                check(PyDict_SetItem(titles_.ptr(), arg, index_object(current_).ptr()));
            }
            title_ = line;
        }
        if (title_ && differs(arg, title_.ptr())) tables_[current_].push_back({text, start, end});
    }

    // "{f}\n{z}" for each title f and its table z as align_table gives it back, joined.
    Object text(PyObject* self, const Settings& s) const {
        Object pieces = own(PyList_New(0));
        Py_ssize_t pos = 0;
        PyObject *key, *position;
        while (PyDict_Next(titles_.ptr(), &pos, &key, &position)) {
            Object title = borrow(key);
            Object table = joined_lines(tables_[PyLong_AsSsize_t(position)]);
            Object aligned = call_method(self, PYU_STR("align_table"),
                                         {table.ptr(), s.header_fields.ptr(), s.label_fields.ptr(), s.delimiter,
                                          s.right_justified.ptr()});
            check(PyList_Append(pieces.ptr(), own(PyObject_Format(title.ptr(), empty_str())).ptr()));
            check(PyList_Append(pieces.ptr(), PYU_STR("\n")));
            check(PyList_Append(pieces.ptr(), own(PyObject_Format(aligned.ptr(), empty_str())).ptr()));
        }
        return own(PyUnicode_Join(empty_str(), pieces.ptr()));
    }

private:
    // line != title, as Python's != says it
    static bool differs(PyObject* line, PyObject* title) {
        if (PyUnicode_CheckExact(line) && PyUnicode_CheckExact(title)) return PyUnicode_Compare(line, title) != 0;
        return truth(own(PyObject_RichCompare(line, title, Py_NE)).ptr());
    }

    Object match_;
    Object titles_;  // title line -> its table's position
    std::vector<std::vector<LineRef>> tables_;
    Py_ssize_t current_ = -1;
    Object title_;  // the current title line
};

// The output cut into its titled tables, each aligned and put after its title line.
Object cut_titled_tables(PyObject* self, PyObject* stored, const Settings& s) {
    setattr(self, PYU_STR("_text_to_parse"), empty_str());
    TitleCut cut(getattr(compile_user_pattern(s.title.ptr()).ptr(), PYU_STR("match")));
    std::vector<Object> given;  // the lines of another object's splitlines(), kept for the cut
    if (PyUnicode_CheckExact(stored)) {
        const CodePoints t(stored);
        for (Py_ssize_t start = 0; start < t.size();) {
            Py_ssize_t end = start;
            while (end < t.size() && !Py_UNICODE_ISLINEBREAK(t[end])) ++end;
            Py_ssize_t following = end < t.size() ? end + 1 : end;
            if (end < t.size() && t[end] == '\r' && following < t.size() && t[following] == '\n') ++following;
            cut.add(stored, start, end, Object());
            start = following;
        }
    } else {
        // what the cut makes of another object: its own splitlines(), whose str lines join into the tables
        Object it = iter(call_method(stored, PYU_STR("splitlines"), {}).ptr());
        while (Object line = next(it.ptr())) {
            given.push_back(line);
            if (PyUnicode_Check(line.ptr())) {
                cut.add(line.ptr(), 0, PyUnicode_GET_LENGTH(line.ptr()), line);
            } else if (truth(line.ptr())) {
                // the prompt match raises for anything but a str
                Object prompt = call(re_compile(), {PYU_STR("(?P<Title>[^/\\s]+/[^/\\s]+/[^/\\s]+/\\S+)\\s*#$")});
                call_method(prompt.ptr(), PYU_STR("match"), {line.ptr()});
                raise(PyExc_TypeError, "expected string or bytes-like object");
            }
        }
    }
    Object text = cut.text(self, s);
    setattr(self, PYU_STR("_text_to_parse"), text.ptr());
    return text;
}

// ---- column names --------------------------------------------------------------

Object without_backslashes(PyObject* text) {
    return call_method(text, PYU_STR("replace"), {PYU_STR("\\"), empty_str()});
}

// One name per column position of a heading of several lines.
Object multi_line_names(PyObject* header_fields) {
    const Py_ssize_t count = PyObject_Length(header_fields);
    if (count < 0) throw PyError();
    Object names = own(PyList_New(0));
    const Py_ssize_t used = count == 1 ? 1 : count == 2 ? 2 : 3;
    PyObject* format_text = count == 2 ? PYU_STR("{} {}") : PYU_STR("{} {} {}");
    Object lines[3];
    for (Py_ssize_t i = 0; i < used; ++i) lines[i] = iter(getitem(header_fields, index_object(i).ptr()).ptr());
    for (;;) {
        Object texts[3];
        for (Py_ssize_t i = 0; i < used; ++i)
            if (!(texts[i] = next(lines[i].ptr()))) return names;
        Object name = used == 1   ? texts[0]
                          : used == 2 ? format(format_text, {texts[0].ptr(), texts[1].ptr()})
                                      : format(format_text, {texts[0].ptr(), texts[1].ptr(), texts[2].ptr()});
        check(PyList_Append(names.ptr(), without_backslashes(name.ptr()).ptr()));
    }
}

// ---- heading search ----------------------------------------------------------------

// Finds the heading expression's next match.  With a literal start known for
// every match, the text is scanned for it and the expression tried only at
// the blanks before each occurrence: the same match as a search, found without
// trying the expression at every position.
class HeadingFinder {
public:
    HeadingFinder(PyObject* text, Object expr, Object prefix)
        : text_(text), t_(text), prefix_(std::move(prefix)) {
        search_ = getattr(expr.ptr(), PYU_STR("search"));
        if (prefix_) match_ = getattr(expr.ptr(), PYU_STR("match"));
    }

    // The first match at or after pos, or a null object.
    Object next(Py_ssize_t pos) const {
        if (!prefix_) return some(call(search_.ptr(), {text_, index_object(pos).ptr()}));
        for (Py_ssize_t from = pos;;) {
            Py_ssize_t at = PyUnicode_Find(text_, prefix_.ptr(), from, t_.size(), 1);
            if (at == -2) throw PyError();
            if (at < 0) return {};
            Py_ssize_t s = at;
            while (s > pos && is_blank(t_[s - 1])) --s;
            for (; s <= at; ++s)
                if (Object m = some(call(match_.ptr(), {text_, index_object(s).ptr()}))) return m;
            from = at + 1;
        }
    }

private:
    static Object some(Object m) { return m.ptr() == Py_None ? Object() : m; }

    PyObject* text_;
    CodePoints t_;
    Object prefix_, search_, match_;
};

Bounds column_bounds(PyObject* self, PyObject* m, PyObject* header_fields, bool right_justified) {
    auto length = [&](long k) {
        Object group = call_method(m, PYU_STR("group"), {own(PyLong_FromLong(k)).ptr()});
        Py_ssize_t n = PyObject_Length(group.ptr());
        if (n < 0) throw PyError();
        return n;
    };
    auto columns = [&] {
        const bool multi = truth(getattr(self, PYU_STR("multi_line")).ptr());
        Object first = multi ? getitem(header_fields, index_object(0).ptr()) : borrow(header_fields);
        Py_ssize_t n = PyObject_Length(first.ptr());
        if (n < 0) throw PyError();
        return n;
    };
    Bounds bounds;
    if (right_justified) {
        const Py_ssize_t n = columns();
        Py_ssize_t end = 0;
        for (long k = 1; k <= 2 * n - 1; k += 2) {
            Py_ssize_t start = end;
            end = start + length(k) + length(k + 1);
            bounds.emplace_back(start, end);
        }
        return bounds;
    }
    Py_ssize_t first = length(1) + length(2);
    try {
        first += length(3);
    } catch (PyError&) {
        // a heading of one column has no group 3
        if (!PyErr_ExceptionMatches(PyExc_IndexError)) throw;
        PyErr_Clear();
    }
    bounds.emplace_back(0, first);
    const Py_ssize_t n = columns();
    const Py_ssize_t groups = PyObject_Length(call_method(m, PYU_STR("groups"), {}).ptr());
    if (groups < 0) throw PyError();
    Py_ssize_t end = first;
    for (long k = 4; k <= 2 * n; k += 2) {
        Py_ssize_t start = end;
        end = start + length(k) + (k + 1 < groups ? length(k + 1) : 0);
        bounds.emplace_back(start, end);
    }
    return bounds;
}

Object bounds_list(const Bounds& bounds) {
    Object list = own(PyList_New(0));
    for (auto& [start, end] : bounds)
        check(PyList_Append(list.ptr(), own(Py_BuildValue("(nn)", start, end)).ptr()));
    return list;
}

// ---- data lines ----------------------------------------------------------------------

// A regex the caller gave, searched in each data line through core's current
// `search`; while that is re's own, with the expression compiled once.
class LinePattern {
public:
    explicit LinePattern(PyObject* pattern) : pattern_(pattern) {}
    bool found(Handle search, PyObject* line) {
        if (search.ptr() != re_search()) return truth(call(search, {pattern_, line}));
        if (!search_) {
            Object hoisted = hoist_global_flags(pattern_);
            search_ = getattr(call(re_compile(), {hoisted.ptr()}).ptr(), PYU_STR("search"));
        }
        return truth(own(PyObject_Vectorcall(search_.ptr(), &line, 1, nullptr)).ptr());
    }

private:
    PyObject* pattern_;
    Object search_;
};

class Parse {
public:
    Parse(PyObject* self, const Settings& s, PyObject* text, PyObject* names)
        : self_(self), s_(s), text_(text), t_(text), names_(names),
          terminal_(s.terminal.ptr()), title_(s.title.ptr()), skip_line_(s.skip_line.ptr()),
          attrs_(self), filer_(self, attrs_) {
        has_terminal_ = truth(s.terminal.ptr());
        has_title_ = truth(s.title.ptr());
        has_skip_line_ = truth(s.skip_line.ptr());
        has_skip_header_ = truth(s.skip_header.ptr());
        right_justified_ = truth(s.right_justified.ptr());
    }

    // `own_expr`: the expression is the one compile_header_pattern builds, whose
    // matches are never empty, so the search for a table's end also finds the next heading.
    void run(Object expr, bool own_expr, Object prefix) {
        const bool chained = own_expr;
        HeadingFinder finder(text_, expr, prefix);
        Object title_expr = has_title_ ? compile_user_pattern(s_.title.ptr()) : Object();
        Object all = chained ? Object() : call_method(expr.ptr(), PYU_STR("finditer"), {text_});
        Py_ssize_t title_start = 0;
        Object m = chained ? finder.next(0) : pyutil::next(all.ptr());
        while (m) {
            Py_ssize_t rows_start = match_end(m.ptr());
            Object following = finder.next(rows_start);
            Py_ssize_t table_end = following ? match_start(following.ptr()) : t_.size();
            Bounds bounds = column_bounds(self_, m.ptr(), s_.header_fields.ptr(), right_justified_);
            if (!has_skip_header_ || skip_header(rows_start, table_end)) {
                table_end = walk(rows_start, table_end, bounds);
                if (title_expr) file_title(title_expr.ptr(), title_start, rows_start);
                title_start = table_end;
            }
            m = chained ? following : pyutil::next(all.ptr());
        }
    }

private:
    // Moves rows_start past the line holding skip_header within the table; false when it is not there.
    // The expression is compiled for each heading through the current `compile`;
    // re's own gives the same expression every time, so that one is kept.
    bool skip_header(Py_ssize_t& rows_start, Py_ssize_t table_end) {
        Object compile = global(PYU_STR("compile"));
        const bool by_re = compile.ptr() == re_compile() && PyUnicode_CheckExact(s_.skip_header.ptr());
        Object search = by_re ? skip_search_ : Object();
        if (!search) {
            Object composed = own(PyNumber_Add(s_.skip_header.ptr(), PYU_STR(".*\n")));
            search = getattr(compile_user_pattern(compile, composed.ptr()).ptr(), PYU_STR("search"));
            if (by_re) skip_search_ = search;
        }
        Object found = call(search, {text_, index_object(rows_start).ptr(), index_object(table_end).ptr()});
        if (found.ptr() == Py_None) return false;
        rows_start = match_end(found.ptr());
        return true;
    }

    // Reads the data lines of [start, end); returns where the table ends.
    Py_ssize_t walk(Py_ssize_t start, Py_ssize_t end, const Bounds& bounds) {
        Object delims;
        for (Py_ssize_t p = start; p < end;) {
            Py_ssize_t line_end = PyUnicode_FindChar(text_, '\n', p, end, 1);
            if (line_end == -2) throw PyError();
            if (line_end < 0) line_end = end;
            if (line_end < end) {
                ++line_end;  // with its line feed
            } else if (end != t_.size()) {
                break;  // no complete line before the next heading
            }
            // each test uses `search` as it is bound at that moment
            Object line;
            auto line_text = [&] {
                if (!line) line = own(PyUnicode_Substring(text_, p, line_end));
                return line.ptr();
            };
            if (has_terminal_ && terminal_.found(search_.get(), line_text())) return line_end;
            if (has_title_ && title_.found(search_.get(), line_text())) return p;  // the title starts the next table
            Object search = search_.get();
            const bool content = search.ptr() == re_search()
                                     ? has_alnum(t_, p, line_end)
                                     : truth(call(search, {PYU_STR("[a-zA-Z0-9]+"), line_text()}).ptr());
            if (content && !(has_skip_line_ && skip_line_.found(search_.get(), line_text()))) {
                Py_ssize_t row_end = line_end;
                while (row_end > p && is_space(t_[row_end - 1])) --row_end;
                const Attrs::Slot& add_entry = attrs_.get(add_entry_);
                if (add_entry.native) {
                    filer_.file(text_, p, row_end, names_, bounds);
                } else {
                    if (!delims) delims = bounds_list(bounds);
                    Object row = own(PyUnicode_Substring(text_, p, row_end));
                    pyutil::invoke(Object(add_entry.value), row.ptr(), names_, delims.ptr());
                }
            }
            p = line_end;
        }
        return end;
    }

    void file_title(PyObject* title_expr, Py_ssize_t start, Py_ssize_t end) {
        Object window = own(PyUnicode_Substring(text_, start, std::max(start, end)));
        Object m = call_method(title_expr, PYU_STR("search"), {window.ptr()});
        if (m.ptr() == Py_None) return;
        call_method(self_, PYU_STR("_add_entries_to_results"), {call_method(m.ptr(), PYU_STR("groups"), {}).ptr()});
    }

    PyObject* self_;
    const Settings& s_;
    PyObject* text_;
    CodePoints t_;
    PyObject* names_;
    LinePattern terminal_, title_, skip_line_;
    Attrs attrs_;
    Attrs::Slot add_entry_{PYU_STR("add_entry"), base.core_add_entry};
    RowFiler filer_;
    GlobalName search_{frame(), PYU_STR("search")};
    Object skip_search_;
    bool has_terminal_, has_title_, has_skip_line_, has_skip_header_, right_justified_;
};

}  // namespace

Object driver_body(const Args& a) {
    PyObject* self = a[0];
    Settings s{borrow(a[1]), borrow(a[2]), borrow(a[3]), borrow(a[4]), borrow(a[5]), borrow(a[6]), borrow(a[7]),
               a[8], a[9]};
    setattr(self, PYU_STR("entrydict"), own(PyDict_New()).ptr());
    if (equal(s.header_fields.ptr(), Py_None)) {
        Object info = call_method(self, PYU_STR("get_init_info"),
                                      {stored_text(s).ptr(), s.header_fields.ptr(), s.terminal.ptr(),
                                       s.skip_header.ptr(), s.title.ptr(), s.right_justified.ptr(),
                                       s.label_fields.ptr(), s.skip_line.ptr()});
        unpack(info.ptr(), {&s.header_fields, &s.terminal, &s.skip_header, &s.title, &s.right_justified,
                            &s.label_fields, &s.skip_line});
    }

    // With the base's own method, the expression is built here: when re's own
    // `compile` compiles it, its matches can be found by their literal start.
    Attrs attrs(self);
    Hook compile_header(attrs, PYU_STR("compile_header_pattern"), base.compile_header_pattern);
    Object expr, prefix;
    bool own_expr = false;
    if (compile_header.native()) {
        std::vector<Object> texts;
        Object pattern = header_pattern_text(self, s.header_fields.ptr(), &texts);
        Object compile = global(PYU_STR("compile"));
        own_expr = compile.ptr() == re_compile();
        expr = compile_user_pattern(compile, pattern.ptr());
        if (own_expr) prefix = heading_literal_prefix(texts);
    } else {
        expr = compile_header.call(s.header_fields);
    }

    Object stored = stored_text(s);
    Object text;
    if (truth(s.title.ptr())) {
        text = cut_titled_tables(self, stored.ptr(), s);
    } else {
        text = call_method(self, PYU_STR("align_table"),
                           {stored.ptr(), s.header_fields.ptr(), s.label_fields.ptr(), s.delimiter,
                            s.right_justified.ptr()});
        setattr(self, PYU_STR("_text_to_parse"), text.ptr());
    }
    // (a str without tabs is its own expansion)
    if (!PyUnicode_CheckExact(text.ptr()) || PyUnicode_FindChar(text.ptr(), '\t', 0, PyUnicode_GET_LENGTH(text.ptr()), 1) != -1)
        text = call_method(text.ptr(), PYU_STR("expandtabs"), {});
    setattr(self, PYU_STR("_text_to_parse"), text.ptr());
    Object delimiter = borrow(s.delimiter);
    if (truth(getattr(self, PYU_STR("multi_line")).ptr()) && equal(delimiter.ptr(), empty_str()))
        delimiter = borrow(PYU_STR("|"));
    text = call_method(text.ptr(), PYU_STR("replace"), {delimiter.ptr(), empty_str()});
    setattr(self, PYU_STR("_text_to_parse"), text.ptr());

    Object names = s.label_fields;
    if (equal(s.label_fields.ptr(), Py_None))
        names = truth(getattr(self, PYU_STR("multi_line")).ptr()) ? multi_line_names(s.header_fields.ptr())
                                                                  : s.header_fields;

    if (!PyUnicode_Check(text.ptr())) {
        // what the heading search makes of another object: its own error
        Object all = call_method(expr.ptr(), PYU_STR("finditer"), {text.ptr()});
        if (pyutil::next(all.ptr())) raise(PyExc_TypeError, "the text to parse must be a str");
    } else {
        Parse(self, s, text.ptr(), names.ptr()).run(expr, own_expr, prefix);
    }

    Object entrydict = getattr(self, PYU_STR("entrydict"));
    if (truth(entrydict.ptr())) setattr(self, PYU_STR("entries"), entrydict.ptr());
    return borrow(Py_None);
}

}  // namespace core::tabular
