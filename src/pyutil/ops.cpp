#include "pyutil/ops.hpp"
#include <vector>
#include "pyutil/names.hpp"

namespace pyutil {

namespace detail {

ArgVector::ArgVector(std::initializer_list<Handle> args) : n_(args.size()) {
    if (n_ > local_size) items_ = new PyObject*[n_];
    size_t i = 0;
    for (Handle a : args) items_[i++] = a.ptr();
}

ArgVector::ArgVector(Handle first, std::initializer_list<Handle> rest) : n_(rest.size() + 1) {
    if (n_ > local_size) items_ = new PyObject*[n_];
    items_[0] = first.ptr();
    size_t i = 1;
    for (Handle a : rest) items_[i++] = a.ptr();
}

}  // namespace detail

bool equal(Handle a, Handle b) { return truth(own(PyObject_RichCompare(a.ptr(), b.ptr(), Py_EQ))); }
bool not_equal(Handle a, Handle b) { return truth(own(PyObject_RichCompare(a.ptr(), b.ptr(), Py_NE))); }

Py_ssize_t as_index(Handle o) {
    Py_ssize_t v = PyNumber_AsSsize_t(o.ptr(), PyExc_OverflowError);
    if (v == -1) check_no_error();
    return v;
}

Py_ssize_t length(Handle o) {
    Py_ssize_t n = PyObject_Length(o.ptr());
    if (n < 0) throw PyError();
    return n;
}

Handle empty_str() { return PYU_STR(""); }

TextBuilder::TextBuilder() : pieces_(new_list()) {}

TextBuilder& TextBuilder::operator<<(Handle piece) {
    append(pieces_, piece);
    return *this;
}

Object TextBuilder::joined() const { return own(PyUnicode_Join(PYU_STR(""), pieces_.ptr())); }

Object sorted(Handle iterable) {
    Object list = list_of(iterable);
    check(PyList_Sort(list.ptr()));
    return list;
}

Object tuple(std::initializer_list<Handle> items) {
    Object t = own(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
    Py_ssize_t i = 0;
    for (Handle item : items) PyTuple_SET_ITEM(t.ptr(), i++, Py_NewRef(item.ptr()));
    return t;
}

Object dict_get(Handle dict, Handle key) {
    PyObject* value = PyDict_GetItemWithError(dict.ptr(), key.ptr());
    if (!value) check_no_error();
    return Object::borrow(value);
}

Object attr_if_present(Handle obj, Handle name, Absent absent) {
    PyObject* value = PyObject_GetAttr(obj.ptr(), name.ptr());
    if (value) return Object::steal(value);
    PyObject* counted = absent == Absent::on_attribute_error ? PyExc_AttributeError
                        : absent == Absent::on_exception     ? PyExc_Exception
                                                             : PyExc_BaseException;
    if (!PyErr_ExceptionMatches(counted)) throw PyError();
    PyErr_Clear();
    return Object();
}

void unpack2(Handle item, Object& a, Object& b) {
    PyObject* t = item.ptr();
    if (PyTuple_CheckExact(t) && PyTuple_GET_SIZE(t) == 2) {
        a = borrow(PyTuple_GET_ITEM(t, 0));
        b = borrow(PyTuple_GET_ITEM(t, 1));
        return;
    }
    unpack(item, {&a, &b});
}

void unpack(Handle item, std::initializer_list<Object*> targets) {
    const Py_ssize_t n = static_cast<Py_ssize_t>(targets.size());
    if (PyTuple_CheckExact(item.ptr()) && PyTuple_GET_SIZE(item.ptr()) == n) {
        Py_ssize_t i = 0;
        for (Object* target : targets) *target = borrow(PyTuple_GET_ITEM(item.ptr(), i++));
        return;
    }
    PyObject* raw = PyObject_GetIter(item.ptr());
    if (!raw) {
        // only an object that cannot be iterated at all gets the interpreter's text;
        // a TypeError raised by the object's own __iter__ or __getitem__ stays as it is
        PyTypeObject* type = Py_TYPE(item.ptr());
        if (PyErr_ExceptionMatches(PyExc_TypeError) && !type->tp_iter && !PySequence_Check(item.ptr())) {
            PyErr_Clear();
            PyErr_Format(PyExc_TypeError, "cannot unpack non-iterable %.200s object", type->tp_name);
        }
        throw PyError();
    }
    Object it = own(raw);
    std::vector<Object> got;
    for (Py_ssize_t i = 0; i < n; ++i) {
        Object v = next(it);
        if (!v) {
            PyErr_Format(PyExc_ValueError, "not enough values to unpack (expected %zd, got %zd)", n, i);
            throw PyError();
        }
        got.push_back(std::move(v));
    }
    if (next(it)) {
        PyErr_Format(PyExc_ValueError, "too many values to unpack (expected %zd)", n);
        throw PyError();
    }
    Py_ssize_t i = 0;
    for (Object* t : targets) *t = std::move(got[i++]);
}

Object call_kw(Handle callable, std::initializer_list<Handle> args, Handle kwnames) {
    detail::ArgVector v(args);
    const size_t nargs = v.size() - static_cast<size_t>(PyTuple_GET_SIZE(kwnames.ptr()));
    return own(PyObject_Vectorcall(callable.ptr(), v.data(), nargs, kwnames.ptr()));
}

Object call_with_kwargs(Handle callable, Handle kwargs) {
    Object copy = own(PyDict_Copy(kwargs.ptr()));
    Object no_args = own(PyTuple_New(0));
    return own(PyObject_Call(callable.ptr(), no_args.ptr(), copy.ptr()));
}

Object format(Handle fmt, std::initializer_list<Handle> args) {
    detail::ArgVector v(fmt, args);
    return own(PyObject_VectorcallMethod(PYU_STR("format"), v.data(), v.size(), nullptr));
}

Object percent_format(Handle fmt, std::initializer_list<Handle> args) {
    return own(PyUnicode_Format(fmt.ptr(), tuple(args).ptr()));
}

Object call(Handle callable, std::initializer_list<Handle> args) {
    detail::ArgVector v(args);
    return own(PyObject_Vectorcall(callable.ptr(), v.data(), v.size(), nullptr));
}

Object call_method(Handle obj, Handle name, std::initializer_list<Handle> args) {
    detail::ArgVector v(obj, args);
    return own(PyObject_VectorcallMethod(name.ptr(), v.data(), v.size(), nullptr));
}

Object super_call(Handle cls, Handle self, Handle name, std::initializer_list<Handle> args) {
    Object sup = call(reinterpret_cast<PyObject*>(&PySuper_Type), {cls, self});
    return call(getattr(sup, name), args);
}

Object import(const char* name) { return own(PyImport_ImportModule(name)); }

}  // namespace pyutil
