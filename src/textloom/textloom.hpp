// Shared frame of the module mirel.textloom._textloom (device operations).
//
// Module-level names (core, tcl, logger, re, sys, the tables, the classes,
// showCmdCache, get_os_type, Device) are looked up in the module's dict at
// each use, and core's functions and tables are read from the core module at
// each use: this module reaches core only through Python attributes.
#pragma once
#include <Python.h>
#include "pyutil/errors.hpp"
#include "pyutil/names.hpp"
#include "pyutil/ops.hpp"
#include "pyutil/pyclass.hpp"

namespace textloom {

namespace py = pybind11;
using pyutil::borrow;
using pyutil::check;
using pyutil::own;
using pyutil::PyError;

// The module and its dict, kept for the life of the process.
PyObject* module();
PyObject* globals();
// "mirel.textloom._textloom": the __module__ of every class and function.
PyObject* module_name();

// The current binding of a module-level name, held; NameError when unbound.
inline pyutil::Held global(PyObject* name) { return pyutil::Held(pyutil::lookup_global(globals(), name)); }
// core.<name>, read from the module bound as `core` now.
inline py::object core_attr(PyObject* name) { return pyutil::getattr(global(PYU_STR("core")), name); }

// logger.warning(fmt, arg) through the current `logger`.
void log_warning(PyObject* fmt, PyObject* arg);

// The connection that an alias names: the device's attribute, or for names
// joined by dots the attributes in turn, from the device outward.
py::object resolve_connection(PyObject* device, PyObject* alias);

// get_os_type(device=device, alias=alias) through the current binding.
py::object detect_os(PyObject* device, PyObject* alias);

// Puts the text to parse for self._device into core.text_to_parse: the
// supplied output when it is true, else a run through showCmdCache (when
// self._refresh_cache is set, or nothing is cached for the device), else the
// cached output.
void acquire_text(PyObject* self, PyObject* supplied);

// The first steps of the check and fill constructors: refuses a missing
// attrvalpairs, then stores raw_cli, _errors, _show_command and the refresh flags.
void prepare_operation(PyObject* self, PyObject* show_command, PyObject* attrvalpairs, PyObject* refresh_cache,
                       PyObject* device_output);
// AttributeError "Neither 'device' nor 'device_output' ..." of the check and fill constructors.
[[noreturn]] void missing_device(PyObject* self);

// The device-or-output choice of the operation constructors: stores
// _device, _device_conn_alias and _device_os.  Returns false (storing
// nothing) when neither a true device nor a true output was given.
bool choose_device(PyObject* self, PyObject* device, PyObject* device_conn_alias, PyObject* device_output,
                   PyObject* device_os);

// A class of this module deriving from `base` that defines only __init__.
py::object make_subclass(const char* name, PyObject* base, const char* doc, py::object init);

// Builders, called by the module init in load order.
py::object make_get_os_type();
py::object make_extend_markup();
py::object make_extend();
py::object make_isstr();
py::object make_cmd_cache_class();
py::object make_oper_check_class(PyObject* predicate);
py::object make_oper_fill_class(PyObject* oper_check);
py::object make_oper_fill_tabular_class(PyObject* table_core);
py::object make_device_class();

// The text form of check and fill operations (their __str__).
py::object make_diagnosis_method();

}  // namespace textloom
