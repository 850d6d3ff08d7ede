// Show-command rendering: is_int, DefaultFormatter and _get_show_command.
#include "core/core.hpp"
#include "pyutil/ops.hpp"

namespace core {
namespace {

using namespace pyutil;

PyObject* formatter_class = nullptr;  // DefaultFormatter as created, for super()

Object is_int_body(const Args& a) {
    PyObject* n = PyNumber_Long(a[0]);
    if (n) {
        Py_DECREF(n);
        return borrow(Py_True);
    }
    if (!PyErr_ExceptionMatches(PyExc_ValueError)) throw PyError();
    PyErr_Clear();
    return borrow(Py_False);
}
FunctionSpec is_int_spec{"is_int", "is_int", {{"s"}}, is_int_body,
                         "True when int(s) succeeds, False when it raises ValueError."};

bool call_is_int(PyObject* s) { return truth(call(global(PYU_STR("is_int")), {s}).ptr()); }

Object init_body(const Args& a) {
    PyObject* self = a[0];
    setattr(self, PYU_STR("defidxval"), a[1]);
    setattr(self, PYU_STR("defkeyval"), a[2]);
    super_call(formatter_class, self, PYU_STR("__init__"), {});
    return borrow(Py_None);
}
FunctionSpec init_spec{"__init__", "DefaultFormatter.__init__",
                       {{"self"}, {"defidxval", None}, {"defkeyval", None}}, init_body};

Object vformat_body(const Args& a) {
    PyObject* self = a[0];
    setattr(self, PYU_STR("posarg"), own(PyLong_FromLong(-1)).ptr());
    setattr(self, PYU_STR("defval"), Py_None);
    return super_call(formatter_class, self, PYU_STR("vformat"), {a[1], a[2], a[3]});
}
FunctionSpec vformat_spec{"vformat", "DefaultFormatter.vformat", {{"self"}, {"fmt"}, {"args"}, {"kwargs"}},
                          vformat_body};

Object get_field_body(const Args& a) {
    PyObject* self = a[0];
    Object field = borrow(a[1]);
    setattr(self, PYU_STR("defval"), Py_None);
    // the default follows the last "="
    Object m = call(global(PYU_STR("match")), {PYU_STR("(.*)=(.*)"), field.ptr()});
    if (m.ptr() != Py_None) {
        Object two = own(PyLong_FromLong(2)), one = own(PyLong_FromLong(1));
        setattr(self, PYU_STR("defval"), call_method(m.ptr(), PYU_STR("group"), {two.ptr()}).ptr());
        field = call_method(m.ptr(), PYU_STR("group"), {one.ptr()});
    }
    // an empty or integer name takes the next positional value, whatever its number
    if (!truth(field.ptr()) || call_is_int(field.ptr())) {
        Object one = own(PyLong_FromLong(1));
        Object next_pos = own(PyNumber_Add(getattr(self, PYU_STR("posarg")).ptr(), one.ptr()));
        setattr(self, PYU_STR("posarg"), next_pos.ptr());
        field = str(next_pos.ptr());
    }
    return super_call(formatter_class, self, PYU_STR("get_field"), {field.ptr(), a[2], a[3]});
}
FunctionSpec get_field_spec{"get_field", "DefaultFormatter.get_field",
                            {{"self"}, {"field"}, {"args"}, {"kwargs"}}, get_field_body};

Object get_value_body(const Args& a) {
    PyObject* self = a[0];
    PyObject* key = a[1];
    const bool keyword = isstr(key);
    PyObject* missing_error = keyword ? PyExc_KeyError : PyExc_IndexError;
    PyObject* value = PyObject_GetItem(keyword ? a[3] : a[2], key);
    if (value && value != Py_None) return own(value);
    if (value) {
        Py_DECREF(value);
        PyErr_SetNone(missing_error);  // a None value counts as missing
    } else if (!PyErr_ExceptionMatches(missing_error)) {
        throw PyError();
    }
    // kept, to raise it again unchanged when there is no default
    CaughtError lookup_error = CaughtError::fetch();
    Object defval = getattr(self, PYU_STR("defval"));
    Object wide = getattr(self, keyword ? PYU_STR("defkeyval") : PYU_STR("defidxval"));
    if (defval.is_none() && wide.is_none()) lookup_error.raise_again();
    return defval.is_none() ? wide : defval;
}
FunctionSpec get_value_spec{"get_value", "DefaultFormatter.get_value",
                            {{"self"}, {"key"}, {"args"}, {"kwargs"}}, get_value_body};

const char* const formatter_doc =
    "String formatter with embedded default values: {[key|index]=<defval>}.\n"
    "\n"
    "A field may carry a default after its last '='; empty and integer fields take\n"
    "the positional values in order of appearance, and a value of None counts as\n"
    "missing, so the default applies:\n"
    "\n"
    "    >>> DefaultFormatter().format('show {=ipv4} interface {}', None, 'mgmt0')\n"
    "    'show ipv4 interface mgmt0'\n"
    "    >>> DefaultFormatter().format('show {vrf=default} route', vrf=None)\n"
    "    'show default route'\n";

Object get_show_command_body(const Args& a) {
    PyObject* routerOs = a[0];
    PyObject* arg = a[1];
    Object tag = borrow(arg);
    Object args = own(PyList_New(0));
    Object kwargs = own(PyDict_New());
    bool plain = isstr(arg);
    if (!plain) {
        PyObject* getitem_attr = PyObject_GetAttr(arg, PYU_STR("__getitem__"));
        if (getitem_attr) Py_DECREF(getitem_attr);
        else {
            PyErr_Clear();  // whatever failed, the argument is the tag itself
            plain = true;
        }
    }
    if (!plain) {
        Object zero = own(PyLong_FromLong(0)), one = own(PyLong_FromLong(1)), two = own(PyLong_FromLong(2));
        tag = getitem(arg, zero.ptr());
        PyObject* item = PyObject_GetItem(arg, one.ptr());
        if (item) {
            args = own(item);
            item = PyObject_GetItem(arg, two.ptr());
            if (item) kwargs = own(item);
        }
        if (!item) {
            if (!PyErr_ExceptionMatches(PyExc_IndexError)) throw PyError();
            PyErr_Clear();
        }
        if (isstr(args.ptr())) {
            Object list = own(PyList_New(1));
            PyList_SET_ITEM(list.ptr(), 0, args.new_ref());
            args = list;
        }
    }
    Object templ = tag;
    Object table = global(PYU_STR("_glb_show_commands"));
    bool found = false;
    if (contains(table, routerOs)) {
        Object per_os = getitem(table, routerOs);
        if (contains(per_os.ptr(), tag.ptr())) {
            templ = getitem(per_os.ptr(), tag.ptr());
            found = true;
        }
    }
    if (!found && contains(table, tag.ptr())) templ = getitem(table, tag.ptr());
    Object formatter = call(global(PYU_STR("DefaultFormatter")), {});
    return call_method(formatter.ptr(), PYU_STR("vformat"), {templ.ptr(), args.ptr(), kwargs.ptr()});
}
FunctionSpec get_show_command_spec{"_get_show_command", "_get_show_command", {{"routerOs"}, {"show_cmd_arg"}},
                                   get_show_command_body,
                                   "Render a show-command argument (tag or text, positional and keyword "
                                   "values) for an OS."};

}  // namespace

Object make_is_int() { return make_function<is_int_spec>(frame()); }

Object make_default_formatter() {
    Object base = getattr(global(PYU_STR("string")), PYU_STR("Formatter"));
    Object bases = own(PyTuple_Pack(1, base.ptr()));
    Object cls = make_class("DefaultFormatter", bases, frame(), formatter_doc,
                                {{"__init__", make_method<init_spec>(frame())},
                                 {"vformat", make_method<vformat_spec>(frame())},
                                 {"get_field", make_method<get_field_spec>(frame())},
                                 {"get_value", make_method<get_value_spec>(frame())}});
    formatter_class = cls.new_ref();
    return cls;
}

Object make_get_show_command() { return make_function<get_show_command_spec>(frame()); }

}  // namespace core
