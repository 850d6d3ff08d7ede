#include "pyutil/names.hpp"
#include "pyutil/errors.hpp"

namespace pyutil {

PyObject* intern_forever(const char* text) {
    PyObject* s = PyUnicode_InternFromString(text);
    if (!s) throw PyError();
    return s;
}

PyObject* names_forever(std::initializer_list<const char*> names) {
    Object tuple = own(PyTuple_New(static_cast<Py_ssize_t>(names.size())));
    Py_ssize_t i = 0;
    for (const char* name : names) PyTuple_SET_ITEM(tuple.ptr(), i++, Py_NewRef(intern_forever(name)));
    return tuple.release();
}

}  // namespace pyutil
