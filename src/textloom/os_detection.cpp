// get_os_type: the operating system of a device of the test framework.
#include "textloom/textloom.hpp"

namespace textloom {
namespace {

using namespace pyutil;

// For these attributes any failure of the read counts as absence.
Object read_if_present(Handle obj, Handle name) { return attr_if_present(obj, name, Absent::on_any_error); }

// Asks the Tcl bridge through the handle; every failure, of whatever class,
// becomes Exception("'<device>' doesn't have 'os'").
Object tcl_query(Handle device, Handle handle) {
    try {
        Object command = format(PYU_STR("{} get_os_type"), {handle});
        Object answer = call_method(global(PYU_STR("tcl")), PYU_STR("eval"), {command});
        return call_method(answer, PYU_STR("lower"), {});
    } catch (PyError&) {
        return CaughtError::fetch().handle([&]() -> Object {
            raise(PyExc_Exception, percent_format(PYU_STR("'%s' doesn't have 'os'"), {device}));
        });
    }
}

// The device's own `os`, else the Tcl answer for the connection's handle, else "unknown".
Object answer(Handle device, Handle conn) {
    if (Object os = read_if_present(device, PYU_STR("os"))) return os;
    if (Object handle = read_if_present(conn, PYU_STR("handle"))) return tcl_query(device, handle);
    return borrow(PYU_STR("unknown"));
}

// Older device objects: is_connected is a plain attribute, and the name may
// only be there as hostname.
Object older_device(Handle device, Handle conn) {
    if (!read_if_present(device, PYU_STR("name"))) setattr(device, PYU_STR("name"), getattr(device, PYU_STR("hostname")));
    if (!truth(getattr(device, PYU_STR("is_connected")))) return borrow(PYU_STR("unknown"));
    return answer(device, conn);
}

Object get_os_type_body(const Args& a) {
    PyObject* device = a[0];
    PyObject* alias = a[1];
    Object conn = truth(alias) ? resolve_connection(device, alias) : borrow(device);
    bool connected;
    try {
        Object is_connected = getattr(device, PYU_STR("is_connected"));
        connected = truth(call_kw(is_connected, {alias}, PYU_KWNAMES("alias")));
    } catch (PyError&) {
        CaughtError type_error = CaughtError::fetch_if(PyExc_TypeError);
        if (!type_error) throw;
        return type_error.handle([&] { return older_device(device, conn); });
    }
    if (!connected) return borrow(PYU_STR("unknown"));
    return answer(device, conn);
}

FunctionSpec get_os_type_spec{
    "get_os_type", "get_os_type", {{"device"}, {"alias", None}}, get_os_type_body,
    R"doc(The device's operating system, as the operations' constructors ask it.

Its `os` attribute, as it is; else, when the connection (the device, or its
attribute named by alias; names joined by dots reach attributes in turn) has a
`handle`, the answer of the framework's Tcl query "<handle> get_os_type" in
lower case; else 'unknown', which is also the answer when
device.is_connected(alias=alias) is false. A device whose is_connected is a
plain truth value (tested, not called) works too; when it has no name, its
hostname is copied into name.

Raises Exception "'<str(device)>' doesn't have 'os'" when the Tcl query fails
(ryn.tcl not importable, the handle or the bridge failing, an answer without
lower()), AttributeError when alias names no attribute of the device or the
device has no is_connected, and ValueError for an alias that is no name or
names joined by dots.)doc"};

}  // namespace

Object make_get_os_type() { return make_function<get_os_type_spec>(frame()); }

Object detect_os(Handle device, Handle alias) {
    return call_kw(global(PYU_STR("get_os_type")), {device, alias}, PYU_KWNAMES("device", "alias"));
}

}  // namespace textloom
