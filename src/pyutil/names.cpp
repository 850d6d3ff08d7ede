#include "pyutil/names.hpp"
#include "pyutil/errors.hpp"

namespace pyutil {

PyObject* intern_forever(const char* text) {
    PyObject* s = PyUnicode_InternFromString(text);
    if (!s) throw PyError();
    return s;
}

}  // namespace pyutil
