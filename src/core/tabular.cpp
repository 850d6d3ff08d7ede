// The tabular parsers column_result_t and column_table_result_core_t: the
// classes, their small methods and the heading expression.
#include <vector>
#include "core/tabular.hpp"
#include "pyutil/ops.hpp"
#include "pyutil/regex.hpp"
#include "pyutil/text.hpp"

namespace core::tabular {

using namespace pyutil;

BaseMethods base;

Object compile_user_pattern(Handle compile, Handle pattern) { return call(compile, {hoist_global_flags(pattern)}); }

Object compile_user_pattern(Handle pattern) { return compile_user_pattern(global(PYU_STR("compile")), pattern); }

namespace {

// ---- column_result_t -------------------------------------------------------

Object base_add_entry_body(const Args&) {
    assert_that(false, "add_entry must be implemented by concrete sub-class");
    return borrow(Py_None);
}

Object get_init_info_body(const Args&) {
    assert_that(false, "get_init_info must be overridden by concrete sub-class");
    return borrow(Py_None);
}

Object cleanup_entry_field_body(const Args& a) { return borrow(a[2]); }

Object find_entry_in_list_body(const Args& a) {
    Handle self = a[0], regex = a[1];
    Object it = iter(a[2]);
    Object zero = integer(0);
    Object pattern;  // the regex, its global flags moved to the front
    while (Object ent = next(it)) {
        Object first = getitem(ent, zero);
        if (!pattern) pattern = hoist_global_flags(regex);
        Object m = call(global(PYU_STR("search")), {pattern, first});
        setattr(self, PYU_STR("last_find_match"), m);
        if (!m.is_none()) return ent;
    }
    return borrow(Py_None);
}

Object find_entry_index_list_body(const Args& a) {
    Object level = getattr(a[0], PYU_STR("entries"));
    Object it = iter(a[1]);
    while (Object key = next(it)) {
        if (!contains(level, key)) return borrow(Py_None);
        level = getitem(level, key);
    }
    return level;
}

// ---- column_table_result_core_t --------------------------------------------

Object core_init_body(const Args& a) {
    PyObject* self = a[0];
    PyObject* index = a[3];
    setattr(self, PYU_STR("entries"), new_dict());
    if (PyLong_Check(index)) {
        Object list = new_list();
        append(list, index);
        setattr(self, PYU_STR("index"), list);
    } else if (PyList_Check(index)) {
        setattr(self, PYU_STR("index"), index);
    } else {
        raise(PyExc_ValueError, concat(str(index), PYU_STR(" is not an int or list of ints")));
    }
    // column_result_t's constructor itself, whatever the object's class puts before it
    PyObject* settings[] = {self, a[1], a[2], a[4], a[5], a[6], a[7], a[8], a[9], a[10]};
    Object init = getattr(global(PYU_STR("column_result_t")), PYU_STR("__init__"));
    if (init.is(base.init)) return driver_body(Args(settings, a.module().ptr()));
    return own(PyObject_Vectorcall(init.ptr(), settings, 10, nullptr));
}

// ---- specs -------------------------------------------------------------------

FunctionSpec add_entry_spec{"add_entry", "column_result_t.add_entry",
                            {{"self"}, {"line"}, {"header_fields"}, {"field_delims"}}, base_add_entry_body,
                            "Must be provided by concrete sub-class"};
FunctionSpec get_init_info_spec{
    "get_init_info", "column_result_t.get_init_info",
    {{"self"}, {"output"}, {"header_fields"}, {"table_terminal_pattern"}, {"skip_header"},
     {"table_title_pattern"}, {"right_justified"}, {"label_fields"}, {"skip_line"}},
    get_init_info_body,
    "Overridden by a subclass that passes None for header_fields: called back with the\n"
    "output to parse and the current settings, it returns the seven settings header_fields,\n"
    "table_terminal_pattern, skip_header, table_title_pattern, right_justified, label_fields\n"
    "and skip_line. The base raises AssertionError."};
FunctionSpec compile_header_pattern_spec{"compile_header_pattern", "column_result_t.compile_header_pattern",
                                         {{"self"}, {"header_fields"}}, compile_header_pattern_body,
                                         "Compile a header pattern from the given header fields"};
FunctionSpec align_table_spec{"align_table", "column_result_t.align_table",
                              {{"self"}, {"table_to_parse"}, {"header_fields"}, {"label_fields"}, {"delimiter"},
                               {"right_justified"}},
                              align_table_body, "A function to align all the table fields before parsing operation"};
FunctionSpec init_spec{
    "__init__", "column_result_t.__init__",
    {{"self"}, {"header_fields"}, {"table_terminal_pattern"}, {"skip_header"}, {"table_title_pattern", None},
     {"right_justified", false}, {"label_fields", None}, {"skip_line", None}, {"parse_key", ""},
     {"delimiter", ""}},
    driver_body,
    R"doc(Parse every table of text_to_parse[parse_key].

header_fields: regexes of the column headings (case-exact), or a list of such
    lists for a heading of several lines ("" where a column's heading is blank
    on a line); None asks get_init_info for the settings. They name the
    heading line's columns one after another, from its first to its last, with
    only blanks between them: a heading line that goes on after the last one is
    not found, and nothing is parsed, silently; one that begins before the
    first gets its cells cut at the wrong places.
table_terminal_pattern: regex; a data line holding it ends the table. Without
    one, every line under the heading with a letter or digit is a row.
skip_header: regex of a line below the heading after which the rows begin; a
    table in which it is not found is skipped.
table_title_pattern: regex of a table's title line, matched at a line start:
    the text is cut into tables at such lines (the lines before the first are
    dropped) and each table's rows are filed under the title's capture groups.
right_justified: the headings are right-justified (a column ends where its heading ends).
label_fields: column names to use instead of the heading texts, which are
    otherwise the keys of the cells as written (r'MAC\s+Address', r'Age\(min\)').
skip_line: regex; data lines holding it are skipped.
parse_key: key of text_to_parse holding the text.
delimiter: the column border of a drawn table, such as '|' or ' | '. A drawn
    table with a single-line heading needs it: without it the bars stay between
    the heading texts and nothing is found. The empty text stands for '|' in the
    alignment of drawn tables and, for a heading of several lines, in taking
    the bars out.)doc"};
FunctionSpec add_entries_to_results_spec{"_add_entries_to_results", "column_result_t._add_entries_to_results",
                                         {{"self"}, {"titlevalues"}}, add_entries_to_results_body,
                                         "File the current entries in entrydict under the table's title values,\n"
                                         "converted by table_title_mapping, and start a new entries. Title values\n"
                                         "filed before log a warning, and the later table replaces the earlier."};
FunctionSpec map_entry_field_spec{"_map_entry_field", "column_result_t._map_entry_field",
                                  {{"self"}, {"header"}, {"field"}}, map_entry_field_body,
                                  "Convert a field with the converter field_mapping names for its column."};
FunctionSpec cleanup_entry_field_spec{
    "cleanup_entry_field", "column_result_t.cleanup_entry_field", {{"self"}, {"header"}, {"field"}},
    cleanup_entry_field_body,
    "Clean up or coerce a field (stripped of white space) before it is converted; a field\n"
    "that is not an index field may be turned into any type. Returns the field unchanged."};
FunctionSpec find_entry_in_list_spec{"_find_entry_in_list", "column_result_t._find_entry_in_list",
                                     {{"self"}, {"regex"}, {"entries"}}, find_entry_in_list_body,
                                     "The first element ent of entries for which search(regex, ent[0]) finds a\n"
                                     "match (kept in last_find_match), or None."};
FunctionSpec find_entry_index_list_spec{"find_entry_index_list", "column_result_t.find_entry_index_list",
                                        {{"self"}, {"index_list"}}, find_entry_index_list_body,
                                        "Find an entry given a list of indices. Return None if not there."};

FunctionSpec core_init_spec{
    "__init__", "column_table_result_core_t.__init__",
    {{"self"}, {"header_fields", None}, {"table_terminal_pattern", None}, {"index", 0},
     {"skip_header", None}, {"table_title_pattern", None}, {"right_justified", false},
     {"label_fields", None}, {"skip_line", None}, {"parse_key", ""}, {"delimiter", ""}},
    core_init_body,
    "Parse text_to_parse[parse_key] into entries.\n"
    "\n"
    "index: a column position (from 0), or a list of them, whose cells key the levels\n"
    "of entries; anything else raises ValueError. A negative index, or one past the\n"
    "last column, keys every row by '', each replacing the one before. The other\n"
    "settings are those of column_result_t."};
FunctionSpec core_add_entry_spec{"add_entry", "column_table_result_core_t.add_entry",
                                 {{"self"}, {"line"}, {"header_fields"}, {"field_delims"}}, core_add_entry_body,
                                 "File one row into entries under its index keys; a row with the keys of an\n"
                                 "earlier one replaces it."};

const char* const base_doc =
    "Superclass of table result parsers: finds tables by their heading and cuts\n"
    "rows into fields; subclasses add the entries.";
const char* const core_doc = R"doc(Parse tabular show-command output into nested `entries`.

The heading texts find the header line: they must name its columns one after
another, from the first to the last. A header line that goes on after the last
heading text is not found, and entries is {}, without a message; one that
begins before the first gets its cells cut at the wrong places. Each column
runs from its heading to the next one, the last to the end of the line; rows
are filed under the cells of the index columns.

