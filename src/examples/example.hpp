// The frame of the example modules.
//
// Each example is a script that runs when its module is imported: a module
// with one exec slot (multi-phase init), so that __name__, __file__ and
// __spec__ are set before the script runs and an error it raises reaches the
// importer as itself.  The script binds its names in the module's dict, as
// the statements of a source module would, and every later use of a name
// reads that dict again (then the builtins), so a rebinding takes effect.
// Every module object has its own frame: the functions and methods a script
// defines belong to the module that made them and read their names in its
// dict, whichever module ran last.
#pragma once
#include <Python.h>
#include <initializer_list>
#include "pyutil/errors.hpp"
#include "pyutil/module.hpp"
#include "pyutil/names.hpp"
#include "pyutil/ops.hpp"
#include "pyutil/pyclass.hpp"

namespace example {

using pyutil::Args;
using pyutil::borrow;
using pyutil::Handle;
using pyutil::ModuleFrame;
using pyutil::Object;
using pyutil::own;
using pyutil::PyError;

// `import name` of a top-level module.
inline void import_module(const ModuleFrame& m, const char* name) {
    Object text = own(PyUnicode_FromString(name));
    m.bind(name, own(PyImport_ImportModuleLevelObject(text.ptr(), m.globals().ptr(), nullptr, nullptr, 0)));
}

// `from package import name`: the attribute of the package, else its
// submodule while that is still being imported, else ImportError.
inline void from_import(const ModuleFrame& m, const char* package, const char* name) {
    Object package_name = own(PyUnicode_FromString(package));
    Object attribute = own(PyUnicode_FromString(name));
    Object fromlist = own(PyTuple_Pack(1, attribute.ptr()));
    Object from = own(PyImport_ImportModuleLevelObject(package_name.ptr(), m.globals().ptr(), nullptr,
                                                       fromlist.ptr(), 0));
    if (PyObject* value = PyObject_GetAttr(from.ptr(), attribute.ptr())) return m.bind(name, own(value));
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PyError();
    PyErr_Clear();
    Object submodule_name = own(PyUnicode_FromFormat("%U.%U", package_name.ptr(), attribute.ptr()));
    if (PyObject* submodule = PyImport_GetModule(submodule_name.ptr())) return m.bind(name, own(submodule));
    pyutil::check_no_error();
    PyObject* file = PyModule_Check(from.ptr()) ? PyModule_GetFilenameObject(from.ptr()) : nullptr;
    if (!file) PyErr_Clear();
    Object path = file ? own(file) : Object();
    Object message =
        path ? own(PyUnicode_FromFormat("cannot import name %R from %R (%U)", attribute.ptr(), package_name.ptr(),
                                        path.ptr()))
             : own(PyUnicode_FromFormat("cannot import name %R from %R (unknown location)", attribute.ptr(),
                                        package_name.ptr()));
    PyErr_SetImportError(message.ptr(), package_name.ptr(), path ? path.ptr() : nullptr);
    throw PyError();
}

// `a == b` as a truth value, by rich comparison alone (no identity shortcut).
inline bool equals(Handle a, Handle b) { return pyutil::truth(own(PyObject_RichCompare(a.ptr(), b.ptr(), Py_EQ))); }

// print(value) through the module's current `print`, so sys.stdout is honoured.
inline void print(const ModuleFrame& m, Handle value) { pyutil::call(m.global(PYU_STR("print")), {value}); }

// A tuple of keyword names for pyutil::call_kw, made once per call site
// (`static PyObject* const kw = keywords({PYU_STR("a")});`) and kept.
inline PyObject* keywords(std::initializer_list<PyObject*> names) {
    PyObject* tuple = PyTuple_New(static_cast<Py_ssize_t>(names.size()));
    if (!tuple) throw PyError();
    Py_ssize_t i = 0;
    for (PyObject* name : names) PyTuple_SET_ITEM(tuple, i++, Py_NewRef(name));
    return tuple;
}

// Makes `error` the exception being handled on this thread for the guard's
// lifetime, then puts the thread's own entry back.
class HandledError {
public:
    explicit HandledError(Handle error) : item_(PyThreadState_Get()->exc_info), outer_(item_->exc_value) {
        item_->exc_value = Py_NewRef(error.ptr());
    }
    HandledError(const HandledError&) = delete;
    HandledError& operator=(const HandledError&) = delete;
    ~HandledError() { Py_XSETREF(item_->exc_value, outer_); }

private:
    _PyErr_StackItem* item_;
    PyObject* outer_;  // the entry's reference, held while the error stands in
};

// `with manager: body()`, the entry value unbound.  An error of the body is
// handed to __exit__ and propagates unless __exit__ answers true.
template <class Body>
void with_block(PyObject* manager, Body&& body) {
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(manager));
    Object enter = pyutil::getattr(type, PYU_STR("__enter__"));
    Object exit = pyutil::getattr(type, PYU_STR("__exit__"));
    pyutil::call(enter.ptr(), {manager});
    PyObject* done = pyutil::boundary([&] {
        body();
        return borrow(Py_None);
    });
    if (done) {
        Py_DECREF(done);
        pyutil::call(exit.ptr(), {manager, Py_None, Py_None, Py_None});
        return;
    }
    PyObject *raw_type, *raw_value, *raw_tb;
    PyErr_Fetch(&raw_type, &raw_value, &raw_tb);
    PyErr_NormalizeException(&raw_type, &raw_value, &raw_tb);
    if (raw_tb) PyException_SetTraceback(raw_value, raw_tb);
    Object error_type = own(raw_type), error = own(raw_value);
    Object tb = raw_tb ? own(raw_tb) : borrow(Py_None);
    bool swallowed;
    {
        // while __exit__ runs and its answer is tested, the error is the one
        // being handled (sys.exception()), so an error raised there gets it as
        // its __context__; the thread's own entry is put back afterwards, as
        // the interpreter does around a handler
        HandledError handling(error);
        Object answer = pyutil::call(exit.ptr(), {manager, error_type.ptr(), error.ptr(), tb.ptr()});
        swallowed = pyutil::truth(answer.ptr());
    }
    if (swallowed) return;
    PyErr_Restore(error_type.release(), error.release(), tb.is_none() ? nullptr : tb.release());
    throw PyError();
}

