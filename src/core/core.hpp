// Shared frame of the module mirel.textloom.core.
//
// Every module-level name (tables, supported_oses, logger, warning, isstr,
// the re functions, the classes) is looked up in the module's dict at each
// use, so a name rebound from outside takes effect at the next call.
#pragma once
#include <Python.h>
#include "pyutil/errors.hpp"
#include "pyutil/module.hpp"
#include "pyutil/names.hpp"
#include "pyutil/ops.hpp"
#include "pyutil/pyclass.hpp"

namespace core {

using pyutil::Handle;
using pyutil::Object;
using pyutil::Args;
using pyutil::borrow;
using pyutil::check;
using pyutil::own;
using pyutil::PyError;

// The module's frame, kept for the life of the process.
const pyutil::ModuleFrame& frame();
// "mirel.textloom.core": the __module__ of every class and function.
inline Handle module_name() { return frame().name(); }

// The current binding of a module-level name, owned; NameError when unbound.
inline Object global(Handle name) { return frame().global(name); }

// re's own functions, to tell them from a rebinding of core's names.
inline Handle re_compile() { return PYU_ONCE(pyutil::getattr(pyutil::import("re"), PYU_STR("compile"))); }
inline Handle re_match() { return PYU_ONCE(pyutil::getattr(pyutil::import("re"), PYU_STR("match"))); }
inline Handle re_search() { return PYU_ONCE(pyutil::getattr(pyutil::import("re"), PYU_STR("search"))); }
inline Handle re_sub() { return PYU_ONCE(pyutil::getattr(pyutil::import("re"), PYU_STR("sub"))); }
inline Handle re_escape() { return PYU_ONCE(pyutil::getattr(pyutil::import("re"), PYU_STR("escape"))); }

// warning(s) as the module's functions call it: through the current `warning`.
void warn(Handle message);
// isstr(s) through the current `isstr` binding.
bool isstr(Handle s);
// table[routerOs][key] when routerOs is a key of the table and key one of that
// entry, else table[key] when key is a key of the table; null when neither.
// `table` gives the table's current binding and is asked at each step, as a
// module-level name is read, so that what a key's __eq__ or __hash__ replaces
// meanwhile is seen.
Object registered(Object (*table)(), Handle routerOs, Handle key);
// _get_regex(routerOs, attribute) through the current `_get_regex` binding.
Object get_regex(Handle routerOs, Handle attribute);
// Whether `f` is the module's own `_get_regex`, which reads only the registry.
bool is_own_get_regex(Handle f);
// collections.Iterable through the current `collections` binding.
Object iterable_abc();

// Builders, called by the module init in load order.  Each returns the new object.
Object make_warning();
Object make_isstr();
Object make_supported_oses();
Object make_extend();
Object make_get_regex();

Object make_is_int();
Object make_default_formatter();
Object make_get_show_command();

Object make_mk_textloom_class();
Object make_extend_markup();

Object make_textloom_class();

Object make_column_result_class();
Object make_column_table_result_core_class(Handle base);

}  // namespace core
