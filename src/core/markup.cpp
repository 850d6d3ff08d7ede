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

FunctionSpec init_spec{"__init__", "_mk_textloom_t.__init__", {{"self"}}, init_body,
                       "A compiler with empty state: feed it with process_marked_up_input, then ask\n"
                       "generate_output for the registration text."};

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
                                R"doc(Compile marked-up sample output and register its regexes, tags and commands.

marked_up_input: one text of blocks, each a "MARKUP:" line and sample output
    whose values carry markers (see _mk_textloom_t), after the headers "OS: ",
    "CMD: ", "SHOWCMD: " and "PREFIX: " in any order. The header words are
    case-exact and take one blank after the colon; a misspelt one is no header,
    without a warning. OS names the OS of the blocks after it ("wend" before
    the first) and must be in supported_oses, else AssertionError and nothing
    is registered; CMD, SHOWCMD and PREFIX name the next block's command tag,
    command template and tag prefix, so every block needs its own: a second
    "MARKUP:" line with no header line before it raises AssertionError ("Found
    two back-to-back MARKUP sections at line number <n>.").
auto_key_join_char: joins the words of the key inferred for a marker without one.

Each captured value gets the tag <PREFIX>.<key>, whose regex is its whole
sample line, matched from the start of an output line.

    >>> from mirel.textloom import core
    >>> core.extend_markup('OS: LARCH\nCMD: show_port\nSHOWCMD: show port {}\nPREFIX: show.port\n'
    ...                    'MARKUP:\n  Speed XXX<[^,]+><speed>XXX1000 Mb/s, duplex XW<duplex>Xfull\n')
    >>> core._get_regex('larch', 'show.port.speed')
    '\\s+Speed\\s+([^,]+), duplex\\s+\\w+'
    >>> core._get_show_command('larch', ('show_port', ['eth1']))
    'show port eth1')doc"};

const char* const doc = R"doc(Compiler of marked-up sample output into regexes, regex tags and show commands.

mktl markup syntax: a marker stands directly before the value it marks.

    XxX....                 a value of type x
    Xx<desc>X....           the same, desc being the string to label the match in the table
    XXX<regex>XXX...        a value matched by a regex of its own
    XXX<regex><desc>XXX...  the same, labelled desc

In the sample line "  Speed XXX<[^,]+><speed>XXX1000 Mb/s, duplex full" the
value "1000 Mb/s" is matched by [^,]+ and labelled speed. An upper-case type
letter (XXX for a regex marker) captures the value under a regex tag; a
lower-case one (XnX, or XxX<regex>XXX) only matches it.  Without desc the key
is taken from the words around the value.  A marker whose type does not fit
the value right after it (XN before a word; XQ must stand inside the quotes)
is no marker and stays plain text, silently: a line without another marker
registers no tag.  Types:

    A  address (ipv4 or ipv6)
    B  bracketing: the value inside parens, braces, brackets (up to the next closing one)
    C  comma: the value up to a comma
    F  floating point number (digits, any one character, digits: 1500 too)
    H  hex number
    I  interface name
    M  mac address
    N  number
    P  prefix address (ipv4 or ipv6)
    Q  quotes: the value inside double quotes (up to the next double quote)
    R  the rest of the line
    S  non-space
    T  time (00:00:00, two digits each)
    W  word

The rest of a sample line is escaped only for ( ) [ ] ? + *: the other regex
characters, . { } | ^ $ and the backslash, keep their meaning.

extend_markup compiles and registers a marked-up text; to see the registration
text instead, feed process_marked_up_input the text's lines and print
generate_output(generate_regex_tags=True).
)doc";

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
