#include "pyutil/module.hpp"

namespace pyutil {

ModuleFrame::ModuleFrame(Handle module)
    : module_(borrow(module)), globals_(PyModule_GetDict(module.ptr())) {
    if (!globals_) throw PyError();
    name_ = own(PyModule_GetNameObject(module.ptr()));
}

Object lookup_global(Handle globals, Handle name) {
    PyObject* v = PyDict_GetItemWithError(globals.ptr(), name.ptr());
    if (v) return borrow(v);
    check_no_error();
    if (PyObject* builtins = PyEval_GetBuiltins()) {
        v = PyDict_GetItemWithError(builtins, name.ptr());
        if (v) return borrow(v);
        check_no_error();
    }
    PyErr_Format(PyExc_NameError, "name '%U' is not defined", name.ptr());
    throw PyError();
}

void ModuleFrame::bind(const char* name, Handle value) const {
    check(PyDict_SetItemString(globals_.ptr(), name, value.ptr()));
}

PyObject* init_once(PyModuleDef& def, ModuleFrame& frame, void (*load)()) {
    if (frame) return Py_NewRef(frame.module().ptr());
    return boundary([&] {
        // the reference from PyModule_Create stays the frame's: the module lives as long as the process
        frame = ModuleFrame(own(PyModule_Create(&def)));
        try {
            load();
        } catch (...) {
            frame = ModuleFrame();
            throw;
        }
        return borrow(frame.module());
    });
}

}  // namespace pyutil
