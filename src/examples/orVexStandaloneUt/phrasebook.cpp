// phrasebook: one command tag gives a different command text on pellam and
// on brume, its values given by position or by keyword.  At import it
// registers the templates, fills four times against a mock device and
// prints the command each run sent.
#include "examples/example.hpp"

namespace {

using namespace example;

Object dev1(const ModuleFrame& m) { return m.global(PYU_STR("dev1")); }

Object executed_calls(const ModuleFrame& m) {
    Object execute = pyutil::getattr(dev1(m), PYU_STR("execute"));
    return pyutil::getattr(execute, PYU_STR("call_args"));
}

void reset_executed_calls(const ModuleFrame& m) {
    Object execute = pyutil::getattr(dev1(m), PYU_STR("execute"));
    pyutil::call_method(execute, PYU_STR("reset_mock"), {});
}

// One run: the device's name and OS, what the run binds first, the fill and
// its parse, then the separator, the heading and the command the device got.
template <class BindFirst>
void run(const ModuleFrame& m, Handle name, Handle os, BindFirst&& bind_first, bool separated, Handle heading,
         Handle device_line) {
    pyutil::setattr(dev1(m), PYU_STR("name"), name);
    pyutil::setattr(dev1(m), PYU_STR("os"), os);
    bind_first();
    m.bind("tlfill", pyutil::call_kw(m.global(PYU_STR("oper_fill")),
                                     {dev1(m), m.global(PYU_STR("args")), m.global(PYU_STR("attrValPairsToParse")),
                                      Py_True},
                                     PYU_KWNAMES("refresh_cache")));
    m.bind("result", pyutil::call_method(m.global(PYU_STR("tlfill")), PYU_STR("parse"), {}));
    if (separated) print(m, PYU_STR("\n\n"));
    print(m, heading);
    print(m, pyutil::format(device_line, {executed_calls(m)}));
}

void script(const ModuleFrame& m) {
    m.import_module("sys");
    m.from_import("pprint", "pprint");
    m.from_import("textwrap", "dedent");
    mock_frame(m, [&] {
        m.from_import("mirel", "textloom");
        m.from_import("mirel.textloom", "oper_fill");
        m.from_import("mirel.textloom.examples.textloom.orVex", "rehearsal_mktl");
    });
    print(m, PYU_STR("\n\n*** OS Agnostic CLI command formatting examples. ***\n\n"));

    m.bind("device_kwargs", own(Py_BuildValue("{sOss}", "is_connected.return_value", Py_True, "execute.return_value",
                                              "dummy output")));
    m.bind("dev1", mock_configured(m, m.global(PYU_STR("device_kwargs"))));
    m.bind("show_cmds", own(Py_BuildValue("{s{ssss}s{ssss}}",
                                          "pellam", "SHOW_IP_INTF", "show {=ipv4} interface {}",
                                                    "SHOW_IP_INTF2", "show {=ipv4} interface {if-name}",
                                          "brume", "SHOW_IP_INTF", "show {=ip} interface {}",
                                                   "SHOW_IP_INTF2", "show {=ip} interface {if-name}")));
    m.bind("regex", own(Py_BuildValue("{s{ss}s{ss}}", "pellam", "dummy_regex_tag", "dummy_regex",
                                      "brume", "dummy_regex_tag", "dummy_regex")));
    {
        Object extend = pyutil::getattr(m.global(PYU_STR("textloom")), PYU_STR("extend"));
        pyutil::call_kw(extend, {m.global(PYU_STR("show_cmds")), m.global(PYU_STR("regex"))},
                        PYU_KWNAMES("show_cmds", "regex_ext"));
    }

    PyObject* positional = PYU_STR("Using a positional argument to specify the CLI command:");
    PyObject* keyword = PYU_STR("Using a keyword argument to specify the CLI command:");
    PyObject* on_pellam = PYU_STR("The following commands were just executed on the PELLAM device : {}");
    PyObject* on_brume = PYU_STR("The following commands were just executed on the BRUME device : {}");
    PyObject* router1 = PYU_STR("router1");
    PyObject* router2 = PYU_STR("router2");
    auto nothing = [] {};

    run(m, router1, PYU_STR("pellam"), [&] {
        // None leaves the embedded default of the first field in place
        m.bind("args", own(Py_BuildValue("(s[Os])", "SHOW_IP_INTF", Py_None, "GigabitEthernet0/0/0/1")));
        m.bind("attrValPairsToParse", own(Py_BuildValue("[(ss)]", "dummy_regex_tag", "dummy_regex_value")));
    }, false, positional, on_pellam);
    reset_executed_calls(m);
    run(m, router2, PYU_STR("brume"), nothing, true, positional, on_brume);
    print(m, PYU_STR("\n\n"));
    reset_executed_calls(m);
    run(m, router1, PYU_STR("pellam"), [&] {
        m.bind("args", own(Py_BuildValue("[s[]{ss}]", "SHOW_IP_INTF2", "if-name", "GigabitEthernet0/0/0/1")));
    }, false, keyword, on_pellam);
    reset_executed_calls(m);
    run(m, router2, PYU_STR("brume"), nothing, true, keyword, on_brume);
}

const char* const doc = R"doc(Example: one command tag rendered per OS, its formatting values given by
position or by keyword.

At import it registers SHOW_IP_INTF ("show {=ipv4} interface {}" for pellam,
"show {=ip} interface {}" for brume) and SHOW_IP_INTF2 (the same with
{if-name} for the interface), then runs oper_fill four times against the mock
device dev1, on pellam and on brume, with ('SHOW_IP_INTF', [None,
'GigabitEthernet0/0/0/1']) (None leaves the default of the first field) and
['SHOW_IP_INTF2', [], {'if-name': 'GigabitEthernet0/0/0/1'}], and prints the
command each run sent ("show ipv4 interface GigabitEthernet0/0/0/1" on
pellam). Import it in a fresh interpreter: a second import does nothing.)doc";

}  // namespace

extern "C" PyMODINIT_FUNC PyInit_phrasebook() { return example::init_script_module<script>("phrasebook", doc); }
