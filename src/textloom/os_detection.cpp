// get_os_type: the operating system of a device of the test framework.
#include "textloom/textloom.hpp"

namespace textloom {
namespace {

using namespace pyutil;

// getattr(obj, name), or a null object when the read raises anything:
// for these attributes any failure of the read counts as absence.
py::object read_if_present(PyObject* obj, PyObject* name) {
    PyObject* v = PyObject_GetAttr(obj, name);
    if (!v) PyErr_Clear();
    return py::reinterpret_steal<py::object>(v);
}

// The pending exception, taken off the indicator (normalised), or null.
py::object take_error() {
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    if (!type) return py::object();
    PyErr_NormalizeException(&type, &value, &tb);
    if (tb) PyException_SetTraceback(value, tb);
    Py_XDECREF(type);
    Py_XDECREF(tb);
    return py::reinterpret_steal<py::object>(value);
}

// Runs body; an error it raises gets `context` as its __context__, as an
// exception raised inside an except block does.
template <class Body>
py::object while_handling(const py::object& context, Body&& body) {
    try {
        return body();
    } catch (PyError&) {
        py::object raised = take_error();
        if (raised && context && raised.ptr() != context.ptr())
            PyException_SetContext(raised.ptr(), context.inc_ref().ptr());
        // Restore, not SetObject: that would replace the context just set
        PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(raised.ptr()));
        PyErr_Restore(Py_NewRef(type), raised.inc_ref().ptr(), PyException_GetTraceback(raised.ptr()));
        throw;
    }
}

// Asks the Tcl bridge through the handle; every failure, of whatever class,
// becomes Exception("'<device>' doesn't have 'os'").
py::object tcl_query(PyObject* device, PyObject* handle) {
    try {
        py::object command = format(PYU_STR("{} get_os_type"), {handle});
        py::object answer = call_method(global(PYU_STR("tcl")), PYU_STR("eval"), {command.ptr()});
        return call_method(answer.ptr(), PYU_STR("lower"), {});
    } catch (PyError&) {
        py::object cause = take_error();
        return while_handling(cause, [&]() -> py::object {
            raise(PyExc_Exception, percent_format(PYU_STR("'%s' doesn't have 'os'"), {device}).ptr());
        });
    }
}

// The device's own `os`, else the Tcl answer for the connection's handle, else "unknown".
py::object answer(PyObject* device, PyObject* conn) {
    if (py::object os = read_if_present(device, PYU_STR("os"))) return os;
    if (py::object handle = read_if_present(conn, PYU_STR("handle"))) return tcl_query(device, handle.ptr());
    return borrow(PYU_STR("unknown"));
}

// Older device objects: is_connected is a plain attribute, and the name may
// only be there as hostname.
py::object older_device(PyObject* device, PyObject* conn) {
    if (!read_if_present(device, PYU_STR("name")))
        setattr(device, PYU_STR("name"), getattr(device, PYU_STR("hostname")).ptr());
    if (!truth(getattr(device, PYU_STR("is_connected")).ptr())) return borrow(PYU_STR("unknown"));
    return answer(device, conn);
}

py::object get_os_type_body(PyObject* const* a) {
    PyObject* device = a[0];
    PyObject* alias = a[1];
    py::object conn = truth(alias) ? resolve_connection(device, alias) : borrow(device);
    bool connected;
    try {
        static PyObject* const kwnames = own(Py_BuildValue("(O)", PYU_STR("alias"))).release().ptr();
        py::object is_connected = getattr(device, PYU_STR("is_connected"));
        connected = truth(call_kw(is_connected.ptr(), {alias}, kwnames).ptr());
    } catch (PyError&) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw;
        py::object type_error = take_error();
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

py::object make_get_os_type() { return make_function<get_os_type_spec>(module(), module_name()); }

py::object detect_os(PyObject* device, PyObject* alias) {
    static PyObject* const kwnames =
        own(Py_BuildValue("(OO)", PYU_STR("device"), PYU_STR("alias"))).release().ptr();
    return call_kw(global(PYU_STR("get_os_type")), {device, alias}, kwnames);
}

}  // namespace textloom
