// Error handling between C++ and the interpreter.
//
// C++ code signals "a Python exception is set" by throwing PyError; the
// boundary() wrapper at every entry point turns it (and C++ exceptions) back
// into a set error + nullptr.
#pragma once
#include <Python.h>
#include "pyutil/object.hpp"
#include <exception>
#include <new>
#include <string>

namespace pyutil {

// Thrown when the interpreter's error indicator is set.
struct PyError {};

// Steals a new reference; throws PyError when it is null.
inline Object own(PyObject* p) {
    if (!p) throw PyError();
    return Object::steal(p);
}

// Takes a borrowed reference (which must not be null).
inline Object borrow(Handle h) { return Object::borrow(h); }

// Throws PyError for a C API status below zero; returns the status otherwise.
inline int check(int status) {
    if (status < 0) throw PyError();
    return status;
}

// Throws PyError when a Python error is set (for APIs that return -1/NULL ambiguously).
inline void check_no_error() {
    if (PyErr_Occurred()) throw PyError();
}

[[noreturn]] void raise(PyObject* type, const char* message);
[[noreturn]] void raise(PyObject* type, Handle value);
// Raises `type` with no arguments (as `raise KeyError` does).
[[noreturn]] void raise_bare(PyObject* type);

// True when the interpreter runs with -O: assertions are then skipped.
bool assertions_disabled();

// The `assert cond, message` statement: raises AssertionError(message) unless -O.
inline void assert_that(bool cond, Handle message) {
    if (!cond && !assertions_disabled()) raise(PyExc_AssertionError, message);
}
void assert_that(bool cond, const char* message);

// An exception taken off the error indicator (normalised, its traceback set),
// as an `except` clause receives it.
class CaughtError {
public:
    // Takes the pending error; the indicator must be set.
    static CaughtError fetch();
    // The error pending now when it is an instance of `type` (taken off the
    // indicator), else a null CaughtError and the indicator untouched.
    static CaughtError fetch_if(PyObject* type);

    explicit operator bool() const { return bool(value_); }
    Handle value() const { return value_; }
    // type(value), and its __traceback__ or None: with value, what sys.exc_info() gives.
    Handle type() const { return reinterpret_cast<PyObject*>(Py_TYPE(value_.ptr())); }
    Object traceback() const;
    // `raise` of the caught error as it was (traceback and context kept).
    [[noreturn]] void raise_again() const;

    // Runs `body` as this error's `except` block: meanwhile it is the error
    // being handled (sys.exception()), so an error raised in the body gets it
    // as its __context__, as in Python.  Returns what the body returns.
    template <class Body>
    auto handle(Body&& body) const {
        Handling scope(value_);
        return body();
    }

private:
    // The thread's handled exception replaced for the scope's lifetime.
    class Handling {
    public:
        explicit Handling(Handle error);
        Handling(const Handling&) = delete;
        Handling& operator=(const Handling&) = delete;
        ~Handling();

    private:
        PyObject* outer_;
    };

    Object value_;
};

// Runs `body` (returning Object) and converts every C++ exception into a
// Python error; returns a new reference, or nullptr with the error set.
template <class Body>
PyObject* boundary(Body&& body) noexcept {
    try {
        return body().release();
    } catch (PyError&) {
    } catch (std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (std::exception& e) {
        PyErr_SetString(PyExc_SystemError, e.what());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "unknown C++ exception");
    }
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "error return without exception set");
    return nullptr;
}

}  // namespace pyutil
