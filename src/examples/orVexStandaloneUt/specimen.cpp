// specimen: a subclass of oper_fill_tabular for the IS-IS link-state database
// listing, run at import against a mock device whose execute() returns a
// sample of that listing; prints the command sent and the verdict of a
// self-test, with the parsed entries when it passes.
#include "examples/example.hpp"

namespace {

using namespace example;

const char* const third_show_command_output_example = R"text(
ND/0/0/PRC0:wend#show isis database
Wed Dec 16 09:48:55.017 EST

IS-IS ring (Level-1) Link State Database
LSPID                 LSP Seq Num  LSP Checksum  LSP Holdtime  ATT/P/OL
wend.00-00          * 0x00000008   0xf9fd        1003            0/0/0
wendbfd.00-00         0x00000004   0x8f36        862             0/0/0

Total Level-1 LSP count: 4     Local Level-1 LSP count: 1

IS-IS ring (Level-2) Link State Database
LSPID                 LSP Seq Num  LSP Checksum  LSP Holdtime  ATT/P/OL
wend.00-00          * 0x00000009   0x351a        1003            0/0/0
wend.01-00            0x00000002   0x0ead        922             0/0/0

Total Level-2 LSP count: 4     Local Level-2 LSP count: 1
)text";

Object hexint_body(const Args& a) {
    return pyutil::call(a.frame().global(PYU_STR("int")), {a[0], pyutil::integer(16)});
}
pyutil::FunctionSpec hexint_spec{"_hexint", "_hexint", {{"val"}}, hexint_body};

Object cleanup_lsp_id_body(const Args& a) { return borrow(a[0]); }
pyutil::FunctionSpec cleanup_lsp_id_spec{"cleanupLspId", "cleanupLspId", {{"field"}}, cleanup_lsp_id_body};

// The header, labels, terminal and title settings are fixed; everything else
// keeps the default of oper_fill_tabular (the command runs on the device).
Object init_body(const Args& a) {
    const ModuleFrame m = a.frame();
    Handle self = a[0], device = a[1], show_command = a[2];
    Object headers = own(Py_BuildValue("[sssss]", "LSPID", "LSP Seq Num", "LSP Checksum", "LSP Holdtime",
                                       "ATT/P/OL"));
    Object labels = headers;
    Object parent =
        pyutil::call(m.global(PYU_STR("super")), {m.global(PYU_STR("my_isis_database_column_parser_t")), self});
    Object parent_init = pyutil::getattr(parent, PYU_STR("__init__"));
    pyutil::call_kw(parent_init,
                    {device, show_command, headers, PYU_STR("Total Level-[12] LSP count:"),
                     PYU_STR(R"(IS-IS (?:[-\w]+ )?\(?Level-([12])\)? Link State Database:?)"), labels},
                    PYU_KWNAMES("header_fields", "table_terminal_pattern", "table_title_pattern", "label_fields"));
    return borrow(Py_None);
}
pyutil::FunctionSpec init_spec{"__init__", "my_isis_database_column_parser_t.__init__",
                               {{"self"}, {"device"}, {"show_command"}}, init_body};

Object cleanup_entry_field_body(const Args& a) {
    Handle header = a[1], field = a[2];
    if (equal(header, PYU_STR("LSPID"))) return pyutil::call(a.frame().global(PYU_STR("cleanupLspId")), {field});
    return borrow(field);
}
pyutil::FunctionSpec cleanup_entry_field_spec{"cleanup_entry_field",
                                              "my_isis_database_column_parser_t.cleanup_entry_field",
                                              {{"self"}, {"header"}, {"field"}}, cleanup_entry_field_body};

Object make_parser_class(const ModuleFrame& m) {
    Object hexint = m.global(PYU_STR("_hexint"));
    Object field_mapping = pyutil::new_dict();
    pyutil::setitem(field_mapping, PYU_STR("LSPID"), m.global(PYU_STR("str")));
    pyutil::setitem(field_mapping, PYU_STR("LSP Seq Num"), hexint);
    pyutil::setitem(field_mapping, PYU_STR("LSP Checksum"), hexint);
    pyutil::setitem(field_mapping, PYU_STR("LSP Holdtime"), Py_None);
    Object table_title_mapping = pyutil::new_list();
    pyutil::append(table_title_mapping, m.global(PYU_STR("int")));
    Object bases = pyutil::tuple({m.global(PYU_STR("oper_fill_tabular"))});
    return pyutil::make_class("my_isis_database_column_parser_t", bases, m, nullptr,
                              {{"field_mapping", field_mapping},
                               {"table_title_mapping", table_title_mapping},
                               {"__init__", pyutil::make_method<init_spec>(m)},
                               {"cleanup_entry_field", pyutil::make_method<cleanup_entry_field_spec>(m)}});
}

