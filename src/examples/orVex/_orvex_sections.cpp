// Section bodies of the demonstration test scripts rehearsal and understudy,
// and the methods of their DictDiffer.  The scripts hold the frame; each
// section passes its module's globals and its connection alias (None for
// rehearsal, "myuut" for understudy), and every name of the script (log,
// banner, parameters, tl, tcl, KeyedList, DictDiffer, pprint) is looked up
// in those globals at each use.
#include <vector>
#include "examples/example.hpp"

namespace {

namespace py = pybind11;
using pyutil::borrow;
using pyutil::call;
using pyutil::call_method;
using pyutil::check;
using pyutil::getattr;
using pyutil::getitem;
using pyutil::own;
using pyutil::setitem;
using pyutil::truth;

py::object none() { return borrow(Py_None); }
py::object integer(long value) { return own(PyLong_FromLong(value)); }

// The calling script: its globals and its connection alias.
struct Script {
    PyObject* globals;
    PyObject* alias;

    PyObject* name(PyObject* n) const { return pyutil::lookup_global(globals, n); }
    bool bound(PyObject* n) const {
        PyObject* value = PyDict_GetItemWithError(globals, n);
        pyutil::check_no_error();
        return value != nullptr;
    }
    bool aliased() const { return alias != Py_None; }
    // What runs the script's commands: the device itself, or the connection
    // that the alias names (a plain read: its error ends the section).
    py::object connection(PyObject* uut) const { return aliased() ? getattr(uut, alias) : borrow(uut); }

