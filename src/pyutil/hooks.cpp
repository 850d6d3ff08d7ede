#include "pyutil/hooks.hpp"
#include "pyutil/ops.hpp"
#include "pyutil/pyclass.hpp"

namespace pyutil {

bool exact_str_keys(PyObject* dict) {
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(dict, &pos, &key, &value))
        if (!PyUnicode_CheckExact(key)) return false;
    return true;
}

Object CachedGlobal::lookup() {
    version_ = 0;
    PyObject* found = PyDict_GetItemWithError(frame_.globals().ptr(), name_);
    if (!found) {
        check_no_error();
        value_ = frame_.global(name_);  // a built-in, or the interpreter's NameError
        return value_;
    }
    value_ = borrow(found);
    version_ = dict_version(frame_.globals().ptr());
    return value_;
}

Object CachedModuleAttr::lookup(Handle module) {
    version_ = 0;
    Object value = getattr(module, name_);
    // a module of its own type may read attributes its own way
    if (!PyModule_CheckExact(module.ptr())) return value;
    PyObject* dict = PyModule_GetDict(module.ptr());
    PyObject* found = PyDict_GetItemWithError(dict, name_);
    if (!found) {
        check_no_error();
        return value;
    }
    if (found != value.ptr()) return value;  // a descriptor of the module type won
    module_ = borrow(module);
    dict_ = dict;
    value_ = value;
    version_ = dict_version(dict);
    return value;
}

uint64_t AttrCache::restamp() {
    PyTypeObject* type = Py_TYPE(self_);
    type_ = nullptr;
    // an object with its own attribute lookup, or a class without a version, gives no stamp
    if (type->tp_getattro != PyObject_GenericGetAttr || !PyType_HasFeature(type, Py_TPFLAGS_VALID_VERSION_TAG))
        return 0;
    // (for an object whose attributes live in its inline values, this makes their dict, for good)
    dict_slot_ = _PyObject_GetDictPtr(self_);
    dict_ = dict_slot_ ? *dict_slot_ : nullptr;
    dict_version_ = dict_ ? dict_version(dict_) : 0;
    type_ = type;
    type_version_ = type->tp_version_tag;
    return ++stamp_;
}

bool AttrCache::plain(PyObject* name) const {
    PyObject* descriptor = _PyType_Lookup(Py_TYPE(self_), name);
    if (descriptor && Py_TYPE(descriptor)->tp_descr_set) return false;  // a property and the like
    if (dict_) {
        if (PyDict_GetItemWithError(dict_, name)) return true;
        check_no_error();
    }
    if (!descriptor) return false;
    PyTypeObject* kind = Py_TYPE(descriptor);
    return !kind->tp_descr_get || kind == &PyFunction_Type || kind == detail::native_method_type() ||
           kind == &PyInstanceMethod_Type || kind == &PyStaticMethod_Type || kind == &PyClassMethod_Type;
}

const AttrCache::Slot& AttrCache::lookup(Slot& slot) {
    slot.value = getattr(self_, slot.name);
    PyObject* v = slot.value.ptr();
    slot.native = slot.base_method && PyMethod_Check(v) && PyMethod_GET_FUNCTION(v) == slot.base_method &&
                  PyMethod_GET_SELF(v) == self_;
    // as the lookup left the object and its class (it may have given the class its version)
    slot.stamp = stamp();
    if (slot.stamp && !plain(slot.name)) slot.stamp = 0;
    return slot;
}

}  // namespace pyutil
