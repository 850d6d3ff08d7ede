// The table-parsing driver: the constructor of column_result_t.
#include <algorithm>
#include <cstring>
#include "core/tabular.hpp"
#include "pyutil/ops.hpp"
#include "pyutil/regex.hpp"
#include "pyutil/text.hpp"

namespace core::tabular {

using namespace pyutil;

namespace {

Py_ssize_t match_end(Handle m) { return as_index(call_method(m, PYU_STR("end"), {})); }
Py_ssize_t match_start(Handle m) { return as_index(call_method(m, PYU_STR("start"), {})); }

Object stored_text(const Settings& s) { return getitem(global(PYU_STR("text_to_parse")), s.parse_key); }

// ---- fixed expressions, matched in C++ -----------------------------------------

// "[a-zA-Z0-9]+" found in the line
bool has_alnum(const CodePoints& t, Py_ssize_t i, Py_ssize_t end) {
    for (; i < end; ++i) {
        Py_UCS4 c = t[i];
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    }
    return false;
}

// ---- column names --------------------------------------------------------------

Object without_backslashes(Handle text) {
    return call_method(text, PYU_STR("replace"), {PYU_STR("\\"), empty_str()});
}

// One name per column position of a heading of several lines.
Object multi_line_names(Handle header_fields) {
    const Py_ssize_t count = length(header_fields);
    Object names = new_list();
    const Py_ssize_t used = count == 1 ? 1 : count == 2 ? 2 : 3;
    PyObject* format_text = count == 2 ? PYU_STR("{} {}") : PYU_STR("{} {} {}");
    Object lines[3];
    for (Py_ssize_t i = 0; i < used; ++i) lines[i] = iter(getitem(header_fields, integer(i)));
    for (;;) {
        Object texts[3];
        for (Py_ssize_t i = 0; i < used; ++i)
            if (!(texts[i] = next(lines[i]))) return names;
        Object name = used == 1   ? texts[0]
                      : used == 2 ? format(format_text, {texts[0], texts[1]})
                                  : format(format_text, {texts[0], texts[1], texts[2]});
        append(names, without_backslashes(name));
    }
}

// ---- heading search ----------------------------------------------------------------

// Finds the heading expression's next match, the one expr.search(text, pos)
// gives, without trying the expression at every position of a long run of
// blanks (each such try runs over the rest of the run).  With `runs`, a match
// that starts inside a run also starts at the run's first blank
// (matches_start_at_blank_runs), so only that position, or pos itself, needs a
// try: with a literal start known for every match (`prefix`), the text is
// scanned for it and the expression tried at the blanks before each
// occurrence; without one, `unblanked` (the expression behind "(?<![ \t])")
// is searched for the first position that no blank precedes.
class HeadingFinder {
public:
    HeadingFinder(Handle text, Handle expr, Object prefix, bool runs, Object unblanked)
        : text_(text), t_(text), prefix_(std::move(prefix)), unblanked_(std::move(unblanked)), runs_(runs) {
        search_ = getattr(expr, PYU_STR("search"));
        if (prefix_ || unblanked_) match_ = getattr(expr, PYU_STR("match"));
    }

    // The first match at or after pos, or a null object.
    Object next(Py_ssize_t pos) const {
        if (prefix_) return next_of_prefix(pos);
        if (!unblanked_) return some(call(search_, {text_, integer(pos)}));
        // a match from inside the run of blanks before pos starts at pos
        if (pos > 0 && pos <= t_.size() && is_blank(t_[pos - 1]))
            if (Object m = match_at(pos)) return m;
        return some(call(unblanked_, {text_, integer(pos)}));
    }

private:
    static Object some(Object m) { return m.is_none() ? Object() : m; }
    Object match_at(Py_ssize_t s) const { return some(call(match_, {text_, integer(s)})); }

