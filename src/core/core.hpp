// Shared frame of the module mirel.textloom.core.
//
// Every module-level name (tables, supported_oses, logger, warning, isstr,
// the re functions, the classes) is looked up in the module's dict at each
// use, so a name rebound from outside takes effect at the next call.
#pragma once
#include <Python.h>
#include "pyutil/errors.hpp"
#include "pyutil/names.hpp"
#include "pyutil/pyclass.hpp"

namespace core {

namespace py = pybind11;
using pyutil::borrow;
using pyutil::check;
using pyutil::own;
using pyutil::PyError;

// The module and its dict, kept for the life of the process.
PyObject* module();
PyObject* globals();
// "mirel.textloom.core": the __module__ of every class and function.
PyObject* module_name();

// The current binding of a module-level name, held; NameError when unbound.
inline pyutil::Held global(PyObject* name) { return pyutil::Held(pyutil::lookup_global(globals(), name)); }

// warning(s) as the module's functions call it: through the current `warning`.
void warn(PyObject* message);
// isstr(s) through the current `isstr` binding.
bool isstr(PyObject* s);
// _get_regex(routerOs, attribute) through the current `_get_regex` binding.
py::object get_regex(PyObject* routerOs, PyObject* attribute);

// Builders, called by the module init in load order.  Each returns the new object.
py::object make_warning();
py::object make_isstr();
py::object make_supported_oses();
py::object make_extend();
py::object make_get_regex();

py::object make_is_int();
py::object make_default_formatter();
py::object make_get_show_command();

py::object make_mk_textloom_class();
py::object make_extend_markup();

py::object make_textloom_class();

py::object make_column_result_class();
py::object make_column_table_result_core_class(PyObject* base);

}  // namespace core
