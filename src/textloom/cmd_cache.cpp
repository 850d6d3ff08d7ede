// CmdCache: runs show commands for operation objects and keeps the last
// output of every device, keyed by the device's name alone.
#include "pyutil/hooks.hpp"
#include "textloom/textloom.hpp"

namespace textloom {
namespace {

using namespace pyutil;

// Each step reads what the statement it stands for reads, in that order:
// module names, obj's attributes and the device's name afresh.
Object refresh_cache_body(const Args& a) {
    PyObject* self = a[0];
    PyObject* obj = a[1];
    PyObject* show_command = a[2];
    Object get_show_command = core_attr(PYU_STR("_get_show_command"));
    Object os = getattr(obj, PYU_STR("_device_os"));
    Object show_cmd = call(get_show_command, {os, show_command});
    // the alias's truth is tested before the device is read
    Object alias = getattr(obj, PYU_STR("_device_conn_alias"));
    const bool aliased = truth(alias);
    Object device = getattr(obj, PYU_STR("_device"));
    Object target = aliased ? resolve_connection(device, alias) : device;
    Object output = call_method(target, PYU_STR("execute"), {show_cmd});
    // the name is read after the command has run
    store_text(obj, output);
    setattr(obj, PYU_STR("_refresh_cache"), getattr(obj, PYU_STR("_refresh_cache_init")));
    // read back, so both tables hold the same object
    Object stored = stored_text(obj);
    Object cache = getattr(self, PYU_STR("cache"));
    setitem(cache, device_name(obj), stored);
    return borrow(Py_None);
}
FunctionSpec refresh_cache_spec{
    "refresh_cache", "CmdCache.refresh_cache", {{"self"}, {"obj"}, {"show_command"}}, refresh_cache_body,
    "Render show_command for obj's OS, run it on obj's device (or its aliased connection), store the\n"
    "output in core.text_to_parse and in the cache under the device's name."};

const char* const doc = "The last output of every device, and the runs of show commands that produce it.";

}  // namespace

Object make_cmd_cache_class() {
    const pyutil::ModuleFrame& n = frame();
    return make_class("CmdCache", tuple({reinterpret_cast<PyObject*>(&PyBaseObject_Type)}), n, doc,
                      {{"cache", new_dict()}, {"refresh_cache", make_method<refresh_cache_spec>(n)}});
}

Object device_name(Handle self) { return getattr(getattr(self, PYU_STR("_device")), PYU_STR("name")); }

void store_text(Handle self, Handle text) {
    // core.text_to_parse, without a lookup while core's dict is unchanged (never destroyed: it holds a reference)
    static CachedModuleAttr& text_to_parse = *new CachedModuleAttr(PYU_STR("text_to_parse"));
    Object table = text_to_parse.get(core_module());
    setitem(table, device_name(self), text);
}

Object stored_text(Handle self) {
    Object table = core_attr(PYU_STR("text_to_parse"));
    return getitem(table, device_name(self));
}

void acquire_text(Handle self, Handle supplied) {
    if (truth(supplied)) {
        store_text(self, supplied);
        return;
    }
    auto run = [&] {
        Object refresh = getattr(global(PYU_STR("showCmdCache")), PYU_STR("refresh_cache"));
        Object show_command = getattr(self, PYU_STR("_show_command"));
        call(refresh, {self, show_command});
    };
    if (truth(getattr(self, PYU_STR("_refresh_cache")))) {
        run();
        return;
    }
    Object name = device_name(self);
    if (!contains(getattr(global(PYU_STR("showCmdCache")), PYU_STR("cache")), name)) {
        Object warning = logger_warning();
        call(warning, {PYU_STR("refresh_cache = False but no output found for %s => collect output"),
                       device_name(self)});
        run();
        return;
    }
    // text_to_parse[name] = showCmdCache.cache[name]: the cache before the name
    Object cache = getattr(global(PYU_STR("showCmdCache")), PYU_STR("cache"));
    Object cached = getitem(cache, device_name(self));
    store_text(self, cached);
}

}  // namespace textloom
