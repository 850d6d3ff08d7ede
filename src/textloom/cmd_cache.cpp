// CmdCache: runs show commands for operation objects and keeps the last
// output of every device, keyed by the device's name alone.
#include "textloom/textloom.hpp"

namespace textloom {
namespace {

using namespace pyutil;

Object device_name(PyObject* obj) { return getattr(getattr(obj, PYU_STR("_device")).ptr(), PYU_STR("name")); }

Object refresh_cache_body(const Args& a) {
    PyObject* self = a[0];
    PyObject* obj = a[1];
    PyObject* show_command = a[2];
    Object os = getattr(obj, PYU_STR("_device_os"));
    Object show_cmd = call(core_attr(PYU_STR("_get_show_command")).ptr(), {os.ptr(), show_command});
    Object alias = getattr(obj, PYU_STR("_device_conn_alias"));
    Object device = getattr(obj, PYU_STR("_device"));
    Object target = truth(alias.ptr()) ? resolve_connection(device.ptr(), alias.ptr()) : device;
    Object output = call_method(target.ptr(), PYU_STR("execute"), {show_cmd.ptr()});
    // the name is read after the command has run
    setitem(core_attr(PYU_STR("text_to_parse")).ptr(), device_name(obj).ptr(), output.ptr());
    setattr(obj, PYU_STR("_refresh_cache"), getattr(obj, PYU_STR("_refresh_cache_init")).ptr());
    // read back, so both tables hold the same object
    Object key = device_name(obj);
    Object stored = getitem(core_attr(PYU_STR("text_to_parse")).ptr(), device_name(obj).ptr());
    setitem(getattr(self, PYU_STR("cache")).ptr(), key.ptr(), stored.ptr());
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
    Object bases = own(PyTuple_Pack(1, reinterpret_cast<PyObject*>(&PyBaseObject_Type)));
    return make_class("CmdCache", bases.ptr(), n, doc,
                      {{"cache", own(PyDict_New())}, {"refresh_cache", make_method<refresh_cache_spec>(n)}});
}

void acquire_text(PyObject* self, PyObject* supplied) {
    if (truth(supplied)) {
        setitem(core_attr(PYU_STR("text_to_parse")).ptr(), device_name(self).ptr(), supplied);
        return;
    }
    auto run = [&] {
        Object show_command = getattr(self, PYU_STR("_show_command"));
        call_method(global(PYU_STR("showCmdCache")), PYU_STR("refresh_cache"), {self, show_command.ptr()});
    };
    if (truth(getattr(self, PYU_STR("_refresh_cache")).ptr())) {
        run();
        return;
    }
    Object cache = getattr(global(PYU_STR("showCmdCache")), PYU_STR("cache"));
    Object name = device_name(self);
    if (!contains(cache.ptr(), name.ptr())) {
        log_warning(PYU_STR("refresh_cache = False but no output found for %s => collect output"), name.ptr());
        run();
        return;
    }
    setitem(core_attr(PYU_STR("text_to_parse")).ptr(), device_name(self).ptr(), getitem(cache.ptr(), name.ptr()).ptr());
}

}  // namespace textloom
