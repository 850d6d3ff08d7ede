#include "pyutil/module.hpp"
// The module object's layout, for its executed marker (no API sets it).
#define Py_BUILD_CORE
#include <internal/pycore_moduleobject.h>
#undef Py_BUILD_CORE
#include "pyutil/names.hpp"
#include "pyutil/ops.hpp"

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

Object ModuleFrame::import_module(const char* name) const {
    Object text = own(PyUnicode_FromString(name));
    Object module = own(PyImport_ImportModuleLevelObject(text.ptr(), globals_.ptr(), nullptr, nullptr, 0));
    bind(name, module);
    return module;
}

namespace {

// The value of `name` in module `from`, as the interpreter's import_from finds it.
Object imported_name(Handle from, Handle name) {
    PyObject* value = nullptr;
    if (check(_PyObject_LookupAttr(from.ptr(), name.ptr(), &value))) return Object::steal(value);
    // a submodule whose import is still under way is only in sys.modules
    Object package_name = attr_if_present(from, PYU_STR("__name__"));
    if (package_name && PyUnicode_Check(package_name.ptr())) {
        Object full = own(PyUnicode_FromFormat("%U.%U", package_name.ptr(), name.ptr()));
        if (PyObject* submodule = PyImport_GetModule(full.ptr())) return Object::steal(submodule);
        check_no_error();
    } else {
        package_name = Object();
    }
    PyObject* raw_path = PyModule_Check(from.ptr()) ? PyModule_GetFilenameObject(from.ptr()) : nullptr;
    Object path = Object::steal(raw_path);
    Handle shown = package_name ? Handle(package_name) : Handle(PYU_STR("<unknown module name>"));
    if (!path || !PyUnicode_Check(path.ptr())) {
        PyErr_Clear();
        Object message = own(PyUnicode_FromFormat("cannot import name %R from %R (unknown location)", name.ptr(),
                                                  shown.ptr()));
        PyErr_SetImportError(message.ptr(), package_name.ptr(), nullptr);
        throw PyError();
    }
    // the module's import record says whether its body is still running
    Object record = attr_if_present(from, PYU_STR("__spec__"));
    Object initializing = record ? attr_if_present(record, PYU_STR("_initializing")) : Object();
    const char* text = initializing && truth(initializing)
                           ? "cannot import name %R from partially initialized module %R "
                             "(most likely due to a circular import) (%S)"
                           : "cannot import name %R from %R (%S)";
    Object message = own(PyUnicode_FromFormat(text, name.ptr(), shown.ptr(), path.ptr()));
    PyErr_SetImportError(message.ptr(), package_name.ptr(), path.ptr());
    throw PyError();
}

}  // namespace

Object ModuleFrame::from_import(const char* package, const char* name) const {
    Object package_name = own(PyUnicode_FromString(package));
    Object attribute = own(PyUnicode_InternFromString(name));
    Object fromlist = own(PyTuple_Pack(1, attribute.ptr()));
    Object from =
        own(PyImport_ImportModuleLevelObject(package_name.ptr(), globals_.ptr(), nullptr, fromlist.ptr(), 0));
    Object value = imported_name(from, attribute);
    bind(name, value);
    return value;
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

void run_again_at_reload(Handle module) {
    auto* object = reinterpret_cast<PyModuleObject*>(module.ptr());
    PyMem_Free(object->md_state);
    object->md_state = nullptr;
}

}  // namespace pyutil
