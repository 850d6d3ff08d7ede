// oper_check: prepare a check of attribute/value pairs against a device's
// output (or the caller's text), parse it, record the diagnosis.
#include <cstring>
#include <utility>
#include <vector>
#include "pyutil/hooks.hpp"
#include "textloom/textloom.hpp"

namespace textloom {
namespace {

using namespace pyutil;

// pair[index]; an exact tuple is read directly, as its subscript would
Object item(Handle pair, Py_ssize_t index) {
    PyObject* p = pair.ptr();
    if (PyTuple_CheckExact(p) && index < PyTuple_GET_SIZE(p)) return borrow(PyTuple_GET_ITEM(p, index));
    return getitem(pair, integer(index));
}

// object.__repr__(self): the identity the constructors' errors name
Object identity(Handle self) { return own(PyBaseObject_Type.tp_repr(self.ptr())); }

Object init_body(const Args& a) {
    PyObject* self = a[0];
    // device, show_command, attrvalpairs, refresh_cache, negate, device_conn_alias, device_output, device_os
    prepare_operation(self, a[2], a[3], a[4], a[7]);
    if (!choose_device(self, a[1], a[6], a[7], a[8])) missing_device(self);
    setattr(self, PYU_STR("_fill"), Py_False);
    setattr(self, PYU_STR("_skip"), Py_False);
    setattr(self, PYU_STR("_negate"), a[5]);
    Object os = getattr(self, PYU_STR("_device_os"));
    call_method(self, PYU_STR("process_attrvalpairs"), {a[3], os});
    return borrow(Py_None);
}
FunctionSpec init_spec{"__init__", "oper_check.__init__",
                       {{"self"}, {"device", None}, {"show_command", None}, {"attrvalpairs", None},
                        {"refresh_cache", false}, {"negate", false}, {"device_conn_alias", None},
                        {"device_output", None}, {"device_os", None}},
                       init_body,
                       R"doc(Prepare a check; parse() (or test()) runs it, anew at each call.

device: a device of the test framework, or any object with name,
    is_connected(alias=...), execute(command) and os (else a handle for the
    framework's Tcl query); None when device_output is given.
show_command: a CLI command tag or a command text, or (tag, positional values,
    keyword values), rendered for the device's OS.
attrvalpairs: a list of 2-tuples (regex tag, expected value); the first pair
    must be exactly a tuple (see process_attrvalpairs). An expected value is
    None (any value), a text, a tuple or list of accepted texts, or anything
    else compared by its text form.
refresh_cache: True runs the command at every parse(); False (the default)
    parses the device's last output in the shared cache, whatever command made
    it, and runs the command only when there is none. A failed parse() makes
    the same object's next parse() run the command.
negate: invert the outcome: the check passes unless the values are all found.
    A negated check that fails records no diagnosis; a tag without a regex
    gives False all the same.
device_conn_alias: the name of an open connection of the device, the device's
    attribute of that name (names joined by dots reach attributes in turn):
    the command runs on it, and a device without os has its handle asked.
device_output: output text to parse instead of running the command; without a
    device, the values land under 'device_name' and the OS is device_os. An
    empty text counts as none: without a device, AttributeError.
device_os: the OS of device_output without a device, a name of
    core.supported_oses; ignored when a device is given.)doc"};

// Whether `pairs` is an exact list of exact tuples of at least `size` items
// whose item 0 is an exact str: reading and comparing them runs no user code.
bool plain_pairs(PyObject* pairs, Py_ssize_t size) {
    if (!PyList_CheckExact(pairs)) return false;
    const Py_ssize_t n = PyList_GET_SIZE(pairs);
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* pair = PyList_GET_ITEM(pairs, i);
        if (!PyTuple_CheckExact(pair) || PyTuple_GET_SIZE(pair) < size ||
            !PyUnicode_CheckExact(PyTuple_GET_ITEM(pair, 0)))
            return false;
    }
    return true;
}

bool plain_tags(PyObject* tags) {
    if (!PyList_CheckExact(tags)) return false;
    const Py_ssize_t n = PyList_GET_SIZE(tags);
    for (Py_ssize_t i = 0; i < n; ++i)
        if (!PyUnicode_CheckExact(PyList_GET_ITEM(tags, i))) return false;
    return true;
}

// reordered_pairs for plain pairs and an exact list of exact str tags: no
// user code runs, and the order depends only on which str objects the tags
// and the pairs' items 0 are (tuples cannot change), so the order last found
// is kept with the objects it was found for.
// Watches: the items of both lists (identities it owns).
Object reordered_plain_pairs(PyObject* pairs, PyObject* tags) {
    static std::vector<Object>& seen_tags = *new std::vector<Object>();  // never destroyed: they hold references
    static std::vector<Object>& seen_pairs = *new std::vector<Object>();
    static std::vector<Py_ssize_t>& order = *new std::vector<Py_ssize_t>();  // indices into the pairs
    const Py_ssize_t n = PyList_GET_SIZE(pairs);
    const Py_ssize_t m = PyList_GET_SIZE(tags);
    // the references given up: dropped once the result is made, as freeing them may run user code
    std::vector<Object> old_tags, old_pairs;
    auto same = [](const std::vector<Object>& seen, PyObject* list, Py_ssize_t size) {
        if (static_cast<size_t>(size) != seen.size()) return false;
        for (Py_ssize_t i = 0; i < size; ++i)
            if (PyList_GET_ITEM(list, i) != seen[static_cast<size_t>(i)].ptr()) return false;
        return true;
    };
    if (!same(seen_pairs, pairs, n) || !same(seen_tags, tags, m)) {
        std::vector<Py_ssize_t> found;
        std::vector<Py_hash_t> hashes(static_cast<size_t>(n));
        for (Py_ssize_t i = 0; i < n; ++i)
            hashes[static_cast<size_t>(i)] = PyObject_Hash(PyTuple_GET_ITEM(PyList_GET_ITEM(pairs, i), 0));
        for (Py_ssize_t t = 0; t < m; ++t) {
            PyObject* tag = PyList_GET_ITEM(tags, t);
            const Py_hash_t tag_hash = PyObject_Hash(tag);
            for (Py_ssize_t i = 0; i < n; ++i) {
                if (hashes[static_cast<size_t>(i)] != tag_hash) continue;
                PyObject* first = PyTuple_GET_ITEM(PyList_GET_ITEM(pairs, i), 0);
                if (first == tag || _PyUnicode_EQ(first, tag)) found.push_back(i);
            }
        }
        old_tags.swap(seen_tags);
        old_pairs.swap(seen_pairs);
        for (Py_ssize_t t = 0; t < m; ++t) seen_tags.push_back(borrow(PyList_GET_ITEM(tags, t)));
        for (Py_ssize_t i = 0; i < n; ++i) seen_pairs.push_back(borrow(PyList_GET_ITEM(pairs, i)));
        order.swap(found);
    }
    Object reordered = own(PyList_New(static_cast<Py_ssize_t>(order.size())));
    for (size_t k = 0; k < order.size(); ++k)
        PyList_SET_ITEM(reordered.ptr(), static_cast<Py_ssize_t>(k), Py_NewRef(PyList_GET_ITEM(pairs, order[k])));
    return reordered;
}

// The pairs in the order of the OS's registered tags: for each tag, every
// pair of the list as it stands then whose item 0 equals it (`pair[0] == tag`).
Object reordered_pairs(Handle attrvalpairs, Handle os) {
    Object reordered = new_list();
    Object tag_table = PYU_CACHED_GLOBAL(frame(), "_glb_regex_tags").get();
    if (!truth(tag_table)) return reordered;
    Object registered = getitem(tag_table, os);
    if (plain_tags(registered.ptr()) && plain_pairs(attrvalpairs.ptr(), 1))
        return reordered_plain_pairs(attrvalpairs.ptr(), registered.ptr());
    Object tags = iter(registered);
    while (Object tag = next(tags)) {
        Object pairs = iter(attrvalpairs);
        while (Object pair = next(pairs))
            if (equal(item(pair, 0), tag)) append(reordered, pair);
    }
    return reordered;
}

Object process_attrvalpairs_body(const Args& a) {
    PyObject* self = a[0];
    PyObject* attrvalpairs = a[1];
    Object reordered = truth(a[3]) ? reordered_pairs(attrvalpairs, a[2]) : new_list();
    Handle pairs = length(reordered) == length(attrvalpairs) ? Handle(reordered) : Handle(attrvalpairs);
    const bool present = truth(pairs);
    if (present && plain_pairs(pairs.ptr(), 2)) {
        const Py_ssize_t n = PyList_GET_SIZE(pairs.ptr());
        Object attributes = own(PyList_New(n));
        Object values = own(PyList_New(n));
        for (Py_ssize_t i = 0; i < n; ++i) {
            PyObject* pair = PyList_GET_ITEM(pairs.ptr(), i);
            PyList_SET_ITEM(attributes.ptr(), i, Py_NewRef(PyTuple_GET_ITEM(pair, 0)));
            PyList_SET_ITEM(values.ptr(), i, Py_NewRef(PyTuple_GET_ITEM(pair, 1)));
        }
        setattr(self, PYU_STR("_attributes"), attributes);
        setattr(self, PYU_STR("_values"), values);
        setattr(self, PYU_STR("_values_debug"), values);
    } else if (present && PyTuple_CheckExact(item(pairs, 0).ptr())) {
        Object attributes = new_list();
        Object values = new_list();
        Object it = iter(pairs);
        while (Object pair = next(it)) {
            append(attributes, item(pair, 0));
            append(values, item(pair, 1));
        }
        setattr(self, PYU_STR("_attributes"), attributes);
        setattr(self, PYU_STR("_values"), values);
        setattr(self, PYU_STR("_values_debug"), values);
    } else {
        call_method(self, PYU_STR("error"), {format(PYU_STR("attrvalpairs is invalid {}"), {pairs})});
    }
    return borrow(Py_None);
}
FunctionSpec process_attrvalpairs_spec{"process_attrvalpairs", "oper_check.process_attrvalpairs",
                                       {{"self"}, {"attrvalpairs"}, {"os"}, {"reorder", true}},
                                       process_attrvalpairs_body,
                                       R"doc(Split the pairs into _attributes and _values.

With reorder true and a tag list registered for any OS, the pairs are ordered
by the tag list of os when every pair's tag is in it (one unregistered tag
keeps your order); an os without a tag list raises KeyError.

Pairs must be tuples: a list that is empty or whose first pair is not exactly
a tuple (pairs read from JSON are lists: convert them with
[tuple(pair) for pair in pairs]) is only recorded in _errors
("attrvalpairs is invalid [...]"), and parse(), test(), dump() and str() then
raise AttributeError about _attributes.)doc"};

Object result_body(const Args& a) {
    if (truth(getattr(a[0], PYU_STR("_negate")))) return borrow(truth(a[1]) ? Py_False : Py_True);
    return borrow(a[1]);
}
FunctionSpec result_spec{"result", "oper_check.result", {{"self"}, {"result"}}, result_body,
                         "The outcome, inverted while the check is negated."};

// Records the diagnosis of a failed validation.  Each message reads what
// its expression reads, in that order (self.error looked up first), so a
// hook that changes the object's attributes is seen by the next message.
void record_failure(Handle self, Handle dictio, Handle msg) {
    auto error = [&]() { return getattr(self, PYU_STR("error")); };
    call(error(), {msg});
    {
        Object record = error();
        Object name = str(device_name(self));
        Object command = str(getattr(self, PYU_STR("_show_command")));
        call(record, {(TextBuilder() << PYU_STR("Node: ") << name << PYU_STR(", Show command: ") << command).joined()});
    }
    setattr(self, PYU_STR("_refresh_cache"), Py_True);
    Object tags = iter(getattr(self, PYU_STR("_attributes")));
    Py_ssize_t idx = 0;
    for (Object tag; (tag = next(tags)); ++idx) {
        if (!contains(dictio, tag)) {
            Object record = error();
            call(record, {percent_format(PYU_STR("Attribute %s not found in the show command (or textloom stopped "
                                                 "before at an error)"),
                                         {tag})});
            continue;
        }
        if (!differs(getitem(dictio, tag), Py_True)) continue;
        Object record = error();
        Object tag_text = str(tag);
        Object value = str(getitem(getitem(dictio, tag), PYU_STR("value")));
        Object expected = str(getitem(getattr(self, PYU_STR("_values")), idx));
        Object text = (TextBuilder() << PYU_STR("Attribute ") << tag_text << PYU_STR(" has value '") << value
                                     << PYU_STR("' (expected '") << expected << PYU_STR("')"))
                          .joined();
        call(record, {text, getitem(getitem(dictio, tag), PYU_STR("line"))});
    }
}

// Whether core's lookup of a tag's regex is `function`: the core module's own
// builtin of that name, which reads only core's registry.
bool own_get_regex(Handle function, Handle core) {
    if (!PyCFunction_CheckExact(function.ptr()) || PyCFunction_GET_SELF(function.ptr()) != core.ptr() ||
        !PyModule_CheckExact(core.ptr()))
        return false;
    if (std::strcmp(reinterpret_cast<PyCFunctionObject*>(function.ptr())->m_ml->ml_name, "_get_regex") != 0)
        return false;
    Object name = own(PyModule_GetNameObject(core.ptr()));
    return PyUnicode_CheckExact(name.ptr()) && PyUnicode_CompareWithASCIIString(name.ptr(), "mirel.textloom.core") == 0;
}

// Whether the truth of a value runs no user code and cannot change.
bool plain_truth(Handle value) { return PyUnicode_CheckExact(value.ptr()) || PyTuple_CheckExact(value.ptr()); }

// The registry state under which core's own lookup last found a regex for
// every tag of a list: while it stands, the lookups give the same answers and
// run no user code, so they need not be made again.
// Watches: this module's dict (the binding of `core`), core's type and dict
// (its `_get_regex`, `_glb_regex`), the regex table and its entry for the OS
// (versions, str keys only), the OS and the tags (identities it owns).
class RegexesFound {
public:
    struct State {
        Object core;  // null: the lookups may run user code, nothing can be kept
        uint64_t globals_version = 0, core_version = 0, table_version = 0, per_os_version = 0;
        Object table, per_os, os;
        std::vector<Object> tags;
    };

