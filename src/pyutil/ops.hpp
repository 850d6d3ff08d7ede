// The interpreter's generic operations, throwing PyError on failure.
//
// Every helper takes Handle, so a call site passes an Object it owns, or a
// borrowed PyObject*, as it stands, and reads like the Python it mirrors:
// `contains(table, key)` is `key in table`, `call(f, {a, b})` is `f(a, b)`.
#pragma once
#include <Python.h>
#include <initializer_list>
#include "pyutil/errors.hpp"

namespace pyutil {

// ---- truth and comparison ------------------------------------------------------

// type(o), borrowed: a type lives as long as its instances.
inline Handle type_of(Handle o) { return reinterpret_cast<PyObject*>(Py_TYPE(o.ptr())); }
// bool(o)
inline bool truth(Handle o) { return check(PyObject_IsTrue(o.ptr())) != 0; }
// bool(a == b) and bool(a != b): the comparison alone, as the expression does it.
bool equal(Handle a, Handle b);
bool not_equal(Handle a, Handle b);
// `a is b or a == b`: how `in`, list.index and dict keys compare.
inline bool same_or_equal(Handle a, Handle b) {
    // two exact str compare without a call: no user code can run
    if (PyUnicode_CheckExact(a.ptr()) && PyUnicode_CheckExact(b.ptr())) return a.is(b) || _PyUnicode_EQ(a.ptr(), b.ptr());
    return check(PyObject_RichCompareBool(a.ptr(), b.ptr(), Py_EQ)) != 0;
}
// `a is not b and a != b`: the inequality containers use.
inline bool differs(Handle a, Handle b) { return check(PyObject_RichCompareBool(a.ptr(), b.ptr(), Py_NE)) != 0; }
// a <= b, the result as the comparison gives it (not only its truth).
inline Object less_equal(Handle a, Handle b) { return own(PyObject_RichCompare(a.ptr(), b.ptr(), Py_LE)); }
// isinstance(o, cls)
inline bool isinstance(Handle o, Handle cls) { return check(PyObject_IsInstance(o.ptr(), cls.ptr())) != 0; }
// a >= b, the result as the comparison gives it (not only its truth).
inline Object greater_equal(Handle a, Handle b) { return own(PyObject_RichCompare(a.ptr(), b.ptr(), Py_GE)); }

// ---- numbers, sizes, texts -------------------------------------------------------

// int(n)
inline Object integer(Py_ssize_t n) { return own(PyLong_FromSsize_t(n)); }
// bool(b): True or False
inline Object boolean(bool b) { return borrow(b ? Py_True : Py_False); }
// operator.index(o) as a C++ integer; OverflowError beyond its range.
Py_ssize_t as_index(Handle o);
// len(o)
Py_ssize_t length(Handle o);
// a + b, a - b, a * b
inline Object add(Handle a, Handle b) { return own(PyNumber_Add(a.ptr(), b.ptr())); }
inline Object subtract(Handle a, Handle b) { return own(PyNumber_Subtract(a.ptr(), b.ptr())); }
inline Object multiply(Handle a, Handle b) { return own(PyNumber_Multiply(a.ptr(), b.ptr())); }
// a += b: the result to bind to a's name (a itself for a mutable a).
inline Object inplace_add(Handle a, Handle b) { return own(PyNumber_InPlaceAdd(a.ptr(), b.ptr())); }
// str(o), repr(o)
inline Object str(Handle o) { return own(PyObject_Str(o.ptr())); }
inline Object repr(Handle o) { return own(PyObject_Repr(o.ptr())); }
// A new str of a UTF-8 C text.
inline Object str(const char* utf8) { return own(PyUnicode_FromString(utf8)); }
// The empty str.
Handle empty_str();
// fmt.format(*args) for a format text `fmt` (a str).
Object format(Handle fmt, std::initializer_list<Handle> args);
// fmt % args, args being a tuple (so a tuple value is formatted as one item).
Object percent_format(Handle fmt, std::initializer_list<Handle> args);

// A text built from pieces and joined once (no quadratic growth).
class TextBuilder {
public:
    TextBuilder();
    TextBuilder& operator<<(Handle piece);
    // "".join(pieces)
    Object joined() const;

private:
    Object pieces_;
};

// ---- items ------------------------------------------------------------------------

inline Object getitem(Handle o, Handle key) { return own(PyObject_GetItem(o.ptr(), key.ptr())); }
inline Object getitem(Handle o, Py_ssize_t i) { return own(PySequence_GetItem(o.ptr(), i)); }
inline void setitem(Handle o, Handle key, Handle value) { check(PyObject_SetItem(o.ptr(), key.ptr(), value.ptr())); }
inline void delitem(Handle o, Handle key) { check(PyObject_DelItem(o.ptr(), key.ptr())); }
inline void delitem(Handle o, Py_ssize_t i) { check(PySequence_DelItem(o.ptr(), i)); }
// `item in container`
inline bool contains(Handle container, Handle item) {
    return check(PySequence_Contains(container.ptr(), item.ptr())) != 0;
}
// list.append(item) of an exact list
inline void append(Handle list, Handle item) { check(PyList_Append(list.ptr(), item.ptr())); }
// A new list or dict.
inline Object new_list() { return own(PyList_New(0)); }
inline Object new_dict() { return own(PyDict_New()); }
// set(iterable), or set() without one.
inline Object new_set(Handle iterable = Handle()) { return own(PySet_New(iterable.ptr())); }
// list(iterable), sorted(iterable)
inline Object list_of(Handle iterable) { return own(PySequence_List(iterable.ptr())); }
Object sorted(Handle iterable);
// slice(start, stop)
inline Object new_slice(Handle start, Handle stop) { return own(PySlice_New(start.ptr(), stop.ptr(), nullptr)); }
// set.add(item) of an exact set
inline void set_add(Handle set, Handle item) { check(PySet_Add(set.ptr(), item.ptr())); }
// dict.get(key) of a dict, owned; a null object when the key is absent
Object dict_get(Handle dict, Handle key);
// dict[key] = value into a dict's own table (a subclass's __setitem__ passed by)
inline void dict_set(Handle dict, Handle key, Handle value) {
    check(PyDict_SetItem(dict.ptr(), key.ptr(), value.ptr()));
}
// (items...) as a tuple
Object tuple(std::initializer_list<Handle> items);

// ---- iteration -----------------------------------------------------------------------

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
// `a, b = item`, with the interpreter's errors for items of another length.
void unpack2(Handle item, Object& a, Object& b);
// `a, b, c, ... = item` for any number of targets, with the same errors.
void unpack(Handle item, std::initializer_list<Object*> targets);

// ---- attributes ----------------------------------------------------------------------------

inline Object getattr(Handle obj, Handle name) { return own(PyObject_GetAttr(obj.ptr(), name.ptr())); }
inline void setattr(Handle obj, Handle name, Handle value) {
    check(PyObject_SetAttr(obj.ptr(), name.ptr(), value.ptr()));
}
// Which failures of an attribute read count as the attribute's absence.
enum class Absent {
    on_attribute_error,  // as hasattr() and getattr(o, n, default)
    on_exception,        // any Exception; other BaseExceptions propagate
    on_any_error,        // any error at all
};
// getattr(obj, name), or a null object when the read fails in a way that
// `absent` counts as absence (the error is then cleared).
Object attr_if_present(Handle obj, Handle name, Absent absent = Absent::on_attribute_error);

// ---- calls -----------------------------------------------------------------------------------

// callable(*args)
Object call(Handle callable, std::initializer_list<Handle> args);
// callable(*args, **dict(zip(kwnames, kwargs))): `kwnames` is a tuple of str
// (PYU_KWNAMES) naming the last len(kwnames) items of `args`.
Object call_kw(Handle callable, std::initializer_list<Handle> args, Handle kwnames);
// callable(**kwargs) for a dict `kwargs`: the callable gets a copy, as the call statement makes one.
Object call_with_kwargs(Handle callable, Handle kwargs);
// obj.<name>(*args), looking the method up on the object.
Object call_method(Handle obj, Handle name, std::initializer_list<Handle> args);
// super(cls, self).<name>(*args)
Object super_call(Handle cls, Handle self, Handle name, std::initializer_list<Handle> args);
// `import name`: the module of a dotted name.
Object import(const char* name);

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
