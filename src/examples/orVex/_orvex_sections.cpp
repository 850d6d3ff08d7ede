// Section bodies of the demonstration test scripts rehearsal and understudy,
// and the methods of their DictDiffer.  The scripts hold the frame; each
// section passes its module's globals and its connection alias (None for
// rehearsal, "myuut" for understudy), and every name of the script (log,
// banner, parameters, tl, tcl, KeyedList, DictDiffer, pprint) is looked up
// in those globals at each use.
#include <vector>
#include "examples/example.hpp"

namespace {

using pyutil::Absent;
using pyutil::Args;
using pyutil::Handle;
using pyutil::Object;
using pyutil::add;
using pyutil::append;
using pyutil::attr_if_present;
using pyutil::borrow;
using pyutil::call;
using pyutil::call_kw;
using pyutil::call_method;
using pyutil::format;
using pyutil::getattr;
using pyutil::getitem;
using pyutil::integer;
using pyutil::iter;
using pyutil::new_dict;
using pyutil::new_list;
using pyutil::next;
using pyutil::setattr;
using pyutil::setitem;
using pyutil::truth;
using pyutil::tuple;

Object none() { return borrow(Py_None); }

// The calling script: its globals and its connection alias.
struct Script {
    Handle globals;
    Handle alias;

    Object name(Handle n) const { return pyutil::lookup_global(globals, n); }
    bool bound(Handle n) const {
        PyObject* value = PyDict_GetItemWithError(globals.ptr(), n.ptr());
        pyutil::check_no_error();
        return value != nullptr;
    }
    bool aliased() const { return !alias.is_none(); }
    // What runs the script's commands: the device itself, or the connection
    // that the alias names (a plain read: its error ends the section).
    Object connection(Handle uut) const { return aliased() ? getattr(uut, alias) : borrow(uut); }

