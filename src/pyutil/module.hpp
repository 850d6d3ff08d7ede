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
