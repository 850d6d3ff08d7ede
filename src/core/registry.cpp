// The registry: warning, isstr, supported_oses, extend and _get_regex.
#include "core/core.hpp"
#include "pyutil/ops.hpp"

namespace core {
namespace {

using namespace pyutil;

// The function objects this module made, to tell them from a rebinding.
PyObject* own_warning = nullptr;
PyObject* own_isstr = nullptr;
PyObject* own_get_regex = nullptr;

py::object warning_body(PyObject* const* a) {
    PyObject* logger = global(PYU_STR("logger"));
    call_method(logger, PYU_STR("warning"), {a[0]});
    return borrow(Py_None);
}
FunctionSpec warning_spec{"warning", "warning", {{"s"}}, warning_body};

py::object isstr_body(PyObject* const* a) { return borrow(PyUnicode_Check(a[0]) ? Py_True : Py_False); }
FunctionSpec isstr_spec{"isstr", "isstr", {{"s"}}, isstr_body};

bool is_supported_os(PyObject* key) { return contains(global(PYU_STR("supported_oses")), key); }

// Stores d under r unless rd holds a different value there; the first definition stays.
void add(PyObject* rd, PyObject* r, PyObject* d) {
    if (contains(rd, r) && not_equal(getitem(rd, r).ptr(), d)) {
        warn(percent_format(PYU_STR("%s already exists, please change name"), {r}).ptr());
        return;
    }
    setitem(rd, r, d);
}

void merge(PyObject* table, PyObject* argument) {
    py::object items = iter(call_method(argument, PYU_STR("items"), {}).ptr());
    while (py::object item = next(items.ptr())) {
        py::object key, value;
        unpack2(item.ptr(), key, value);
        if (!is_supported_os(key.ptr())) {
            add(table, key.ptr(), value.ptr());
            continue;
        }
        if (!contains(table, key.ptr())) setitem(table, key.ptr(), own(PyDict_New()).ptr());
        py::object per_os = getitem(table, key.ptr());
        py::object entries = iter(call_method(value.ptr(), PYU_STR("items"), {}).ptr());
        while (py::object entry = next(entries.ptr())) {
            py::object tag, regex;
            unpack2(entry.ptr(), tag, regex);
            add(per_os.ptr(), tag.ptr(), regex.ptr());
        }
    }
}

void merge_tags(PyObject* regex_tags) {
    py::object names = iter(regex_tags);
    while (py::object name = next(names.ptr())) {
        if (!is_supported_os(name.ptr())) {
            warn(format(PYU_STR("os {} is not one of the supported oses {}."),
                        {name.ptr(), global(PYU_STR("supported_oses"))}).ptr());
            continue;
        }
        if (!contains(global(PYU_STR("_glb_regex_tags")), name.ptr()))
            setitem(global(PYU_STR("_glb_regex_tags")), name.ptr(), own(PyList_New(0)).ptr());
        py::object tags = iter(getitem(regex_tags, name.ptr()).ptr());
        while (py::object tag = next(tags.ptr())) {
            py::object known = getitem(global(PYU_STR("_glb_regex_tags")), name.ptr());
            if (contains(known.ptr(), tag.ptr())) {
                warn(format(PYU_STR("regex tag {} already exists, please change name"), {tag.ptr()}).ptr());
                continue;
            }
            call_method(getitem(global(PYU_STR("_glb_regex_tags")), name.ptr()).ptr(), PYU_STR("append"),
                        {tag.ptr()});
        }
    }
}

py::object extend_body(PyObject* const* a) {
    PyObject* regex_ext = a[0];
    PyObject* show_cmds = a[1];
    PyObject* regex_tags = a[2];
    // The work list names the tables as they are bound now.
    std::pair<py::object, PyObject*> work[2];
    size_t n = 0;
    if (truth(regex_ext)) work[n++] = {borrow(global(PYU_STR("_glb_regex"))), regex_ext};
    if (truth(show_cmds)) work[n++] = {borrow(global(PYU_STR("_glb_show_commands"))), show_cmds};
    for (size_t i = 0; i < n; ++i) merge(work[i].first.ptr(), work[i].second);
    if (truth(regex_tags)) merge_tags(regex_tags);
    return borrow(Py_None);
}
FunctionSpec extend_spec{"extend", "extend",
                         {{"regex_ext", "None"}, {"show_cmds", "None"}, {"regex_tags", "None"}},
                         extend_body,
                         "Merge regexes, show-command templates and per-OS regex tag lists into the registry."};

py::object get_regex_body(PyObject* const* a) {
    PyObject* routerOs = a[0];
    PyObject* attribute = a[1];
    if (contains(global(PYU_STR("_glb_regex")), routerOs)) {
        py::object per_os = getitem(global(PYU_STR("_glb_regex")), routerOs);
        if (contains(per_os.ptr(), attribute))
            return getitem(getitem(global(PYU_STR("_glb_regex")), routerOs).ptr(), attribute);
    }
    if (contains(global(PYU_STR("_glb_regex")), attribute)) return getitem(global(PYU_STR("_glb_regex")), attribute);
    return borrow(Py_None);
}
FunctionSpec get_regex_spec{"_get_regex", "_get_regex", {{"routerOs"}, {"attribute"}}, get_regex_body,
                            "The regex of a tag on an OS (per-OS entry first, then generic), or None."};

const char* const oses[] = {"ketch", "pellam", "larch", "brume",   "morrow",  "wend",
                            "dapple", "quint", "gorse", "tessel", "halvane", "fernet"};

}  // namespace

void warn(PyObject* message) {
    PyObject* w = global(PYU_STR("warning"));
    if (w == own_warning) {
        warning_body(&message);
        return;
    }
    pyutil::call(w, {message});
}

bool isstr(PyObject* s) {
    PyObject* f = global(PYU_STR("isstr"));
    if (f == own_isstr) return PyUnicode_Check(s);
    return pyutil::truth(pyutil::call(f, {s}).ptr());
}

py::object make_warning() {
    py::object f = make_function<warning_spec>(module(), module_name());
    own_warning = f.inc_ref().ptr();  // kept, so a rebinding can never reuse its address
    return f;
}

py::object make_isstr() {
    py::object f = make_function<isstr_spec>(module(), module_name());
    own_isstr = f.inc_ref().ptr();
    return f;
}

py::object make_supported_oses() {
    py::object list = own(PyList_New(0));
    for (const char* os : oses) check(PyList_Append(list.ptr(), own(PyUnicode_InternFromString(os)).ptr()));
    return list;
}

py::object make_extend() { return make_function<extend_spec>(module(), module_name()); }
py::object make_get_regex() {
    py::object f = make_function<get_regex_spec>(module(), module_name());
    own_get_regex = f.inc_ref().ptr();
    return f;
}

py::object get_regex(PyObject* routerOs, PyObject* attribute) {
    PyObject* f = global(PYU_STR("_get_regex"));
    if (f == own_get_regex) {
        PyObject* args[] = {routerOs, attribute};
        return get_regex_body(args);
    }
    return pyutil::call(f, {routerOs, attribute});
}

}  // namespace core