    void log(Handle level, Handle message) const { call_method(name(PYU_STR("log")), level, {message}); }
    void info(Handle message) const { log(PYU_STR("info"), message); }
    void error(Handle message) const { log(PYU_STR("error"), message); }
    void info_banner(Handle text) const { info(call(name(PYU_STR("banner")), {text})); }
};

Script script(Handle globals, Handle alias) {
    if (!PyDict_Check(globals.ptr())) pyutil::raise(PyExc_TypeError, "globals must be the script's globals dict");
    return Script{globals, alias};
}

// The scripts' attribute test: an Exception while reading counts as absence.
bool has_attribute(Handle obj, Handle name) { return bool(attr_if_present(obj, name, Absent::on_exception)); }

// ---- common setup and housekeeping ------------------------------------------

// "STEP %s: ..." filled with self.parameters["testStep"], read now.
Object step_text(Handle fmt, Handle section) {
    Object step = getitem(getattr(section, PYU_STR("parameters")), PYU_STR("testStep"));
    return pyutil::percent_format(fmt, {step});
}

// self.failed() ends the section; should it return, the section ends anyway.
Object fail(Handle section) {
    call_method(section, PYU_STR("failed"), {});
    return none();
}

Object connect_body(const Args& a) {
    const Script s = script(a[0], a[1]);
    Handle section = a[2], testbed = a[3], uut_name = a[4];
    s.info_banner(PYU_STR("vettle common setup connection to device"));
    setitem(getattr(section, PYU_STR("parameters")), PYU_STR("testStep"), integer(1));
    s.info_banner(step_text(PYU_STR("STEP %s: Device Connection"), section));
    Object uut = getitem(getattr(testbed, PYU_STR("devices")), uut_name);
    // stored before connecting, so it stays there whatever connecting does
    setitem(s.name(PYU_STR("parameters")), PYU_STR("uut"), uut);
    Object connect = getattr(uut, PYU_STR("connect"));
    if (s.aliased())
        call_kw(connect, {s.alias}, PYU_KWNAMES("alias"));
    else
        call(connect, {});
    if (!has_attribute(s.connection(uut), PYU_STR("execute"))) return fail(section);
    Object execute = getattr(s.connection(uut), PYU_STR("execute"));
    Object manager = getattr(uut, PYU_STR("connectionmgr"));
    Object own_connection = getattr(manager, s.aliased() ? s.alias : Handle(PYU_STR("default")));
    Object expected = getattr(own_connection, PYU_STR("execute"));
    if (pyutil::not_equal(execute, expected)) return fail(section);
    s.info(step_text(PYU_STR("STEP %s: Device Connection Passed"), section));
    return none();
}

Object show_exec_body(const Args& a) {
    const Script s = script(a[0], a[1]);
    Handle section = a[2], uut = a[3];
    Object parameters = getattr(section, PYU_STR("parameters"));
    Object step = getitem(parameters, PYU_STR("testStep"));
    setitem(parameters, PYU_STR("testStep"), pyutil::inplace_add(step, integer(1)));
    s.info_banner(step_text(PYU_STR("STEP %s: Device Execution Show CMD"), section));
    s.info(PYU_STR("show clock"));
    Object output = call_method(s.connection(uut), PYU_STR("execute"), {PYU_STR("show clock")});
    if (output.is_none()) return fail(section);
    // a one-item tuple, so that a tuple output is shown as one value
    s.info(pyutil::percent_format(PYU_STR("The outputs is: %s"), {output}));
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

// tl.<operation>(...) with refresh_cache=True, and for a fill the tag
// pattern (null for a check), as the scripts call it: rehearsal passes the
// device, the show command and the pairs by position, understudy everything
// by keyword with its alias after the device.
Object device_operation(const Script& s, Handle operation, Handle uut, Handle show_command, Handle pairs,
                        Handle fill_pattern) {
    Object callable = getattr(s.name(PYU_STR("tl")), operation);
    if (s.aliased() && fill_pattern)
        return call_kw(callable, {uut, s.alias, show_command, pairs, Py_True, fill_pattern},
                       PYU_KWNAMES("device", "device_conn_alias", "show_command", "attrvalpairs", "refresh_cache",
                                   "regex_tag_fill_pattern"));
    if (s.aliased())
        return call_kw(callable, {uut, s.alias, show_command, pairs, Py_True},
                       PYU_KWNAMES("device", "device_conn_alias", "show_command", "attrvalpairs", "refresh_cache"));
    if (fill_pattern)
        return call_kw(callable, {uut, show_command, pairs, Py_True, fill_pattern},
                       PYU_KWNAMES("refresh_cache", "regex_tag_fill_pattern"));
    return call_kw(callable, {uut, show_command, pairs, Py_True}, PYU_KWNAMES("refresh_cache"));
}

// ("show_interface_<WORD>", [], {"ifname": ifname})
Object show_interface(Handle ifname) {
    Object keywords = new_dict();
    setitem(keywords, PYU_STR("ifname"), ifname);
    return tuple({PYU_STR("show_interface_<WORD>"), new_list(), keywords});
}

// tl.ext_dictio[uut.name], read now
Object matched_values(const Script& s, Handle uut) {
    Object table = getattr(s.name(PYU_STR("tl")), PYU_STR("ext_dictio"));
    return getitem(table, getattr(uut, PYU_STR("name")));
}

Object parse(const Script& s, Handle operation) {
    Object result = call_method(operation, PYU_STR("parse"), {});
    s.info(format(PYU_STR("Parsing result : {}"), {result}));
    return result;
}

// ---- Tcl reference and comparison ------------------------------------------

// The Tcl reference mapping under "show.intf." keys, or a null object when
// the connection has no handle, the bridge could not be imported (no Tcl call
// is made then) or the Tcl parse reports failure.
Object tcl_reference(const Script& s, Handle uut, Handle if_name) {
    if (!has_attribute(s.connection(uut), PYU_STR("handle"))) return {};
    if (!s.bound(PYU_STR("tcl")) || !s.bound(PYU_STR("KeyedList"))) return {};
    call_method(s.name(PYU_STR("tcl")), PYU_STR("eval"), {PYU_STR("package require vorq")});
    Object device = getattr(s.connection(uut), PYU_STR("handle"));
    Object command = format(PYU_STR("show interface {}"), {if_name});
    Object abstract = getattr(getattr(s.name(PYU_STR("tcl")), PYU_STR("q")), PYU_STR("abstract"));
    Object result = call_kw(abstract, {device, command}, PYU_KWNAMES("device", "exec"));
    if (!truth(getitem(result, integer(0)))) return {};
    Object keyed = call_method(s.name(PYU_STR("KeyedList")), PYU_STR("from_tcl"), {getitem(result, integer(1))});
    Object fields = call(reinterpret_cast<PyObject*>(&PyDict_Type), {keyed});
    Object reference = new_dict();
    Object it = iter(fields);
    while (Object key = next(it)) setitem(reference, add(PYU_STR("show.intf."), key), getitem(fields, key));
    s.info(reference);
    return reference;
}

void compare(const Script& s, Handle uut, Handle reference) {
    Object python = matched_values(s, uut);
    s.info(format(PYU_STR("Parsing details : {}"), {python}));
    if (!reference) {
        s.info(PYU_STR("TCL reference parse not available: comparison skipped"));
        return;
    }
    Object diff = call(s.name(PYU_STR("DictDiffer")), {python, reference});
    s.info(PYU_STR("\nTCL vs Python parse comparison analysis:"));
    s.info(format(PYU_STR("\nKeys present in TCL but not present in Python : {}"),
                  {call_method(diff, PYU_STR("removed"), {})}));
    s.info(format(PYU_STR("\nKeys present in Python but not present in TCL : {}"),
                  {call_method(diff, PYU_STR("added"), {})}));
    if (!truth(call_method(diff, PYU_STR("changed"), {}))) return;
    s.info(PYU_STR("\nThe following values differed between TCL and Python :"));
    Object changed = call_method(diff, PYU_STR("changed"), {});
    Object it = iter(changed);
    while (Object key = next(it)) {
        s.info(format(PYU_STR("Key : {}, TCL value : {}, Python value : {}"),
                      {key, getitem(reference, key), getitem(python, key)}));
    }
}

void check_interface(const Script& s, Handle uut, Handle ifname, Handle pairs) {
    Object tlcheck = device_operation(s, PYU_STR("oper_check"), uut, show_interface(ifname), pairs, Handle());
    if (truth(parse(s, tlcheck)))
        s.info(format(PYU_STR("Parsing details : {}"), {matched_values(s, uut)}));
    else
        s.error(pyutil::str(tlcheck));
}

Object comparison_body(const Args& a) {
    const Script s = script(a[0], a[1]);
    Handle uut = a[2], if_name = a[3], mtu = a[4];
    Object reference = tcl_reference(s, uut, if_name);

    Object to_parse = new_list();
    append(to_parse, tuple({PYU_STR("show.intf.if_name"), if_name}));
    Object tlfill = device_operation(s, PYU_STR("oper_fill"), uut, show_interface(if_name), to_parse,
                                     PYU_STR(R"(show\.intf)"));
    Object result = parse(s, tlfill);
    if (has_attribute(s.connection(uut), PYU_STR("handle"))) {
        if (truth(result))
            compare(s, uut, reference);
        else
            s.error(pyutil::str(tlfill));
    }

    Object to_check = new_list();
    append(to_check, tuple({PYU_STR("show.intf.if_name"), if_name}));
    append(to_check, tuple({PYU_STR("show.intf.line_protocol"), PYU_STR("up")}));
    append(to_check, tuple({PYU_STR("show.intf.mtu"), mtu}));
    append(to_check, tuple({PYU_STR("show.intf.admin_state"), PYU_STR("up")}));
    check_interface(s, uut, if_name, to_check);
    check_interface(s, uut, PYU_STR(""), to_check);
    return none();
}

Object tabular_body(const Args& a) {
    const Script s = script(a[0], a[1]);
    Handle uut = a[2], header_fields = a[3], title_pattern = a[4], index = a[5];
    Object operation = getattr(s.name(PYU_STR("tl")), PYU_STR("oper_fill_tabular"));
    Object res = s.aliased()
                     ? call_kw(operation, {uut, s.alias, PYU_STR("SHOW_ARP"), Py_True, header_fields, index, title_pattern},
                               PYU_KWNAMES("device", "device_conn_alias", "show_command", "refresh_cache",
                                           "header_fields", "index", "table_title_pattern"))
                     : call_kw(operation, {uut, PYU_STR("SHOW_ARP"), Py_True, header_fields, index, title_pattern},
                               PYU_KWNAMES("device", "show_command", "refresh_cache", "header_fields", "index",
                                           "table_title_pattern"));
    Object formatted = call_method(s.name(PYU_STR("pprint")), PYU_STR("pformat"), {getattr(res, PYU_STR("entries"))});
    s.info(add(PYU_STR("Tabular parse result:\n"), formatted));
    return none();
}

// ---- DictDiffer -----------------------------------------------------------------

Object differ_init_body(const Args& a) {
    Handle self = a[0], current_dict = a[1], past_dict = a[2];
    setattr(self, PYU_STR("current_dict"), current_dict);
    setattr(self, PYU_STR("past_dict"), past_dict);
    Object set_current = pyutil::new_set(call_method(current_dict, PYU_STR("keys"), {}));
    Object set_past = pyutil::new_set(call_method(past_dict, PYU_STR("keys"), {}));
    setattr(self, PYU_STR("set_current"), set_current);
    setattr(self, PYU_STR("set_past"), set_past);
    Object intersect = call_method(getattr(self, PYU_STR("set_current")), PYU_STR("intersection"),
                                   {getattr(self, PYU_STR("set_past"))});
    setattr(self, PYU_STR("intersect"), intersect);
    return none();
}

Object difference(Handle self, Handle keys) {
    return pyutil::subtract(getattr(self, keys), getattr(self, PYU_STR("intersect")));
}

Object added_body(const Args& a) { return difference(a[0], PYU_STR("set_current")); }
Object removed_body(const Args& a) { return difference(a[0], PYU_STR("set_past")); }

// The keys of `intersect` whose past and current values stand in `relation`:
// a plain comparison without the identity shortcut, so NaN differs from itself.
Object compared(Handle self, bool (*relation)(Handle, Handle)) {
    Object result = pyutil::new_set();
    Object it = iter(getattr(self, PYU_STR("intersect")));
    while (Object key = next(it)) {
        Object past = getitem(getattr(self, PYU_STR("past_dict")), key);
        Object current = getitem(getattr(self, PYU_STR("current_dict")), key);
        if (relation(past, current)) pyutil::set_add(result, key);
    }
    return result;
}

Object changed_body(const Args& a) { return compared(a[0], pyutil::not_equal); }
Object unchanged_body(const Args& a) { return compared(a[0], pyutil::equal); }

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