// The frame of the examples that run against a mock device, after their
// standard imports: `python3`, then `Mock` and `patch` from unittest.mock
// (from the package mock before Python 3: a choice on the flag, not a
// fallback), `ryn_mock`, and `imports` run while sys.modules maps "ryn" to
// ryn_mock; the names those imports bind stay usable after the restore.
template <class Imports>
void mock_frame(const ModuleFrame& m, Imports&& imports) {
    Object version = pyutil::getattr(m.global(PYU_STR("sys")), PYU_STR("version_info"));
    Object three = own(Py_BuildValue("(ii)", 3, 0));
    m.bind("python3", own(PyObject_RichCompare(version.ptr(), three.ptr(), Py_GE)));
    const char* source = pyutil::truth(m.global(PYU_STR("python3"))) ? "unittest.mock" : "mock";
    from_import(m, source, "Mock");
    from_import(m, source, "patch");
    m.bind("ryn_mock", pyutil::call(m.global(PYU_STR("Mock")), {}));
    Object modules = own(Py_BuildValue("{sO}", "ryn", m.global(PYU_STR("ryn_mock")).ptr()));
    Object patch_dict = pyutil::getattr(m.global(PYU_STR("patch")), PYU_STR("dict"));
    Object manager = pyutil::call(patch_dict, {PYU_STR("sys.modules"), modules});
    with_block(manager.ptr(), imports);
}

// Mock(**kwargs) of the module's current `Mock`, kwargs a dict of
// configuration names ("execute.return_value", ...).
inline Object mock_configured(const ModuleFrame& m, Handle kwargs) {
    Object args = own(PyTuple_New(0));
    Object copy = own(PyDict_Copy(kwargs.ptr()));
    return own(PyObject_Call(m.global(PYU_STR("Mock")).ptr(), args.ptr(), copy.ptr()));
}

// The exec slot: runs Script with the frame of the module being executed.
template <void (*Script)(const ModuleFrame&)>
int exec_script(PyObject* module) {
    PyObject* done = pyutil::boundary([&] {
        Script(ModuleFrame(module));
        return borrow(Py_None);
    });
    if (!done) return -1;
    Py_DECREF(done);
    return 0;
}

// PyInit_<name>: a module of one exec slot, which runs Script once for each
// module object the import system creates (a reload finds the module
// executed and runs nothing).
template <void (*Script)(const ModuleFrame&)>
PyObject* init_script_module(const char* name) {
    static PyModuleDef_Slot slots[] = {{Py_mod_exec, reinterpret_cast<void*>(&exec_script<Script>)}, {0, nullptr}};
    static PyModuleDef def = {PyModuleDef_HEAD_INIT, name, nullptr, 0, nullptr, slots, nullptr, nullptr, nullptr};
    return PyModuleDef_Init(&def);
}

}  // namespace example