    void log(PyObject* level, PyObject* message) const { call_method(name(PYU_STR("log")), level, {message}); }
    void info(PyObject* message) const { log(PYU_STR("info"), message); }
    void info(const py::object& message) const { info(message.ptr()); }
    void error(const py::object& message) const { log(PYU_STR("error"), message.ptr()); }
    void info_banner(PyObject* text) const { info(call(name(PYU_STR("banner")), {text})); }
    void info_banner(const py::object& text) const { info_banner(text.ptr()); }
};

Script script(PyObject* globals, PyObject* alias) {
    if (!PyDict_Check(globals)) pyutil::raise(PyExc_TypeError, "globals must be the script's globals dict");
    return Script{globals, alias};
}

// The scripts' attribute test: any error while reading counts as absence.
bool has_attr(PyObject* obj, PyObject* attr) {
    PyObject* value = PyObject_GetAttr(obj, attr);
    if (value) {
        Py_DECREF(value);
        return true;
    }
    if (!PyErr_ExceptionMatches(PyExc_Exception)) throw pyutil::PyError();
    PyErr_Clear();
    return false;
}
bool has_attr(const py::object& obj, PyObject* attr) { return has_attr(obj.ptr(), attr); }

// ---- common setup and housekeeping ------------------------------------------

// "STEP %s: ..." filled with self.parameters["testStep"], read now.
py::object step_text(PyObject* fmt, PyObject* section) {
    py::object step = getitem(getattr(section, PYU_STR("parameters")).ptr(), PYU_STR("testStep"));
    return pyutil::percent_format(fmt, {step.ptr()});
}

// self.failed() ends the section; should it return, the section ends anyway.
py::object fail(PyObject* section) {
    call_method(section, PYU_STR("failed"), {});
    return none();
}

py::object connect_body(PyObject* const* a) {
    const Script s = script(a[0], a[1]);
    PyObject *section = a[2], *testbed = a[3], *uut_name = a[4];
    s.info_banner(PYU_STR("vettle common setup connection to device"));
    setitem(getattr(section, PYU_STR("parameters")).ptr(), PYU_STR("testStep"), integer(1).ptr());
    s.info_banner(step_text(PYU_STR("STEP %s: Device Connection"), section));
    py::object uut = getitem(getattr(testbed, PYU_STR("devices")).ptr(), uut_name);
    // stored before connecting, so it stays there whatever connecting does
    setitem(s.name(PYU_STR("parameters")), PYU_STR("uut"), uut.ptr());
    py::object connect = getattr(uut.ptr(), PYU_STR("connect"));
    static PyObject* const alias_keyword = example::keywords({PYU_STR("alias")});
    if (s.aliased())
        pyutil::call_kw(connect.ptr(), {s.alias}, alias_keyword);
    else
        call(connect.ptr(), {});
    if (!has_attr(s.connection(uut.ptr()), PYU_STR("execute"))) return fail(section);
    py::object execute = getattr(s.connection(uut.ptr()).ptr(), PYU_STR("execute"));
    py::object manager = getattr(uut.ptr(), PYU_STR("connectionmgr"));
    py::object own_connection = getattr(manager.ptr(), s.aliased() ? s.alias : PYU_STR("default"));
    py::object expected = getattr(own_connection.ptr(), PYU_STR("execute"));
    if (truth(own(PyObject_RichCompare(execute.ptr(), expected.ptr(), Py_NE)).ptr())) return fail(section);
    s.info(step_text(PYU_STR("STEP %s: Device Connection Passed"), section));
    return none();
}

py::object show_exec_body(PyObject* const* a) {
    const Script s = script(a[0], a[1]);
    PyObject *section = a[2], *uut = a[3];
    py::object parameters = getattr(section, PYU_STR("parameters"));
    py::object step = getitem(parameters.ptr(), PYU_STR("testStep"));
    setitem(parameters.ptr(), PYU_STR("testStep"), own(PyNumber_InPlaceAdd(step.ptr(), integer(1).ptr())).ptr());
    s.info_banner(step_text(PYU_STR("STEP %s: Device Execution Show CMD"), section));
    s.info(PYU_STR("show clock"));
    py::object output = call_method(s.connection(uut).ptr(), PYU_STR("execute"), {PYU_STR("show clock")});
    if (output.ptr() == Py_None) return fail(section);
    // a one-item tuple, so that a tuple output is shown as one value
    s.info(pyutil::percent_format(PYU_STR("The outputs is: %s"), {output.ptr()}));
    s.info(step_text(PYU_STR("STEP %s: Device Execution Show CMD Passed"), section));
    return none();
}

py::object tc_one_setup_body(PyObject* const* a) {
    script(a[0], Py_None).info(PYU_STR("Pass testcase setup"));
    return none();
}

py::object do_some_cleaning_body(PyObject* const* a) {
    script(a[0], Py_None).info(PYU_STR("Testcase cleanup"));
    return none();
}

// ---- device operations --------------------------------------------------------

// tl.<operation>(...) as the scripts call it: rehearsal passes the device,
// the show command and the pairs by position, understudy everything by
// keyword with its alias after the device.
py::object device_operation(const Script& s, PyObject* operation, PyObject* uut, const py::object& show_command,
                            const py::object& pairs, std::initializer_list<std::pair<PyObject*, PyObject*>> settings) {
    std::vector<PyObject*> args;
    std::vector<PyObject*> keywords;
    if (s.aliased()) {
        args = {uut, s.alias, show_command.ptr(), pairs.ptr()};
        keywords = {PYU_STR("device"), PYU_STR("device_conn_alias"), PYU_STR("show_command"), PYU_STR("attrvalpairs")};
    } else {
        args = {uut, show_command.ptr(), pairs.ptr()};
    }
    for (const auto& [key, value] : settings) {
        keywords.push_back(key);
        args.push_back(value);
    }
    py::object kwnames = own(PyTuple_New(static_cast<Py_ssize_t>(keywords.size())));
    for (size_t i = 0; i < keywords.size(); ++i) PyTuple_SET_ITEM(kwnames.ptr(), i, Py_NewRef(keywords[i]));
    py::object callable = getattr(s.name(PYU_STR("tl")), operation);
    return own(PyObject_Vectorcall(callable.ptr(), args.data(), args.size() - keywords.size(), kwnames.ptr()));
}

// ("show_interface_<WORD>", [], {"ifname": ifname})
py::object show_interface(PyObject* ifname) {
    py::object keywords = own(PyDict_New());
    setitem(keywords.ptr(), PYU_STR("ifname"), ifname);
    py::object positional = own(PyList_New(0));
    return own(PyTuple_Pack(3, PYU_STR("show_interface_<WORD>"), positional.ptr(), keywords.ptr()));
}

py::object pair(PyObject* tag, PyObject* value) { return own(PyTuple_Pack(2, tag, value)); }

// tl.ext_dictio[uut.name], read now
py::object matched_values(const Script& s, PyObject* uut) {
    py::object table = getattr(s.name(PYU_STR("tl")), PYU_STR("ext_dictio"));
    return getitem(table.ptr(), getattr(uut, PYU_STR("name")).ptr());
}

py::object parse(const Script& s, const py::object& operation) {
    py::object result = call_method(operation.ptr(), PYU_STR("parse"), {});
    s.info(pyutil::format(PYU_STR("Parsing result : {}"), {result.ptr()}));
    return result;
}

// ---- Tcl reference and comparison ------------------------------------------

// The Tcl reference mapping under "show.intf." keys, or a null object when
// the connection has no handle, the bridge could not be imported (no Tcl call
// is made then) or the Tcl parse reports failure.
py::object tcl_reference(const Script& s, PyObject* uut, PyObject* if_name) {
    if (!has_attr(s.connection(uut), PYU_STR("handle"))) return {};
    if (!s.bound(PYU_STR("tcl")) || !s.bound(PYU_STR("KeyedList"))) return {};
    call_method(s.name(PYU_STR("tcl")), PYU_STR("eval"), {PYU_STR("package require vorq")});
    py::object kwargs = own(PyDict_New());
    setitem(kwargs.ptr(), PYU_STR("device"), getattr(s.connection(uut).ptr(), PYU_STR("handle")).ptr());
    setitem(kwargs.ptr(), PYU_STR("exec"), pyutil::format(PYU_STR("show interface {}"), {if_name}).ptr());
    py::object abstract = getattr(getattr(s.name(PYU_STR("tcl")), PYU_STR("q")).ptr(), PYU_STR("abstract"));
    py::object no_args = own(PyTuple_New(0));
    py::object result = own(PyObject_Call(abstract.ptr(), no_args.ptr(), kwargs.ptr()));
    if (!truth(getitem(result.ptr(), integer(0).ptr()).ptr())) return {};
    py::object keyed = call_method(s.name(PYU_STR("KeyedList")), PYU_STR("from_tcl"),
                                   {getitem(result.ptr(), integer(1).ptr()).ptr()});
    py::object fields = call(reinterpret_cast<PyObject*>(&PyDict_Type), {keyed.ptr()});
    py::object reference = own(PyDict_New());
    py::object it = pyutil::iter(fields.ptr());
    while (py::object key = pyutil::next(it.ptr())) {
        py::object tag = own(PyNumber_Add(PYU_STR("show.intf."), key.ptr()));
        setitem(reference.ptr(), tag.ptr(), getitem(fields.ptr(), key.ptr()).ptr());
    }
    s.info(reference);
    return reference;
}

void compare(const Script& s, PyObject* uut, const py::object& reference) {
    py::object python = matched_values(s, uut);
    s.info(pyutil::format(PYU_STR("Parsing details : {}"), {python.ptr()}));
    if (!reference) {
        s.info(PYU_STR("TCL reference parse not available: comparison skipped"));
        return;
    }
    py::object diff = call(s.name(PYU_STR("DictDiffer")), {python.ptr(), reference.ptr()});
    s.info(PYU_STR("\nTCL vs Python parse comparison analysis:"));
    s.info(pyutil::format(PYU_STR("\nKeys present in TCL but not present in Python : {}"),
                          {call_method(diff.ptr(), PYU_STR("removed"), {}).ptr()}));
    s.info(pyutil::format(PYU_STR("\nKeys present in Python but not present in TCL : {}"),
                          {call_method(diff.ptr(), PYU_STR("added"), {}).ptr()}));
    if (!truth(call_method(diff.ptr(), PYU_STR("changed"), {}).ptr())) return;
    s.info(PYU_STR("\nThe following values differed between TCL and Python :"));
    py::object changed = call_method(diff.ptr(), PYU_STR("changed"), {});
    py::object it = pyutil::iter(changed.ptr());
    while (py::object key = pyutil::next(it.ptr())) {
        s.info(pyutil::format(PYU_STR("Key : {}, TCL value : {}, Python value : {}"),
                              {key.ptr(), getitem(reference.ptr(), key.ptr()).ptr(),
                               getitem(python.ptr(), key.ptr()).ptr()}));
    }
}

void check_interface(const Script& s, PyObject* uut, PyObject* ifname, const py::object& pairs) {
    py::object tlcheck = device_operation(s, PYU_STR("oper_check"), uut, show_interface(ifname), pairs,
                                          {{PYU_STR("refresh_cache"), Py_True}});
    if (truth(parse(s, tlcheck).ptr()))
        s.info(pyutil::format(PYU_STR("Parsing details : {}"), {matched_values(s, uut).ptr()}));
    else
        s.error(pyutil::str(tlcheck.ptr()));
}

py::object comparison_body(PyObject* const* a) {
    const Script s = script(a[0], a[1]);
    PyObject *uut = a[2], *if_name = a[3], *mtu = a[4];
    py::object reference = tcl_reference(s, uut, if_name);

    py::object to_parse = own(PyList_New(0));
    check(PyList_Append(to_parse.ptr(), pair(PYU_STR("show.intf.if_name"), if_name).ptr()));
    py::object tlfill = device_operation(s, PYU_STR("oper_fill"), uut, show_interface(if_name), to_parse,
                                         {{PYU_STR("refresh_cache"), Py_True},
                                          {PYU_STR("regex_tag_fill_pattern"), PYU_STR(R"(show\.intf)")}});
    py::object result = parse(s, tlfill);
    if (has_attr(s.connection(uut), PYU_STR("handle"))) {
        if (truth(result.ptr()))
            compare(s, uut, reference);
        else
            s.error(pyutil::str(tlfill.ptr()));
    }

    py::object to_check = own(PyList_New(0));
    for (const py::object& p : {pair(PYU_STR("show.intf.if_name"), if_name), pair(PYU_STR("show.intf.line_protocol"), PYU_STR("up")),
                                pair(PYU_STR("show.intf.mtu"), mtu), pair(PYU_STR("show.intf.admin_state"), PYU_STR("up"))})
        check(PyList_Append(to_check.ptr(), p.ptr()));
    check_interface(s, uut, if_name, to_check);
    check_interface(s, uut, PYU_STR(""), to_check);
    return none();
}

py::object tabular_body(PyObject* const* a) {
    const Script s = script(a[0], a[1]);
    PyObject *uut = a[2], *header_fields = a[3], *title_pattern = a[4], *index = a[5];
    py::object operation = getattr(s.name(PYU_STR("tl")), PYU_STR("oper_fill_tabular"));
    static PyObject* const aliased_keywords =
        example::keywords({PYU_STR("device"), PYU_STR("device_conn_alias"), PYU_STR("show_command"),
                           PYU_STR("refresh_cache"), PYU_STR("header_fields"), PYU_STR("index"),
                           PYU_STR("table_title_pattern")});
    static PyObject* const keywords =
        example::keywords({PYU_STR("device"), PYU_STR("show_command"), PYU_STR("refresh_cache"),
                           PYU_STR("header_fields"), PYU_STR("index"), PYU_STR("table_title_pattern")});
    py::object res = s.aliased()
        ? pyutil::call_kw(operation.ptr(),
                          {uut, s.alias, PYU_STR("SHOW_ARP"), Py_True, header_fields, index, title_pattern},
                          aliased_keywords)
        : pyutil::call_kw(operation.ptr(), {uut, PYU_STR("SHOW_ARP"), Py_True, header_fields, index, title_pattern},
                          keywords);
    py::object formatted = call_method(s.name(PYU_STR("pprint")), PYU_STR("pformat"),
                                       {getattr(res.ptr(), PYU_STR("entries")).ptr()});
    s.info(own(PyNumber_Add(PYU_STR("Tabular parse result:\n"), formatted.ptr())));
    return none();
}

// ---- DictDiffer -----------------------------------------------------------------

py::object differ_init_body(PyObject* const* a) {
    PyObject *self = a[0], *current_dict = a[1], *past_dict = a[2];
    pyutil::setattr(self, PYU_STR("current_dict"), current_dict);
    pyutil::setattr(self, PYU_STR("past_dict"), past_dict);
    py::object set_current = own(PySet_New(call_method(current_dict, PYU_STR("keys"), {}).ptr()));
    py::object set_past = own(PySet_New(call_method(past_dict, PYU_STR("keys"), {}).ptr()));
    pyutil::setattr(self, PYU_STR("set_current"), set_current.ptr());
    pyutil::setattr(self, PYU_STR("set_past"), set_past.ptr());
    py::object intersect = call_method(getattr(self, PYU_STR("set_current")).ptr(), PYU_STR("intersection"),
                                       {getattr(self, PYU_STR("set_past")).ptr()});
    pyutil::setattr(self, PYU_STR("intersect"), intersect.ptr());
    return none();
}

py::object difference(PyObject* self, PyObject* keys) {
    return own(PyNumber_Subtract(getattr(self, keys).ptr(), getattr(self, PYU_STR("intersect")).ptr()));
}

py::object added_body(PyObject* const* a) { return difference(a[0], PYU_STR("set_current")); }
py::object removed_body(PyObject* const* a) { return difference(a[0], PYU_STR("set_past")); }

// The keys of `intersect` whose past value compares to the current one by
// `op`: a rich comparison without the identity shortcut, so NaN differs
// from itself.
py::object compared(PyObject* self, int op) {
    py::object result = own(PySet_New(nullptr));
    py::object it = pyutil::iter(getattr(self, PYU_STR("intersect")).ptr());
    while (py::object key = pyutil::next(it.ptr())) {
        py::object past = getitem(getattr(self, PYU_STR("past_dict")).ptr(), key.ptr());
        py::object current = getitem(getattr(self, PYU_STR("current_dict")).ptr(), key.ptr());
        if (truth(own(PyObject_RichCompare(past.ptr(), current.ptr(), op)).ptr()))
            check(PySet_Add(result.ptr(), key.ptr()));
    }
    return result;
}

py::object changed_body(PyObject* const* a) { return compared(a[0], Py_NE); }
py::object unchanged_body(PyObject* const* a) { return compared(a[0], Py_EQ); }

// ---- module -------------------------------------------------------------------------

pyutil::FunctionSpec connect_spec{"connect", "connect",
                                  {{"globals"}, {"alias"}, {"section"}, {"testbed"}, {"uut_name"}}, connect_body};
pyutil::FunctionSpec show_exec_spec{"show_exec", "show_exec", {{"globals"}, {"alias"}, {"section"}, {"uut"}},
                                    show_exec_body};
pyutil::FunctionSpec tc_one_setup_spec{"tc_one_setup", "tc_one_setup", {{"globals"}}, tc_one_setup_body};
pyutil::FunctionSpec comparison_spec{"tclPythonNonTabularParsingComparison", "tclPythonNonTabularParsingComparison",
                                     {{"globals"}, {"alias"}, {"uut"}, {"if_name"}, {"mtu"}}, comparison_body};
pyutil::FunctionSpec tabular_spec{"pythonTabularParsing", "pythonTabularParsing",
                                  {{"globals"}, {"alias"}, {"uut"}, {"show_arp_header_fields"},
                                   {"show_arp_table_title_pattern"}, {"show_arp_table_parse_index"}},
                                  tabular_body};
pyutil::FunctionSpec do_some_cleaning_spec{"do_some_cleaning", "do_some_cleaning", {{"globals"}},
                                           do_some_cleaning_body};

pyutil::FunctionSpec differ_init_spec{"__init__", "DictDiffer.__init__",
                                      {{"self"}, {"current_dict"}, {"past_dict"}}, differ_init_body};
pyutil::FunctionSpec added_spec{"added", "DictDiffer.added", {{"self"}}, added_body};
pyutil::FunctionSpec removed_spec{"removed", "DictDiffer.removed", {{"self"}}, removed_body};
pyutil::FunctionSpec changed_spec{"changed", "DictDiffer.changed", {{"self"}}, changed_body};
pyutil::FunctionSpec unchanged_spec{"unchanged", "DictDiffer.unchanged", {{"self"}}, unchanged_body};

// The module body: the section bodies, then the DictDiffer methods.
void script() {
    PyObject *module = example::script_module, *name = example::script_name;
    example::bind("connect", pyutil::make_function<connect_spec>(module, name));
    example::bind("show_exec", pyutil::make_function<show_exec_spec>(module, name));
    example::bind("tc_one_setup", pyutil::make_function<tc_one_setup_spec>(module, name));
    example::bind("tclPythonNonTabularParsingComparison", pyutil::make_function<comparison_spec>(module, name));
    example::bind("pythonTabularParsing", pyutil::make_function<tabular_spec>(module, name));
    example::bind("do_some_cleaning", pyutil::make_function<do_some_cleaning_spec>(module, name));
    example::bind("differ_init", pyutil::make_method<differ_init_spec>(name));
    example::bind("differ_added", pyutil::make_method<added_spec>(name));
    example::bind("differ_removed", pyutil::make_method<removed_spec>(name));
    example::bind("differ_changed", pyutil::make_method<changed_spec>(name));
    example::bind("differ_unchanged", pyutil::make_method<unchanged_spec>(name));
}

}  // namespace

extern "C" PyMODINIT_FUNC PyInit__orvex_sections() {
    return example::init_script_module<script>("mirel.textloom.examples.textloom.orVex._orvex_sections");
}
