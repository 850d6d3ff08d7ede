// Module init of mirel.textloom.core: binds its names in load order.
//
// The module is built once per process; a second initialisation (after its
// entry was removed from sys.modules) returns the module already built, so the
// tables and everything registered in them survive.
#include "core/core.hpp"
#include "pyutil/ops.hpp"

namespace core {
namespace {

// never destroyed: the module lives as long as the process
pyutil::ModuleFrame& the_frame = *new pyutil::ModuleFrame();

void bind(const char* name, const Object& value) { the_frame.bind(name, value); }

void bind_new_dict(const char* name) { bind(name, pyutil::new_dict()); }

void load() {
    // 1. standard modules
    for (const char* mod : {"logging", "string", "sys", "inspect", "collections"})
        bind(mod, pyutil::import(mod));
    // 2. the re functions themselves
    Object re = pyutil::import("re");
    for (const char* fn : {"compile", "match", "search", "sub", "escape"})
        bind(fn, pyutil::getattr(re, pyutil::str(fn)));
    // read re's own now, while they are what was just bound: the C++ paths stand for them
    for (Handle own : {re_compile(), re_match(), re_search(), re_sub(), re_escape()}) static_cast<void>(own);
    // 3. python3 := sys.version_info >= (3, 0)
    {
        Object version = pyutil::getattr(global(PYU_STR("sys")), PYU_STR("version_info"));
        bind("python3", pyutil::greater_equal(version, pyutil::tuple({pyutil::integer(3), pyutil::integer(0)})));
    }
    // 4. logger, named after the module's __name__ as it is now
    {
        Object getLogger = pyutil::getattr(global(PYU_STR("logging")), PYU_STR("getLogger"));
        bind("logger", pyutil::call(getLogger, {global(PYU_STR("__name__"))}));
    }
    bind("warning", make_warning());                        // 5
    bind("supported_oses", make_supported_oses());          // 6
    bind("_mk_textloom_t", make_mk_textloom_class());       // 7
    bind("extend_markup", make_extend_markup());            // 8
    bind("extend", make_extend());                          // 9
    bind_new_dict("ext_dictio");                            // 10
    bind_new_dict("text_to_parse");
    bind_new_dict("_glb_regex");
    bind("_get_regex", make_get_regex());                   // 11
    bind_new_dict("_glb_show_commands");                    // 12
    bind_new_dict("_glb_regex_tags");
    bind("is_int", make_is_int());                          // 13
    bind("DefaultFormatter", make_default_formatter());     // 14
    bind("_get_show_command", make_get_show_command());     // 15
    bind("_textloom_t", make_textloom_class());             // 16
    bind("isstr", make_isstr());                            // 17
    bind("column_result_t", make_column_result_class());    // 18
    // 19: derived from what the name column_result_t denotes at this moment
    bind("column_table_result_core_t", make_column_table_result_core_class(global(PYU_STR("column_result_t"))));
}

PyModuleDef core_def = {
    PyModuleDef_HEAD_INIT,
    "mirel.textloom.core",
    nullptr,  // no module documentation: __doc__ is None
    0,        // re-initialisable: the import system calls PyInit_core again
    nullptr,
};

}  // namespace

const pyutil::ModuleFrame& frame() { return the_frame; }

}  // namespace core

extern "C" PyMODINIT_FUNC PyInit_core() { return pyutil::init_once(core::core_def, core::the_frame, core::load); }
