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

using pyutil::equal;

// print(value) through the module's current `print`, so sys.stdout is honoured.
inline void print(const ModuleFrame& m, Handle value) { pyutil::call(m.global(PYU_STR("print")), {value}); }

// `with manager: body()`, the entry value unbound.  An error of the body is
// handed to __exit__ and propagates unless __exit__ answers true.
template <class Body>
void with_block(Handle manager, Body&& body) {
    Handle type = pyutil::type_of(manager);
    Object enter = pyutil::getattr(type, PYU_STR("__enter__"));
    Object exit = pyutil::getattr(type, PYU_STR("__exit__"));
    pyutil::call(enter, {manager});
    Object done = Object::steal(pyutil::boundary([&] {
        body();
        return borrow(Py_None);
    }));
    if (done) {
        pyutil::call(exit, {manager, Py_None, Py_None, Py_None});
        return;
    }
    // while __exit__ runs and its answer is tested, the error is the one being
    // handled, so an error raised there gets it as its __context__
    pyutil::CaughtError error = pyutil::CaughtError::fetch();
    const bool swallowed = error.handle([&] {
        return pyutil::truth(pyutil::call(exit, {manager, error.type(), error.value(), error.traceback()}));
    });
    if (!swallowed) error.raise_again();
}

// The frame of the examples that run against a mock device, after their
// standard imports: `python3`, then `Mock` and `patch` from unittest.mock
// (from the package mock before Python 3: a choice on the flag, not a
// fallback), `ryn_mock`, and `imports` run while sys.modules maps "ryn" to
// ryn_mock; the names those imports bind stay usable after the restore.
template <class Imports>
void mock_frame(const ModuleFrame& m, Imports&& imports) {
    Object version = pyutil::getattr(m.global(PYU_STR("sys")), PYU_STR("version_info"));
    m.bind("python3", pyutil::greater_equal(version, pyutil::tuple({pyutil::integer(3), pyutil::integer(0)})));
    const char* source = pyutil::truth(m.global(PYU_STR("python3"))) ? "unittest.mock" : "mock";
    m.from_import(source, "Mock");
    m.from_import(source, "patch");
    m.bind("ryn_mock", pyutil::call(m.global(PYU_STR("Mock")), {}));
    Object modules = pyutil::new_dict();
    pyutil::setitem(modules, PYU_STR("ryn"), m.global(PYU_STR("ryn_mock")));
    Object patch_dict = pyutil::getattr(m.global(PYU_STR("patch")), PYU_STR("dict"));
    Object manager = pyutil::call(patch_dict, {PYU_STR("sys.modules"), modules});
    with_block(manager, imports);
}

// Mock(**kwargs) of the module's current `Mock`, kwargs a dict of
// configuration names ("execute.return_value", ...).
inline Object mock_configured(const ModuleFrame& m, Handle kwargs) {
    return pyutil::call_with_kwargs(m.global(PYU_STR("Mock")), kwargs);
}

// The exec slot: runs Script with the frame of the module being executed,
// at its import and at each reload.
template <void (*Script)(const ModuleFrame&)>
int exec_script(PyObject* module) {
    pyutil::run_again_at_reload(borrow(module));
    Object done = Object::steal(pyutil::boundary([&] {
        Script(ModuleFrame(module));
        return borrow(Py_None);
    }));
    return done ? 0 : -1;
}

// PyInit_<name>: a module of one exec slot, which runs Script for each module
// object the import system creates and again at each reload; doc, when given,
// is its __doc__.
template <void (*Script)(const ModuleFrame&)>
PyObject* init_script_module(const char* name, const char* doc = nullptr) {
    static PyModuleDef_Slot slots[] = {{Py_mod_exec, reinterpret_cast<void*>(&exec_script<Script>)}, {0, nullptr}};
    static PyModuleDef def = {PyModuleDef_HEAD_INIT, name, doc, 0, nullptr, slots, nullptr, nullptr, nullptr};
    return PyModuleDef_Init(&def);
}

}  // namespace example