// result.entries[2]["wend.01-00"]["LSP Holdtime"], or a null object when one
// of the keys is missing: a parse that lost the row fails the test instead
// of ending the import with KeyError.
Object holdtime_under_test(const ModuleFrame& m) {
    try {
        Object entries = pyutil::getattr(m.global(PYU_STR("result")), PYU_STR("entries"));
        Object table = pyutil::getitem(entries, pyutil::integer(2));
        Object row = pyutil::getitem(table, PYU_STR("wend.01-00"));
        return pyutil::getitem(row, PYU_STR("LSP Holdtime"));
    } catch (PyError&) {
        if (!pyutil::CaughtError::fetch_if(PyExc_KeyError)) throw;
        return Object();
    }
}

void script(const ModuleFrame& m) {
    m.import_module("sys");
    m.from_import("pprint", "pprint");
    mock_frame(m, [&] {
        m.from_import("mirel", "textloom");
        m.from_import("mirel.textloom", "oper_fill_tabular");
    });
    m.bind("third_show_command_output_example", pyutil::str(third_show_command_output_example));
    m.bind("_hexint", pyutil::make_function<hexint_spec>(m));
    m.bind("cleanupLspId", pyutil::make_function<cleanup_lsp_id_spec>(m));
    m.bind("my_isis_database_column_parser_t", make_parser_class(m));

    Object device_kwargs = pyutil::new_dict();
    pyutil::setitem(device_kwargs, PYU_STR("is_connected.return_value"), Py_True);
    pyutil::setitem(device_kwargs, PYU_STR("execute.return_value"), m.global(PYU_STR("third_show_command_output_example")));
    m.bind("device_kwargs", device_kwargs);
    m.bind("dev1", mock_configured(m, m.global(PYU_STR("device_kwargs"))));
    m.bind("result", pyutil::call(m.global(PYU_STR("my_isis_database_column_parser_t")),
                                  {m.global(PYU_STR("dev1")), PYU_STR("show isis database")}));

    Object execute = pyutil::getattr(m.global(PYU_STR("dev1")), PYU_STR("execute"));
    Object call_args = pyutil::getattr(execute, PYU_STR("call_args"));
    print(m, pyutil::format(PYU_STR("\nThe following commands were just executed on the device : {}\n"), {call_args}));

    Object holdtime = holdtime_under_test(m);
    if (holdtime && equal(holdtime, PYU_STR("922"))) {
        print(m, PYU_STR("Test passed"));
        Object entries = pyutil::getattr(m.global(PYU_STR("result")), PYU_STR("entries"));
        pyutil::call(m.global(PYU_STR("pprint")), {entries});
    } else {
        print(m, PYU_STR("Test failed"));
    }
}

const char* const doc = R"doc(Example: a subclass of oper_fill_tabular for one kind of table, the link-state
database that "show isis database" prints (a Level-1 and a Level-2 table, each
under its title line).

my_isis_database_column_parser_t(device, show_command) fixes the headings,
labels, terminal pattern and title pattern, converts the sequence numbers and
checksums with _hexint (field_mapping) and the level digit with int
(table_title_mapping), and overrides cleanup_entry_field.

At import, with ryn replaced by a mock, it parses the sample
third_show_command_output_example from the mock device dev1 into result, prints
the command the device received, then "Test passed" and result.entries (keyed
by level, then LSP ID) when the Level-2 row "wend.01-00" holds the holdtime
"922", else "Test failed". Import it in a fresh interpreter: a second import
does nothing.)doc";

}  // namespace

extern "C" PyMODINIT_FUNC PyInit_specimen() { return example::init_script_module<script>("specimen", doc); }
