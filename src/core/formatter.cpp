// Show-command rendering: is_int, DefaultFormatter and _get_show_command.
#include "core/core.hpp"
#include "pyutil/hooks.hpp"
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

bool call_is_int(Handle s) { return truth(call(global(PYU_STR("is_int")), {s})); }

Object init_body(const Args& a) {
    PyObject* self = a[0];
    setattr(self, PYU_STR("defidxval"), a[1]);
    setattr(self, PYU_STR("defkeyval"), a[2]);
    super_call(formatter_class, self, PYU_STR("__init__"), {});
    return borrow(Py_None);
}
FunctionSpec init_spec{"__init__", "DefaultFormatter.__init__",
                       {{"self"}, {"defidxval", None}, {"defkeyval", None}}, init_body,
                       "defidxval, defkeyval: the default of every positional, keyword field whose value\n"
                       "is missing or None; None for no default. A field's own default wins."};

Object vformat_body(const Args& a) {
    PyObject* self = a[0];
    setattr(self, PYU_STR("posarg"), integer(-1));
    setattr(self, PYU_STR("defval"), Py_None);
    return super_call(formatter_class, self, PYU_STR("vformat"), {a[1], a[2], a[3]});
}
FunctionSpec vformat_spec{"vformat", "DefaultFormatter.vformat", {{"self"}, {"fmt"}, {"args"}, {"kwargs"}},
                          vformat_body,
                          "string.Formatter.vformat, with the positional count started afresh: the empty\n"
                          "and integer fields of fmt take the values of args in order of appearance."};

Object get_field_body(const Args& a) {
    PyObject* self = a[0];
    Object field = borrow(a[1]);
    setattr(self, PYU_STR("defval"), Py_None);
    // the default follows the last "="
    Object m = call(global(PYU_STR("match")), {PYU_STR("(.*)=(.*)"), field});
    if (!m.is_none()) {
        setattr(self, PYU_STR("defval"), call_method(m, PYU_STR("group"), {integer(2)}));
        field = call_method(m, PYU_STR("group"), {integer(1)});
    }
    // an empty or integer name takes the next positional value, whatever its number
    if (!truth(field) || call_is_int(field)) {
        Object next_pos = add(getattr(self, PYU_STR("posarg")), integer(1));
        setattr(self, PYU_STR("posarg"), next_pos);
        field = str(next_pos);
    }
    return super_call(formatter_class, self, PYU_STR("get_field"), {field, a[2], a[3]});
}
FunctionSpec get_field_spec{"get_field", "DefaultFormatter.get_field",
                            {{"self"}, {"field"}, {"args"}, {"kwargs"}}, get_field_body,
                            "Take the field's default after its last '=', give an empty or integer name the\n"
                            "next positional slot (its number selects nothing), then look the field up as\n"
                            "string.Formatter.get_field does."};

Object get_value_body(const Args& a) {
    PyObject* self = a[0];
    PyObject* key = a[1];
    const bool keyword = isstr(key);
    PyObject* missing_error = keyword ? PyExc_KeyError : PyExc_IndexError;
    Object value = Object::steal(PyObject_GetItem(keyword ? a[3] : a[2], key));
    if (value && !value.is_none()) return value;
    if (value) PyErr_SetNone(missing_error);  // a None value counts as missing
    // kept, to raise it again unchanged when there is no default
    CaughtError lookup_error = CaughtError::fetch_if(missing_error);
    if (!lookup_error) throw PyError();
    // the embedded default wins: the formatter-wide one is read only without it
    return lookup_error.handle([&] {
        Object defval = getattr(self, PYU_STR("defval"));
        if (!defval.is_none()) return defval;
        Object wide = getattr(self, keyword ? PYU_STR("defkeyval") : PYU_STR("defidxval"));
        if (wide.is_none()) lookup_error.raise_again();
        return wide;
    });
}
FunctionSpec get_value_spec{"get_value", "DefaultFormatter.get_value",
                            {{"self"}, {"key"}, {"args"}, {"kwargs"}}, get_value_body,
                            "kwargs[key] for a keyword field (key a str), args[key] for a positional one.\n"
                            "A value that is missing or None gives the field's default, else the formatter's\n"
                            "(defkeyval, defidxval); with neither, the KeyError or IndexError of the lookup\n"
                            "(without a message for a None value) is raised."};

