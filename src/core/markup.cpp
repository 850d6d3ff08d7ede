// The markup compiler _mk_textloom_t and extend_markup.
//
// Marked-up sample output becomes, block by block, one regex per captured
// marker (the whole line, the marked value in group 1) and a regex tag; the
// registration text written from that runs in core and registers through extend.
#include "core/markup.hpp"
#include "pyutil/text.hpp"

namespace core {
namespace markup {
namespace {

using namespace pyutil;

// "(?:XA(?:<[^>]+>)?X<regex of A>|...|<custom-regex marker>)" over a type table.
Object marker_pattern(Handle table) {
    Object alternatives = new_list();
    Object items = iter(call_method(table, PYU_STR("items"), {}));
    while (Object item = next(items)) {
        Object letter, value;
        unpack2(item, letter, value);
        append(alternatives, format(PYU_STR("X{}(?:<[^>]+>)?X{}"), {letter, value}));
    }
    Object joined = join(PYU_STR("|"), alternatives);
    return format(PYU_STR("(?:{}|X[xX]X(?:<(?P<regex>[^>]+)>)(?:<(?P<desc>[^>]+)>)?X[xX]X)"), {joined});
}

// compile(pattern) through core's current `compile`
Object re_compile(Handle pattern) { return call(global(PYU_STR("compile")), {pattern}); }

Object init_body(const Args& a) {
    Handle self = a[0];
    Object class_table = getattr(self, PYU_STR("regex"));
    setattr(self, PYU_STR("allregex"), re_compile(marker_pattern(class_table)));
    // the object's own table adds the optional (lower-case) form of every letter
    Object table = call_method(class_table, PYU_STR("copy"), {});
    Object letters = iter(class_table);
    while (Object letter = next(letters))
        setitem(table, call_method(letter, PYU_STR("lower"), {}), getitem(class_table, letter));
    setattr(self, PYU_STR("regex"), table);
    setattr(self, PYU_STR("_alloptregex"), re_compile(marker_pattern(table)));
    setattr(self, PYU_STR("_descregex"), PYU_STR("X(.)(?:<([^>]+)>)?X"));
    setattr(self, PYU_STR("_postItemDescRegex"), re_compile(PYU_STR("\\S*\\s+([^,\\r\\n]+)[,\\r\\n]*")));
    setattr(self, PYU_STR("_cleanUpPdescRegex"), re_compile(PYU_STR("[^\\w-]")));
    setattr(self, PYU_STR("_commands"), new_dict());
    setattr(self, PYU_STR("_regexdict"), new_dict());
    setattr(self, PYU_STR("_regexkeydict"), new_dict());
    setattr(self, PYU_STR("prefixDescSet"), new_set());
    setattr(self, PYU_STR("_autoKeyJoinChar"), empty_str());
    return borrow(Py_None);
}

FunctionSpec init_spec{"__init__", "_mk_textloom_t.__init__", {{"self"}}, init_body};

Object extend_markup_body(const Args& a) {
    Object compiler = call(global(PYU_STR("_mk_textloom_t")), {});
    Object lines = iter(call_method(a[0], PYU_STR("splitlines"), {}));
    call_method(compiler, PYU_STR("process_marked_up_input"), {lines, a[1]});
    Object text = call_kw(getattr(compiler, PYU_STR("generate_output")), {Py_True}, PYU_KWNAMES("generate_regex_tags"));
    // exec(text, core's dict, core's dict): names the text binds stay in core;
    // exec is the builtins' own, held through the call (the text may unbind it)
    Object exec = lookup_global(PyEval_GetBuiltins(), PYU_STR("exec"));
    call(exec, {text, frame().globals(), frame().globals()});
    return borrow(Py_None);
}

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
    Object table = new_dict();
    for (const auto& [letter, regex] : type_table) setitem(table, intern_forever(letter), str(regex));
    return table;
}

}  // namespace
}  // namespace markup

Object make_mk_textloom_class() {
    using namespace markup;
    using namespace pyutil;
    const ModuleFrame& n = frame();
    return make_class("_mk_textloom_t", tuple({reinterpret_cast<PyObject*>(&PyBaseObject_Type)}), n, doc,
                      {{"regex", make_type_table()},
                       {"__init__", make_method<init_spec>(n)},
                       {"escape", make_method<escape_spec>(n)},
                       {"convert", make_method<convert_spec>(n)},
                       {"_desc_max", make_method<desc_max_spec>(n)},
                       {"generate_output", make_method<generate_output_spec>(n)},
                       {"convert_output", make_method<convert_output_spec>(n)},
                       {"process_marked_up_input", make_method<process_spec>(n)}});
}

Object make_extend_markup() { return pyutil::make_function<markup::extend_markup_spec>(frame()); }

}  // namespace core
