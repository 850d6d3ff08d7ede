// The markup compiler _mk_textloom_t and extend_markup.
//
// Marked-up sample output becomes, block by block, one regex per captured
// marker (the whole line, the marked value in group 1) and a regex tag; the
// registration text written from that runs in core and registers through extend.
#include "core/core.hpp"
#include "pyutil/ops.hpp"
#include "pyutil/regex.hpp"
#include <algorithm>
#include <vector>

namespace core {
namespace {

using namespace pyutil;

// ---- small str and re helpers ------------------------------------------------

Object integer(Py_ssize_t n) { return own(PyLong_FromSsize_t(n)); }

Py_ssize_t length(PyObject* o) {
    Py_ssize_t n = PyObject_Length(o);
    if (n < 0) throw PyError();
    return n;
}

// s[start:end]; what an overridden method returns need not be a str
Object slice(PyObject* s, Py_ssize_t start, Py_ssize_t end) {
    if (PyUnicode_Check(s)) return own(PyUnicode_Substring(s, start, end));
    Object stop = end == PY_SSIZE_T_MAX ? borrow(Py_None) : integer(end);
    Object range = own(PySlice_New(integer(start).ptr(), stop.ptr(), nullptr));
    return getitem(s, range.ptr());
}
Object tail(PyObject* s, Py_ssize_t start) { return slice(s, start, PY_SSIZE_T_MAX); }
Object concat(PyObject* a, PyObject* b) { return own(PyUnicode_Concat(a, b)); }
bool has(PyObject* s, PyObject* part) { return check(PyUnicode_Contains(s, part)) != 0; }
bool is_none(const Object& o) { return o.ptr() == Py_None; }

Object group(PyObject* m, PyObject* which) { return call_method(m, PYU_STR("group"), {which}); }
Object group(PyObject* m, int which) { return group(m, integer(which).ptr()); }

Py_ssize_t position(PyObject* m, PyObject* method) {
    Py_ssize_t n = PyLong_AsSsize_t(call_method(m, method, {}).ptr());
    if (n == -1) check_no_error();
    return n;
}

// core's re functions, as bound now
Object re_match(PyObject* pattern, PyObject* s) { return call(global(PYU_STR("match")), {pattern, s}); }
Object re_search(PyObject* pattern, PyObject* s) { return call(global(PYU_STR("search")), {pattern, s}); }
Object re_compile(PyObject* pattern) { return call(global(PYU_STR("compile")), {pattern}); }

// sub(pattern, replacement, s) with `replacement` landing as written: 3.11
// rejects templates such as "\s+", so its backslashes are escaped for re.
Object sub_literal(PyObject* pattern, PyObject* replacement, PyObject* s) {
    Object templ = own(PyUnicode_Replace(replacement, PYU_STR("\\"), PYU_STR("\\\\"), -1));
    return call(global(PYU_STR("sub")), {pattern, templ.ptr(), s});
}

bool compare(Py_ssize_t count, PyObject* groupnum, int op) {
    return check(PyObject_RichCompareBool(integer(count).ptr(), groupnum, op)) != 0;
}

Object self_escape(PyObject* self, PyObject* text) { return call_method(self, PYU_STR("escape"), {text}); }

// ---- quoting of values in the registration text ---------------------------------

bool is_surrogate(Py_UCS4 c) { return c >= 0xD800 && c <= 0xDFFF; }

// True when `s` reads back unchanged between single quotes, in a raw literal
// when `raw`; otherwise the value is written as its repr().
bool fits_quotes(PyObject* s, bool raw) {
    const Py_ssize_t n = PyUnicode_GET_LENGTH(s);
    const int kind = PyUnicode_KIND(s);
    const void* data = PyUnicode_DATA(s);
    for (Py_ssize_t i = 0; i < n; ++i) {
        Py_UCS4 c = PyUnicode_READ(kind, data, i);
        // a line end ends the literal; NUL and lone surrogates cannot be compiled
        if (c == '\'' || c == '\n' || c == '\r' || c == 0 || is_surrogate(c)) return false;
        if (c == '\\' && !raw) return false;
    }
    // a raw literal cannot end in an odd run of backslashes
    Py_ssize_t backslashes = 0;
    while (backslashes < n && PyUnicode_READ(kind, data, n - 1 - backslashes) == '\\') ++backslashes;
    return backslashes % 2 == 0;
}

Object literal(PyObject* value, bool raw = false) {
    Object s = str(value);
    if (fits_quotes(s.ptr(), raw)) return format(raw ? PYU_STR("r'{}'") : PYU_STR("'{}'"), {s.ptr()});
    return own(PyObject_Repr(s.ptr()));
}

// Text for a comment line: as written unless it would end the comment early.
Object comment_text(PyObject* value) {
    Object s = str(value);
    const Py_ssize_t n = PyUnicode_GET_LENGTH(s.ptr());
    for (Py_ssize_t i = 0; i < n; ++i) {
        Py_UCS4 c = PyUnicode_READ_CHAR(s.ptr(), i);
        if (c == '\n' || c == '\r' || c == 0 || is_surrogate(c)) return own(PyObject_Repr(s.ptr()));
    }
    return s;
}

// ---- construction --------------------------------------------------------------

// "(?:XA(?:<[^>]+>)?X<regex of A>|...|<custom-regex marker>)" over a type table.
Object marker_pattern(PyObject* table) {
    Object alternatives = own(PyList_New(0));
    Object items = iter(call_method(table, PYU_STR("items"), {}).ptr());
    while (Object item = next(items.ptr())) {
        Object letter, value;
        unpack2(item.ptr(), letter, value);
        check(PyList_Append(alternatives.ptr(),
                            format(PYU_STR("X{}(?:<[^>]+>)?X{}"), {letter.ptr(), value.ptr()}).ptr()));
    }
    Object joined = own(PyUnicode_Join(PYU_STR("|"), alternatives.ptr()));
    return format(PYU_STR("(?:{}|X[xX]X(?:<(?P<regex>[^>]+)>)(?:<(?P<desc>[^>]+)>)?X[xX]X)"), {joined.ptr()});
}

Object init_body(const Args& a) {
    PyObject* self = a[0];
    Object class_table = getattr(self, PYU_STR("regex"));
    setattr(self, PYU_STR("allregex"), re_compile(marker_pattern(class_table.ptr()).ptr()).ptr());
    // the object's own table adds the optional (lower-case) form of every letter
    Object table = call_method(class_table.ptr(), PYU_STR("copy"), {});
    Object letters = iter(class_table.ptr());
    while (Object letter = next(letters.ptr()))
        setitem(table.ptr(), call_method(letter.ptr(), PYU_STR("lower"), {}).ptr(),
                getitem(class_table.ptr(), letter.ptr()).ptr());
    setattr(self, PYU_STR("regex"), table.ptr());
    setattr(self, PYU_STR("_alloptregex"), re_compile(marker_pattern(table.ptr()).ptr()).ptr());
    setattr(self, PYU_STR("_descregex"), PYU_STR("X(.)(?:<([^>]+)>)?X"));
    setattr(self, PYU_STR("_postItemDescRegex"), re_compile(PYU_STR("\\S*\\s+([^,\\r\\n]+)[,\\r\\n]*")).ptr());
    setattr(self, PYU_STR("_cleanUpPdescRegex"), re_compile(PYU_STR("[^\\w-]")).ptr());
    setattr(self, PYU_STR("_commands"), own(PyDict_New()).ptr());
    setattr(self, PYU_STR("_regexdict"), own(PyDict_New()).ptr());
    setattr(self, PYU_STR("_regexkeydict"), own(PyDict_New()).ptr());
    setattr(self, PYU_STR("prefixDescSet"), own(PySet_New(nullptr)).ptr());
    setattr(self, PYU_STR("_autoKeyJoinChar"), PYU_STR(""));
    return borrow(Py_None);
}

// ---- escape --------------------------------------------------------------------

Object escape_body(const Args& a) {
    static PyObject* const specials[] = {PYU_STR("\\("), PYU_STR("\\)"), PYU_STR("\\?"), PYU_STR("\\+"),
                                         PYU_STR("\\*"), PYU_STR("\\["), PYU_STR("\\]")};
    Object s = borrow(a[1]);
    for (PyObject* special : specials) s = sub_literal(special, special, s.ptr());
    return sub_literal(PYU_STR("\\s+$"), PYU_STR("\\s+"), s.ptr());
}

// ---- convert -------------------------------------------------------------------

// The key text of a marker without a key name, from the words before its value
// (or, at the target, after it).  `from`..`start` is the marker's literal stretch
// as it stands, escaped, in `s`.  May empty `desclist`.
Object infer_key(PyObject* self, PyObject* s, Py_ssize_t from, Py_ssize_t start, PyObject* trailing,
                     bool target, Object& desclist) {
    Object candidate = slice(s, from, start);
    Object post = call_method(getattr(self, PYU_STR("_postItemDescRegex")).ptr(), PYU_STR("match"),
                                  {trailing, integer(start).ptr()});
    if (target && !is_none(post)) {
        if (has(candidate.ptr(), PYU_STR(","))) {
            desclist = own(PyList_New(0));
            candidate = own(PyUnicode_Replace(candidate.ptr(), PYU_STR(" is"), PYU_STR(""), -1));
            candidate = sub_literal(PYU_STR("[^,]*,"), PYU_STR(""), candidate.ptr());
            candidate = sub_literal(PYU_STR("[^\\w]"), PYU_STR(""), candidate.ptr());
        }
        // nothing left before the value, or only the start of its \s+: the words after it
        if (!truth(candidate.ptr()) || has(candidate.ptr(), PYU_STR("\\s"))) candidate = group(post.ptr(), 1);
    }
    if (has(candidate.ptr(), PYU_STR(","))) desclist = own(PyList_New(0));
    Py_ssize_t comma = PyUnicode_FindChar(candidate.ptr(), ',', 0, PY_SSIZE_T_MAX, -1);
    if (comma == -2) throw PyError();
    if (comma >= 0) candidate = tail(candidate.ptr(), comma + 1);
    candidate = call_method(candidate.ptr(), PYU_STR("strip"), {});
    candidate = call_method(candidate.ptr(), PYU_STR("rstrip"), {PYU_STR(":\\")});
    candidate = call_method(candidate.ptr(), PYU_STR("lower"), {});
    for (PyObject* separator : {PYU_STR(" "), PYU_STR("/"), PYU_STR("\t")}) {
        Object join = getattr(self, PYU_STR("_autoKeyJoinChar"));
        candidate = call_method(candidate.ptr(), PYU_STR("replace"), {separator, join.ptr()});
    }
    // "mtu is" / "address is": the key ends before a trailing "is"
    Object join = getattr(self, PYU_STR("_autoKeyJoinChar"));
    Object join_is = own(PyNumber_Add(join.ptr(), PYU_STR("is")));
    Py_ssize_t cut = PyUnicode_Find(candidate.ptr(), join_is.ptr(), 0, PY_SSIZE_T_MAX, -1);
    if (cut == -2) throw PyError();
    if (cut > 0) candidate = slice(candidate.ptr(), 0, cut);
    if (!truth(candidate.ptr())) candidate = borrow(PYU_STR("unknown"));
    return call_method(getattr(self, PYU_STR("_cleanUpPdescRegex")).ptr(), PYU_STR("sub"),
                       {PYU_STR(""), candidate.ptr()});
}

// An address, interface or prefix value without any key text names its type.
Object unknown_by_type(PyObject* type_char) {
    Object letter = call_method(type_char, PYU_STR("upper"), {});
    if (same_or_equal(letter.ptr(), PYU_STR("A"))) return borrow(PYU_STR("addr"));
    if (same_or_equal(letter.ptr(), PYU_STR("I"))) return borrow(PYU_STR("intf"));
    if (same_or_equal(letter.ptr(), PYU_STR("P"))) return borrow(PYU_STR("prefix"));
    return borrow(PYU_STR("unknown"));
}

Object join_key(PyObject* self, PyObject* desclist) {
    Object parts = own(PyList_New(0));
    Object items = iter(desclist);
    while (Object part = next(items.ptr())) {
        Object p = sub_literal(PYU_STR("--*"), PYU_STR("-"), part.ptr());
        check(PyList_Append(parts.ptr(), sub_literal(PYU_STR("-$"), PYU_STR(""), p.ptr()).ptr()));
    }
    Object join = getattr(self, PYU_STR("_autoKeyJoinChar"));
    return call_method(join.ptr(), PYU_STR("join"), {parts.ptr()});
}

Object convert_body(const Args& a) {
    PyObject* self = a[0];
    PyObject* groupnum = a[3];
    Object line = borrow(a[2]);
    Object markers = getattr(self, PYU_STR("_alloptregex"));
    Object desclist = own(PyList_New(0));
    Object pdesc = borrow(PYU_STR(""));
    Object s;
    Py_ssize_t count = 0;
    Py_ssize_t prevmatch = 0;
    bool converted = false;  // prevmatch is set
    Object rematch = call_method(markers.ptr(), PYU_STR("search"), {line.ptr()});
    while (!is_none(rematch)) {
        const Py_ssize_t start = position(rematch.ptr(), PYU_STR("start"));
        const Py_ssize_t end = position(rematch.ptr(), PYU_STR("end"));
        Object m = re_match(getattr(self, PYU_STR("_descregex")).ptr(), group(rematch.ptr(), 0).ptr());
        Object type_char = group(m.ptr(), 1);
        const bool optional = truth(call_method(type_char.ptr(), PYU_STR("islower"), {}).ptr());
        // the regex text built so far, then the escaped literal stretch before this marker
        Object stretch = self_escape(self, slice(line.ptr(), prevmatch, start).ptr());
        s = converted ? concat(slice(line.ptr(), 0, prevmatch).ptr(), stretch.ptr()) : stretch;
        Object trailing = line;
        const bool target = compare(count, groupnum, Py_EQ);
        const bool measured = compare(count, groupnum, Py_LE);
        if (target && !optional) s = concat(s.ptr(), PYU_STR("("));
        if (target) {
            pdesc = group(rematch.ptr(), PYU_STR("desc"));
            if (!truth(pdesc.ptr())) pdesc = group(m.ptr(), 2);
            if (truth(pdesc.ptr())) desclist = own(PyList_New(0));
        }
        if (!truth(pdesc.ptr()) && measured)
            pdesc = infer_key(self, s.ptr(), prevmatch, start, trailing.ptr(), target, desclist);
        Object custom = group(rematch.ptr(), PYU_STR("regex"));
        if (!is_none(custom)) {
            s = concat(s.ptr(), custom.ptr());
        } else {
            Object value_regex = getitem(getattr(self, PYU_STR("regex")).ptr(), type_char.ptr());
            s = concat(s.ptr(), value_regex.ptr());
            if (same_or_equal(pdesc.ptr(), PYU_STR("unknown"))) pdesc = unknown_by_type(type_char.ptr());
        }
        if (target && !optional) s = concat(s.ptr(), PYU_STR(")"));
        if (truth(pdesc.ptr()) && measured) check(PyList_Append(desclist.ptr(), pdesc.ptr()));
        ++count;
        prevmatch = PyUnicode_GET_LENGTH(s.ptr());
        converted = true;
        if (!is_none(custom)) {
            // the value follows the closing triple: consume it with the marker's own regex
            Object rest = tail(line.ptr(), end);
            Object value = re_search(hoist_global_flags(custom.ptr()).ptr(), rest.ptr());
            assert_that(!is_none(value), format(PYU_STR("ERROR: regex: '{}' doesn't match {}"),
                                                {custom.ptr(), rest.ptr()}).ptr());
            s = concat(s.ptr(), tail(rest.ptr(), position(value.ptr(), PYU_STR("end"))).ptr());
        } else {
            s = concat(s.ptr(), tail(line.ptr(), end).ptr());
        }
        line = s;
        // only the raw rest: the regex text built so far can itself look like a
        // marker ("XSX\s+" from "XSX "), which would be converted again without end
        rematch = call_method(markers.ptr(), PYU_STR("search"), {line.ptr(), integer(prevmatch).ptr()});
    }
    if (prevmatch < length(line.ptr()))
        line = concat(slice(line.ptr(), 0, prevmatch).ptr(),
                      self_escape(self, tail(line.ptr(), prevmatch).ptr()).ptr());
    line = sub_literal(PYU_STR("^([ \\t])+"), PYU_STR("\\s+"), line.ptr());
    line = sub_literal(PYU_STR(":([ \\t])+"), PYU_STR(":\\s+"), line.ptr());
    line = sub_literal(PYU_STR("([ \\t])+:"), PYU_STR("\\s+:"), line.ptr());
    // a custom regex may open with "(?i)" mid-line; 3.11 wants global flags in front
    line = hoist_global_flags(line.ptr());
    Object key = join_key(self, desclist.ptr());
    return own(PyTuple_Pack(2, key.ptr(), line.ptr()));
}

// ---- block compilation -------------------------------------------------------------

Object lines_of(PyObject* output) { return call_method(output, PYU_STR("split"), {PYU_STR("\n")}); }

Object call_convert(PyObject* self, PyObject* os, PyObject* line, Py_ssize_t groupnum, Object& key) {
    Object result = call_method(self, PYU_STR("convert"), {os, line, integer(groupnum).ptr()});
    Object regex;
    unpack2(result.ptr(), key, regex);
    return regex;
}

Object desc_max_body(const Args& a) {
    PyObject* self = a[0];
    PyObject* os = a[1];
    Py_ssize_t width = 0;
    Object lines = iter(lines_of(a[2]).ptr());
    while (Object line = next(lines.ptr())) {
        Object found = own(PySequence_List(
            call_method(getattr(self, PYU_STR("allregex")).ptr(), PYU_STR("finditer"), {line.ptr()}).ptr()));
        for (Py_ssize_t k = 0; k < PyList_GET_SIZE(found.ptr()); ++k) {
            Object key;
            call_convert(self, os, line.ptr(), k, key);
            width = std::max(width, length(key.ptr()));
        }
    }
    return integer(width);
}

Object derived_command_tag(PyObject* showcmd) {
    Object tag = call_method(showcmd, PYU_STR("replace"), {PYU_STR(" "), PYU_STR("_")});
    tag = call_method(tag.ptr(), PYU_STR("replace"), {PYU_STR("-"), PYU_STR("_")});
    return call_method(tag.ptr(), PYU_STR("upper"), {});
}

// self.<table>[os][cmd] += text
void append_entry(PyObject* self, PyObject* table, PyObject* os, PyObject* cmd, PyObject* text) {
    Object per_os = getitem(getattr(self, table).ptr(), os);
    setitem(per_os.ptr(), cmd, own(PyNumber_Add(getitem(per_os.ptr(), cmd).ptr(), text)).ptr());
}

Object convert_output_body(const Args& a) {
    PyObject* self = a[0];
    Object showcmd = borrow(a[1]);
    Object prefix = borrow(a[2]);
    PyObject* output = a[3];
    Object os = borrow(a[4]);
    Object cmd = borrow(a[5]);
    if (!truth(cmd.ptr())) cmd = derived_command_tag(showcmd.ptr());
    // an OS header leaves them unset for the next block: as at the start of input
    if (is_none(showcmd)) showcmd = borrow(PYU_STR(""));
    if (is_none(prefix)) prefix = borrow(PYU_STR(""));
    if (is_none(os)) os = borrow(PYU_STR("WEND"));
    Object width = call_method(self, PYU_STR("_desc_max"), {os.ptr(), output});

    PyObject* tables[] = {PYU_STR("_commands"), PYU_STR("_regexdict"), PYU_STR("_regexkeydict")};
    if (!contains(getattr(self, PYU_STR("_commands")).ptr(), os.ptr()))
        for (PyObject* table : tables) setitem(getattr(self, table).ptr(), os.ptr(), own(PyDict_New()).ptr());
    setitem(getitem(getattr(self, tables[0]).ptr(), os.ptr()).ptr(), cmd.ptr(), showcmd.ptr());
    for (PyObject* table : {tables[1], tables[2]})
        setitem(getitem(getattr(self, table).ptr(), os.ptr()).ptr(), cmd.ptr(), PYU_STR(""));

    Object lines = iter(lines_of(output).ptr());
    while (Object line = next(lines.ptr())) {
        Object markers = iter(
            call_method(getattr(self, PYU_STR("_alloptregex")).ptr(), PYU_STR("finditer"), {line.ptr()}).ptr());
        Py_ssize_t groupnum = 0;
        for (Object marker; (marker = next(markers.ptr())); ++groupnum) {
            Object m = re_match(getattr(self, PYU_STR("_descregex")).ptr(), group(marker.ptr(), 0).ptr());
            if (truth(call_method(group(m.ptr(), 1).ptr(), PYU_STR("islower"), {}).ptr())) continue;  // optional
            Object key;
            Object regex = call_convert(self, os.ptr(), line.ptr(), groupnum, key);
            Object pad = own(PyNumber_Multiply(
                PYU_STR(" "), own(PyNumber_Subtract(width.ptr(), integer(length(key.ptr())).ptr())).ptr()));
            Object tag = literal(format(PYU_STR("{}.{}"), {prefix.ptr(), key.ptr()}).ptr());
            append_entry(self, tables[1], os.ptr(), cmd.ptr(),
                         format(PYU_STR("        {}{} : {},\n"), {tag.ptr(), pad.ptr(), literal(regex.ptr(), true).ptr()})
                             .ptr());
            append_entry(self, tables[2], os.ptr(), cmd.ptr(),
                         format(PYU_STR("        {}{} ,\n"), {tag.ptr(), pad.ptr()}).ptr());
            Object prefix_desc = format(PYU_STR("{}.{}.{}"), {os.ptr(), prefix.ptr(), key.ptr()});
            Object seen = getattr(self, PYU_STR("prefixDescSet"));
            if (contains(seen.ptr(), prefix_desc.ptr())) {
                Object entries = getitem(getitem(getattr(self, tables[1]).ptr(), os.ptr()).ptr(), cmd.ptr());
                warn(format(PYU_STR("{} has been defined more than once (command {},existing re{}, new re {})."),
                            {prefix_desc.ptr(), cmd.ptr(), entries.ptr(), regex.ptr()}).ptr());
            } else {
                call_method(seen.ptr(), PYU_STR("add"), {prefix_desc.ptr()});
            }
        }
    }
    return borrow(Py_None);
}

// ---- registration text ---------------------------------------------------------------

struct Command {
    Object tag, text, regex_entries, tag_entries;
};

struct OsGroup {
    Object name;  // lower case
    std::vector<Command> commands;
};

// One group per OS name in code-point order of the OS texts.  The default
// "WEND" and an explicit "wend" are one group (the explicit entry winning a
// command tag both hold): two displays under one name would keep only the later.
std::vector<OsGroup> os_groups(PyObject* self) {
    Object commands = getattr(self, PYU_STR("_commands"));
    Object regexdict = getattr(self, PYU_STR("_regexdict"));
    Object keydict = getattr(self, PYU_STR("_regexkeydict"));
    Object oses = own(PySequence_List(commands.ptr()));
    check(PyList_Sort(oses.ptr()));
    std::vector<std::pair<Object, Object>> merged;  // name, dict tag -> (os text, text)
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(oses.ptr()); ++i) {
        Object os = borrow(PyList_GET_ITEM(oses.ptr(), i));
        Object name = call_method(os, PYU_STR("lower"), {});
        const bool explicit_name = same_or_equal(name, os);
        auto slot = merged.begin();
        while (slot != merged.end() && !same_or_equal(slot->first.ptr(), name.ptr())) ++slot;
        if (slot == merged.end()) slot = merged.insert(merged.end(), {name, own(PyDict_New())});
        Object items = iter(call_method(getitem(commands.ptr(), os).ptr(), PYU_STR("items"), {}).ptr());
        while (Object item = next(items.ptr())) {
            Object tag, text;
            unpack2(item.ptr(), tag, text);
            if (contains(slot->second.ptr(), tag.ptr()) && !explicit_name) continue;
            setitem(slot->second.ptr(), tag.ptr(), own(PyTuple_Pack(2, os.ptr(), text.ptr())).ptr());
        }
    }
    std::vector<OsGroup> groups;
    for (auto& [name, by_tag] : merged) {
        OsGroup g{name, {}};
        Object items = own(PySequence_List(call_method(by_tag.ptr(), PYU_STR("items"), {}).ptr()));
        check(PyList_Sort(items.ptr()));
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.ptr()); ++i) {
            Object tag, source, os, text;
            unpack2(borrow(PyList_GET_ITEM(items.ptr(), i)), tag, source);
            unpack2(source.ptr(), os, text);
            g.commands.push_back({tag, text, getitem(getitem(regexdict.ptr(), os.ptr()).ptr(), tag.ptr()),
                                  getitem(getitem(keydict.ptr(), os.ptr()).ptr(), tag.ptr())});
        }
        groups.push_back(std::move(g));
    }
    return groups;
}

