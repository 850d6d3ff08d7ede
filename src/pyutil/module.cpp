#include "pyutil/module.hpp"
#include "pyutil/errors.hpp"

namespace pyutil {

PyObject* init_once(PyModuleDef& def, ModuleState& state, void (*load)()) {
    if (state.module) return Py_NewRef(state.module);
    PyObject* m = PyModule_Create(&def);
    if (!m) return nullptr;
    state.module = m;
    state.globals = PyModule_GetDict(m);
    state.name = PyModule_GetNameObject(m);
    PyObject* result = boundary([&] {
        load();
        return borrow(state.module);
    });
    if (!result) {
        Py_CLEAR(state.name);
        state.globals = nullptr;
        Py_CLEAR(state.module);
        return nullptr;
    }
    // the reference from PyModule_Create stays ours: the module lives as long as the process
    return result;
}

}  // namespace pyutil
