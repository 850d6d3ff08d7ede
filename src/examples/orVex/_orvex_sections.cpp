// Section bodies of the demonstration test scripts rehearsal and understudy,
// and the methods of their DictDiffer.  The scripts hold the frame; each
// section passes its module's globals and its connection alias (None for
// rehearsal, "myuut" for understudy), and every name of the script (log,
// banner, parameters, tl, tcl, KeyedList, DictDiffer, pprint) is looked up
// in those globals at each use.
#include <vector>
#include "examples/example.hpp"

namespace {

using pyutil::Args;
using pyutil::Handle;
using pyutil::Object;
using pyutil::borrow;
using pyutil::call;
using pyutil::call_method;
using pyutil::check;
using pyutil::getattr;
using pyutil::getitem;
using pyutil::own;
using pyutil::setitem;
using pyutil::truth;

Object none() { return borrow(Py_None); }
Object integer(long value) { return own(PyLong_FromLong(value)); }

// The calling script: its globals and its connection alias.
struct Script {
    PyObject* globals;
    PyObject* alias;

    Object name(Handle n) const { return pyutil::lookup_global(globals, n); }
    bool bound(PyObject* n) const {
        PyObject* value = PyDict_GetItemWithError(globals, n);
        pyutil::check_no_error();
        return value != nullptr;
    }
    bool aliased() const { return alias != Py_None; }
    // What runs the script's commands: the device itself, or the connection
    // that the alias names (a plain read: its error ends the section).
    Object connection(PyObject* uut) const { return aliased() ? getattr(uut, alias) : borrow(uut); }

