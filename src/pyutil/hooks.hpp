// Overridable methods resolved once per run.
//
// A parser calls its hooks through the object so that subclasses and instance
// attributes can replace them.  Resolving `self.<hook>` once and comparing it
// with the base's own function lets the common case call the C++ body
// directly, with no Python call per row.
#pragma once
#include <Python.h>
#include "pyutil/errors.hpp"

namespace pyutil {

class Hook {
public:
    Hook() = default;
    // `base_function` is the base class's method as make_method made it:
    // what the class attribute reads as, and what a bound method's __func__ is.
    Hook(Handle self, Handle name, PyObject* base_function) {
        bound_ = own(PyObject_GetAttr(self.ptr(), name.ptr()));
        PyObject* b = bound_.ptr();
        native_ = PyMethod_Check(b) && PyMethod_GET_FUNCTION(b) == base_function && PyMethod_GET_SELF(b) == self.ptr();
    }
    // True when the base's C++ body may be called directly.
    bool native() const { return native_; }
    // Calls the resolved attribute with positional arguments (borrowed).
    template <size_t N>
    Object operator()(PyObject* const (&args)[N]) const {
        return own(PyObject_Vectorcall(bound_.ptr(), const_cast<PyObject**>(args), N, nullptr));
    }
    Object operator()() const { return own(PyObject_CallNoArgs(bound_.ptr())); }
    PyObject* bound() const { return bound_.ptr(); }

private:
    Object bound_;
    bool native_ = false;
};

}  // namespace pyutil
