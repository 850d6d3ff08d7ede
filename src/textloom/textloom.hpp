// Shared frame of the module mirel.textloom._textloom (device operations).
//
// Module-level names (core, tcl, logger, re, sys, the tables, the classes,
// showCmdCache, get_os_type, Device) are looked up in the module's dict at
// each use, and core's functions and tables are read from the core module at
// each use: this module reaches core only through Python attributes.
#pragma once
#include <Python.h>
#include "pyutil/errors.hpp"
#include "pyutil/module.hpp"
#include "pyutil/names.hpp"
#include "pyutil/ops.hpp"
#include "pyutil/pyclass.hpp"

namespace textloom {

using pyutil::Handle;
using pyutil::Object;
using pyutil::Args;
using pyutil::borrow;
using pyutil::check;
using pyutil::own;
using pyutil::PyError;

// The module's frame, kept for the life of the process.
const pyutil::ModuleFrame& frame();

// The current binding of a module-level name, owned; NameError when unbound.
inline Object global(Handle name) { return frame().global(name); }
// The module bound as `core` now.
Object core_module();
// core.<name>, read from the module bound as `core` now.
inline Object core_attr(Handle name) { return pyutil::getattr(core_module(), name); }

// logger.warning(fmt, arg) through the current `logger`.
void log_warning(Handle fmt, Handle arg);
// logger.warning of the current `logger`, for a call whose argument is read after it.
Object logger_warning();

// self._device.name, read now.
Object device_name(Handle self);
// core.text_to_parse[self._device.name] = text: the table is read before the
// name, as for a subscript target.
void store_text(Handle self, Handle text);
// core.text_to_parse[self._device.name]
Object stored_text(Handle self);

// The connection that an alias names: the device's attribute, or for names
// joined by dots the attributes in turn, from the device outward.
Object resolve_connection(Handle device, Handle alias);

// get_os_type(device=device, alias=alias) through the current binding.
Object detect_os(Handle device, Handle alias);

// Puts the text to parse for self._device into core.text_to_parse: the
// supplied output when it is true, else a run through showCmdCache (when
// self._refresh_cache is set, or nothing is cached for the device), else the
// cached output.
void acquire_text(Handle self, Handle supplied);

// The first steps of the check and fill constructors: refuses a missing
// attrvalpairs, then stores raw_cli, _errors, _show_command and the refresh flags.
void prepare_operation(Handle self, Handle show_command, Handle attrvalpairs, Handle refresh_cache,
                       Handle device_output);
// AttributeError "Neither 'device' nor 'device_output' ..." of the check and fill constructors.
[[noreturn]] void missing_device(Handle self);

// The device-or-output choice of the operation constructors: stores
// _device, _device_conn_alias and _device_os.  Returns false (storing
// nothing) when neither a true device nor a true output was given.
bool choose_device(Handle self, Handle device, Handle device_conn_alias, Handle device_output, Handle device_os);

// A class of this module deriving from `base` that defines only __init__.
Object make_subclass(const char* name, Handle base, const char* doc, Object init);

// Builders, called by the module init in load order.
Object make_get_os_type();
Object make_extend_markup();
Object make_extend();
Object make_isstr();
Object make_cmd_cache_class();
Object make_oper_check_class(Handle predicate);
Object make_oper_fill_class(Handle oper_check);
Object make_oper_fill_tabular_class(Handle table_core);
Object make_device_class();

// The text form of check and fill operations (their __str__).
Object make_diagnosis_method();

}  // namespace textloom
