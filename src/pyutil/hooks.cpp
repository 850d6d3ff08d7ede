#include "pyutil/hooks.hpp"
#include "pyutil/names.hpp"
#include "pyutil/ops.hpp"
#include "pyutil/pyclass.hpp"

namespace pyutil {

// Watches: the dict's identity and version; the scan runs no user code.
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

namespace {

// abc's own objects, read once.
struct AbcObjects {
    Object get_cache_token;
    PyTypeObject* abcmeta;
    unsigned int abcmeta_version;  // 0: ABCMeta has no version tag, or a changed one
};

const AbcObjects& abc_objects() {
    static const AbcObjects& objects = *[] {
        Object abc = import("abc");
        Object meta = getattr(abc, PYU_STR("ABCMeta"));
        auto* o = new AbcObjects{getattr(abc, PYU_STR("get_cache_token")),
                                 reinterpret_cast<PyTypeObject*>(meta.release()), 0};  // never destroyed
        _PyType_Lookup(o->abcmeta, PYU_STR("__instancecheck__"));  // gives it its version tag
        if (PyType_HasFeature(o->abcmeta, Py_TPFLAGS_VALID_VERSION_TAG)) o->abcmeta_version = o->abcmeta->tp_version_tag;
        return o;
    }();
    return objects;
}

}  // namespace

uint64_t abc_cache_token() {
    PyObject* f = abc_objects().get_cache_token.ptr();
    // the C function's body directly, without packing a call
    Object token = PyCFunction_CheckExact(f) && (PyCFunction_GET_FLAGS(f) & METH_NOARGS)
                       ? own(PyCFunction_GET_FUNCTION(f)(PyCFunction_GET_SELF(f), nullptr))
                       : call(f, {});
    const unsigned long long value = PyLong_AsUnsignedLongLong(token.ptr());
    if (value == static_cast<unsigned long long>(-1)) check_no_error();
    return value;
}

bool isinstance_settled(Handle cls) {
    PyTypeObject* meta = Py_TYPE(cls.ptr());
    if (meta == &PyType_Type) return true;
    const AbcObjects& abc = abc_objects();
    return meta == abc.abcmeta && abc.abcmeta_version && PyType_HasFeature(meta, Py_TPFLAGS_VALID_VERSION_TAG) &&
           meta->tp_version_tag == abc.abcmeta_version;
}

Object CachedGlobal::lookup() {
    version_ = 0;
    PyObject* globals = frame_.globals().ptr();
    const uint64_t before = dict_version(globals);
    const bool plain = only_str_keys(globals);
    PyObject* found = PyDict_GetItemWithError(globals, name_);
    if (!found) {
        check_no_error();
        return frame_.global(name_);  // a built-in, or the interpreter's NameError
    }
    Object value = borrow(found);
    if (plain && dict_version(globals) == before) {
        value_ = value;
        version_ = before;
    }
    return value;
}

Object CachedModuleAttr::lookup(Handle module) {
    version_ = 0;
    const bool exact = PyModule_CheckExact(module.ptr());
    PyObject* dict = exact ? PyModule_GetDict(module.ptr()) : nullptr;
    const uint64_t before = exact ? dict_version(dict) : 0;
    const bool plain = exact && only_str_keys(dict);
    Object value = getattr(module, name_);
    // a module of its own type may read attributes its own way
    if (!plain || !PyModule_CheckExact(module.ptr()) || dict_version(dict) != before) return value;
    PyObject* found = PyDict_GetItemWithError(dict, name_);
    if (!found) {
        check_no_error();
        return value;
    }
    if (found != value.ptr()) return value;  // a descriptor of the module type won
    module_ = borrow(module);
    dict_ = dict;
    value_ = value;
    version_ = before;
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

bool reads_plainly(Handle obj, Handle name) {
    PyObject* o = obj.ptr();
    if (!PyUnicode_CheckExact(name.ptr())) return false;
    if (PyModule_CheckExact(o)) {
        PyObject* dict = PyModule_GetDict(o);
        if (!only_str_keys(dict)) return false;
        // a name ModuleType itself serves (__dict__, __class__, ...) is read through it
        if (_PyType_Lookup(&PyModule_Type, name.ptr())) return false;
        if (PyDict_GetItemWithError(dict, name.ptr())) return true;
        check_no_error();
        return false;  // left to a module-level __getattr__
    }
    PyTypeObject* type = Py_TYPE(o);
    if (type->tp_getattro != PyObject_GenericGetAttr) return false;
    PyObject* descriptor = _PyType_Lookup(type, name.ptr());
    if (descriptor && Py_TYPE(descriptor)->tp_descr_set) return false;  // a property and the like
    PyObject** dict_slot = _PyObject_GetDictPtr(o);
    PyObject* dict = dict_slot ? *dict_slot : nullptr;
    if (dict) {
        if (!only_str_keys(dict)) return false;
        if (PyDict_GetItemWithError(dict, name.ptr())) return true;
        check_no_error();
    }
    if (!descriptor) return false;
    PyTypeObject* kind = Py_TYPE(descriptor);
    return !kind->tp_descr_get || kind == &PyFunction_Type || kind == detail::native_method_type() ||
           kind == &PyInstanceMethod_Type || kind == &PyStaticMethod_Type || kind == &PyClassMethod_Type;
}

const AttrCache::Slot& AttrCache::lookup(Slot& slot) {
    // what the value depends on, read before the read that gives it (which may
    // run a property's getter); looking the name up in the class first gives
    // the class its version tag when it has none yet
    _PyType_Lookup(Py_TYPE(self_), slot.name);
    const uint64_t before = stamp();
    const bool plain = before && reads_plainly(self_, slot.name);
    slot.value = getattr(self_, slot.name);
    PyObject* v = slot.value.ptr();
    slot.native = slot.base_method && PyMethod_Check(v) && PyMethod_GET_FUNCTION(v) == slot.base_method &&
                  PyMethod_GET_SELF(v) == self_;
    slot.stamp = plain && stamp() == before ? before : 0;
    return slot;
}

}  // namespace pyutil