class Text {
public:
    Text() : pieces_(own(PyList_New(0))) {}
    void add(PyObject* piece) { check(PyList_Append(pieces_.ptr(), piece)); }
    void add(const Object& piece) { add(piece.ptr()); }
    Object joined() const { return own(PyUnicode_Join(PYU_STR(""), pieces_.ptr())); }

private:
    Object pieces_;
};

void add_show_commands(Text& text, const std::vector<OsGroup>& groups) {
    text.add(PYU_STR("show_commands = {\n"));
    for (const OsGroup& g : groups) {
        Py_ssize_t width = 0;
        for (const Command& c : g.commands) width = std::max(width, length(c.tag.ptr()));
        text.add(format(PYU_STR("    {}: {{\n"), {literal(g.name.ptr()).ptr()}));
        for (const Command& c : g.commands) {
            Object pad = own(PySequence_Repeat(PYU_STR(" "), width - length(c.tag.ptr())));
            text.add(format(PYU_STR("        {}{}: {},\n"),
                            {literal(c.tag.ptr()).ptr(), pad.ptr(), literal(c.text.ptr()).ptr()}));
        }
        text.add(PYU_STR("    },\n"));
    }
    text.add(PYU_STR("}\n"));
}

// The regex or regex_tags display: per command a comment title and its entry lines.
void add_entries(Text& text, const std::vector<OsGroup>& groups, bool tags) {
    text.add(tags ? PYU_STR("regex_tags = {\n") : PYU_STR("regex = {\n"));
    for (const OsGroup& g : groups) {
        text.add(format(tags ? PYU_STR("    {}: [\n") : PYU_STR("    {}: {{\n"), {literal(g.name.ptr()).ptr()}));
        for (const Command& c : g.commands) {
            text.add(PYU_STR("        #\n"));
            text.add(format(PYU_STR("        # {} ({})\n"),
                            {comment_text(c.tag.ptr()).ptr(), literal(c.text.ptr()).ptr()}));
            text.add(PYU_STR("        #\n"));
            text.add(tags ? c.tag_entries : c.regex_entries);
            text.add(PYU_STR("\n"));
        }
        text.add(tags ? PYU_STR("    ],\n") : PYU_STR("    },\n"));
    }
    text.add(PYU_STR("}\n"));
}