    >>> from mirel.textloom import core
    >>> core.text_to_parse[''] = (
    ...     'Address         Age  Hardware Addr   Interface\n'
    ...     '10.0.0.1        5    0011.2233.4455  Ethernet1/1\n'
    ...     '10.0.0.2        -    0011.2233.4466  Ethernet1/2\n')
    >>> t = core.column_table_result_core_t(['Address', 'Age', 'Hardware Addr', 'Interface'])
    >>> t.entries['10.0.0.1']['Hardware Addr']
    '0011.2233.4455'
    >>> core.column_table_result_core_t(['Address', 'Age', 'Hardware Addr']).entries
    {}

With index=[3, 0] the entries are nested by the fourth and then the first column:

    >>> t = core.column_table_result_core_t(['Address', 'Age', 'Hardware Addr', 'Interface'], index=[3, 0])
    >>> t.entries['Ethernet1/2']['10.0.0.2']
    {'Address': '10.0.0.2', 'Age': '-', 'Hardware Addr': '0011.2233.4466', 'Interface': 'Ethernet1/2'})doc";

Object method(Object m, PyObject*& function) {
    function = m.new_ref();  // kept for the process, to tell overrides from it
    return m;
}

}  // namespace

// ---- heading expression ------------------------------------------------------

namespace {

// What a piece of the heading expression takes: blanks "[ \t]", or blanks and
// line feeds "[ \n]" (a line separator).
enum class Takes { blanks, line_ends };

// A piece of the heading expression: a heading text, or a run of what it takes
// (a column's blanks group, a line separator, the terminator's blanks).
struct Piece {
    Object text;  // the heading text; null for a run
    Takes takes = Takes::blanks;
    bool group = true;  // false for the terminator's blanks