    bool holds(Handle tags, Handle os) const { return unchanged(kept_, tags, os); }

    // What the lookups of `tags` for `os` read, taken before them.  Reading it
    // runs no user code: each dict is read only once it holds str keys alone.
    static State watch(Handle tags, Handle os) {
        State s;
        PyObject* globals = frame().globals().ptr();
        s.globals_version = dict_version(globals);
        if (!PyUnicode_CheckExact(os.ptr()) || !plain_tags(tags.ptr()) || !only_str_keys(globals)) return {};
        Object core = dict_get(globals, PYU_STR("core"));
        if (!core || !PyModule_CheckExact(core.ptr())) return {};
        PyObject* names = PyModule_GetDict(core.ptr());
        s.core_version = dict_version(names);
        if (!only_str_keys(names)) return {};
        Object function = dict_get(names, PYU_STR("_get_regex"));
        if (!function || !own_get_regex(function, core)) return {};
        Object table = dict_get(names, PYU_STR("_glb_regex"));
        if (!table || !PyDict_CheckExact(table.ptr()) || !only_str_keys(table.ptr())) return {};
        s.table_version = dict_version(table.ptr());
        if (Object per_os = dict_get(table, os)) {
            if (!PyDict_CheckExact(per_os.ptr()) || !only_str_keys(per_os.ptr())) return {};
            s.per_os_version = dict_version(per_os.ptr());
            s.per_os = per_os;
        }
        const Py_ssize_t n = PyList_GET_SIZE(tags.ptr());
        for (Py_ssize_t i = 0; i < n; ++i) s.tags.push_back(borrow(PyList_GET_ITEM(tags.ptr(), i)));
        s.os = borrow(os);
        s.table = table;
        s.core = core;
        return s;
    }

