// The non-tabular parser _textloom_t: one section of show output matched
// line by line against an ordered list of regex tags, in fill or check mode.
//
// The whole parse runs inside the constructor.  Every method the loop uses is
// called through the object; while one is still the class's own, the loop
// calls its C++ body directly.  This file holds the class and its methods;
// the loop is nontabular_walk.cpp, the regexes nontabular_regexes.cpp.
#include <vector>
#include "common/output.hpp"
#include "core/nontabular.hpp"
#include "core/nontabular_walk.hpp"
#include "core/stop_rule.hpp"
#include "pyutil/hooks.hpp"
#include "pyutil/ops.hpp"
#include "pyutil/text.hpp"

namespace core {
namespace nontabular {

using namespace pyutil;

BaseMethods base{};

Object routed_regex(Handle self, Handle tag, RoutedRegex* routed) {
    if (routed) return routed->get(tag);
    return get_regex(getattr(self, PYU_STR("_routerOs")), tag);
}

namespace {

// The answers of the tables as they stood when they were read, for one OS.
// Watches: core's dict (its `_get_regex`, `_glb_regex`), the regex table and
// its entry for the OS (versions, str keys only), the OS (by str equality).
class RoutedAnswers {
public:
    // What a lookup reads, taken before it; `plain` false when it may run user code.
    struct Watched {
        bool plain = false;
        uint64_t module_version = 0, glb_version = 0, per_os_version = 0;
        Object glb, per_os;
    };

    // The kept answer for (os, tag), or null.
    PyObject* find(Handle os, Handle tag) {
        if (!module_version_ || module_version_ != dict_version(frame().globals().ptr()) ||
            glb_version_ != dict_version(glb_.ptr()) || (per_os_ && per_os_version_ != dict_version(per_os_.ptr())))
            return nullptr;
        if (!os.is(os_)) {
            if (!PyUnicode_CheckExact(os.ptr()) || !_PyUnicode_EQ(os.ptr(), os_.ptr())) return nullptr;
            os_ = borrow(os);  // an equal str: the next test is by identity (letting go of a str runs no code)
        }
        // the walk asks for the same tag again or for the next one: from the last found on
        const size_t n = answers_.size();
        for (size_t i = last_; i < n; ++i)
            if (answers_[i].first.is(tag)) return answers_[last_ = i].second.ptr();
        for (size_t i = 0; i < last_ && i < n; ++i)
            if (answers_[i].first.is(tag)) return answers_[last_ = i].second.ptr();
        return nullptr;
    }

    // The state the module's own lookup of (os, tag) reads.  Reading it runs
    // no user code: each dict is read only once it holds str keys alone.
    static Watched watch(Handle os, Handle tag) {
        Watched w;
        PyObject* globals = frame().globals().ptr();
        w.module_version = dict_version(globals);
        if (!PyUnicode_CheckExact(os.ptr()) || !PyUnicode_CheckExact(tag.ptr()) || !only_str_keys(globals)) return w;
        if (!is_own_get_regex(PYU_CACHED_GLOBAL(frame(), "_get_regex").get())) return w;
        Object glb = PYU_CACHED_GLOBAL(frame(), "_glb_regex").get();
        if (!PyDict_CheckExact(glb.ptr()) || !only_str_keys(glb.ptr())) return w;
        w.glb_version = dict_version(glb.ptr());
        Object per_os = dict_get(glb, os);
        if (per_os && (!PyDict_CheckExact(per_os.ptr()) || !only_str_keys(per_os.ptr()))) return w;
        w.per_os_version = per_os ? dict_version(per_os.ptr()) : 0;
        w.per_os = per_os;
        w.glb = glb;
        w.plain = true;
        return w;
    }

    // Keeps the answer of a lookup made after `before` was watched, where the
    // same lookup would give it again, while the versions stay.
    void keep(const Watched& before, const Object& os, Handle tag, const Object& answer) {
        if (!before.plain || before.module_version != dict_version(frame().globals().ptr()) ||
            before.glb_version != dict_version(before.glb.ptr()) ||
            (before.per_os && before.per_os_version != dict_version(before.per_os.ptr())))
            return;
        const bool same = module_version_ == before.module_version && before.glb.is(glb_) &&
                          glb_version_ == before.glb_version && before.per_os.is(per_os_) &&
                          per_os_version_ == before.per_os_version && _PyUnicode_EQ(os.ptr(), os_.ptr());
        // what is let go may run Python code when it goes: at the end, once the versions are stored
        std::vector<std::pair<Object, Object>> old;
        if (!same || answers_.size() >= answer_limit) {
            old.swap(answers_);
            last_ = 0;
        }
        Object keep_os = os, keep_glb = before.glb, keep_per_os = before.per_os;
        os_.swap(keep_os);
        glb_.swap(keep_glb);
        per_os_.swap(keep_per_os);
        module_version_ = before.module_version;
        glb_version_ = before.glb_version;
        per_os_version_ = before.per_os_version;
        answers_.emplace_back(borrow(tag), answer);
    }

private:
    static constexpr size_t answer_limit = 256;