Object generate_output_body(const Args& a) {
    PyObject* self = a[0];
    const bool with_tags = truth(a[1]);
    const bool package_form = truth(a[2]);
    std::vector<OsGroup> groups = os_groups(self);
    Text text;
    text.add(package_form ? PYU_STR("from mirel import textloom as tlpkg\n")
                          : PYU_STR("from mirel.textloom import core as tlcore\n"));
    add_show_commands(text, groups);
    add_entries(text, groups, false);
    if (with_tags) add_entries(text, groups, true);
    if (package_form)
        text.add(with_tags ? PYU_STR("tlpkg.extend (regex, show_commands, regex_tags)\n")
                           : PYU_STR("tlpkg.extend (regex, show_commands)\n"));
    else
        text.add(with_tags ? PYU_STR("tlcore.extend (regex, show_commands, regex_tags)\n")
                           : PYU_STR("tlcore.extend (regex, show_commands)\n"));
    return text.joined();
}

// ---- reading marked-up input ------------------------------------------------------------

// Group 1 of `pattern` matched at the start of `line`, or a null object.
Object header_value(PyObject* pattern, PyObject* line) {
    Object m = re_match(pattern, line);
    return is_none(m) ? Object() : group(m.ptr(), 1);
}

Object process_body(const Args& a) {
    PyObject* self = a[0];
    PyObject* markup_iterator = a[1];
    if (!assertions_disabled() && !check(PyObject_IsInstance(markup_iterator, iterable_abc().ptr())))
        raise(PyExc_AssertionError, "Must provide an iterator to process_marked_up_input.");
    setattr(self, PYU_STR("_autoKeyJoinChar"), a[2]);
    Object cmd = borrow(PYU_STR("")), showcmd = cmd, prefix = cmd, markup = cmd;
    Object os = borrow(Py_None), oldos;
    bool inmarkup = false;
    call_method(global(PYU_STR("logger")), PYU_STR("debug"), {PYU_STR("process_marked_up_input")});

    auto hand_over = [&](PyObject* block_os) {
        call_method(self, PYU_STR("convert_output"), {showcmd.ptr(), prefix.ptr(), markup.ptr(), block_os, cmd.ptr()});
    };
    Object lines = iter(markup_iterator);
    Py_ssize_t line_number = 0;
    for (Object line; (line = next(lines.ptr())); ++line_number) {
        if (!truth(line.ptr())) continue;
        if (Object value = header_value(PYU_STR("OS: (.+)"), line.ptr())) {
            oldos = os;
            os = call_method(value.ptr(), PYU_STR("lower"), {});
            Object oses = global(PYU_STR("supported_oses"));
            if (!assertions_disabled() && !contains(oses, os.ptr()))
                raise(PyExc_AssertionError, format(PYU_STR("Unknown OS {}, must be one of {}"), {os.ptr(), oses}).ptr());
            if (truth(markup.ptr())) {
                hand_over(oldos.ptr());
                cmd = showcmd = prefix = borrow(Py_None);
                markup = borrow(PYU_STR(""));
            }
            inmarkup = false;
            continue;
        }
        Object* target = nullptr;
        Object value;
        if ((value = header_value(PYU_STR("CMD: (.+)"), line.ptr()))) target = &cmd;
        else if ((value = header_value(PYU_STR("SHOWCMD: (.+)"), line.ptr()))) target = &showcmd;
        else if ((value = header_value(PYU_STR("PREFIX: (.+)"), line.ptr()))) target = &prefix;
        if (target) {
            if (truth(markup.ptr())) {
                hand_over(os.ptr());
                cmd = showcmd = prefix = markup = borrow(PYU_STR(""));
            }
            *target = value;
            inmarkup = false;
            continue;
        }
        if (!is_none(re_match(PYU_STR("MARKUP:"), line.ptr()))) {
            if (!assertions_disabled()) {
                if (inmarkup)
                    raise(PyExc_AssertionError,
                          format(PYU_STR("Found two back-to-back MARKUP sections at line number {}."),
                                 {integer(line_number).ptr()}).ptr());
                if (truth(markup.ptr())) raise(PyExc_AssertionError, "error processing marked-up input.");
            }
            inmarkup = true;
            continue;
        }
        if (inmarkup) {
            markup = concat(markup.ptr(), line.ptr());
            if (!has(line.ptr(), PYU_STR("\n"))) markup = concat(markup.ptr(), PYU_STR("\n"));
        }
    }
    if (inmarkup && truth(markup.ptr())) hand_over(os.ptr());
    return borrow(Py_None);
}