    // After every tag of `tags` had a regex: keeps `before` if all it names is
    // as it was before the lookups.
    void record(State before, Handle tags, Handle os) {
        if (unchanged(before, tags, os)) std::swap(kept_, before);  // what was kept goes last: freeing it may run user code
    }

private:
    static bool unchanged(const State& k, Handle tags, Handle os) {
        if (!k.core || dict_version(frame().globals().ptr()) != k.globals_version || !PyModule_CheckExact(k.core.ptr()) ||
            dict_version(PyModule_GetDict(k.core.ptr())) != k.core_version ||
            dict_version(k.table.ptr()) != k.table_version ||
            (k.per_os && dict_version(k.per_os.ptr()) != k.per_os_version) || !os.is(k.os) ||
            !PyList_CheckExact(tags.ptr()))
            return false;
        const size_t n = static_cast<size_t>(PyList_GET_SIZE(tags.ptr()));
        if (n != k.tags.size()) return false;
        for (size_t i = 0; i < n; ++i)
            if (PyList_GET_ITEM(tags.ptr(), static_cast<Py_ssize_t>(i)) != k.tags[i].ptr()) return false;
        return true;
    }

    State kept_;
};

// Whether every tag has a regex; logs the first that has none.
bool regexes_defined(Handle attributes, Handle os) {
    // core._get_regex read for every tag, without a dict lookup while nothing rebinds it
    // (never destroyed: they hold references past the interpreter's end)
    static CachedModuleAttr& get_regex = *new CachedModuleAttr(PYU_STR("_get_regex"));
    static RegexesFound& found = *new RegexesFound();
    if (found.holds(attributes, os)) return true;
    RegexesFound::State before = RegexesFound::watch(attributes, os);
    Object tags = iter(attributes);
    bool plain = true;  // every regex's truth runs no user code
    while (Object tag = next(tags)) {
        Object lookup = get_regex.get(core_module());
        Object regex = call(lookup, {os, tag});
        if (!truth(regex)) {
            log_warning(PYU_STR("No regular expression defined for attribute %s"), tag);
            return false;
        }
        plain = plain && plain_truth(regex);
    }
    if (plain) found.record(std::move(before), attributes, os);
    return true;
}

Object parse_body(const Args& a) {
    PyObject* self = a[0];
    setattr(self, PYU_STR("_errors"), new_list());
    Object attributes = getattr(self, PYU_STR("_attributes"));
    Object os = getattr(self, PYU_STR("_device_os"));
    if (!regexes_defined(attributes, os)) return borrow(Py_False);  // not negated
    acquire_text(self, getattr(self, PYU_STR("raw_cli")));
    static CachedModuleAttr& parser_type = *new CachedModuleAttr(PYU_STR("_textloom_t"));  // never destroyed
    Object parser_class = parser_type.get(core_module());
    Object parser = call(parser_class, {getattr(self, PYU_STR("_device_os")), getattr(self, PYU_STR("_attributes")),
                                        getattr(self, PYU_STR("_values")), getattr(self, PYU_STR("_fill")),
                                        device_name(self), getattr(self, PYU_STR("_skip"))});
    Object validate, dictio, msg;
    unpack(call_method(parser, PYU_STR("_parser_validate"), {}), {&validate, &dictio, &msg});
    if (truth(validate)) return call_method(self, PYU_STR("result"), {Py_True});
    record_failure(self, dictio, msg);
    return call_method(self, PYU_STR("result"), {Py_False});
}
FunctionSpec parse_spec{"parse", "oper_check.parse", {{"self"}}, parse_body,
                        "Take the output (given, fresh or cached), run the non-tabular parser on it and\n"
                        "return the outcome. A tag without a regex logs a warning and gives False, negated\n"
                        "or not. After a failed comparison str(self) holds the diagnosis and the output; a\n"
                        "negated check that fails (the values all found) records none."};

Object error_body(const Args& a) {
    Object errors = getattr(a[0], PYU_STR("_errors"));
    Object entry = new_list();
    append(entry, a[2]);
    append(entry, a[1]);
    call_method(errors, PYU_STR("append"), {entry});
    // list.sort is stable: equal lines keep the order of recording
    Handle by_line = PYU_ONCE(call(getattr(import("operator"), PYU_STR("itemgetter")), {integer(0)}));
    call_kw(getattr(errors, PYU_STR("sort")), {by_line}, PYU_KWNAMES("key"));
    return borrow(Py_None);
}
// line=sys.maxsize, read when the class is made, as a def statement would
Object sys_maxsize() { return getattr(global(PYU_STR("sys")), PYU_STR("maxsize")); }
FunctionSpec error_spec{"error", "oper_check.error", {{"self"}, {"msg"}, {"line", sys_maxsize}}, error_body,
                        "Record a diagnostic [line, msg]; the list stays sorted by line."};

Object test_body(const Args& a) { return call_method(a[0], PYU_STR("parse"), {}); }
FunctionSpec test_spec{"test", "oper_check.test", {{"self"}}, test_body, "Same as parse()."};

Object dump_body(const Args& a) { return str(a[0]); }
FunctionSpec dump_spec{"dump", "oper_check.dump", {{"self"}}, dump_body, "The text form, str(self)."};

const char* const doc = R"doc(Check attribute/value pairs against the output of a show command.

The values found land in ext_dictio[device.name] too, wrong ones included
(ext_dictio['device_name'] for output given as text). The pairs are ordered by
the tag list registered for the OS (regex_tags of extend): once any OS has a
tag list, an OS without one (None included) fails the construction with
KeyError, so register a tag list with the regexes, as below.

