// The interpreter's generic operations, throwing PyError on failure.
//
// Every helper takes Handle, so a call site passes a Object it owns,
// or a borrowed PyObject*, as it stands.
#pragma once
#include <Python.h>
#include <initializer_list>
#include "pyutil/errors.hpp"

namespace pyutil {

inline bool truth(Handle o) { return check(PyObject_IsTrue(o.ptr())) != 0; }
// `item in container`
inline bool contains(Handle container, Handle item) {
    return check(PySequence_Contains(container.ptr(), item.ptr())) != 0;
}
inline Object getitem(Handle o, Handle key) { return own(PyObject_GetItem(o.ptr(), key.ptr())); }
inline void setitem(Handle o, Handle key, Handle value) {
    check(PyObject_SetItem(o.ptr(), key.ptr(), value.ptr()));
}
// `a != b` / `a == b`, as truth values
inline bool not_equal(Handle a, Handle b) {
    return check(PyObject_RichCompareBool(a.ptr(), b.ptr(), Py_NE)) != 0;
}
inline bool equal(Handle a, Handle b) { return check(PyObject_RichCompareBool(a.ptr(), b.ptr(), Py_EQ)) != 0; }
inline Object iter(Handle o) { return own(PyObject_GetIter(o.ptr())); }
// The next item of an iterator, or a null object at its end.
inline Object next(Handle it) {
    PyObject* item = PyIter_Next(it.ptr());
    if (!item) {
        check_no_error();
        return Object();
    }
    return Object::steal(item);
}
inline Object str(Handle o) { return own(PyObject_Str(o.ptr())); }

// `a, b = item`, with the interpreter's errors for items of another length.
void unpack2(Handle item, Object& a, Object& b);
// `a, b, c, ... = item` for any number of targets, with the same errors.
void unpack(Handle item, std::initializer_list<Object*> targets);

// callable(*args, **dict(zip(kwnames, kwargs))): `kwnames` is a tuple of str
// naming the last len(kwnames) items of `args`.
Object call_kw(Handle callable, std::initializer_list<Handle> args, Handle kwnames);

// fmt.format(*args) for a format text `fmt` (a str).
Object format(Handle fmt, std::initializer_list<Handle> args);
// fmt % args, args being a tuple (so a tuple value is formatted as one item).
Object percent_format(Handle fmt, std::initializer_list<Handle> args);

namespace detail {
// The pointers of an argument list, for the vectorcall protocol, with an
// optional first item (the object of a method call) put in front.
class ArgVector {
public:
    ArgVector(Handle first, std::initializer_list<Handle> rest);
    explicit ArgVector(std::initializer_list<Handle> args);
    ArgVector(const ArgVector&) = delete;
    ArgVector& operator=(const ArgVector&) = delete;
    ~ArgVector() {
        if (items_ != local_) delete[] items_;
    }
    PyObject** data() { return items_; }
    size_t size() const { return n_; }

private:
    static constexpr size_t local_size = 12;
    PyObject* local_[local_size];
    PyObject** items_ = local_;
    size_t n_ = 0;
};
}  // namespace detail

}  // namespace pyutil