// ---- extend_markup -----------------------------------------------------------------------

Object extend_markup_body(const Args& a) {
    Object compiler = call(global(PYU_STR("_mk_textloom_t")), {});
    Object lines = iter(call_method(a[0], PYU_STR("splitlines"), {}).ptr());
    call_method(compiler.ptr(), PYU_STR("process_marked_up_input"), {lines.ptr(), a[1]});
    PyObject* args[] = {compiler.ptr(), Py_True};
    Object kwnames = own(PyTuple_Pack(1, PYU_STR("generate_regex_tags")));
    Object text = own(PyObject_VectorcallMethod(PYU_STR("generate_output"), args, 1, kwnames.ptr()));
    // exec(text, core's dict, core's dict): names the text binds stay in core
    PyObject* found = PyDict_GetItemWithError(PyEval_GetBuiltins(), PYU_STR("exec"));
    if (!found) {
        check_no_error();
        raise(PyExc_NameError, "name 'exec' is not defined");
    }
    Object exec = borrow(found);  // the text it runs may unbind it
    call(exec, {text, frame().globals(), frame().globals()});
    return borrow(Py_None);
}

// ---- the class ----------------------------------------------------------------------------

FunctionSpec init_spec{"__init__", "_mk_textloom_t.__init__", {{"self"}}, init_body};
FunctionSpec escape_spec{"escape", "_mk_textloom_t.escape", {{"self"}, {"line"}}, escape_body,
                         "Regex text for literal output text: ()?+*[] escaped, trailing whitespace as \\s+."};