    Object next_of_prefix(Py_ssize_t pos) const {
        for (Py_ssize_t from = pos;;) {
            Py_ssize_t at = find(text_, prefix_, from, t_.size());
            if (at < 0) return {};
            Py_ssize_t s = at;
            while (s > pos && is_blank(t_[s - 1])) --s;
            for (const Py_ssize_t last = runs_ ? s : at; s <= last; ++s)
                if (Object m = match_at(s)) return m;
            from = at + 1;
        }
    }

    Handle text_;
    CodePoints t_;
    Object prefix_, unblanked_, search_, match_;
    bool runs_;
};

// ---- data lines ----------------------------------------------------------------------

// A setting that switches a step on or off, asked for its truth at each step
// that uses it.  Kept: the truth of None, an exact str, bool or int, which
// runs no Python code and cannot change.
class Switch {
public:
    explicit Switch(Handle value) : value_(value) {
        PyTypeObject* type = Py_TYPE(value.ptr());
        if (value.is_none() || type == &PyUnicode_Type || type == &PyBool_Type || type == &PyLong_Type)
            kept_ = truth(value);
    }
    bool on() const { return kept_ >= 0 ? kept_ != 0 : truth(value_); }

private:
    Handle value_;
    int kept_ = -1;
};

// A regex the caller gave, searched in each data line through core's current
// `search`, its global flags moved to the front.  Kept: the pattern compiled
// by re's own compile, which is what re.search compiles for it; it watches the
// `search` binding (re's own, read at each use) and stands only for an exact
// str pattern, whose compiling runs no Python code (another one's __hash__ or
// __eq__ would run at every search).
class LinePattern {
public:
    explicit LinePattern(Handle pattern) : pattern_(pattern) {}
    bool found(Handle search, Handle line) {
        if (!search.is(re_search()) || !is_exact_str(pattern_)) {
            if (!hoisted_) hoisted_ = hoist_global_flags(pattern_);
            return truth(call(search, {hoisted_, line}));
        }
        if (!search_) search_ = getattr(compile_user_pattern(re_compile(), pattern_), PYU_STR("search"));
        return truth(invoke(search_, line));
    }

private:
    Handle pattern_;
    Object hoisted_, search_;
};

// The heading expression and how its matches are found.
struct HeadingSearch {
    Object expr;
    // The expression is the one compile_header_pattern builds, compiled by re's
    // own compile: its matches are never empty, so the search for a table's
    // end also finds the next heading, and `prefix`, `runs` and `unblanked`
    // (HeadingFinder) may stand for that search.
    bool own = false;
    Object prefix;
    bool runs = false;
    Object unblanked;
};

// The tables of one text: each heading found, its data lines read and
// filed, and, with a title pattern, the rows filed under the table's title.
class TableReader {
public:
    TableReader(Handle self, const Settings& s, Handle text, Handle names)
        : self_(self), s_(s), text_(text), t_(text), names_(names),
          terminal_(s.terminal), title_(s.title), skip_line_(s.skip_line),
          attrs_(self), filer_(self, attrs_), has_terminal_(s.terminal), has_title_(s.title),
          has_skip_line_(s.skip_line), has_skip_header_(s.skip_header), right_justified_(s.right_justified) {}