    bool is_run() const { return !text; }
    bool is_blank_slot() const { return text && PyUnicode_GET_LENGTH(text.ptr()) == 0; }
};

// ([ \t]*)(text) for every heading text of `line`, appended to `pattern`.
Object ordering_header(Handle line, Object pattern, std::vector<Piece>& pieces) {
    Object it = iter(line);
    while (Object text = next(it)) {
        pattern = concat(pattern, PYU_STR("([ \\t]*)("));
        pattern = concat(pattern, text);
        pattern = concat(pattern, PYU_STR(")"));
        pieces.push_back({});  // its blanks group
        pieces.push_back({text});
    }
    return pattern;
}

bool all_lists(Handle header_fields) {
    Object it = iter(header_fields);
    while (Object e = next(it))
        if (!PyList_Check(e.ptr())) return false;
    return true;
}

// Whether a pattern (a str) may hold a flag group that turns on verbose mode:
// "(?" and flag letters or '-' with an 'x' among them, wherever it stands.
bool may_turn_verbose(Handle pattern) {
    const CodePoints at(pattern);
    for (Py_ssize_t i = 0; i + 2 < at.size(); ++i) {
        if (at[i] != '(' || at[i + 1] != '?') continue;
        for (Py_ssize_t j = i + 2; j < at.size() && (is_flag_letter(at[j]) || at[j] == '-'); ++j)
            if (at[j] == 'x') return true;
    }
    return false;
}

// Whether every heading text of the heading expression `pattern` stays within
// its own group (it cannot end the group early nor turn on verbose mode) and
// nothing refers to a group by number, so that what a group takes matters to
// the rest of the expression only by where it ends.
bool texts_keep_to_their_groups(const std::vector<Object>& texts, Handle pattern) {
    for (const Object& text : texts)
        if (!is_str(text) || !groups_balance(text) || may_turn_verbose(text)) return false;
    return pattern_traits(pattern).lazy_ok;
}

// The text of a run `p`; `before` is the run that precedes it with only blank
// slots between them, or null.
Handle run_text(const Piece& p, const Piece* before) {
    const bool blanks = p.takes == Takes::blanks;
    if (!before) return p.group ? (blanks ? PYU_STR("([ \\t]*)") : PYU_STR("([ \\n]*)")) : PYU_STR("[ \\t]*");
    // the run before has taken all it could: what is left is not for this one
    if (before->takes == p.takes) return p.group ? PYU_STR("()") : empty_str();
    // it takes only where the run before has taken all it could
    if (!blanks) return PYU_STR("((?![ \\t])[ \\n]*|)");
    return p.group ? PYU_STR("((?![ \\n])[ \\t]*|)") : PYU_STR("(?:(?![ \\n])[ \\t]*|)");
}

// The heading expression of `pieces` in which runs with only blank slots
// between them no longer try every way of sharing the blanks, which as
// written costs a try per way at every position that fails.  A way in which a
// run stops short of what it could take and a later run takes something ends
// where an earlier way ended, the one that leaves the later run's first
// character to the earlier run, and so fails as that one did.  Here a run
// takes only where the run before it has taken all it could, and nothing
// after a run of its own kind: the other ways remain, in their order, so the
// first match and the groups' spans are those of the expression as written,
// as long as what follows the runs depends only on where they end
// (texts_keep_to_their_groups).
Object with_blank_slots_taken_once(const std::vector<Piece>& pieces) {
    TextBuilder out;
    const size_t n = pieces.size();
    for (size_t i = 0; i < n;) {
        if (!pieces[i].is_run() && !pieces[i].is_blank_slot()) {
            out << PYU_STR("(") << pieces[i].text << PYU_STR(")");
            ++i;
            continue;
        }
        size_t end = i;
        bool blank_slot = false;
        for (; end < n && (pieces[end].is_run() || pieces[end].is_blank_slot()); ++end)
            blank_slot = blank_slot || pieces[end].is_blank_slot();
        const Piece* before = nullptr;
        for (; i < end; ++i) {
            if (!pieces[i].is_run()) {
                out << PYU_STR("()");
                continue;
            }
            out << run_text(pieces[i], blank_slot ? before : nullptr);
            before = &pieces[i];
        }
    }
    out << PYU_STR("[\\n\\r]+");
    return out.joined();
}

// The number of blank slots before the first line's first other text, with
// only its blanks groups between them: every match of the expression starts
// with blanks and then that text.  0 when the line has no other text.
size_t leading_blank_slots(const std::vector<Piece>& pieces) {
    size_t k = 0;
    while (2 * k + 1 < pieces.size() && pieces[2 * k].takes == Takes::blanks && pieces[2 * k].group &&
           !pieces[2 * k + 1].is_run()) {
        if (!pieces[2 * k + 1].is_blank_slot()) return k;
        ++k;
    }
    return 0;
}

}  // namespace