FunctionSpec convert_spec{"convert", "_mk_textloom_t.convert", {{"self"}, {"os"}, {"line"}, {"groupnum"}},
                          convert_body,
                          "(key, regex) for marker number groupnum of a marked-up line; the regex captures "
                          "that marker's value."};
FunctionSpec desc_max_spec{"_desc_max", "_mk_textloom_t._desc_max", {{"self"}, {"os"}, {"output"}},
                           desc_max_body, "The key width that lines up the entries of one MARKUP block."};
FunctionSpec generate_output_spec{"generate_output", "_mk_textloom_t.generate_output",
                                  {{"self"}, {"generate_regex_tags", false}, {"called_from_textloom", false}},
                                  generate_output_body,
                                  "The registration text: show_commands, regex (and regex_tags) and the call "
                                  "of extend."};
FunctionSpec convert_output_spec{"convert_output", "_mk_textloom_t.convert_output",
                                 {{"self"}, {"showcmd"}, {"prefix"}, {"output"}, {"os"}, {"cmd"}},
                                 convert_output_body, "Compile one MARKUP block into entries of the compiler."};
FunctionSpec process_spec{"process_marked_up_input", "_mk_textloom_t.process_marked_up_input",
                          {{"self"}, {"markup_iterator"}, {"auto_key_join_char", "-"}}, process_body,
                          "Read marked-up input lines: the OS, CMD, SHOWCMD and PREFIX sections in any "
                          "order, the MARKUP section always last."};

