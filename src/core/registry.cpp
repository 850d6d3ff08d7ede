// The registry: warning, isstr, supported_oses, extend and _get_regex.
#include "common/output.hpp"
#include "core/core.hpp"
#include "pyutil/hooks.hpp"
#include "pyutil/ops.hpp"
#include "pyutil/text.hpp"

namespace core {
namespace {

using namespace pyutil;

// The function objects this module made, to tell them from a rebinding.
PyObject* own_warning = nullptr;
PyObject* own_isstr = nullptr;
PyObject* own_get_regex = nullptr;

// logger.warning(s) through the current `logger`
void log_warning(Handle s) { call_method(global(PYU_STR("logger")), PYU_STR("warning"), {s}); }

Object warning_body(const Args& a) {
    log_warning(a[0]);
    return borrow(Py_None);
}
FunctionSpec warning_spec{"warning", "warning", {{"s"}}, warning_body,
                          "Log s at warning level through the module's current `logger`\n"
                          "(\"mirel.textloom.core\"), exactly as given: no %-formatting applies."};

Object isstr_body(const Args& a) { return boolean(is_str(a[0])); }
FunctionSpec isstr_spec{"isstr", "isstr", {{"s"}}, isstr_body, "True when s is a str (or of a subclass of str)."};

bool is_supported_os(Handle key) { return contains(global(PYU_STR("supported_oses")), key); }

// Stores d under r unless rd holds a different value there; the first definition stays.
void add(Handle rd, Handle r, Handle d) {
    if (contains(rd, r) && differs(getitem(rd, r), d)) {
        warn(percent_format(PYU_STR("%s already exists, please change name"), {r}));
        return;
    }
    setitem(rd, r, d);
}

void merge(Handle table, Handle argument) {
    Object items = iter(call_method(argument, PYU_STR("items"), {}));
    while (Object item = next(items)) {
        Object key, value;
        unpack2(item, key, value);
        if (!is_supported_os(key)) {
            add(table, key, value);
            continue;
        }
        if (!contains(table, key)) setitem(table, key, new_dict());
        Object per_os = getitem(table, key);
        Object entries = iter(call_method(value, PYU_STR("items"), {}));
        while (Object entry = next(entries)) {
            Object tag, regex;
            unpack2(entry, tag, regex);
            add(per_os, tag, regex);
        }
    }
}

void merge_tags(Handle regex_tags) {
    Object names = iter(regex_tags);
    while (Object name = next(names)) {
        if (!is_supported_os(name)) {
            warn(format(PYU_STR("os {} is not one of the supported oses {}."), {name, global(PYU_STR("supported_oses"))}));
            continue;
        }
        if (!contains(global(PYU_STR("_glb_regex_tags")), name))
            setitem(global(PYU_STR("_glb_regex_tags")), name, new_list());
        Object tags = iter(getitem(regex_tags, name));
        while (Object tag = next(tags)) {
            Object known = getitem(global(PYU_STR("_glb_regex_tags")), name);
            if (contains(known, tag)) {
                warn(format(PYU_STR("regex tag {} already exists, please change name"), {tag}));
                continue;
            }
            call_method(getitem(global(PYU_STR("_glb_regex_tags")), name), PYU_STR("append"), {tag});
        }
    }
}

Object extend_body(const Args& a) {
    PyObject* regex_ext = a[0];
    PyObject* show_cmds = a[1];
    PyObject* regex_tags = a[2];
    // The work list names the tables as they are bound now.
    std::pair<Object, PyObject*> work[2];
    size_t n = 0;
    if (truth(regex_ext)) work[n++] = {global(PYU_STR("_glb_regex")), regex_ext};
    if (truth(show_cmds)) work[n++] = {global(PYU_STR("_glb_show_commands")), show_cmds};
    for (size_t i = 0; i < n; ++i) merge(work[i].first, work[i].second);
    if (truth(regex_tags)) merge_tags(regex_tags);
    return borrow(Py_None);
}
FunctionSpec extend_spec{"extend", "extend",
                         {{"regex_ext", None}, {"show_cmds", None}, {"regex_tags", None}},
                         extend_body,
                         R"doc(Merge regexes, show-command templates and per-OS regex tag lists into the registry.

regex_ext: regex tag -> regex (capture group 1 is the value; a list holds
    alternatives), matched from the start of each line as the regexes of
    marked-up samples are (r'\s+MTU (\d+)' for an indented line); show_cmds:
    CLI command tag -> command template. In both, a key that is a name of
    supported_oses holds that OS's own entries instead.
regex_tags: OS name -> its regex tags in the order their lines appear.

Nothing is validated or compiled. A key defined again with a different value
keeps its first definition, a tag already listed is not added again, and an
OS of regex_tags that is not supported is skipped: each logs a warning.

    >>> from mirel.textloom import core
    >>> core.extend({'brume': {'show.arp.total': r'^Total entries: (\d+)'}},
    ...             {'SHOW_ARP': 'show arp'}, {'brume': ['show.arp.total']})
    >>> core._get_regex('brume', 'show.arp.total')
    '^Total entries: (\\d+)')doc"};

// Module-level names read at each use, without a dict lookup while the module's dict is unchanged.
Object glb_regex() { return PYU_CACHED_GLOBAL(frame(), "_glb_regex").get(); }
Object get_regex_function() { return PYU_CACHED_GLOBAL(frame(), "_get_regex").get(); }
Object isstr_function() { return PYU_CACHED_GLOBAL(frame(), "isstr").get(); }

// The entry of an exact dict holding only str keys, for a str key; null when absent.
PyObject* str_entry(PyObject* dict, PyObject* key) {
    PyObject* found = PyDict_GetItemWithError(dict, key);
    if (!found) check_no_error();
    return found;
}

// The registered regex of `attribute` for `routerOs`, or None.
Object registered_regex(Handle routerOs, Handle attribute) {
    Object found = registered(glb_regex, routerOs, attribute);
    return found ? found : borrow(Py_None);
}

Object get_regex_body(const Args& a) { return registered_regex(a[0], a[1]); }
FunctionSpec get_regex_spec{"_get_regex", "_get_regex", {{"routerOs"}, {"attribute"}}, get_regex_body,
                            "The regex of a tag on an OS (per-OS entry first, then generic), or None."};

}  // namespace

Object registered(Object (*table)(), Handle routerOs, Handle key) {
    // where no lookup can run user code, each entry is read once: the answer is the same
    Object glb = table();
    if (PyUnicode_CheckExact(routerOs.ptr()) && PyUnicode_CheckExact(key.ptr()) && PyDict_CheckExact(glb.ptr()) &&
        only_str_keys(glb.ptr())) {
        PyObject* per_os = str_entry(glb.ptr(), routerOs.ptr());
        if (!per_os || (PyDict_CheckExact(per_os) && only_str_keys(per_os))) {
            if (PyObject* found = per_os ? str_entry(per_os, key.ptr()) : nullptr) return borrow(found);
            PyObject* generic = str_entry(glb.ptr(), key.ptr());
            return generic ? borrow(generic) : Object();
        }
    }
    // otherwise each step reads the table, and the per-OS entry, as it stands then
    if (contains(table(), routerOs)) {
        Object per_os = getitem(table(), routerOs);
        if (contains(per_os, key)) return getitem(getitem(table(), routerOs), key);
    }
    if (contains(table(), key)) return getitem(table(), key);
    return Object();
}

void warn(Handle message) {
    Object w = global(PYU_STR("warning"));
    if (w.is(own_warning)) return log_warning(message);
    pyutil::call(w, {message});
}

bool isstr(Handle s) {
    Object f = isstr_function();
    if (f.is(own_isstr)) return is_str(s);
    return pyutil::truth(pyutil::call(f, {s}));
}

Object make_warning() {
    Object f = make_function<warning_spec>(frame());
    own_warning = f.new_ref();  // kept, so a rebinding can never reuse its address
    return f;
}

Object make_isstr() {
    Object f = make_function<isstr_spec>(frame());
    own_isstr = f.new_ref();
    return f;
}

Object make_supported_oses() { return common::new_supported_oses(); }

Object make_extend() { return make_function<extend_spec>(frame()); }
Object make_get_regex() {
    Object f = make_function<get_regex_spec>(frame());
    own_get_regex = f.new_ref();
    return f;
}

bool is_own_get_regex(Handle f) { return f.is(own_get_regex); }

Object get_regex(Handle routerOs, Handle attribute) {
    Object f = get_regex_function();
    if (is_own_get_regex(f)) return registered_regex(routerOs, attribute);
    return pyutil::call(f, {routerOs, attribute});
}

}  // namespace core