    void log(PyObject* level, PyObject* message) const { call_method(name(PYU_STR("log")), level, {message}); }
    void info(PyObject* message) const { log(PYU_STR("info"), message); }
    void info(const Object& message) const { info(message.ptr()); }
    void error(const Object& message) const { log(PYU_STR("error"), message.ptr()); }
    void info_banner(PyObject* text) const { info(call(name(PYU_STR("banner")), {text})); }
    void info_banner(const Object& text) const { info_banner(text.ptr()); }
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
bool has_attr(const Object& obj, PyObject* attr) { return has_attr(obj.ptr(), attr); }

// ---- common setup and housekeeping ------------------------------------------

// "STEP %s: ..." filled with self.parameters["testStep"], read now.
Object step_text(PyObject* fmt, PyObject* section) {
    Object step = getitem(getattr(section, PYU_STR("parameters")).ptr(), PYU_STR("testStep"));
    return pyutil::percent_format(fmt, {step.ptr()});
}

// self.failed() ends the section; should it return, the section ends anyway.
Object fail(PyObject* section) {
    call_method(section, PYU_STR("failed"), {});
    return none();
}

Object connect_body(const Args& a) {
    const Script s = script(a[0], a[1]);
    PyObject *section = a[2], *testbed = a[3], *uut_name = a[4];
    s.info_banner(PYU_STR("vettle common setup connection to device"));
    setitem(getattr(section, PYU_STR("parameters")).ptr(), PYU_STR("testStep"), integer(1).ptr());
    s.info_banner(step_text(PYU_STR("STEP %s: Device Connection"), section));
    Object uut = getitem(getattr(testbed, PYU_STR("devices")).ptr(), uut_name);
    // stored before connecting, so it stays there whatever connecting does
    setitem(s.name(PYU_STR("parameters")), PYU_STR("uut"), uut.ptr());
    Object connect = getattr(uut.ptr(), PYU_STR("connect"));
    static PyObject* const alias_keyword = example::keywords({PYU_STR("alias")});
    if (s.aliased())
        pyutil::call_kw(connect.ptr(), {s.alias}, alias_keyword);
    else
        call(connect.ptr(), {});
    if (!has_attr(s.connection(uut.ptr()), PYU_STR("execute"))) return fail(section);
    Object execute = getattr(s.connection(uut.ptr()).ptr(), PYU_STR("execute"));
    Object manager = getattr(uut.ptr(), PYU_STR("connectionmgr"));
    Object own_connection = getattr(manager.ptr(), s.aliased() ? s.alias : PYU_STR("default"));
    Object expected = getattr(own_connection.ptr(), PYU_STR("execute"));
    if (truth(own(PyObject_RichCompare(execute.ptr(), expected.ptr(), Py_NE)).ptr())) return fail(section);
    s.info(step_text(PYU_STR("STEP %s: Device Connection Passed"), section));
    return none();
}

Object show_exec_body(const Args& a) {
    const Script s = script(a[0], a[1]);
    PyObject *section = a[2], *uut = a[3];
    Object parameters = getattr(section, PYU_STR("parameters"));
    Object step = getitem(parameters.ptr(), PYU_STR("testStep"));
    setitem(parameters.ptr(), PYU_STR("testStep"), own(PyNumber_InPlaceAdd(step.ptr(), integer(1).ptr())).ptr());
    s.info_banner(step_text(PYU_STR("STEP %s: Device Execution Show CMD"), section));
    s.info(PYU_STR("show clock"));
    Object output = call_method(s.connection(uut).ptr(), PYU_STR("execute"), {PYU_STR("show clock")});
    if (output.ptr() == Py_None) return fail(section);
    // a one-item tuple, so that a tuple output is shown as one value
    s.info(pyutil::percent_format(PYU_STR("The outputs is: %s"), {output.ptr()}));
    s.info(step_text(PYU_STR("STEP %s: Device Execution Show CMD Passed"), section));
    return none();
}

Object tc_one_setup_body(const Args& a) {
    script(a[0], Py_None).info(PYU_STR("Pass testcase setup"));
    return none();
}

Object do_some_cleaning_body(const Args& a) {
    script(a[0], Py_None).info(PYU_STR("Testcase cleanup"));
    return none();
}

// ---- device operations --------------------------------------------------------

// tl.<operation>(...) as the scripts call it: rehearsal passes the device,
// the show command and the pairs by position, understudy everything by
// keyword with its alias after the device.
Object device_operation(const Script& s, PyObject* operation, PyObject* uut, const Object& show_command,
                            const Object& pairs, std::initializer_list<std::pair<PyObject*, PyObject*>> settings) {
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
    Object kwnames = own(PyTuple_New(static_cast<Py_ssize_t>(keywords.size())));
    for (size_t i = 0; i < keywords.size(); ++i) PyTuple_SET_ITEM(kwnames.ptr(), i, Py_NewRef(keywords[i]));
    Object callable = getattr(s.name(PYU_STR("tl")), operation);
    return own(PyObject_Vectorcall(callable.ptr(), args.data(), args.size() - keywords.size(), kwnames.ptr()));
}

// ("show_interface_<WORD>", [], {"ifname": ifname})
Object show_interface(PyObject* ifname) {
    Object keywords = own(PyDict_New());
    setitem(keywords.ptr(), PYU_STR("ifname"), ifname);
    Object positional = own(PyList_New(0));
    return own(PyTuple_Pack(3, PYU_STR("show_interface_<WORD>"), positional.ptr(), keywords.ptr()));
}

Object pair(PyObject* tag, PyObject* value) { return own(PyTuple_Pack(2, tag, value)); }

// tl.ext_dictio[uut.name], read now
Object matched_values(const Script& s, PyObject* uut) {
    Object table = getattr(s.name(PYU_STR("tl")), PYU_STR("ext_dictio"));
    return getitem(table.ptr(), getattr(uut, PYU_STR("name")).ptr());
}

Object parse(const Script& s, const Object& operation) {
    Object result = call_method(operation.ptr(), PYU_STR("parse"), {});
    s.info(pyutil::format(PYU_STR("Parsing result : {}"), {result.ptr()}));
    return result;
}

// ---- Tcl reference and comparison ------------------------------------------

// The Tcl reference mapping under "show.intf." keys, or a null object when
// the connection has no handle, the bridge could not be imported (no Tcl call
// is made then) or the Tcl parse reports failure.
Object tcl_reference(const Script& s, PyObject* uut, PyObject* if_name) {
    if (!has_attr(s.connection(uut), PYU_STR("handle"))) return {};
    if (!s.bound(PYU_STR("tcl")) || !s.bound(PYU_STR("KeyedList"))) return {};
    call_method(s.name(PYU_STR("tcl")), PYU_STR("eval"), {PYU_STR("package require vorq")});
    Object kwargs = own(PyDict_New());
    setitem(kwargs.ptr(), PYU_STR("device"), getattr(s.connection(uut).ptr(), PYU_STR("handle")).ptr());
    setitem(kwargs.ptr(), PYU_STR("exec"), pyutil::format(PYU_STR("show interface {}"), {if_name}).ptr());
    Object abstract = getattr(getattr(s.name(PYU_STR("tcl")), PYU_STR("q")).ptr(), PYU_STR("abstract"));
    Object no_args = own(PyTuple_New(0));
    Object result = own(PyObject_Call(abstract.ptr(), no_args.ptr(), kwargs.ptr()));
    if (!truth(getitem(result.ptr(), integer(0).ptr()).ptr())) return {};
    Object keyed = call_method(s.name(PYU_STR("KeyedList")), PYU_STR("from_tcl"),
                                   {getitem(result.ptr(), integer(1).ptr()).ptr()});
    Object fields = call(reinterpret_cast<PyObject*>(&PyDict_Type), {keyed.ptr()});
    Object reference = own(PyDict_New());
    Object it = pyutil::iter(fields.ptr());
    while (Object key = pyutil::next(it.ptr())) {
        Object tag = own(PyNumber_Add(PYU_STR("show.intf."), key.ptr()));
        setitem(reference.ptr(), tag.ptr(), getitem(fields.ptr(), key.ptr()).ptr());
    }
    s.info(reference);
    return reference;
}

void compare(const Script& s, PyObject* uut, const Object& reference) {
    Object python = matched_values(s, uut);
    s.info(pyutil::format(PYU_STR("Parsing details : {}"), {python.ptr()}));
    if (!reference) {
        s.info(PYU_STR("TCL reference parse not available: comparison skipped"));
        return;
    }
    Object diff = call(s.name(PYU_STR("DictDiffer")), {python.ptr(), reference.ptr()});
    s.info(PYU_STR("\nTCL vs Python parse comparison analysis:"));
    s.info(pyutil::format(PYU_STR("\nKeys present in TCL but not present in Python : {}"),
                          {call_method(diff.ptr(), PYU_STR("removed"), {}).ptr()}));
    s.info(pyutil::format(PYU_STR("\nKeys present in Python but not present in TCL : {}"),
                          {call_method(diff.ptr(), PYU_STR("added"), {}).ptr()}));
    if (!truth(call_method(diff.ptr(), PYU_STR("changed"), {}).ptr())) return;
    s.info(PYU_STR("\nThe following values differed between TCL and Python :"));
    Object changed = call_method(diff.ptr(), PYU_STR("changed"), {});
    Object it = pyutil::iter(changed.ptr());
    while (Object key = pyutil::next(it.ptr())) {
        s.info(pyutil::format(PYU_STR("Key : {}, TCL value : {}, Python value : {}"),
                              {key.ptr(), getitem(reference.ptr(), key.ptr()).ptr(),
                               getitem(python.ptr(), key.ptr()).ptr()}));
    }
}

void check_interface(const Script& s, PyObject* uut, PyObject* ifname, const Object& pairs) {
    Object tlcheck = device_operation(s, PYU_STR("oper_check"), uut, show_interface(ifname), pairs,
                                          {{PYU_STR("refresh_cache"), Py_True}});
    if (truth(parse(s, tlcheck).ptr()))
        s.info(pyutil::format(PYU_STR("Parsing details : {}"), {matched_values(s, uut).ptr()}));
    else
        s.error(pyutil::str(tlcheck.ptr()));
}

Object comparison_body(const Args& a) {
    const Script s = script(a[0], a[1]);
    PyObject *uut = a[2], *if_name = a[3], *mtu = a[4];
    Object reference = tcl_reference(s, uut, if_name);

    Object to_parse = own(PyList_New(0));
    check(PyList_Append(to_parse.ptr(), pair(PYU_STR("show.intf.if_name"), if_name).ptr()));
    Object tlfill = device_operation(s, PYU_STR("oper_fill"), uut, show_interface(if_name), to_parse,
                                         {{PYU_STR("refresh_cache"), Py_True},
                                          {PYU_STR("regex_tag_fill_pattern"), PYU_STR(R"(show\.intf)")}});
    Object result = parse(s, tlfill);
    if (has_attr(s.connection(uut), PYU_STR("handle"))) {
        if (truth(result.ptr()))
            compare(s, uut, reference);
        else
            s.error(pyutil::str(tlfill.ptr()));
    }

    Object to_check = own(PyList_New(0));
    for (const Object& p : {pair(PYU_STR("show.intf.if_name"), if_name), pair(PYU_STR("show.intf.line_protocol"), PYU_STR("up")),
                                pair(PYU_STR("show.intf.mtu"), mtu), pair(PYU_STR("show.intf.admin_state"), PYU_STR("up"))})
        check(PyList_Append(to_check.ptr(), p.ptr()));
    check_interface(s, uut, if_name, to_check);
    check_interface(s, uut, PYU_STR(""), to_check);
    return none();
}

Object tabular_body(const Args& a) {
    const Script s = script(a[0], a[1]);
    PyObject *uut = a[2], *header_fields = a[3], *title_pattern = a[4], *index = a[5];
    Object operation = getattr(s.name(PYU_STR("tl")), PYU_STR("oper_fill_tabular"));
    static PyObject* const aliased_keywords =
        example::keywords({PYU_STR("device"), PYU_STR("device_conn_alias"), PYU_STR("show_command"),
                           PYU_STR("refresh_cache"), PYU_STR("header_fields"), PYU_STR("index"),
                           PYU_STR("table_title_pattern")});
    static PyObject* const keywords =
        example::keywords({PYU_STR("device"), PYU_STR("show_command"), PYU_STR("refresh_cache"),
                           PYU_STR("header_fields"), PYU_STR("index"), PYU_STR("table_title_pattern")});
    Object res = s.aliased()
        ? pyutil::call_kw(operation.ptr(),
                          {uut, s.alias, PYU_STR("SHOW_ARP"), Py_True, header_fields, index, title_pattern},
                          aliased_keywords)
        : pyutil::call_kw(operation.ptr(), {uut, PYU_STR("SHOW_ARP"), Py_True, header_fields, index, title_pattern},
                          keywords);
    Object formatted = call_method(s.name(PYU_STR("pprint")), PYU_STR("pformat"),
                                       {getattr(res.ptr(), PYU_STR("entries")).ptr()});
    s.info(own(PyNumber_Add(PYU_STR("Tabular parse result:\n"), formatted.ptr())));
    return none();
}

// ---- DictDiffer -----------------------------------------------------------------

Object differ_init_body(const Args& a) {
    PyObject *self = a[0], *current_dict = a[1], *past_dict = a[2];
    pyutil::setattr(self, PYU_STR("current_dict"), current_dict);
    pyutil::setattr(self, PYU_STR("past_dict"), past_dict);
    Object set_current = own(PySet_New(call_method(current_dict, PYU_STR("keys"), {}).ptr()));
    Object set_past = own(PySet_New(call_method(past_dict, PYU_STR("keys"), {}).ptr()));
    pyutil::setattr(self, PYU_STR("set_current"), set_current.ptr());
    pyutil::setattr(self, PYU_STR("set_past"), set_past.ptr());
    Object intersect = call_method(getattr(self, PYU_STR("set_current")).ptr(), PYU_STR("intersection"),
                                       {getattr(self, PYU_STR("set_past")).ptr()});
    pyutil::setattr(self, PYU_STR("intersect"), intersect.ptr());
    return none();
}

Object difference(PyObject* self, PyObject* keys) {
    return own(PyNumber_Subtract(getattr(self, keys).ptr(), getattr(self, PYU_STR("intersect")).ptr()));
}

Object added_body(const Args& a) { return difference(a[0], PYU_STR("set_current")); }
Object removed_body(const Args& a) { return difference(a[0], PYU_STR("set_past")); }

// The keys of `intersect` whose past value compares to the current one by
// `op`: a rich comparison without the identity shortcut, so NaN differs
// from itself.
Object compared(PyObject* self, int op) {
    Object result = own(PySet_New(nullptr));
    Object it = pyutil::iter(getattr(self, PYU_STR("intersect")).ptr());
    while (Object key = pyutil::next(it.ptr())) {
        Object past = getitem(getattr(self, PYU_STR("past_dict")).ptr(), key.ptr());
        Object current = getitem(getattr(self, PYU_STR("current_dict")).ptr(), key.ptr());
        if (truth(own(PyObject_RichCompare(past.ptr(), current.ptr(), op)).ptr()))
            check(PySet_Add(result.ptr(), key.ptr()));
    }
    return result;
}

Object changed_body(const Args& a) { return compared(a[0], Py_NE); }
Object unchanged_body(const Args& a) { return compared(a[0], Py_EQ); }

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
void script(const pyutil::ModuleFrame& m) {
    m.bind("connect", pyutil::make_function<connect_spec>(m));
    m.bind("show_exec", pyutil::make_function<show_exec_spec>(m));
    m.bind("tc_one_setup", pyutil::make_function<tc_one_setup_spec>(m));
    m.bind("tclPythonNonTabularParsingComparison", pyutil::make_function<comparison_spec>(m));
    m.bind("pythonTabularParsing", pyutil::make_function<tabular_spec>(m));
    m.bind("do_some_cleaning", pyutil::make_function<do_some_cleaning_spec>(m));
    m.bind("differ_init", pyutil::make_method<differ_init_spec>(m));
    m.bind("differ_added", pyutil::make_method<added_spec>(m));
    m.bind("differ_removed", pyutil::make_method<removed_spec>(m));
    m.bind("differ_changed", pyutil::make_method<changed_spec>(m));
    m.bind("differ_unchanged", pyutil::make_method<unchanged_spec>(m));
}

}  // namespace

extern "C" PyMODINIT_FUNC PyInit__orvex_sections() {
    return example::init_script_module<script>("mirel.textloom.examples.textloom.orVex._orvex_sections");
}
