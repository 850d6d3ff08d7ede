// Test-only module: the regex syntax readers of pyutil, called from Python.
#include <Python.h>
#include <vector>
#include "pyutil/errors.hpp"
#include "pyutil/regex.hpp"

namespace {

using namespace pyutil;

// The str argument of a call, or null with a TypeError set.
PyObject* text_arg(PyObject* const* args, Py_ssize_t nargs, Py_ssize_t want) {
    if (nargs != want || !PyUnicode_Check(args[0])) {
        PyErr_SetString(PyExc_TypeError, "expected a str (and an index)");
        return nullptr;
    }
    return args[0];
}

template <class Read>
PyObject* read_text(PyObject* const* args, Py_ssize_t nargs, Read&& read) {
    PyObject* s = text_arg(args, nargs, 1);
    return s ? boundary([&] { return read(s); }) : nullptr;
}

// f(s, i) for a reader of the code points at an index.
template <Py_ssize_t (*f)(const CodePoints&, Py_ssize_t)>
PyObject* at_index(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    PyObject* s = text_arg(args, nargs, 2);
    if (!s) return nullptr;
    Py_ssize_t i = PyLong_AsSsize_t(args[1]);
    if (i == -1 && PyErr_Occurred()) return nullptr;
    return PyLong_FromSsize_t(f(CodePoints(s), i));
}

Object boolean(bool b) { return borrow(b ? Py_True : Py_False); }

// (the code points as operator[] reads them, get() at the size and past it, kind())
PyObject* code_points(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return read_text(args, nargs, [](PyObject* s) {
        const CodePoints at(s);
        Object list = own(PyList_New(at.size()));
        for (Py_ssize_t i = 0; i < at.size(); ++i) PyList_SET_ITEM(list.ptr(), i, own(PyLong_FromUnsignedLong(at[i])).release());
        return own(Py_BuildValue("(Okki)", list.ptr(), static_cast<unsigned long>(at.get(at.size())),
                                 static_cast<unsigned long>(at.get(at.size() + 7)), at.kind()));
    });
}

// any object, as the callers pass it
PyObject* hoist(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 1) return text_arg(args, nargs, 1);
    return boundary([&] { return hoist_global_flags(args[0]); });
}

PyObject* traits(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return read_text(args, nargs, [](PyObject* s) {
        PatternTraits t = pattern_traits(s);
        return own(PyTuple_Pack(2, boolean(t.lazy_ok).ptr(), boolean(t.from_offset).ptr()));
    });
}

PyObject* balance(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return read_text(args, nargs, [](PyObject* s) { return boolean(groups_balance(s)); });
}

PyObject* inline_flags(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return read_text(args, nargs, [](PyObject* s) { return boolean(has_inline_flags(s)); });
}

PyObject* prefix_length(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return read_text(args, nargs, [](PyObject* s) { return own(PyLong_FromSsize_t(literal_prefix_length(s))); });
}

PyObject* non_space_first(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return read_text(args, nargs, [](PyObject* s) { return boolean(takes_non_space_first(s)); });
}

// (a list of str, flags): the alternation's text, or None
PyObject* alternation_of(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 2 || !PyList_Check(args[0])) {
        PyErr_SetString(PyExc_TypeError, "expected a list and flags");
        return nullptr;
    }
    long flags = PyLong_AsLong(args[1]);
    if (flags == -1 && PyErr_Occurred()) return nullptr;
    return boundary([&] {
        std::vector<Object> patterns;
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(args[0]); ++i) patterns.push_back(borrow(PyList_GET_ITEM(args[0], i)));
        Object text = alternation(patterns, flags);
        return text ? text : borrow(Py_None);
    });
}

using Fast = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t);
PyMethodDef fast(const char* name, Fast f) {
    return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f)), METH_FASTCALL, nullptr};
}

PyMethodDef methods[] = {fast("code_points", code_points),
                         fast("class_end", at_index<class_end>),
                         fast("flag_group_end", at_index<flag_group_end>),
                         fast("hoist_global_flags", hoist),
                         fast("pattern_traits", traits),
                         fast("groups_balance", balance),
                         fast("has_inline_flags", inline_flags),
                         fast("literal_prefix_length", prefix_length),
                         fast("takes_non_space_first", non_space_first),
                         fast("alternation", alternation_of),
                         {nullptr, nullptr, 0, nullptr}};

PyModuleDef module = {PyModuleDef_HEAD_INIT, "_regex_probe", nullptr, 0, methods};

}  // namespace

PyMODINIT_FUNC PyInit__regex_probe() { return PyModule_Create(&module); }