    void run(const HeadingSearch& h) {
        const bool chained = h.own;
        HeadingFinder finder(text_, h.expr, h.prefix, h.runs, h.unblanked);
        Object title_expr = has_title_.on() ? compile_user_pattern(s_.title) : Object();
        Object all = chained ? Object() : call_method(h.expr, PYU_STR("finditer"), {text_});
        Py_ssize_t title_start = 0;
        Object m = chained ? finder.next(0) : pyutil::next(all);
        while (m) {
            Py_ssize_t rows_start = match_end(m);
            Object following = finder.next(rows_start);
            Py_ssize_t table_end = following ? match_start(following) : t_.size();
            Bounds bounds = column_bounds(self_, m, s_.header_fields, right_justified_.on());
            if (!has_skip_header_.on() || skip_header(rows_start, table_end)) {
                table_end = walk(rows_start, table_end, bounds);
                if (title_expr) file_title(title_expr, title_start, rows_start);
                title_start = table_end;
            }
            m = chained ? following : pyutil::next(all);
        }
    }

private:
    // Moves rows_start past the line holding skip_header within the table; false when it is not there.
    // The expression is compiled for each heading through the current `compile`.
    // Kept: the expression re's own compile gives for an exact str skip_header
    // (the same every time, and compiling it runs no Python code); it watches
    // the `compile` binding, read at each use.
    bool skip_header(Py_ssize_t& rows_start, Py_ssize_t table_end) {
        Object compile = global(PYU_STR("compile"));
        const bool by_re = compile.is(re_compile()) && is_exact_str(s_.skip_header);
        Object search = by_re ? skip_search_ : Object();
        if (!search) {
            Object composed = add(s_.skip_header, PYU_STR(".*\\n"));
            search = getattr(compile_user_pattern(compile, composed), PYU_STR("search"));
            if (by_re) skip_search_ = search;
        }
        Object found = call(search, {text_, integer(rows_start), integer(table_end)});
        if (found.is_none()) return false;
        rows_start = match_end(found);
        return true;
    }

    // What a data line is to the walk, from its tests in their order.
    enum class LineIs { terminal, title, skipped, row };

    // The tests of one data line; `line_text` gives it as a str object, made
    // only when a test needs it; `t` holds its code points [a, b) when it is a str.
    template <class LineText>
    LineIs judge(const CodePoints* t, Py_ssize_t a, Py_ssize_t b, LineText&& line_text) {
        // each test uses `search` as it is bound at that moment
        if (has_terminal_.on() && terminal_.found(search_.get(), line_text())) return LineIs::terminal;
        if (has_title_.on() && title_.found(search_.get(), line_text())) return LineIs::title;
        Object search = search_.get();
        const bool content = t && search.is(re_search())
                                 ? has_alnum(*t, a, b)
                                 : truth(call(search, {PYU_STR("[a-zA-Z0-9]+"), line_text()}));
        if (!content || (has_skip_line_.on() && skip_line_.found(search_.get(), line_text()))) return LineIs::skipped;
        return LineIs::row;
    }

    // add_entry for the row text[start:end] (a str, stripped of trailing white
    // space).  Once `delims` was handed to an override, which may change it,
    // the heading's later rows are cut from that list as it stands.
    void file_row(Handle text, Py_ssize_t start, Py_ssize_t end, const Bounds& bounds, Object& delims) {
        const AttrCache::Slot& add_entry = attrs_.get(add_entry_);
        if (add_entry.native && !delims) return filer_.file(text, start, end, names_, bounds);
        Object row = start == 0 && end == CodePoints(text).size() && is_exact_str(text) ? borrow(text)
                                                                                         : substring(text, start, end);
        hand_row(add_entry, row, bounds, delims);
    }

    // The same for a row that is not a str (what the line expression of a
    // rebound compile gave, stripped by its own rstrip).
    void file_row(Handle row, const Bounds& bounds, Object& delims) {
        hand_row(attrs_.get(add_entry_), row, bounds, delims);
    }

    // add_entry(row, names, field_delims) as `add_entry` was found for this row.
    void hand_row(const AttrCache::Slot& add_entry, Handle row, const Bounds& bounds, Object& delims) {
        if (add_entry.native) {
            Object field_delims = delims ? delims : bounds_list(bounds);
            return filer_.file(row, names_, field_delims);
        }
        Object hook = add_entry.value;  // held through the call, which may rebind it
        if (!delims) delims = bounds_list(bounds);
        invoke(hook, row, names_, delims);
    }