FunctionSpec extend_markup_spec{"extend_markup", "extend_markup",
                                {{"marked_up_input"}, {"auto_key_join_char", "-"}}, extend_markup_body,
                                "Compile marked-up sample output and register its regexes, tags and commands."};

const char* const doc =
    "Compiler of marked-up sample output into regexes, regex tags and show commands.\n"
    "\n"
    "mktl markup syntax: a marker stands directly before the value it marks.\n"
    "\n"
    "    XxX....                 a value of type x\n"
    "    Xx<desc>X....           the same, desc being the string to label the match in the table\n"
    "    XXX<regex>XXX...        a value matched by a regex of its own\n"
    "    XXX<regex><desc>XXX...  the same, labelled desc\n"
    "\n"
    "An upper-case type letter (XXX for a regex marker) captures the value under a\n"
    "regex tag; a lower-case one (XxX) only matches it.  Without desc the key is taken\n"
    "from the words around the value.  Types:\n"
    "\n"
    "    A  address (ipv4 or ipv6)\n"
    "    B  bracketing: the value inside parens, braces, brackets\n"
    "    C  comma: the value up to a comma\n"
    "    F  floating point number\n"
    "    H  hex number\n"
    "    I  interface name\n"
    "    M  mac address\n"
    "    N  number\n"
    "    P  prefix address (ipv4 or ipv6)\n"
    "    Q  quotes: the value inside double quotes\n"
    "    R  the rest of the line\n"
    "    S  non-space\n"
    "    T  time (00:00:00)\n"
    "    W  word\n";

