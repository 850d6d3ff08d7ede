// Attributes, module names and overridable methods read at each use, as
// Python code reads them, without a lookup per row.
//
// A parse reads the module's names and its object's hooks and settings at
// each use.  Per row and per cell that would be a dict lookup (or a bound
// method made) each time, so a value is kept and looked up again only when
// the dicts it came from may have changed: every change of a dict gives it a
// new version tag, every change of a class or of one of its bases drops the
// class's version tag (as the interpreter's own caches rely on, in the 3.11
// series).  While a hook is the base class's own method the caller runs its
// C++ body directly.
//
// Every cache here reads what it watches before the lookup whose answer it
// keeps, and keeps the answer only when that lookup could run no user code
// and all it watches is unchanged after it.
#pragma once
#include <Python.h>
#include <cstdint>
#include <type_traits>
#include "pyutil/errors.hpp"
#include "pyutil/module.hpp"

namespace pyutil {

inline uint64_t dict_version(PyObject* dict) { return reinterpret_cast<PyDictObject*>(dict)->ma_version_tag; }
// Whether every key of an exact dict is an exact str, so that a lookup of an
// exact str in it runs no user code.  Remembered per dict state (every change
// of any dict gives it a new version tag).
bool only_str_keys(PyObject* dict);

// Whether getattr(obj, name) runs no user code: the object's class reads
// attributes the generic way (or the object is a plain module), no data
// descriptor of the class serves the name, the dict read holds only str keys,
// and what the object or its class gives needs no call of the user's.
bool reads_plainly(Handle obj, Handle name);

// abc.get_cache_token() as an integer: it changes with every registration of
// a class with any ABC, which is all that changes what isinstance answers for
// an object of a built-in type once an ABC has answered for that type.
uint64_t abc_cache_token();
// Whether isinstance(o, cls), o of a built-in type, answers the same while
// abc_cache_token() stays: cls is a class of `type` itself (a subtype test),
// or of abc.ABCMeta as the abc module made it (whose answers are kept the same way).
bool isinstance_settled(Handle cls);

// A module-level name of a module (long-lived, as the frame's module is).
// Watches: the module's dict (its version, and str keys only).
class CachedGlobal {
public:
    CachedGlobal(const ModuleFrame& frame, PyObject* name) : frame_(frame), name_(name) {}
    // The name's current binding.
    Object get() {
        if (version_ && version_ == dict_version(frame_.globals().ptr())) return value_;
        return lookup();
    }

private:
    Object lookup();

    const ModuleFrame& frame_;
    PyObject* name_;
    Object value_;
    uint64_t version_ = 0;  // of the module's dict when value_ was found in it; 0: not kept
};

// The CachedGlobal of a literal name in a frame, made at its first use and
// never destroyed (it holds interpreter objects past the interpreter's end).
#define PYU_CACHED_GLOBAL(frame, literal)                                                  \
    ([&]() -> ::pyutil::CachedGlobal& {                                                    \
        static ::pyutil::CachedGlobal* const g = new ::pyutil::CachedGlobal((frame), PYU_STR(literal)); \
        return *g;                                                                         \
    }())

// module.<name> of whatever module is passed, as getattr reads it; for a
// plain module whose own dict gives the value, the value is kept while that
// module is passed and its dict is unchanged.
// Watches: the module (an identity it owns), its type, its dict (version, str keys).
class CachedModuleAttr {
public:
    explicit CachedModuleAttr(PyObject* name) : name_(name) {}
    Object get(Handle module) {
        // a module whose class was changed may read its attributes its own way
        if (version_ && module.is(module_) && PyModule_CheckExact(module.ptr()) && version_ == dict_version(dict_))
            return value_;
        return lookup(module);
    }

private:
    Object lookup(Handle module);

    PyObject* name_;
    Object module_;  // held, so that its dict stays and its address is not reused
    PyObject* dict_ = nullptr;
    Object value_;
    uint64_t version_ = 0;  // of the module's dict when value_ was found in it; 0: not kept
};

// Attributes of one object, read through it (a subclass or the object itself
// may override them).
// Watches: the object's class (identity, version tag), its dict (identity, version).
class AttrCache {
public:
    struct Slot {
        PyObject* name;
        PyObject* base_method = nullptr;  // for a hook: the base class's own method
        Object value;
        bool native = false;  // the hook is the base's own method, bound to the object
        uint64_t stamp = 0;
    };
    explicit AttrCache(Handle self) : self_(self.ptr()) {}
    // The current value of self.<slot.name>.
    const Slot& get(Slot& slot) {
        uint64_t now = stamp();
        return get(slot, now);
    }
    // The same, `stamp` being what stamp() gave with no Python code run since;
    // a lookup (which may run Python code) takes it again.
    const Slot& get(Slot& slot, uint64_t& stamp) {
        if (slot.stamp && slot.stamp == stamp) return slot;
        const Slot& found = lookup(slot);
        stamp = this->stamp();
        return found;
    }
    // A number that stays the same while the lookups cannot change; 0 when that cannot be told.
    uint64_t stamp() {
        PyTypeObject* type = Py_TYPE(self_);
        if (type == type_ && PyType_HasFeature(type, Py_TPFLAGS_VALID_VERSION_TAG) &&
            type->tp_version_tag == type_version_) {
            PyObject* dict = dict_slot_ ? *dict_slot_ : nullptr;
            if (dict == dict_ && (!dict || dict_version(dict) == dict_version_)) return stamp_;
        }
        return restamp();
    }
    Handle self() const { return self_; }

private:
    uint64_t restamp();
    const Slot& lookup(Slot& slot);

    PyObject* self_;  // the object of the running call, alive through it
    PyTypeObject* type_ = nullptr;  // null: no stamp
    unsigned int type_version_ = 0;
    PyObject** dict_slot_ = nullptr;
    PyObject* dict_ = nullptr;
    uint64_t dict_version_ = 0;
    uint64_t stamp_ = 0;
};

// f(args...) through the vectorcall protocol, with room in front of the
// arguments for the object of a bound method (no copy of them).
template <class... A>
Object invoke(Handle f, A... args) {
    PyObject* v[] = {nullptr, Handle(args).ptr()...};
    return own(PyObject_Vectorcall(f.ptr(), v + 1, sizeof...(A) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

// An overridable method of an object, self.<name>:
//   if (hook.native()) return base_body(...);  return hook.call(a, b);
// or, in one, hook.call([&] { return base_body(a, b); }, a, b).
class Hook {
public:
    Hook(AttrCache& attrs, PyObject* name, PyObject* base_method) : attrs_(attrs), slot_{name, base_method} {}
    // Whether self.<name> is the base class's own method now.
    bool native() { return attrs_.get(slot_).native; }
    // self.<name>(args...), the method as it is found now.
    template <class... A>
    Object call(A... args) {
        Object method = attrs_.get(slot_).value;  // held through the call, which may rebind it
        return invoke(method, args...);
    }
    // The same call, with `native()` (the C++ body, giving what the method
    // would return) run in its place while self.<name> is the base class's own
    // method, so that no arguments are packed:
    //   hook.call([&] { return base_body(a, b); }, a, b)
    template <class Native, class... A, class = std::enable_if_t<std::is_invocable_r_v<Object, Native&>>>
    Object call(Native&& native, const A&... args) {
        const AttrCache::Slot& found = attrs_.get(slot_);
        if (found.native) return native();
        Object method = found.value;  // held through the call, which may rebind it
        return invoke(method, Handle(args)...);
    }

private:
    AttrCache& attrs_;
    AttrCache::Slot slot_;
};

}  // namespace pyutil