Object header_pattern_text(Handle self, Handle header_fields, std::vector<Object>* texts) {
    Object pattern = borrow(empty_str());
    std::vector<Piece> pieces;
    setattr(self, PYU_STR("multi_line"), Py_True);
    if (all_lists(header_fields)) {
        Object lines = iter(header_fields);
        while (Object line = next(lines)) {
            pattern = ordering_header(line, pattern, pieces);
            pattern = concat(pattern, PYU_STR("([ \\n]*)"));
            pieces.push_back({Object(), Takes::line_ends});
        }
    } else {
        setattr(self, PYU_STR("multi_line"), Py_False);
        pattern = ordering_header(header_fields, pattern, pieces);
    }
    pattern = concat(pattern, PYU_STR("[ \\t]*[\\n\\r]+"));
    pieces.push_back({Object(), Takes::blanks, false});

    std::vector<Object> all;
    bool blank_slot = false;
    for (const Piece& p : pieces) {
        if (p.is_run()) continue;
        all.push_back(p.text);
        blank_slot = blank_slot || p.is_blank_slot();
    }
    if (texts && pieces.front().takes == Takes::blanks && pieces.front().group)
        texts->assign(all.begin() + leading_blank_slots(pieces), all.end());
    if (blank_slot && texts_keep_to_their_groups(all, pattern)) return with_blank_slots_taken_once(pieces);
    return pattern;
}

