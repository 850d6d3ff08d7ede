// Connections named by an alias, and the substitute Device that stands for a
// device when the caller passes output text instead.
#include "textloom/textloom.hpp"

namespace textloom {
namespace {

using namespace pyutil;

[[noreturn]] void bad_alias(Handle alias) {
    raise(PyExc_ValueError, percent_format(PYU_STR("connection alias %r is not a name or names joined by dots"), {alias}));
}

Object device_init_body(const Args& a) {
    setattr(a[0], PYU_STR("name"), a[1]);
    return borrow(Py_None);
}
FunctionSpec device_init_spec{"__init__", "Device.__init__",
                              {{"self"}, {"name"}, var_positional("args"), var_keyword("kwargs")}, device_init_body,
                              "name: the key of the output in core.text_to_parse and of the values found in\n"
                              "ext_dictio; the operations use 'device_name'. Further arguments are ignored."};

Object execute_body(const Args&) { return borrow(Py_None); }
FunctionSpec execute_spec{"execute", "Device.execute", {{"self"}, var_positional("args"), var_keyword("kwargs")},
                          execute_body, "Runs nothing: the output was given by the caller."};

Object is_connected_body(const Args&) { return borrow(Py_True); }
FunctionSpec is_connected_spec{"is_connected", "Device.is_connected",
                               {{"self"}, {"alias"}, var_positional("args"), var_keyword("kwargs")},
                               is_connected_body, "True for any alias: the given output stands for a connected device."};

const char* const device_doc =
    "Stands for the device when the caller passes output text instead; holds only its name.";

}  // namespace

Object resolve_connection(Handle device, Handle alias) {
    // only attribute names: the alias is never evaluated as text
    if (!PyUnicode_Check(alias.ptr())) bad_alias(alias);
    Object parts = own(PyUnicode_Split(alias.ptr(), PYU_STR("."), -1));
    const Py_ssize_t n = length(parts);
    for (Py_ssize_t i = 0; i < n; ++i)
        if (!PyUnicode_IsIdentifier(getitem(parts, i).ptr())) bad_alias(alias);
    Object conn = borrow(device);
    for (Py_ssize_t i = 0; i < n; ++i) conn = getattr(conn, getitem(parts, i));
    return conn;
}

Object make_device_class() {
    const pyutil::ModuleFrame& n = frame();
    return make_class("Device", tuple({reinterpret_cast<PyObject*>(&PyBaseObject_Type)}), n, device_doc,
                      {{"__init__", make_method<device_init_spec>(n)},
                       {"execute", make_method<execute_spec>(n)},
                       {"is_connected", make_method<is_connected_spec>(n)}});
}

}  // namespace textloom
