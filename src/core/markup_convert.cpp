// The convert step of the markup compiler: a marked-up line becomes a regex
// (the whole line, the marked value in group 1) and a key; a MARKUP block
// becomes the compiler's entries, its values quoted as Python literals.
#include "core/markup.hpp"
#include <algorithm>
#include "pyutil/regex.hpp"
#include "pyutil/text.hpp"

namespace core::markup {

using namespace pyutil;

namespace {

// ---- small str and re helpers ------------------------------------------------

// s[start:end]; what an overridden method returns need not be a str
Object slice(Handle s, Py_ssize_t start, Py_ssize_t end) {
    if (PyUnicode_Check(s.ptr())) return own(PyUnicode_Substring(s.ptr(), start, end));
    Object stop = end == PY_SSIZE_T_MAX ? borrow(Py_None) : integer(end);
    return getitem(s, new_slice(integer(start), stop));
}
Object tail(Handle s, Py_ssize_t start) { return slice(s, start, PY_SSIZE_T_MAX); }

// m.start(), m.end()
Py_ssize_t position(Handle m, Handle method) {
    Object at = call_method(m, method, {});
    Py_ssize_t n = PyLong_AsSsize_t(at.ptr());
    if (n == -1) check_no_error();
    return n;
}

// core's search, as bound now
Object re_search(Handle pattern, Handle s) { return call(global(PYU_STR("search")), {pattern, s}); }

// sub(pattern, replacement, s) with `replacement` landing as written: 3.11
// rejects templates such as "\s+", so its backslashes are escaped for re.
Object sub_literal(Handle pattern, Handle replacement, Handle s) {
    Object templ = replace(replacement, PYU_STR("\\"), PYU_STR("\\\\"));
    return call(global(PYU_STR("sub")), {pattern, templ, s});
}

Object self_escape(Handle self, Handle text) { return call_method(self, PYU_STR("escape"), {text}); }

bool is_surrogate(Py_UCS4 c) { return c >= 0xD800 && c <= 0xDFFF; }

// True when `s` reads back unchanged between single quotes, in a raw literal
// when `raw`.
bool fits_quotes(Handle s, bool raw) {
    const CodePoints at(s);
    const Py_ssize_t n = at.size();
    for (Py_ssize_t i = 0; i < n; ++i) {
        Py_UCS4 c = at[i];
        // a line end ends the literal; NUL and lone surrogates cannot be compiled
        if (c == '\'' || c == '\n' || c == '\r' || c == 0 || is_surrogate(c)) return false;
        if (c == '\\' && !raw) return false;
    }
    // a raw literal cannot end in an odd run of backslashes
    Py_ssize_t backslashes = 0;
    while (backslashes < n && at[n - 1 - backslashes] == '\\') ++backslashes;
    return backslashes % 2 == 0;
}

}  // namespace

// ---- quoting of values in the registration text ---------------------------------

Object literal(Handle value, bool raw) {
    Object s = str(value);
    if (fits_quotes(s, raw)) return format(raw ? PYU_STR("r'{}'") : PYU_STR("'{}'"), {s});
    return repr(s);
}

Object comment_text(Handle value) {
    Object s = str(value);
    const CodePoints at(s);
    for (Py_ssize_t i = 0; i < at.size(); ++i) {
        Py_UCS4 c = at[i];
        if (c == '\n' || c == '\r' || c == 0 || is_surrogate(c)) return repr(s);
    }
    return s;
}

namespace {

// ---- escape --------------------------------------------------------------------

Object escape_body(const Args& a) {
    static PyObject* const specials[] = {PYU_STR("\\("), PYU_STR("\\)"), PYU_STR("\\?"), PYU_STR("\\+"),
                                         PYU_STR("\\*"), PYU_STR("\\["), PYU_STR("\\]")};
    Object s = borrow(a[1]);
    for (PyObject* special : specials) s = sub_literal(special, special, s);
    return sub_literal(PYU_STR("\\s+$"), PYU_STR("\\s+"), s);
}

// ---- convert -------------------------------------------------------------------

// The key text of a marker without a key name, from the words before its value
// (or, at the target, after it).  `from`..`start` is the marker's literal stretch
// as it stands, escaped, in `s`.  May empty `desclist`.
Object infer_key(Handle self, Handle s, Py_ssize_t from, Py_ssize_t start, Handle trailing, bool target,
                 Object& desclist) {
    Object candidate = slice(s, from, start);
    Object post = call_method(getattr(self, PYU_STR("_postItemDescRegex")), PYU_STR("match"),
                              {trailing, integer(start)});
    if (target && !post.is_none()) {
        if (str_contains(candidate, PYU_STR(","))) {
            desclist = new_list();
            candidate = replace(candidate, PYU_STR(" is"), empty_str());
            candidate = sub_literal(PYU_STR("[^,]*,"), empty_str(), candidate);
            candidate = sub_literal(PYU_STR("[^\\w]"), empty_str(), candidate);
        }
        // nothing left before the value, or only the start of its \s+: the words after it
        if (!truth(candidate) || str_contains(candidate, PYU_STR("\\s"))) candidate = group(post, 1);
    }
    if (str_contains(candidate, PYU_STR(","))) desclist = new_list();
    Py_ssize_t comma = rfind(candidate, PYU_STR(","));
    if (comma >= 0) candidate = tail(candidate, comma + 1);
    candidate = call_method(candidate, PYU_STR("strip"), {});
    candidate = call_method(candidate, PYU_STR("rstrip"), {PYU_STR(":\\")});
    candidate = call_method(candidate, PYU_STR("lower"), {});
    for (PyObject* separator : {PYU_STR(" "), PYU_STR("/"), PYU_STR("\t")}) {
        Object join = getattr(self, PYU_STR("_autoKeyJoinChar"));
        candidate = call_method(candidate, PYU_STR("replace"), {separator, join});
    }
    // "mtu is" / "address is": the key ends before a trailing "is"
    Object join_is = add(getattr(self, PYU_STR("_autoKeyJoinChar")), PYU_STR("is"));
    Py_ssize_t cut = rfind(candidate, join_is);
    if (cut > 0) candidate = slice(candidate, 0, cut);
    if (!truth(candidate)) candidate = borrow(PYU_STR("unknown"));
    return call_method(getattr(self, PYU_STR("_cleanUpPdescRegex")), PYU_STR("sub"), {empty_str(), candidate});
}

// An address, interface or prefix value without any key text names its type.
Object unknown_by_type(Handle type_char) {
    Object letter = call_method(type_char, PYU_STR("upper"), {});
    if (same_or_equal(letter, PYU_STR("A"))) return borrow(PYU_STR("addr"));
    if (same_or_equal(letter, PYU_STR("I"))) return borrow(PYU_STR("intf"));
    if (same_or_equal(letter, PYU_STR("P"))) return borrow(PYU_STR("prefix"));
    return borrow(PYU_STR("unknown"));
}

Object join_key(Handle self, Handle desclist) {
    Object parts = new_list();
    Object items = iter(desclist);
    while (Object part = next(items)) {
        Object p = sub_literal(PYU_STR("--*"), PYU_STR("-"), part);
        append(parts, sub_literal(PYU_STR("-$"), empty_str(), p));
    }
    Object join = getattr(self, PYU_STR("_autoKeyJoinChar"));
    return call_method(join, PYU_STR("join"), {parts});
}

Object convert_body(const Args& a) {
    Handle self = a[0];
    Handle groupnum = a[3];
    Object line = borrow(a[2]);
    Object markers = getattr(self, PYU_STR("_alloptregex"));
    Object desclist = new_list();
    Object pdesc = borrow(empty_str());
    Object s;
    Py_ssize_t count = 0;
    Py_ssize_t prevmatch = 0;
    bool converted = false;  // prevmatch is set
    Object rematch = call_method(markers, PYU_STR("search"), {line});
    while (!rematch.is_none()) {
        const Py_ssize_t start = position(rematch, PYU_STR("start"));
        const Py_ssize_t end = position(rematch, PYU_STR("end"));
        Object m = re_match(getattr(self, PYU_STR("_descregex")), group(rematch, 0));
        Object type_char = group(m, 1);
        const bool optional = truth(call_method(type_char, PYU_STR("islower"), {}));
        // the regex text built so far, then the escaped literal stretch before this marker
        Object stretch = self_escape(self, slice(line, prevmatch, start));
        s = converted ? concat(slice(line, 0, prevmatch), stretch) : stretch;
        Object trailing = line;
        const bool target = same_or_equal(integer(count), groupnum);
        const bool measured = truth(less_equal(integer(count), groupnum));
        if (target && !optional) s = concat(s, PYU_STR("("));
        if (target) {
            pdesc = group(rematch, PYU_STR("desc"));
            if (!truth(pdesc)) pdesc = group(m, 2);
            if (truth(pdesc)) desclist = new_list();
        }
        if (!truth(pdesc) && measured) pdesc = infer_key(self, s, prevmatch, start, trailing, target, desclist);
        Object custom = group(rematch, PYU_STR("regex"));
        if (!custom.is_none()) {
            s = concat(s, custom);
        } else {
            Object value_regex = getitem(getattr(self, PYU_STR("regex")), type_char);
            s = concat(s, value_regex);
            if (same_or_equal(pdesc, PYU_STR("unknown"))) pdesc = unknown_by_type(type_char);
        }
        if (target && !optional) s = concat(s, PYU_STR(")"));
        if (truth(pdesc) && measured) append(desclist, pdesc);
        ++count;
        prevmatch = length(s);
        converted = true;
        if (!custom.is_none()) {
            // the value follows the closing triple: consume it with the marker's own regex
            Object rest = tail(line, end);
            Object value = re_search(hoist_global_flags(custom), rest);
            assert_that(!value.is_none(), format(PYU_STR("ERROR: regex: '{}' doesn't match {}"), {custom, rest}));
            s = concat(s, tail(rest, position(value, PYU_STR("end"))));
        } else {
            s = concat(s, tail(line, end));
        }
        line = s;
        // only the raw rest: the regex text built so far can itself look like a
        // marker ("XSX\s+" from "XSX "), which would be converted again without end
        rematch = call_method(markers, PYU_STR("search"), {line, integer(prevmatch)});
    }
    if (prevmatch < length(line)) line = concat(slice(line, 0, prevmatch), self_escape(self, tail(line, prevmatch)));
    line = sub_literal(PYU_STR("^([ \\t])+"), PYU_STR("\\s+"), line);
    line = sub_literal(PYU_STR(":([ \\t])+"), PYU_STR(":\\s+"), line);
    line = sub_literal(PYU_STR("([ \\t])+:"), PYU_STR("\\s+:"), line);
    // a custom regex may open with "(?i)" mid-line; 3.11 wants global flags in front
    line = hoist_global_flags(line);
    Object key = join_key(self, desclist);
    return tuple({key, line});
}

// ---- block compilation -------------------------------------------------------------

Object lines_of(Handle output) { return call_method(output, PYU_STR("split"), {PYU_STR("\n")}); }

// self.convert(os, line, groupnum): its key into `key`, its regex returned
Object call_convert(Handle self, Handle os, Handle line, Py_ssize_t groupnum, Object& key) {
    Object result = call_method(self, PYU_STR("convert"), {os, line, integer(groupnum)});
    Object regex;
    unpack2(result, key, regex);
    return regex;
}

Object desc_max_body(const Args& a) {
    Handle self = a[0];
    Handle os = a[1];
    Py_ssize_t width = 0;
    Object lines = iter(lines_of(a[2]));
    while (Object line = next(lines)) {
        const Py_ssize_t markers =
            length(list_of(call_method(getattr(self, PYU_STR("allregex")), PYU_STR("finditer"), {line})));
        for (Py_ssize_t k = 0; k < markers; ++k) {
            Object key;
            call_convert(self, os, line, k, key);
            width = std::max(width, length(key));
        }
    }
    return integer(width);
}

Object derived_command_tag(Handle showcmd) {
    Object tag = call_method(showcmd, PYU_STR("replace"), {PYU_STR(" "), PYU_STR("_")});
    tag = call_method(tag, PYU_STR("replace"), {PYU_STR("-"), PYU_STR("_")});
    return call_method(tag, PYU_STR("upper"), {});
}

// self.<table>[os][cmd] += text
void append_entry(Handle self, Handle table, Handle os, Handle cmd, Handle text) {
    Object per_os = getitem(getattr(self, table), os);
    setitem(per_os, cmd, add(getitem(per_os, cmd), text));
}

Object convert_output_body(const Args& a) {
    Handle self = a[0];
    Object showcmd = borrow(a[1]);
    Object prefix = borrow(a[2]);
    Handle output = a[3];
    Object os = borrow(a[4]);
    Object cmd = borrow(a[5]);
    if (!truth(cmd)) cmd = derived_command_tag(showcmd);
    // an OS header leaves them unset for the next block: as at the start of input
    if (showcmd.is_none()) showcmd = borrow(empty_str());
    if (prefix.is_none()) prefix = borrow(empty_str());
    if (os.is_none()) os = borrow(PYU_STR("WEND"));
    Object width = call_method(self, PYU_STR("_desc_max"), {os, output});

    Handle commands = PYU_STR("_commands"), regexes = PYU_STR("_regexdict"), keys = PYU_STR("_regexkeydict");
    if (!contains(getattr(self, commands), os))
        for (Handle table : {commands, regexes, keys}) setitem(getattr(self, table), os, new_dict());
    setitem(getitem(getattr(self, commands), os), cmd, showcmd);
    for (Handle table : {regexes, keys}) setitem(getitem(getattr(self, table), os), cmd, empty_str());

    Object lines = iter(lines_of(output));
    while (Object line = next(lines)) {
        Object markers = iter(call_method(getattr(self, PYU_STR("_alloptregex")), PYU_STR("finditer"), {line}));
        Py_ssize_t groupnum = 0;
        for (Object marker; (marker = next(markers)); ++groupnum) {
            Object m = re_match(getattr(self, PYU_STR("_descregex")), group(marker, 0));
            if (truth(call_method(group(m, 1), PYU_STR("islower"), {}))) continue;  // optional
            Object key;
            Object regex = call_convert(self, os, line, groupnum, key);
            Object pad = multiply(PYU_STR(" "), subtract(width, integer(length(key))));
            Object tag = literal(format(PYU_STR("{}.{}"), {prefix, key}));
            append_entry(self, regexes, os, cmd,
                         format(PYU_STR("        {}{} : {},\n"), {tag, pad, literal(regex, true)}));
            append_entry(self, keys, os, cmd, format(PYU_STR("        {}{} ,\n"), {tag, pad}));
            Object prefix_desc = format(PYU_STR("{}.{}.{}"), {os, prefix, key});
            Object seen = getattr(self, PYU_STR("prefixDescSet"));
            if (contains(seen, prefix_desc)) {
                Object entries = getitem(getitem(getattr(self, regexes), os), cmd);
                warn(format(PYU_STR("{} has been defined more than once (command {},existing re{}, new re {})."),
                            {prefix_desc, cmd, entries, regex}));
            } else {
                call_method(seen, PYU_STR("add"), {prefix_desc});
            }
        }
    }
    return borrow(Py_None);
}

}  // namespace

// ---- the methods ---------------------------------------------------------------------

FunctionSpec escape_spec{"escape", "_mk_textloom_t.escape", {{"self"}, {"line"}}, escape_body,
                         "Regex text for literal output text: ()?+*[] escaped, nothing else; trailing\n"
                         "whitespace as \\s+."};
FunctionSpec convert_spec{"convert", "_mk_textloom_t.convert", {{"self"}, {"os"}, {"line"}, {"groupnum"}},
                          convert_body,
                          "(key, regex) for marker number groupnum of a marked-up line; the regex captures "
                          "that marker's value."};
FunctionSpec desc_max_spec{"_desc_max", "_mk_textloom_t._desc_max", {{"self"}, {"os"}, {"output"}},
                           desc_max_body, "The key width that lines up the entries of one MARKUP block."};
FunctionSpec convert_output_spec{"convert_output", "_mk_textloom_t.convert_output",
                                 {{"self"}, {"showcmd"}, {"prefix"}, {"output"}, {"os"}, {"cmd"}},
                                 convert_output_body, "Compile one MARKUP block into entries of the compiler."};

}  // namespace core::markup