    // Reads the data lines of [start, end); returns where the table ends.
    // ".*\n" is scanned here while `compile` is re's own; otherwise it is
    // compiled by the bound `compile` and its matches are the lines.
    Py_ssize_t walk(Py_ssize_t start, Py_ssize_t end, const Bounds& bounds) {
        Object compile = global(PYU_STR("compile"));
        if (!compile.is(re_compile())) return walk_matches(call(compile, {PYU_STR(".*\\n")}), start, end, bounds);
        Object delims;
        for (Py_ssize_t p = start; p < end;) {
            Py_ssize_t line_end = find_char(text_, '\n', p, end);
            if (line_end < 0) line_end = end;
            if (line_end < end) {
                ++line_end;  // with its line feed
            } else if (end != t_.size()) {
                break;  // no complete line before the next heading
            }
            Object line;
            auto line_text = [&]() -> Handle {
                if (!line) line = substring(text_, p, line_end);
                return line;
            };
            switch (judge(&t_, p, line_end, line_text)) {
                case LineIs::terminal: return line_end;
                case LineIs::title: return p;  // the title starts the next table
                case LineIs::skipped: break;
                case LineIs::row: {
                    Py_ssize_t row_end = line_end;
                    while (row_end > p && is_space(t_[row_end - 1])) --row_end;
                    file_row(text_, p, row_end, bounds, delims);
                }
            }
            p = line_end;
        }
        return end;
    }

    // The walk over the matches of the line expression `lines` in [start, end):
    // each match's group(0) is the line; a terminal line ends the table at the
    // end of its match, a title line at its start.  As the scan does, the last
    // line of the text, without a line feed, is read too when no match reached it.
    Py_ssize_t walk_matches(Handle lines, Py_ssize_t start, Py_ssize_t end, const Bounds& bounds) {
        Object delims, last;
        Object it = iter(call_method(lines, PYU_STR("finditer"), {text_, integer(start), integer(end)}));
        while (Object m = pyutil::next(it)) {
            Object line = call_method(m, PYU_STR("group"), {integer(0)});
            const LineIs is = read_line(line, bounds, delims);
            if (is == LineIs::terminal) return as_index(call_method(m, PYU_STR("end"), {integer(0)}));
            if (is == LineIs::title) return as_index(call_method(m, PYU_STR("start"), {integer(0)}));
            last = m;
        }
        if (end != t_.size()) return end;
        Py_ssize_t tail = end;
        while (tail > start && t_[tail - 1] != '\n') --tail;
        if (tail == end || (last && as_index(call_method(last, PYU_STR("end"), {integer(0)})) > tail)) return end;
        const LineIs is = read_line(substring(text_, tail, end), bounds, delims);
        return is == LineIs::title ? tail : end;
    }

    // One line of walk_matches, filed when it is a row.
    LineIs read_line(Handle line, const Bounds& bounds, Object& delims) {
        const bool text = is_str(line);
        const CodePoints* t = nullptr;
        CodePoints points = text ? CodePoints(line) : CodePoints(empty_str());
        if (text) t = &points;
        const LineIs is = judge(t, 0, points.size(), [&]() -> Handle { return line; });
        if (is != LineIs::row) return is;
        if (is_exact_str(line)) {
            Py_ssize_t row_end = points.size();
            while (row_end > 0 && is_space(points[row_end - 1])) --row_end;
            file_row(line, 0, row_end, bounds, delims);
        } else {
            file_row(call_method(line, PYU_STR("rstrip"), {}), bounds, delims);
        }
        return is;
    }

    // (the table's end may come from a rebound compile's line matches: the window is sliced as Python slices)
    void file_title(Handle title_expr, Py_ssize_t start, Py_ssize_t end) {
        Object window = getitem(text_, new_slice(integer(start), integer(end)));
        Object m = call_method(title_expr, PYU_STR("search"), {window});
        if (m.is_none()) return;
        call_method(self_, PYU_STR("_add_entries_to_results"), {call_method(m, PYU_STR("groups"), {})});
    }

