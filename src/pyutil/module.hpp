// Single-phase module init for modules whose state must survive a second
// initialisation: the module is built once per process, a later PyInit call
// (after its sys.modules entry was removed) returns the module already built.
#pragma once
#include <Python.h>

namespace pyutil {

struct ModuleState {
    PyObject* module = nullptr;
    PyObject* globals = nullptr;  // the module's dict
    PyObject* name = nullptr;     // its __name__ as the init found it
};

// Creates the module from `def` once, then runs `load` (which binds the
// module's names, throwing PyError on failure).  A failed load leaves
// nothing behind, so the next import starts afresh.  Returns a new reference,
// or nullptr with the error set.
PyObject* init_once(PyModuleDef& def, ModuleState& state, void (*load)());

}  // namespace pyutil

#include "pyutil/errors.hpp"

namespace pyutil {

namespace detail {
template <void (*Exec)(PyObject*)>
int exec_slot(PyObject* module) noexcept {
    PyObject* done = boundary([&] {
        Exec(module);
        return borrow(Py_None);
    });
    const int status = done ? 0 : -1;
    Py_XDECREF(done);
    return status;
}
}  // namespace detail

// Multi-phase init for modules that work at import, as a source module
// would: the import system sets __name__, __file__ and __spec__ before
// `Exec` binds the module's names, and an error that `Exec` raises reaches
// the importer as itself.  `def` gives the name and docstring; its one exec
// slot is filled here.  The PyInit function returns this.
template <void (*Exec)(PyObject* module)>
PyObject* init_multi_phase(PyModuleDef& def) {
    static PyModuleDef_Slot slots[] = {{Py_mod_exec, reinterpret_cast<void*>(&detail::exec_slot<Exec>)},
                                       {0, nullptr}};
    def.m_slots = slots;
    return PyModuleDef_Init(&def);
}

}  // namespace pyutil