    >>> from mirel.textloom import extend, oper_check
    >>> extend({'brume': {'show.intf.mtu': r'\s+MTU (\d+) bytes'}},
    ...        regex_tags={'brume': ['show.intf.mtu']})
    >>> output = 'mgmt0 is up\n  MTU 1500 bytes, BW 0 Kbit'
    >>> oper_check(attrvalpairs=[('show.intf.mtu', '1500')], device_output=output,
    ...            device_os='brume').parse()
    True
    >>> check = oper_check(attrvalpairs=[('show.intf.mtu', '9000')], device_output=output,
    ...                    device_os='brume')
    >>> check.parse()
    False
    >>> print(check)
    Textloom attributes : show.intf.mtu : 9000 - 
    <BLANKLINE>
    : Diagnosis : 
    Attribute show.intf.mtu has value '1500' (expected '9000')
    <BLANKLINE>
    Node: device_name, Show command: None
    mgmt0 is up
      MTU 1500 bytes, BW 0 Kbit...<=== Attribute show.intf.mtu has value '1500' (expected '9000')
    <BLANKLINE>

The empty line of the diagnosis is the parser's own message. It reads
"# Values != # attributes, ... attributes with the same name given in input ?"
when a tag got no result while the parse ran to the end of the text: for a tag
given twice, but also for a tag whose line is absent or out of order. The tags
not found are listed after it.)doc";

}  // namespace