const char* const type_table[][2] = {
    {"A", "[A-Fa-f0-9:\\.]+"}, {"B", "[^\\)\\]\\}]+"},         {"C", "[^,]+"},        {"F", "\\d+.\\d+"},
    {"H", "(?:0x)?[a-fA-F0-9]+"}, {"I", "[-A-Za-z0-9\\._/:]+"}, {"M", "[0-9A-Za-z\\.\\:]+"}, {"N", "\\d+"},
    {"P", "[A-Fa-f0-9/:\\.]+"}, {"Q", "[^\\\"]+"},              {"R", "[^\\r\\n]+"},   {"S", "\\S+"},
    {"T", "\\d{2}:\\d{2}:\\d{2}"}, {"W", "\\w+"},
};

Object make_type_table() {
    Object table = own(PyDict_New());
    for (const auto& entry : type_table)
        check(PyDict_SetItem(table.ptr(), own(PyUnicode_InternFromString(entry[0])).ptr(),
                             own(PyUnicode_FromString(entry[1])).ptr()));
    return table;
}

}  // namespace

Object make_mk_textloom_class() {
    const pyutil::ModuleFrame& n = frame();
    Object bases = own(PyTuple_Pack(1, reinterpret_cast<PyObject*>(&PyBaseObject_Type)));
    return make_class("_mk_textloom_t", bases.ptr(), n, doc,
                      {{"regex", make_type_table()},
                       {"__init__", make_method<init_spec>(n)},
                       {"escape", make_method<escape_spec>(n)},
                       {"convert", make_method<convert_spec>(n)},
                       {"_desc_max", make_method<desc_max_spec>(n)},
                       {"generate_output", make_method<generate_output_spec>(n)},
                       {"convert_output", make_method<convert_output_spec>(n)},
                       {"process_marked_up_input", make_method<process_spec>(n)}});
}

Object make_extend_markup() { return make_function<extend_markup_spec>(frame()); }

}  // namespace core