const char* const formatter_doc = R"doc(String formatter with embedded default values: {[key|index]=<defval>}.

A field may carry a default after its last '='; empty and integer fields take
the positional values in order of appearance, and a value of None counts as
missing, so the default applies. A field without a default that gets no value
raises KeyError (keyword) or IndexError (positional); {} mixed with {0}, both
without a default, raises ValueError.

    >>> from mirel.textloom.core import DefaultFormatter
    >>> DefaultFormatter().format('show {=ipv4} interface {}', None, 'mgmt0')
    'show ipv4 interface mgmt0'
    >>> DefaultFormatter().format('show {vrf=default} route', vrf=None)
    'show default route'
    >>> DefaultFormatter().format('show {vrf} route', vrf=None)
    Traceback (most recent call last):
    ...
    KeyError)doc";

Object show_commands() { return PYU_CACHED_GLOBAL(frame(), "_glb_show_commands").get(); }

Object get_show_command_body(const Args& a) {
    PyObject* routerOs = a[0];
    PyObject* arg = a[1];
    Object tag = borrow(arg);
    Object args = new_list();
    Object kwargs = new_dict();
    // whatever fails in reading __getitem__, the argument is the tag itself
    const bool plain = isstr(arg) || !attr_if_present(arg, PYU_STR("__getitem__"), Absent::on_any_error);
    if (!plain) {
        tag = getitem(arg, integer(0));
        // a missing values item leaves its default in place
        try {
            args = getitem(arg, integer(1));
            kwargs = getitem(arg, integer(2));
        } catch (PyError&) {
            if (!CaughtError::fetch_if(PyExc_IndexError)) throw;
        }
        if (isstr(args)) {
            Object list = new_list();
            append(list, args);
            args = list;
        }
    }
    Object templ = registered(show_commands, routerOs, tag);
    if (!templ) templ = tag;
    Object formatter = call(global(PYU_STR("DefaultFormatter")), {});
    return call_method(formatter, PYU_STR("vformat"), {templ, args, kwargs});
}
FunctionSpec get_show_command_spec{"_get_show_command", "_get_show_command", {{"routerOs"}, {"show_cmd_arg"}},
                                   get_show_command_body,
                                   R"doc(Render a show-command argument for an OS.

show_cmd_arg: a CLI command tag or a command text, or (tag, positional values,
    keyword values), which may stop after its first or second item; a single text
    as positional part counts as a list of one. The tag's template registered for
    routerOs, else its generic one, is filled by DefaultFormatter; a tag
    registered for neither is itself the template.

    >>> from mirel.textloom import core
    >>> core.extend(show_cmds={'brume': {'SHOW_IP_INTF': 'show {=ip} interface {}'}})
    >>> core._get_show_command('brume', ('SHOW_IP_INTF', [None, 'mgmt0']))
    'show ip interface mgmt0'
    >>> core._get_show_command('ketch', ('show interface {ifname}', [], {'ifname': 'eth1'}))
    'show interface eth1')doc"};

}  // namespace

Object make_is_int() { return make_function<is_int_spec>(frame()); }

Object make_default_formatter() {
    Object base = getattr(global(PYU_STR("string")), PYU_STR("Formatter"));
    Object cls = make_class("DefaultFormatter", tuple({base}), frame(), formatter_doc,
                                {{"__init__", make_method<init_spec>(frame())},
                                 {"vformat", make_method<vformat_spec>(frame())},
                                 {"get_field", make_method<get_field_spec>(frame())},
                                 {"get_value", make_method<get_value_spec>(frame())}});
    formatter_class = cls.new_ref();
    return cls;
}

Object make_get_show_command() { return make_function<get_show_command_spec>(frame()); }

}  // namespace core