[[noreturn]] void missing_device(Handle self) {
    raise(PyExc_AttributeError,
          percent_format(PYU_STR("Neither 'device' nor 'device_output' has been passed when calling '%s'"),
                         {identity(self)}));
}

void prepare_operation(Handle self, Handle show_command, Handle attrvalpairs, Handle refresh_cache,
                       Handle device_output) {
    if (attrvalpairs.is_none())
        raise(PyExc_TypeError, percent_format(PYU_STR("'%s' missing 1 required positional argument: 'attrvalpairs'"),
                                              {identity(self)}));
    setattr(self, PYU_STR("raw_cli"), device_output);
    setattr(self, PYU_STR("_errors"), new_list());
    setattr(self, PYU_STR("_show_command"), show_command);
    setattr(self, PYU_STR("_refresh_cache"), refresh_cache);
    setattr(self, PYU_STR("_refresh_cache_init"), refresh_cache);
}

bool choose_device(Handle self, Handle device, Handle device_conn_alias, Handle device_output, Handle device_os) {
    if (truth(device)) {
        setattr(self, PYU_STR("_device"), device);
        setattr(self, PYU_STR("_device_conn_alias"), device_conn_alias);
        setattr(self, PYU_STR("_device_os"), detect_os(device, device_conn_alias));
        return true;
    }
    if (truth(device_output)) {
        setattr(self, PYU_STR("_device"), call(PYU_CACHED_GLOBAL(frame(), "Device").get(), {PYU_STR("device_name")}));
        setattr(self, PYU_STR("_device_conn_alias"), PYU_STR("any"));
        setattr(self, PYU_STR("_device_os"), device_os);
        return true;
    }
    return false;
}

Object make_oper_check_class(Handle predicate) {
    const pyutil::ModuleFrame& n = frame();
    return make_class("oper_check", tuple({predicate}), n, doc,
                      {{"__init__", make_method<init_spec>(n)},
                       {"process_attrvalpairs", make_method<process_attrvalpairs_spec>(n)},
                       {"result", make_method<result_spec>(n)},
                       {"parse", make_method<parse_spec>(n)},
                       {"error", make_method<error_spec>(n)},
                       {"__str__", make_diagnosis_method()},
                       {"test", make_method<test_spec>(n)},
                       {"dump", make_method<dump_spec>(n)}});
}

}  // namespace textloom
