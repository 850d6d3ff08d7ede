// Shared frame of the job modules errand and courier.  Each binds `os`,
// `run` and `main`, in that order; main() hands the job runner the test
// script "rehearsal.py" beside the module's own file, with the script
// parameters of one device kind.
#pragma once
#include <vector>
#include "examples/example.hpp"

namespace job {

namespace py = pybind11;
using pyutil::borrow;
using pyutil::check;
using pyutil::own;

// The script parameters of one device kind.
struct DeviceKind {
    const char* uut_name;
    const char* if_name;
    long mtu;
    std::vector<const char*> header_fields;
    std::vector<long> index;
    const char* title_pattern;  // nullptr stands for None
};

inline py::object text_list(const std::vector<const char*>& items) {
    py::object list = own(PyList_New(0));
    for (const char* item : items) check(PyList_Append(list.ptr(), own(PyUnicode_FromString(item)).ptr()));
    return list;
}

inline py::object int_list(const std::vector<long>& items) {
    py::object list = own(PyList_New(0));
    for (long item : items) check(PyList_Append(list.ptr(), own(PyLong_FromLong(item)).ptr()));
    return list;
}

// The body of main(): every name is read from the module's globals now, so
// a rebinding of `run`, `os` or `__file__` takes effect at the next call.
inline void run_job(PyObject* module, const DeviceKind& kind) {
    PyObject* globals = PyModule_GetDict(module);
    auto global = [&](PyObject* name) { return pyutil::lookup_global(globals, name); };
    // test_path = os.path.dirname(os.path.abspath(__file__))
    py::object dirname = pyutil::getattr(pyutil::getattr(global(PYU_STR("os")), PYU_STR("path")).ptr(),
                                         PYU_STR("dirname"));
    py::object abspath = pyutil::getattr(pyutil::getattr(global(PYU_STR("os")), PYU_STR("path")).ptr(),
                                         PYU_STR("abspath"));
    py::object absolute = pyutil::call(abspath.ptr(), {global(PYU_STR("__file__"))});
    py::object test_path = pyutil::call(dirname.ptr(), {absolute.ptr()});

    py::object chosen_uut_device = own(PyUnicode_FromString(kind.uut_name));
    py::object stdby_device = own(PyUnicode_FromString("notreallyadevice"));
    py::object if_name = own(PyUnicode_FromString(kind.if_name));
    py::object mtu = own(PyLong_FromLong(kind.mtu));
    py::object header_fields = text_list(kind.header_fields);
    py::object show_arp_table_parse_index = int_list(kind.index);
    py::object show_arp_table_title_pattern =
        kind.title_pattern ? own(PyUnicode_FromString(kind.title_pattern)) : borrow(Py_None);

    PyObject* run = global(PYU_STR("run"));
    // plain concatenation, not a path join
    py::object testscript = own(PyNumber_Add(test_path.ptr(), PYU_STR("/rehearsal.py")));
    static PyObject* const kwnames =
        example::keywords({PYU_STR("testscript"), PYU_STR("uut_name"), PYU_STR("stdby_name"), PYU_STR("if_name"),
                           PYU_STR("mtu"), PYU_STR("show_arp_header_fields"), PYU_STR("show_arp_table_parse_index"),
                           PYU_STR("show_arp_table_title_pattern")});
    pyutil::call_kw(run,
                    {testscript.ptr(), chosen_uut_device.ptr(), stdby_device.ptr(), if_name.ptr(), mtu.ptr(),
                     header_fields.ptr(), show_arp_table_parse_index.ptr(), show_arp_table_title_pattern.ptr()},
                    kwnames);
}

template <const DeviceKind& Kind>
PyObject* main(PyObject* module, PyObject*) {
    return pyutil::boundary([&] {
        run_job(module, Kind);
        return borrow(Py_None);
    });
}

// The module body: `os`, `run` and `main`, in that order.
template <const DeviceKind& Kind>
void script() {
    // the text signature lets inspect.signature() show main()
    static PyMethodDef main_def{"main", main<Kind>, METH_NOARGS, "main($module)\n--\n\n"};
    example::import_module("os");
    example::from_import("ryn.runlet", "run");
    example::bind("main", own(PyCFunction_NewEx(&main_def, example::script_module, example::script_name)));
}

}  // namespace job
