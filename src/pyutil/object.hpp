// Owned and borrowed references to interpreter objects.
//
// An Object owns one strong reference and releases it when it goes; a
// Handle only points at an object that something else keeps alive, so it is
// what parameters take (an Object or a PyObject* passes as it stands) and
// never what code keeps across a call that can run Python code.
#pragma once
#include <Python.h>
#include <utility>

namespace pyutil {

class Handle {
public:
    constexpr Handle() = default;
    constexpr Handle(PyObject* p) : p_(p) {}
    PyObject* ptr() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    bool is(Handle other) const { return p_ == other.p_; }
    bool is_none() const { return p_ == Py_None; }

protected:
    PyObject* p_ = nullptr;
};

class Object : public Handle {
public:
    Object() = default;
    Object(const Object& o) : Handle(o.p_) { Py_XINCREF(p_); }
    Object(Object&& o) noexcept : Handle(o.p_) { o.p_ = nullptr; }
    ~Object() { Py_XDECREF(p_); }
    Object& operator=(const Object& o) {
        Object(o).swap(*this);
        return *this;
    }
    Object& operator=(Object&& o) noexcept {
        Object(std::move(o)).swap(*this);
        return *this;
    }

    // Takes over a new reference (which may be null).
    static Object steal(PyObject* p) {
        Object o;
        o.p_ = p;
        return o;
    }
    // Takes a reference of its own to a borrowed object.
    static Object borrow(Handle h) {
        Py_XINCREF(h.ptr());
        return steal(h.ptr());
    }
    // Hands the reference over to the caller.
    PyObject* release() {
        PyObject* p = p_;
        p_ = nullptr;
        return p;
    }
    // A further reference for the caller; this one stays.
    PyObject* new_ref() const {
        Py_XINCREF(p_);
        return p_;
    }
    void swap(Object& o) noexcept { std::swap(p_, o.p_); }
};

}  // namespace pyutil
