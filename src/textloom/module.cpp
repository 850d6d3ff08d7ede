// Module init of mirel.textloom._textloom: binds its names in load order.
//
// Built once per process like core: a second initialisation returns the
// module already built, so the command cache survives.
#include <string>
#include "common/output.hpp"
#include "pyutil/hooks.hpp"
#include "pyutil/module.hpp"
#include "textloom/textloom.hpp"

namespace textloom {
namespace {

// never destroyed: the module lives as long as the process
pyutil::ModuleFrame& the_frame = *new pyutil::ModuleFrame();

void bind(const char* name, Handle value) { the_frame.bind(name, value); }

void load() {
    // 1. standard modules
    for (const char* mod : {"logging", "re", "sys"}) bind(mod, pyutil::import(mod));
    // 2. the Tcl bridge is optional: any failure, interrupts included, leaves `tcl` unbound
    try {
        the_frame.from_import("ryn", "tcl");
    } catch (PyError&) {
        PyErr_Clear();
    }
    // 3-4. core and its tables, the very same objects
    the_frame.from_import("mirel.textloom", "core");
    for (PyObject* table : {PYU_STR("ext_dictio"), PYU_STR("_glb_regex"), PYU_STR("_glb_show_commands"),
                            PYU_STR("_glb_regex_tags")})
        pyutil::setitem(the_frame.globals(), table, core_attr(table));
    // 5. a missing predicate library ends the load
    the_frame.from_import("mirel.verdix", "Predicate");
    // 6. one supported-OS list, shared with core from here on
    pyutil::setattr(global(PYU_STR("core")), PYU_STR("supported_oses"), common::new_supported_oses());
    bind("supported_oses", core_attr(PYU_STR("supported_oses")));
    // 7. the module's own logger; no level, no handler
    {
        Object getLogger = pyutil::getattr(global(PYU_STR("logging")), PYU_STR("getLogger"));
        bind("logger", pyutil::call(getLogger, {global(PYU_STR("__name__"))}));
    }
    // 8
    bind("get_os_type", make_get_os_type());
    bind("extend_markup", make_extend_markup());
    bind("extend", make_extend());
    bind("isstr", make_isstr());
    // 9
    bind("CmdCache", make_cmd_cache_class());
    bind("showCmdCache", pyutil::call(global(PYU_STR("CmdCache")), {}));
    // 10
    bind("oper_check", make_oper_check_class(global(PYU_STR("Predicate"))));
    bind("oper_fill", make_oper_fill_class(global(PYU_STR("oper_check"))));
    bind("oper_fill_tabular", make_oper_fill_tabular_class(core_attr(PYU_STR("column_table_result_core_t"))));
    bind("Device", make_device_class());
}

const char* const module_doc = R"doc(Device operations: parse the output of a show command, run on a device of the
test framework or given as text, with the parsers of mirel.textloom.core.

Start with oper_fill (collect values), oper_check (compare them) and
oper_fill_tabular (tables into nested entries); extend and extend_markup
register the regexes, tag lists and commands they use. The package
mirel.textloom offers these names and ext_dictio, where the values found land
under the device's name ('device_name' for output given as text).

get_os_type names a device's OS, showCmdCache (a CmdCache) keeps the last
output of every device, and Device stands for the device when the output is
given as text.)doc";

PyModuleDef textloom_def = {
    PyModuleDef_HEAD_INIT,
    "mirel.textloom._textloom",
    module_doc,
    0,  // re-initialisable: the import system calls PyInit__textloom again
    nullptr,
};

}  // namespace

const pyutil::ModuleFrame& frame() { return the_frame; }

Object core_module() {
    // without a dict lookup while nothing rebinds it (never destroyed: it holds a reference)
    static pyutil::CachedGlobal& core = *new pyutil::CachedGlobal(the_frame, PYU_STR("core"));
    return core.get();
}

Object make_subclass(const char* name, Handle base, const char* doc, Object init) {
    return pyutil::make_class(name, pyutil::tuple({base}), the_frame, doc, {{"__init__", std::move(init)}});
}

Object logger_warning() { return pyutil::getattr(global(PYU_STR("logger")), PYU_STR("warning")); }

void log_warning(Handle fmt, Handle arg) { pyutil::call(logger_warning(), {fmt, arg}); }

}  // namespace textloom

extern "C" PyMODINIT_FUNC PyInit__textloom() {
    return pyutil::init_once(textloom::textloom_def, textloom::the_frame, textloom::load);
}
