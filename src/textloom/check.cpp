// oper_check: prepare a check of attribute/value pairs against a device's
// output (or the caller's text), parse it, record the diagnosis.
#include <string>
#include <vector>
#include "textloom/textloom.hpp"

namespace textloom {
namespace {

using namespace pyutil;

PyObject* sort_key = nullptr;  // operator.itemgetter(0): diagnostics sort by line

Object concat(std::initializer_list<PyObject*> parts) {
    Object list = own(PyList_New(0));
    for (PyObject* p : parts) check(PyList_Append(list.ptr(), p));
    return own(PyUnicode_Join(PYU_STR(""), list.ptr()));
}

// pair[index]; an exact tuple is read directly, as its subscript would
Object item(PyObject* pair, Py_ssize_t index) {
    if (PyTuple_CheckExact(pair) && index < PyTuple_GET_SIZE(pair)) return borrow(PyTuple_GET_ITEM(pair, index));
    return getitem(pair, own(PyLong_FromSsize_t(index)).ptr());
}

Object init_body(const Args& a) {
    PyObject* self = a[0];
    // device, show_command, attrvalpairs, refresh_cache, negate, device_conn_alias, device_output, device_os
    prepare_operation(self, a[2], a[3], a[4], a[7]);
    if (!choose_device(self, a[1], a[6], a[7], a[8])) missing_device(self);
    setattr(self, PYU_STR("_fill"), Py_False);
    setattr(self, PYU_STR("_skip"), Py_False);
    setattr(self, PYU_STR("_negate"), a[5]);
    Object os = getattr(self, PYU_STR("_device_os"));
    call_method(self, PYU_STR("process_attrvalpairs"), {a[3], os.ptr()});
    return borrow(Py_None);
}
FunctionSpec init_spec{"__init__", "oper_check.__init__",
                       {{"self"}, {"device", None}, {"show_command", None}, {"attrvalpairs", None},
                        {"refresh_cache", false}, {"negate", false}, {"device_conn_alias", None},
                        {"device_output", None}, {"device_os", None}},
                       init_body};

Object process_attrvalpairs_body(const Args& a) {
    PyObject* self = a[0];
    PyObject* attrvalpairs = a[1];
    PyObject* os = a[2];
    Object reordered = own(PyList_New(0));
    if (truth(a[3])) {
        Object tag_table = global(PYU_STR("_glb_regex_tags"));
        if (truth(tag_table)) {
            Object tags = iter(getitem(tag_table, os).ptr());
            Object firsts;  // item 0 of every pair, taken once the first tag comes
            std::vector<Object> pairs;
            while (Object tag = next(tags.ptr())) {
                if (!firsts) {
                    firsts = own(PyList_New(0));
                    Object it = iter(attrvalpairs);
                    while (Object pair = next(it.ptr())) {
                        check(PyList_Append(firsts.ptr(), item(pair.ptr(), 0).ptr()));
                        pairs.push_back(std::move(pair));
                    }
                }
                for (size_t i = 0; i < pairs.size(); ++i)
                    if (same_or_equal(PyList_GET_ITEM(firsts.ptr(), i), tag.ptr()))
                        check(PyList_Append(reordered.ptr(), pairs[i].ptr()));
            }
        }
    }
    Py_ssize_t given = PyObject_Length(attrvalpairs);
    if (given < 0) throw PyError();
    PyObject* pairs = PyList_GET_SIZE(reordered.ptr()) == given ? reordered.ptr() : attrvalpairs;
    if (truth(pairs) && PyTuple_CheckExact(item(pairs, 0).ptr())) {
        Object attributes = own(PyList_New(0));
        Object values = own(PyList_New(0));
        Object it = iter(pairs);
        while (Object pair = next(it.ptr())) {
            check(PyList_Append(attributes.ptr(), item(pair.ptr(), 0).ptr()));
            check(PyList_Append(values.ptr(), item(pair.ptr(), 1).ptr()));
        }
        setattr(self, PYU_STR("_attributes"), attributes.ptr());
        setattr(self, PYU_STR("_values"), values.ptr());
        setattr(self, PYU_STR("_values_debug"), values.ptr());
    } else {
        call_method(self, PYU_STR("error"), {format(PYU_STR("attrvalpairs is invalid {}"), {pairs}).ptr()});
    }
    return borrow(Py_None);
}
FunctionSpec process_attrvalpairs_spec{"process_attrvalpairs", "oper_check.process_attrvalpairs",
                                       {{"self"}, {"attrvalpairs"}, {"os"}, {"reorder", true}},
                                       process_attrvalpairs_body,
                                       "Order the pairs by the OS's registered tags and split them into\n"
                                       "_attributes and _values, or record why they are invalid."};

Object result_body(const Args& a) {
    if (truth(getattr(a[0], PYU_STR("_negate")).ptr())) return borrow(truth(a[1]) ? Py_False : Py_True);
    return borrow(a[1]);
}
FunctionSpec result_spec{"result", "oper_check.result", {{"self"}, {"result"}}, result_body,
                         "The outcome, inverted while the check is negated."};

// Records the diagnosis of a failed validation.  Each message reads what
// its expression reads, in that order (self.error looked up first), so a
// hook that changes the object's attributes is seen by the next message.
void record_failure(PyObject* self, PyObject* dictio, PyObject* msg) {
    auto error = [&]() { return getattr(self, PYU_STR("error")); };
    call(error(), {msg});
    {
        Object record = error();
        Object name = str(device_name(self));
        Object command = str(getattr(self, PYU_STR("_show_command")));
        call(record, {concat({PYU_STR("Node: "), name.ptr(), PYU_STR(", Show command: "), command.ptr()})});
    }
    setattr(self, PYU_STR("_refresh_cache"), Py_True);
    Object tags = iter(getattr(self, PYU_STR("_attributes")));
    Py_ssize_t idx = 0;
    for (Object tag; (tag = next(tags)); ++idx) {
        if (!contains(dictio, tag)) {
            Object record = error();
            call(record, {percent_format(PYU_STR("Attribute %s not found in the show command (or textloom stopped "
                                                 "before at an error)"),
                                         {tag})});
            continue;
        }
        if (!differs(getitem(dictio, tag), Py_True)) continue;
        Object record = error();
        Object tag_text = str(tag);
        Object value = str(getitem(getitem(dictio, tag), PYU_STR("value")));
        Object expected = str(own(PySequence_GetItem(getattr(self, PYU_STR("_values")).ptr(), idx)));
        Object text = concat({PYU_STR("Attribute "), tag_text.ptr(), PYU_STR(" has value '"), value.ptr(),
                              PYU_STR("' (expected '"), expected.ptr(), PYU_STR("')")});
        call(record, {text, getitem(getitem(dictio, tag), PYU_STR("line"))});
    }
}

Object parse_body(const Args& a) {
    PyObject* self = a[0];
    setattr(self, PYU_STR("_errors"), own(PyList_New(0)).ptr());
    Object attributes = getattr(self, PYU_STR("_attributes"));
    Object os = getattr(self, PYU_STR("_device_os"));
    {
        Object tags = iter(attributes.ptr());
        while (Object tag = next(tags.ptr())) {
            Object regex = call(core_attr(PYU_STR("_get_regex")).ptr(), {os.ptr(), tag.ptr()});
            if (!truth(regex.ptr())) {
                log_warning(PYU_STR("No regular expression defined for attribute %s"), tag.ptr());
                return borrow(Py_False);  // not negated
            }
        }
    }
    acquire_text(self, getattr(self, PYU_STR("raw_cli")).ptr());
    Object parser_class = core_attr(PYU_STR("_textloom_t"));
    Object parser = call(parser_class, {getattr(self, PYU_STR("_device_os")), getattr(self, PYU_STR("_attributes")),
                                        getattr(self, PYU_STR("_values")), getattr(self, PYU_STR("_fill")),
                                        device_name(self), getattr(self, PYU_STR("_skip"))});
    Object validate, dictio, msg;
    unpack(call_method(parser.ptr(), PYU_STR("_parser_validate"), {}).ptr(), {&validate, &dictio, &msg});
    if (truth(validate.ptr())) return call_method(self, PYU_STR("result"), {Py_True});
    record_failure(self, dictio.ptr(), msg.ptr());
    return call_method(self, PYU_STR("result"), {Py_False});
}
FunctionSpec parse_spec{"parse", "oper_check.parse", {{"self"}}, parse_body,
                        "Take the output (given, fresh or cached), run the non-tabular parser on it and\n"
                        "return the outcome; after a failure str(self) holds the diagnosis."};

Object error_body(const Args& a) {
    Object errors = getattr(a[0], PYU_STR("_errors"));
    Object entry = own(PyList_New(2));
    PyList_SET_ITEM(entry.ptr(), 0, Py_NewRef(a[2]));
    PyList_SET_ITEM(entry.ptr(), 1, Py_NewRef(a[1]));
    call_method(errors.ptr(), PYU_STR("append"), {entry.ptr()});
    // list.sort is stable: equal lines keep the order of recording
    static PyObject* const kwnames = own(Py_BuildValue("(O)", PYU_STR("key"))).release();
    call_kw(getattr(errors.ptr(), PYU_STR("sort")).ptr(), {sort_key}, kwnames);
    return borrow(Py_None);
}
// line=sys.maxsize, read when the class is made, as a def statement would
Object sys_maxsize() { return getattr(global(PYU_STR("sys")), PYU_STR("maxsize")); }
FunctionSpec error_spec{"error", "oper_check.error", {{"self"}, {"msg"}, {"line", sys_maxsize}}, error_body,
                        "Record a diagnostic [line, msg]; the list stays sorted by line."};

Object test_body(const Args& a) { return call_method(a[0], PYU_STR("parse"), {}); }
FunctionSpec test_spec{"test", "oper_check.test", {{"self"}}, test_body, "Same as parse()."};

Object dump_body(const Args& a) { return str(a[0]); }
FunctionSpec dump_spec{"dump", "oper_check.dump", {{"self"}}, dump_body, "The text form, str(self)."};

const char* const doc =
    "Check attribute/value pairs against the output of a show command.\n"
    "\n"
    "    >>> c = oper_check(device, 'SHOW_INTF', [('show.intf.mtu', '1500')])\n"
    "    >>> c.parse()      # or c.test()\n"
    "    >>> print(c)       # after a failure: the diagnosis and the annotated output";

}  // namespace

[[noreturn]] void missing_device(PyObject* self) {
    Object identity = own(PyBaseObject_Type.tp_repr(self));
    raise(PyExc_AttributeError,
          percent_format(PYU_STR("Neither 'device' nor 'device_output' has been passed when calling '%s'"),
                         {identity.ptr()}).ptr());
}

void prepare_operation(PyObject* self, PyObject* show_command, PyObject* attrvalpairs, PyObject* refresh_cache,
                       PyObject* device_output) {
    if (attrvalpairs == Py_None) {
        Object identity = own(PyBaseObject_Type.tp_repr(self));
        raise(PyExc_TypeError,
              percent_format(PYU_STR("'%s' missing 1 required positional argument: 'attrvalpairs'"),
                             {identity.ptr()}).ptr());
    }
    setattr(self, PYU_STR("raw_cli"), device_output);
    setattr(self, PYU_STR("_errors"), own(PyList_New(0)).ptr());
    setattr(self, PYU_STR("_show_command"), show_command);
    setattr(self, PYU_STR("_refresh_cache"), refresh_cache);
    setattr(self, PYU_STR("_refresh_cache_init"), refresh_cache);
}

bool choose_device(PyObject* self, PyObject* device, PyObject* device_conn_alias, PyObject* device_output,
                   PyObject* device_os) {
    if (truth(device)) {
        setattr(self, PYU_STR("_device"), device);
        setattr(self, PYU_STR("_device_conn_alias"), device_conn_alias);
        setattr(self, PYU_STR("_device_os"), detect_os(device, device_conn_alias).ptr());
        return true;
    }
    if (truth(device_output)) {
        setattr(self, PYU_STR("_device"), call(global(PYU_STR("Device")), {PYU_STR("device_name")}).ptr());
        setattr(self, PYU_STR("_device_conn_alias"), PYU_STR("any"));
        setattr(self, PYU_STR("_device_os"), device_os);
        return true;
    }
    return false;
}

Object make_oper_check_class(Handle predicate) {
    const pyutil::ModuleFrame& n = frame();
    if (!sort_key) {
        Object itemgetter = getattr(pyutil::import("operator").ptr(), PYU_STR("itemgetter"));
        sort_key = call(itemgetter.ptr(), {own(PyLong_FromLong(0)).ptr()}).release();
    }
    Object bases = own(PyTuple_Pack(1, predicate.ptr()));
    return make_class("oper_check", bases.ptr(), n, doc,
                      {{"__init__", make_method<init_spec>(n)},
                       {"process_attrvalpairs", make_method<process_attrvalpairs_spec>(n)},
                       {"result", make_method<result_spec>(n)},
                       {"parse", make_method<parse_spec>(n)},
                       {"error", make_method<error_spec>(n)},
                       {"__str__", make_diagnosis_method()},
                       {"test", make_method<test_spec>(n)},
                       {"dump", make_method<dump_spec>(n)}});
}

}  // namespace textloom
