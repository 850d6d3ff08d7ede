#include "pyutil/hooks.hpp"
#include "pyutil/ops.hpp"
#include "pyutil/pyclass.hpp"

namespace pyutil {

bool only_str_keys(PyObject* dict) {
    struct Seen {
        PyObject* dict;
        uint64_t version;
    };
    static Seen seen[8];
    static unsigned next = 0;
    const uint64_t version = dict_version(dict);
    for (auto& s : seen)
        if (s.dict == dict && s.version == version) return true;
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(dict, &pos, &key, &value))
        if (!PyUnicode_CheckExact(key)) return false;
    seen[next++ % 8] = {dict, version};
    return true;
}

Object CachedGlobal::lookup() {
    version_ = 0;
    PyObject* globals = frame_.globals().ptr();
    // a key of another type may run Python code at every lookup (a colliding
    // key's __eq__): then every use looks the name up
    const bool plain = only_str_keys(globals);
    const uint64_t before = dict_version(globals);
    PyObject* found = plain ? PyDict_GetItemWithError(globals, name_) : nullptr;
    if (!found) {
        check_no_error();
        value_ = frame_.global(name_);  // a built-in, or the interpreter's NameError
        return value_;
    }
    value_ = borrow(found);
    if (dict_version(globals) == before) version_ = before;
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
    // a key of another type than str in the object's dict may run Python code at every lookup
    if (dict_ && !only_str_keys(dict_)) return false;
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
    // the state read before the lookup, which may run Python code; the value
    // is kept for it only when the lookup left it as it was
    const uint64_t before = stamp();
    slot.value = getattr(self_, slot.name);
    PyObject* v = slot.value.ptr();
    slot.native = slot.base_method && PyMethod_Check(v) && PyMethod_GET_FUNCTION(v) == slot.base_method &&
                  PyMethod_GET_SELF(v) == self_;
    slot.stamp = before && plain(slot.name) && stamp() == before ? before : 0;
    return slot;
}

}  // namespace pyutil
