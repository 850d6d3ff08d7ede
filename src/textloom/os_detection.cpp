// get_os_type: the operating system of a device of the test framework.
#include "textloom/textloom.hpp"

namespace textloom {
namespace {

using namespace pyutil;

// getattr(obj, name), or a null object when the read raises anything:
// for these attributes any failure of the read counts as absence.
Object read_if_present(PyObject* obj, PyObject* name) {
    PyObject* v = PyObject_GetAttr(obj, name);
    if (!v) PyErr_Clear();
    return Object::steal(v);
}

// The pending exception, taken off the indicator (normalised), or null.
Object take_error() {
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    if (!type) return Object();
    PyErr_NormalizeException(&type, &value, &tb);
    if (tb) PyException_SetTraceback(value, tb);
    Py_XDECREF(type);
    Py_XDECREF(tb);
    return Object::steal(value);
}

// Runs body; an error it raises gets `context` as its __context__, as an
// exception raised inside an except block does.
template <class Body>
Object while_handling(const Object& context, Body&& body) {
    try {
        return body();
    } catch (PyError&) {
        Object raised = take_error();
        if (raised && context && raised.ptr() != context.ptr())
            PyException_SetContext(raised.ptr(), context.new_ref());
        // Restore, not SetObject: that would replace the context just set
        PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(raised.ptr()));
        PyErr_Restore(Py_NewRef(type), raised.new_ref(), PyException_GetTraceback(raised.ptr()));
        throw;
    }
}

// Asks the Tcl bridge through the handle; every failure, of whatever class,
// becomes Exception("'<device>' doesn't have 'os'").
Object tcl_query(PyObject* device, PyObject* handle) {
    try {
        Object command = format(PYU_STR("{} get_os_type"), {handle});
        Object answer = call_method(global(PYU_STR("tcl")), PYU_STR("eval"), {command.ptr()});
        return call_method(answer.ptr(), PYU_STR("lower"), {});
    } catch (PyError&) {
        Object cause = take_error();
        return while_handling(cause, [&]() -> Object {
            raise(PyExc_Exception, percent_format(PYU_STR("'%s' doesn't have 'os'"), {device}).ptr());
        });
    }
}

// The device's own `os`, else the Tcl answer for the connection's handle, else "unknown".
Object answer(PyObject* device, PyObject* conn) {
    if (Object os = read_if_present(device, PYU_STR("os"))) return os;
    if (Object handle = read_if_present(conn, PYU_STR("handle"))) return tcl_query(device, handle.ptr());
    return borrow(PYU_STR("unknown"));
}

// Older device objects: is_connected is a plain attribute, and the name may
// only be there as hostname.
Object older_device(PyObject* device, PyObject* conn) {
    if (!read_if_present(device, PYU_STR("name")))
        setattr(device, PYU_STR("name"), getattr(device, PYU_STR("hostname")).ptr());
    if (!truth(getattr(device, PYU_STR("is_connected")).ptr())) return borrow(PYU_STR("unknown"));
    return answer(device, conn);
}

Object get_os_type_body(const Args& a) {
    PyObject* device = a[0];
    PyObject* alias = a[1];
    Object conn = truth(alias) ? resolve_connection(device, alias) : borrow(device);
    bool connected;
    try {
        static PyObject* const kwnames = own(Py_BuildValue("(O)", PYU_STR("alias"))).release();
        Object is_connected = getattr(device, PYU_STR("is_connected"));
        connected = truth(call_kw(is_connected.ptr(), {alias}, kwnames).ptr());
    } catch (PyError&) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw;
        Object type_error = take_error();
        return while_handling(type_error, [&] { return older_device(device, conn.ptr()); });
    }
    if (!connected) return borrow(PYU_STR("unknown"));
    return answer(device, conn.ptr());
}

FunctionSpec get_os_type_spec{
    "get_os_type", "get_os_type", {{"device"}, {"alias", "None"}}, get_os_type_body,
    "The device's operating system: its `os` attribute, else the Tcl answer for the handle of the\n"
    "device or of its connection named by alias (lower-cased), else 'unknown'."};

}  // namespace

Object make_get_os_type() { return make_function<get_os_type_spec>(frame()); }

Object detect_os(PyObject* device, PyObject* alias) {
    static PyObject* const kwnames =
        own(Py_BuildValue("(OO)", PYU_STR("device"), PYU_STR("alias"))).release();
    return call_kw(global(PYU_STR("get_os_type")), {device, alias}, kwnames);
}

}  // namespace textloom
