// phrasebook: one command tag gives a different command text on pellam and
// on brume, its values given by position or by keyword.  At import it
// registers the templates, fills four times against a mock device and
// prints the command each run sent.
#include "examples/example.hpp"

namespace {

using namespace example;

PyObject* dev1() { return global(PYU_STR("dev1")); }

py::object executed_calls() {
    py::object execute = pyutil::getattr(dev1(), PYU_STR("execute"));
    return pyutil::getattr(execute.ptr(), PYU_STR("call_args"));
}

void reset_executed_calls() {
    py::object execute = pyutil::getattr(dev1(), PYU_STR("execute"));
    pyutil::call_method(execute.ptr(), PYU_STR("reset_mock"), {});
}

// One run: the device's name and OS, what the run binds first, the fill and
// its parse, then the separator, the heading and the command the device got.
template <class BindFirst>
void run(PyObject* name, PyObject* os, BindFirst&& bind_first, bool separated, PyObject* heading,
         PyObject* device_line) {
    pyutil::setattr(dev1(), PYU_STR("name"), name);
    pyutil::setattr(dev1(), PYU_STR("os"), os);
    bind_first();
    static PyObject* const kw = keywords({PYU_STR("refresh_cache")});
    bind("tlfill", pyutil::call_kw(global(PYU_STR("oper_fill")),
                                   {dev1(), global(PYU_STR("args")), global(PYU_STR("attrValPairsToParse")), Py_True},
                                   kw));
    bind("result", pyutil::call_method(global(PYU_STR("tlfill")), PYU_STR("parse"), {}));
    if (separated) print(PYU_STR("\n\n"));
    print(heading);
    print(pyutil::format(device_line, {executed_calls().ptr()}).ptr());
}

void script() {
    import_module("sys");
    from_import("pprint", "pprint");
    from_import("textwrap", "dedent");
    mock_frame([] {
        from_import("mirel", "textloom");
        from_import("mirel.textloom", "oper_fill");
        from_import("mirel.textloom.examples.textloom.orVex", "rehearsal_mktl");
    });
    print(PYU_STR("\n\n*** OS Agnostic CLI command formatting examples. ***\n\n"));

    bind("device_kwargs", own(Py_BuildValue("{sOss}", "is_connected.return_value", Py_True, "execute.return_value",
                                            "dummy output")));
    bind("dev1", mock_configured(global(PYU_STR("device_kwargs"))));
    bind("show_cmds", own(Py_BuildValue("{s{ssss}s{ssss}}",
                                        "pellam", "SHOW_IP_INTF", "show {=ipv4} interface {}",
                                                  "SHOW_IP_INTF2", "show {=ipv4} interface {if-name}",
                                        "brume", "SHOW_IP_INTF", "show {=ip} interface {}",
                                                 "SHOW_IP_INTF2", "show {=ip} interface {if-name}")));
    bind("regex", own(Py_BuildValue("{s{ss}s{ss}}", "pellam", "dummy_regex_tag", "dummy_regex",
                                    "brume", "dummy_regex_tag", "dummy_regex")));
    {
        static PyObject* const kw = keywords({PYU_STR("show_cmds"), PYU_STR("regex_ext")});
        py::object extend = pyutil::getattr(global(PYU_STR("textloom")), PYU_STR("extend"));
        pyutil::call_kw(extend.ptr(), {global(PYU_STR("show_cmds")), global(PYU_STR("regex"))}, kw);
    }

    PyObject* positional = PYU_STR("Using a positional argument to specify the CLI command:");
    PyObject* keyword = PYU_STR("Using a keyword argument to specify the CLI command:");
    PyObject* on_pellam = PYU_STR("The following commands were just executed on the PELLAM device : {}");
    PyObject* on_brume = PYU_STR("The following commands were just executed on the BRUME device : {}");
    PyObject* router1 = PYU_STR("router1");
    PyObject* router2 = PYU_STR("router2");
    auto nothing = [] {};

    run(router1, PYU_STR("pellam"), [] {
        // None leaves the embedded default of the first field in place
        bind("args", own(Py_BuildValue("(s[Os])", "SHOW_IP_INTF", Py_None, "GigabitEthernet0/0/0/1")));
        bind("attrValPairsToParse", own(Py_BuildValue("[(ss)]", "dummy_regex_tag", "dummy_regex_value")));
    }, false, positional, on_pellam);
    reset_executed_calls();
    run(router2, PYU_STR("brume"), nothing, true, positional, on_brume);
    print(PYU_STR("\n\n"));
    reset_executed_calls();
    run(router1, PYU_STR("pellam"), [] {
        bind("args", own(Py_BuildValue("[s[]{ss}]", "SHOW_IP_INTF2", "if-name", "GigabitEthernet0/0/0/1")));
    }, false, keyword, on_pellam);
    reset_executed_calls();
    run(router2, PYU_STR("brume"), nothing, true, keyword, on_brume);
}

}  // namespace

extern "C" PyMODINIT_FUNC PyInit_phrasebook() { return example::init_script_module<script>("phrasebook"); }