    Object os_, glb_, per_os_;  // per_os_ null: the OS has no table of its own
    uint64_t module_version_ = 0;  // 0: nothing kept
    uint64_t glb_version_ = 0, per_os_version_ = 0;
    std::vector<std::pair<Object, Object>> answers_;  // (tag, answer), tags held so that their identity stays theirs
    size_t last_ = 0;
};

RoutedAnswers& routed_answers() {
    static RoutedAnswers& answers = *new RoutedAnswers();  // never destroyed: it holds interpreter objects
    return answers;
}

}  // namespace

Object RoutedRegex::get(Handle tag) {
    Object os = attrs_.get(router_os_).value;
    if (PyObject* kept = routed_answers().find(os, tag)) return borrow(kept);
    const RoutedAnswers::Watched before = RoutedAnswers::watch(os, tag);
    Object answer = get_regex(os, tag);
    routed_answers().keep(before, os, tag, answer);
    return answer;
}

void raise_not_found(Handle self, Handle attribute) {
    Object text = format(
        PYU_STR("The attribute {} (OS={}) was not found.                      Was it added via the extend API?"),
        {attribute, getattr(self, PYU_STR("_routerOs"))});
    raise(PyExc_AssertionError, text);
}

bool check_scope(Handle regex_done, Handle line) {
    Object it = iter(regex_done);
    while (Object pattern = pyutil::next(it)) {
        if (match(pattern, line).is_none()) continue;
        // fmt % line, the line itself the argument (as a tuple too)
        Object text = own(PyUnicode_Format(
            PYU_STR("Regular expression hierarchy violated at line '%s' (hint: overlapping regular expression "
                    "in the same predicate and on different line ?"),
            line.ptr()));
        call_method(global(PYU_STR("logger")), PYU_STR("debug"), {text});
        return false;
    }
    return true;
}

bool current_matching(Regexes& rx, Handle value_to_match, Handle value_found) {
    if (!isstr(value_to_match) && rx.is_iterable(value_to_match)) {
        Object it = iter(value_to_match);
        while (Object item = pyutil::next(it))
            if (same_or_equal(str(item), value_found)) return true;
        return false;
    }
    return same_or_equal(str(value_to_match), value_found);
}

namespace {

// text.find(line, from) for the stored text.
Py_ssize_t find_line(Handle text, Handle line, Py_ssize_t from) {
    if (PyUnicode_Check(text.ptr()) && PyUnicode_Check(line.ptr())) return find(text, line, from);
    Object at = from ? call_method(text, PYU_STR("find"), {line, integer(from)})
                     : call_method(text, PYU_STR("find"), {line});
    Py_ssize_t value = PyLong_AsSsize_t(at.ptr());
    check_no_error();
    return value;
}

}  // namespace

// Whether `regex` occurs again below the current line before a consumed
// tag's pattern matches a line: True, False, or None when the text ends first.
Object future_matching(Context& ctx, Handle self, Handle regex, Handle regex_done, Handle line) {
    Object text = getattr(self, PYU_STR("_text_to_parse"));
    // The current line is looked for where it stands, not at an earlier
    // line that holds the same text or a longer one; another text from the start.
    Parse* p = ctx.parse();
    const bool current = p && p->text.is(text) && p->line &&
                         (line.is(p->line) || (is_exact_str(line) && is_exact_str(p->line) && equal(line, p->line)));
    Py_ssize_t from = current ? p->line_offset : 0;
    Py_ssize_t at = find_line(text, line, from);
    if (at == -1) return boolean(false);
    Py_ssize_t start = at + length(line);
    return future_match(ctx.regexes().composed(regex), text, start, regex_done);
}

// The skip option: drops the tags none of whose testable alternatives matches
// any line, and the values paired with them.
void delete_non_matching(Regexes& rx, RoutedRegex* routed, Handle self, Handle lines, Handle regex_tags) {
    // lines are tested as the loop sees them, without carriage returns
    std::vector<Object> clean;
    bool clean_ready = false;
    auto clean_lines = [&]() -> const std::vector<Object>& {
        if (!clean_ready) {
            Object it = iter(lines);
            while (Object line = pyutil::next(it)) clean.push_back(without_cr(line));
            clean_ready = true;
        }
        return clean;
    };
    // the items as the loop meets them: the user code it runs may change the list
    std::vector<Object> tags;
    std::vector<bool> keep;
    bool removed = false;
    Object visit = iter(regex_tags);
    while (Object tag = pyutil::next(visit)) {
        const size_t i = tags.size();
        tags.push_back(tag);
        keep.push_back(true);
        Object regitem = routed_regex(self, tag, routed);
        // a tag that cannot be tested is left for the loop, which reports it
        if (regitem.is_none()) continue;
        std::vector<Object> alternatives;
        if (isstr(regitem)) {
            alternatives = {regitem, borrow(empty_str())};
        } else {
            Object it = iter(regitem);
            while (Object alt = pyutil::next(it)) alternatives.push_back(std::move(alt));
        }
        bool testable = false, matched = false, untestable = false;
        for (auto& alt : alternatives) untestable = untestable || alt.is_none();
        if (untestable) continue;
        for (auto& alt : alternatives) {
            if (length(alt) < 2) continue;
            testable = true;
            Object pattern = rx.compile(alt);
            if (matched) continue;
            for (auto& line : clean_lines()) {
                if (truth(match(pattern, line))) {
                    matched = true;
                    break;
                }
            }
        }
        if (testable && !matched) {
            keep[i] = false;
            removed = true;
        }
    }
    if (!removed) return;
    for (size_t i = tags.size(); i-- > 0;)
        if (!keep[i]) delitem(regex_tags, static_cast<Py_ssize_t>(i));
    Object old = getattr(self, PYU_STR("_values"));
    Object values = new_list();
    for (size_t i = 0; i < tags.size(); ++i) {
        if (!keep[i]) continue;
        Object value;
        try {
            value = getitem(old, integer(static_cast<Py_ssize_t>(i)));
        } catch (PyError&) {
            // a short value list stays short, for the loop to meet
            if (!CaughtError::fetch_if(PyExc_IndexError)) throw;
            break;
        }
        append(values, value);
    }
    setattr(self, PYU_STR("_values"), values);
}

// The alternative a tag reached inside a line's run is matched with.
Object get_regex_def(Regexes& rx, RoutedRegex* routed, Handle self, Handle attribute_n, Handle line) {
    Object regitem = routed_regex(self, attribute_n, routed);
    if (isstr(regitem)) return regitem;
    Object it = iter(regitem);
    while (Object alt = pyutil::next(it))
        if (!match(rx.compile(alt), line).is_none()) return alt;
    return borrow(PYU_STR("NO_MATCH_POSSIBLE"));
}

namespace {

// ---------------------------------------------------------------------------
// Method bodies.

Object init_body(const Args& a) {
    Handle self = a[0], routerOs = a[1], parse_key = a[5];
    setattr(self, PYU_STR("_attributes"), list_of(a[2]));
    setattr(self, PYU_STR("_values"), a[3]);
    setattr(self, PYU_STR("_routerOs"), call_method(routerOs, PYU_STR("lower"), {}));
    setattr(self, PYU_STR("_parse_key"), parse_key);
    // reset before any check: a failed construction leaves an empty entry
    setitem(global(PYU_STR("ext_dictio")), parse_key, new_dict());
    if (!assertions_disabled()) {
        Object oses = global(PYU_STR("supported_oses"));
        if (!contains(oses, getattr(self, PYU_STR("_routerOs"))))
            raise(PyExc_AssertionError,
                  format(PYU_STR("The operating system {} is not supported, try using one of {}."), {routerOs, oses}));
    }
    setattr(self, PYU_STR("_errors"), new_list());
    Object cls = getattr(self, PYU_STR("__class__"));
    call_method(self, PYU_STR("error"), {getattr(cls, PYU_STR("__name__"))});
    setattr(self, PYU_STR("_fill"), a[4]);
    setattr(self, PYU_STR("_skip"), a[6]);
    if (truth(getattr(self, PYU_STR("_fill"))) && !assertions_disabled()) {
        Object values = getattr(self, PYU_STR("_values"));
        if (!truth(values)) raise(PyExc_AssertionError, "values list cannot be empty");
        if (getitem(values, integer(0)).is_none())
            raise(PyExc_AssertionError,
                  "Cannot perform the fill operation unless the first                  value is not None");
    }
    Object stored = getitem(global(PYU_STR("text_to_parse")), parse_key);
    setattr(self, PYU_STR("_text_to_parse"), strip(stored, common::output_strip_chars()));
    call_method(self, PYU_STR("_parser"), {});
    return borrow(Py_None);
}

Object check_scope_body(const Args& a) { return boolean(!StopRule().may_match(a[1], a[2]) || check_scope(a[1], a[2])); }

Object current_matching_body(const Args& a) {
    Context ctx(a[0]);
    return boolean(current_matching(ctx.regexes(), a[1], a[2]));
}

Object future_matching_body(const Args& a) {
    Context ctx(a[0]);
    return future_matching(ctx, a[0], a[1], a[2], a[3]);
}

Object delete_non_matching_body(const Args& a) {
    Context ctx(a[0]);
    delete_non_matching(ctx.regexes(), ctx.routed(), a[0], a[1], a[2]);
    return borrow(Py_None);
}

Object parser_body(const Args& a) {
    run_parser(a[0]);
    return borrow(Py_None);
}

Object get_regex_def_body(const Args& a) {
    Context ctx(a[0]);
    return get_regex_def(ctx.regexes(), ctx.routed(), a[0], a[1], a[2]);
}

Object validate_body(const Args& a) {
    Handle self = a[0];
    Object dictio = getattr(self, PYU_STR("_dictio"));
    auto answer = [&](bool ok, Handle msg) { return tuple({boolean(ok), dictio, msg}); };
    if (!truth(getattr(self, PYU_STR("_validate")))) return answer(false, empty_str());
    Py_ssize_t n_attributes = length(getattr(self, PYU_STR("_attributes")));
    Py_ssize_t n_keys = length(call_method(dictio, PYU_STR("keys"), {}));
    if (n_attributes != n_keys)
        return answer(false, percent_format(PYU_STR("# Values != # attributes, # attr: %d, # keys: %d. attributes "
                                                    "with the same name given in input ?"),
                                            {integer(n_attributes), integer(n_keys)}));
    Object it = iter(call_method(dictio, PYU_STR("values"), {}));
    while (Object value = pyutil::next(it))
        if (differs(value, Py_True)) return answer(false, empty_str());
    return answer(true, empty_str());
}

Object error_body(const Args& a) {
    call_method(getattr(a[0], PYU_STR("_errors")), PYU_STR("append"), {a[1]});
    return borrow(Py_None);
}

Object str_body(const Args& a) { return join(PYU_STR("\n"), getattr(a[0], PYU_STR("_errors"))); }

FunctionSpec init_spec{"__init__", "_textloom_t.__init__",
                       {{"self"}, {"routerOs"}, {"attributes"}, {"values"}, {"fill", false}, {"parse_key", ""},
                        {"skip", false}},
                       init_body,
                       R"doc(Parse text_to_parse[parse_key]; read the outcome with _parser_validate().

routerOs: the OS, lower-cased; it must be in supported_oses.
attributes: the regex tags, in the order their lines appear. A tag without a
    registered regex raises AssertionError ("The attribute <tag> (OS=<os>) was
    not found. ...") when it is the first tag, and TypeError ("'NoneType' object
    is not iterable") when it is reached later; oper_check and oper_fill warn
    and give False instead.
values: one expected value per tag: None (any value), a text, a tuple or list
    of accepted values, or anything else compared by its text form.
fill: fill mode: None asks for the value, a wrong value is not fatal (the tag
    waits for a later line), and the first value must not be None (it selects
    the record). Otherwise check mode, where None is a wildcard.
parse_key: the key of the text in text_to_parse and of the values found, wrong
    ones included, in ext_dictio (reset by every parse).
skip: first drop the tags whose regex matches no line of the text (a tag with
    alternatives stays when one of them matches a line).)doc"};
FunctionSpec check_scope_spec{"_parser_check_scope", "_textloom_t._parser_check_scope",
                              {{"self"}, {"regex_done"}, {"line"}}, check_scope_body,
                              "The stop rule: False (and a debug log line) when a compiled pattern of regex_done,\n"
                              "those of the tags already consumed, matches at the start of line, which ends the\n"
                              "section; else True."};
FunctionSpec current_matching_spec{"_parser_current_matching", "_textloom_t._parser_current_matching",
                                   {{"self"}, {"value_to_match"}, {"value_found"}}, current_matching_body,
                                   "True when value_found, the text a regex captured, equals the text form of\n"
                                   "value_to_match or, for a collection that is not a text, of one of its items."};
FunctionSpec future_matching_spec{"_parser_future_matching", "_textloom_t._parser_future_matching",
                                  {{"self"}, {"regex"}, {"regex_done"}, {"line"}}, future_matching_body,
                                  "After a mismatch on line in check mode: True when regex is found in a later\n"
                                  "line before one that a pattern of regex_done matches, False when it is not (the\n"
                                  "mismatch is then fatal), None when the text ends first (taken as True). The\n"
                                  "search starts after line: where it stands when it is the line the parse is on,\n"
                                  "else after its first occurrence in the text."};
FunctionSpec delete_non_matching_spec{"_parser_delete_non_matching", "_textloom_t._parser_delete_non_matching",
                                      {{"self"}, {"lines"}, {"regex_tags"}}, delete_non_matching_body,
                                      "The skip option: remove from regex_tags, in place, every tag none of whose\n"
                                      "regexes of 2 characters or more matches a line of lines (a tag with no such\n"
                                      "regex, or without a regex, stays); _values becomes a new list of the values\n"
                                      "of the tags kept."};
FunctionSpec parser_spec{"_parser", "_textloom_t._parser", {{"self"}}, parser_body,
                         "The matching loop the constructor runs: walks the lines once, matching the tags\n"
                         "strictly in order (several on one line), and sets _dictio and _validate; the\n"
                         "values found go to ext_dictio[parse_key]."};
FunctionSpec get_regex_def_spec{"__get_regex_def", "_textloom_t.__get_regex_def",
                                {{"self"}, {"attribute_n"}, {"line"}}, get_regex_def_body,
                                "The regex text of a tag reached later on the same line: its registered text,\n"
                                "or its first alternative that matches line, else 'NO_MATCH_POSSIBLE'."};
FunctionSpec validate_spec{"_parser_validate", "_textloom_t._parser_validate", {{"self"}}, validate_body,
                           R"doc(The validation triple (success, dictio, message).

dictio maps a tag to True (accepted, or expected None and never met) or, for a
wrong value, to {'value': <text found>, 'line': <0-based line>}; a tag not
found has no key. The lines are counted after the tabs, line feeds, carriage
returns, form feeds and vertical tabs at both ends of the text are stripped.

success is False, with the message '', when a regex already used matched
again while tags were waiting (the next record began) or when a value is
wrong; and with "# Values != # attributes, # attr: <n>, # keys: <k>.
attributes with the same name given in input ?" when a tag has no key: a tag
given twice, but also a tag whose line is absent or out of order.)doc"};
FunctionSpec error_spec{"error", "_textloom_t.error", {{"self"}, {"msg"}}, error_body,
                        "Append msg to the messages that str(self) shows."};
FunctionSpec str_spec{"__str__", "_textloom_t.__str__", {{"self"}}, str_body,
                      "The class name, then each message given to error(), one per line."};

const char* const doc = R"doc(Parse non-tabular show-command output by a list of regex tags and their
expected values (fill mode: collect the values; check mode: compare them).

The constructor parses one section of text_to_parse[parse_key]: the tags are
met strictly in order, each tag's regex matched at the start of a line, and the
section ends where a regex already used matches again.

    >>> from mirel.textloom import core
    >>> core.extend({'brume': {'intf': r'(\S+) is up', 'mtu': r'\s+MTU (\d+) bytes'}})
    >>> core.text_to_parse['r1'] = 'mgmt0 is up\n  MTU 1500 bytes, BW 0 Kbit\n'
    >>> core._textloom_t('brume', ['intf', 'mtu'], ['mgmt0', None], fill=True,
    ...                  parse_key='r1')._parser_validate()
    (True, {'intf': True, 'mtu': True}, '')
    >>> core.ext_dictio['r1']
    {'intf': 'mgmt0', 'mtu': '1500'}
    >>> core._textloom_t('brume', ['intf', 'mtu'], ['mgmt0', '9000'],
    ...                  parse_key='r1')._parser_validate()
    (False, {'intf': True, 'mtu': {'value': '1500', 'line': 1}}, ''))doc";

// The method, with its function kept for the hooks' identity test.
Object hook_method(Object method, PyObject*& function) {
    function = method.new_ref();  // never freed, so no other object can take its address
    return method;
}

}  // namespace
}  // namespace nontabular

using namespace pyutil;

// collections.Iterable as the parser's isinstance test reads it: the attribute
// of whatever `collections` is bound to, with that lookup's own errors.  The
// standard module no longer has the alias, so for a module without it (its
// dict lacks it and its __getattr__, if any, raises AttributeError)
// collections.abc.Iterable stands in.  What a plain module's dict gave is
// kept while the binding and the dicts it was read from stay.
Object iterable_abc() {
    // Watches: the modules read (identities it owns), their types, their dicts (versions, str keys only).
    struct Kept {
        Object collections, abc, answer;  // abc null: found in collections' own dict
        uint64_t version = 0, abc_version = 0;  // of their dicts; 0: nothing kept
    };
    static Kept& kept = *new Kept();  // never destroyed: it holds interpreter objects
    Object collections = PYU_CACHED_GLOBAL(frame(), "collections").get();
    if (kept.version && collections.is(kept.collections) && PyModule_CheckExact(collections.ptr()) &&
        kept.version == dict_version(PyModule_GetDict(collections.ptr())) &&
        (!kept.abc ||
         (PyModule_CheckExact(kept.abc.ptr()) && kept.abc_version == dict_version(PyModule_GetDict(kept.abc.ptr())))))
        return kept.answer;
    kept.version = 0;
    if (!PyModule_CheckExact(collections.ptr())) return getattr(collections, PYU_STR("Iterable"));
    // a missing module attribute costs an AttributeError: read the dict
    Handle dict = PyModule_GetDict(collections.ptr());
    const uint64_t version = dict_version(dict.ptr());
    const bool plain = only_str_keys(dict.ptr());  // then its lookups run no user code
    if (Object found = dict_get(dict, PYU_STR("Iterable"))) {
        if (plain && version == dict_version(dict.ptr())) {
            Kept now{collections, Object(), found, version};
            std::swap(kept, now);  // what is let go goes last
        }
        return found;
    }
    // the module's own __getattr__ answers for a missing name; its answer is never kept
    bool keep = plain;
    if (dict_get(dict, PYU_STR("__getattr__"))) {
        keep = false;
        if (Object found = attr_if_present(collections, PYU_STR("Iterable"))) return found;
    }
    if (Object abc = dict_get(dict, PYU_STR("abc"))) {
        if (!PyModule_CheckExact(abc.ptr())) return getattr(abc, PYU_STR("Iterable"));
        Handle abc_dict = PyModule_GetDict(abc.ptr());
        const uint64_t abc_version = dict_version(abc_dict.ptr());
        const bool abc_plain = only_str_keys(abc_dict.ptr());
        Object found = dict_get(abc_dict, PYU_STR("Iterable"));
        if (!found) return getattr(abc, PYU_STR("Iterable"));  // its own error, or a module __getattr__
        if (keep && abc_plain && version == dict_version(dict.ptr()) && abc_version == dict_version(abc_dict.ptr())) {
            Kept now{collections, abc, found, version, abc_version};
            std::swap(kept, now);
        }
        return found;
    }
    return getattr(import("collections.abc"), PYU_STR("Iterable"));
}

Object make_textloom_class() {
    using namespace nontabular;
    load_re();
    const ModuleFrame& n = frame();
    return make_class(
        "_textloom_t", tuple({reinterpret_cast<PyObject*>(&PyBaseObject_Type)}), n, doc,
        {{"_dictio", new_dict()},
         {"__init__", make_method<init_spec>(n)},
         {"_parser_check_scope", hook_method(make_method<check_scope_spec>(n), base.check_scope)},
         {"_parser_current_matching", hook_method(make_method<current_matching_spec>(n), base.current_matching)},
         {"_parser_future_matching", hook_method(make_method<future_matching_spec>(n), base.future_matching)},
         {"_parser_delete_non_matching",
          hook_method(make_method<delete_non_matching_spec>(n), base.delete_non_matching)},
         {"_parser", make_method<parser_spec>(n)},
         {"_textloom_t__get_regex_def", hook_method(make_method<get_regex_def_spec>(n), base.get_regex_def)},
         {"_parser_validate", make_method<validate_spec>(n)},
         {"error", make_method<error_spec>(n)},
         {"__str__", make_method<str_spec>(n)}});
}

}  // namespace core