Object compile_header_pattern_body(const Args& a) {
    return compile_user_pattern(header_pattern_text(a[0], a[1], nullptr));
}

Object heading_literal_prefix(const std::vector<Object>& texts) {
    // a text that could close its group early or set flags for the whole expression
    for (const Object& text : texts)
        if (!is_str(text) || !groups_balance(text) || has_inline_flags(text)) return {};
    if (texts.empty()) return {};
    const Object& first = texts.front();
    const Py_ssize_t n = literal_prefix_length(first);
    if (n <= 0 || is_blank(CodePoints(first)[0])) return {};
    return substring(first, 0, n);
}

bool matches_start_at_blank_runs(const std::vector<Object>& texts, Handle pattern) {
    // A match at s inside a run has its blanks group over [s, k); from the
    // run's first blank the group can take [first, k) and the rest of the
    // expression then matches as before, unless something reads the group.
    // (without texts the expression does not start with the blanks group)
    return !texts.empty() && texts_keep_to_their_groups(texts, pattern);
}

// ---- classes -----------------------------------------------------------------

Object make_column_result_class_impl() {
    const pyutil::ModuleFrame& n = frame();
    Object bases = tuple({reinterpret_cast<PyObject*>(&PyBaseObject_Type)});
    return make_class("column_result_t", bases, n, base_doc,
                      {{"field_mapping", new_dict()},
                       {"table_title_mapping", borrow(Py_None)},
                       {"add_entry", make_method<add_entry_spec>(n)},
                       {"get_init_info", make_method<get_init_info_spec>(n)},
                       {"compile_header_pattern",
                        method(make_method<compile_header_pattern_spec>(n), base.compile_header_pattern)},
                       {"align_table", method(make_method<align_table_spec>(n), base.align_table)},
                       {"__init__", method(make_method<init_spec>(n), base.init)},
                       {"_add_entries_to_results", make_method<add_entries_to_results_spec>(n)},
                       {"_map_entry_field", method(make_method<map_entry_field_spec>(n), base.map_entry_field)},
                       {"cleanup_entry_field",
                        method(make_method<cleanup_entry_field_spec>(n), base.cleanup_entry_field)},
                       {"_find_entry_in_list", make_method<find_entry_in_list_spec>(n)},
                       {"find_entry_index_list", make_method<find_entry_index_list_spec>(n)}});
}

Object make_column_table_result_core_class_impl(Handle base_class) {
    const pyutil::ModuleFrame& n = frame();
    return make_class("column_table_result_core_t", tuple({base_class}), n, core_doc,
                      {{"index_objects", borrow(Py_True)},
                       {"index_mapped_string", borrow(Py_False)},
                       {"__init__", make_method<core_init_spec>(n)},
                       {"add_entry", method(make_method<core_add_entry_spec>(n), base.core_add_entry)}});
}

}  // namespace core::tabular

namespace core {

Object make_column_result_class() { return tabular::make_column_result_class_impl(); }
Object make_column_table_result_core_class(Handle base) {
    return tabular::make_column_table_result_core_class_impl(base);
}

}  // namespace core