    Handle self_;
    const Settings& s_;
    Handle text_;
    CodePoints t_;
    Handle names_;
    LinePattern terminal_, title_, skip_line_;
    // The object's add_entry: watches the object's class (its version tag) and
    // its own dict (its version), as AttrCache does.
    AttrCache attrs_;
    AttrCache::Slot add_entry_{PYU_STR("add_entry"), base.core_add_entry};
    RowFiler filer_;
    // core's `search`: watches core's dict (its version).
    CachedGlobal search_{frame(), PYU_STR("search")};
    // skip_header's expression by re's own compile: watches the `compile` binding (skip_header above)
    Object skip_search_;
    Switch has_terminal_, has_title_, has_skip_line_, has_skip_header_, right_justified_;
};

}  // namespace

Object driver_body(const Args& a) {
    Handle self = a[0];
    Settings s{borrow(a[1]), borrow(a[2]), borrow(a[3]), borrow(a[4]), borrow(a[5]), borrow(a[6]), borrow(a[7]),
               a[8], a[9]};
    setattr(self, PYU_STR("entrydict"), new_dict());
    if (equal(s.header_fields, Py_None)) {
        Object info = call_method(self, PYU_STR("get_init_info"),
                                  {stored_text(s), s.header_fields, s.terminal, s.skip_header, s.title,
                                   s.right_justified, s.label_fields, s.skip_line});
        unpack(info, {&s.header_fields, &s.terminal, &s.skip_header, &s.title, &s.right_justified,
                      &s.label_fields, &s.skip_line});
    }

    // With the base's own method, the expression is built here: when re's own
    // `compile` compiles it, its matches can be found without trying it at
    // every position.
    AttrCache attrs(self);
    Hook compile_header(attrs, PYU_STR("compile_header_pattern"), base.compile_header_pattern);
    HeadingSearch heading;
    if (compile_header.native()) {
        std::vector<Object> texts;
        Object pattern = header_pattern_text(self, s.header_fields, &texts);
        Object compile = global(PYU_STR("compile"));
        heading.own = compile.is(re_compile());
        heading.expr = compile_user_pattern(compile, pattern);
        if (heading.own) {
            heading.prefix = heading_literal_prefix(texts);
            heading.runs = matches_start_at_blank_runs(texts, pattern);
            if (heading.runs && !heading.prefix)
                heading.unblanked = getattr(compile_user_pattern(re_compile(), concat(PYU_STR("(?<![ \t])"), pattern)),
                                            PYU_STR("search"));
        }
    } else {
        heading.expr = compile_header.call(s.header_fields);
    }

    Object stored = stored_text(s);
    Object text;
    if (truth(s.title)) {
        text = cut_titled_tables(self, stored, s);
    } else {
        text = call_method(self, PYU_STR("align_table"),
                           {stored, s.header_fields, s.label_fields, s.delimiter, s.right_justified});
        setattr(self, PYU_STR("_text_to_parse"), text);
    }
    // (a str without tabs is its own expansion)
    if (!is_exact_str(text) || find_char(text, '\t', 0, PY_SSIZE_T_MAX) != -1)
        text = call_method(text, PYU_STR("expandtabs"), {});
    setattr(self, PYU_STR("_text_to_parse"), text);
    Object delimiter = borrow(s.delimiter);
    if (truth(getattr(self, PYU_STR("multi_line"))) && equal(delimiter, empty_str()))
        delimiter = borrow(PYU_STR("|"));
    text = call_method(text, PYU_STR("replace"), {delimiter, empty_str()});
    setattr(self, PYU_STR("_text_to_parse"), text);

    Object names = s.label_fields;
    if (equal(s.label_fields, Py_None))
        names = truth(getattr(self, PYU_STR("multi_line"))) ? multi_line_names(s.header_fields) : s.header_fields;

    if (!is_str(text)) {
        // what the heading search makes of another object: its own error
        Object all = call_method(heading.expr, PYU_STR("finditer"), {text});
        if (pyutil::next(all)) raise(PyExc_TypeError, "the text to parse must be a str");
    } else {
        TableReader(self, s, text, names).run(heading);
    }

    Object entrydict = getattr(self, PYU_STR("entrydict"));
    if (truth(entrydict)) setattr(self, PYU_STR("entries"), entrydict);
    return borrow(Py_None);
}

}  // namespace core::tabular
