// Placeholder bodies for members whose behaviour is not built yet.
#pragma once
#include "core/core.hpp"

namespace core {

inline py::object not_built(PyObject* const*) {
    pyutil::raise(PyExc_NotImplementedError, "not built yet");
}

}  // namespace core
