// The tabular parsers column_result_t and column_table_result_core_t.
#include "core/core.hpp"
#include "core/stub.hpp"

namespace core {
namespace {

using namespace pyutil;

FunctionSpec add_entry_spec{"add_entry", "column_result_t.add_entry",
                            {{"self"}, {"line"}, {"header_fields"}, {"field_delims"}}, not_built};
FunctionSpec get_init_info_spec{"get_init_info", "column_result_t.get_init_info",
                                {{"self"}, {"output"}, {"header_fields"}, {"table_terminal_pattern"}, {"skip_header"},
                                 {"table_title_pattern"}, {"right_justified"}, {"label_fields"}, {"skip_line"}},
                                not_built};
FunctionSpec compile_header_pattern_spec{"compile_header_pattern", "column_result_t.compile_header_pattern",
                                         {{"self"}, {"header_fields"}}, not_built};
FunctionSpec align_table_spec{"align_table", "column_result_t.align_table",
                              {{"self"}, {"table_to_parse"}, {"header_fields"}, {"label_fields"}, {"delimiter"},
                               {"right_justified"}},
                              not_built};
FunctionSpec init_spec{"__init__", "column_result_t.__init__",
                       {{"self"}, {"header_fields"}, {"table_terminal_pattern"}, {"skip_header"},
                        {"table_title_pattern", "None"}, {"right_justified", "False"}, {"label_fields", "None"},
                        {"skip_line", "None"}, {"parse_key", "''"}, {"delimiter", "''"}},
                       not_built};
FunctionSpec add_entries_to_results_spec{"_add_entries_to_results", "column_result_t._add_entries_to_results",
                                         {{"self"}, {"titlevalues"}}, not_built};
FunctionSpec map_entry_field_spec{"_map_entry_field", "column_result_t._map_entry_field",
                                  {{"self"}, {"header"}, {"field"}}, not_built};
FunctionSpec cleanup_entry_field_spec{"cleanup_entry_field", "column_result_t.cleanup_entry_field",
                                      {{"self"}, {"header"}, {"field"}}, not_built};
FunctionSpec find_entry_in_list_spec{"_find_entry_in_list", "column_result_t._find_entry_in_list",
                                     {{"self"}, {"regex"}, {"entries"}}, not_built};
FunctionSpec find_entry_index_list_spec{"find_entry_index_list", "column_result_t.find_entry_index_list",
                                        {{"self"}, {"index_list"}}, not_built};

FunctionSpec core_init_spec{"__init__", "column_table_result_core_t.__init__",
                            {{"self"}, {"header_fields", "None"}, {"table_terminal_pattern", "None"}, {"index", "0"},
                             {"skip_header", "None"}, {"table_title_pattern", "None"}, {"right_justified", "False"},
                             {"label_fields", "None"}, {"skip_line", "None"}, {"parse_key", "''"},
                             {"delimiter", "''"}},
                            not_built};
FunctionSpec core_add_entry_spec{"add_entry", "column_table_result_core_t.add_entry",
                                 {{"self"}, {"line"}, {"header_fields"}, {"field_delims"}}, not_built};

const char* const base_doc =
    "Superclass of table result parsers: finds tables by their heading and cuts\n"
    "rows into fields; subclasses add the entries.";
const char* const core_doc =
    "Parse tabular show-command output into nested `entries`.\n"
    "\n"
    "    >>> core.text_to_parse[''] = output\n"
    "    >>> t = core.column_table_result_core_t(['Address', 'Age', 'MAC'], index=0)\n"
    "    >>> t.entries['10.0.0.1']['MAC']\n"
    "\n"
    "With index=[0, 2] the entries are nested by the first and third column.";

}  // namespace

py::object make_column_result_class() {
    PyObject* n = module_name();
    py::object bases = own(PyTuple_Pack(1, reinterpret_cast<PyObject*>(&PyBaseObject_Type)));
    return make_class("column_result_t", bases.ptr(), n, base_doc,
                      {{"field_mapping", own(PyDict_New())},
                       {"table_title_mapping", borrow(Py_None)},
                       {"add_entry", make_method<add_entry_spec>(n)},
                       {"get_init_info", make_method<get_init_info_spec>(n)},
                       {"compile_header_pattern", make_method<compile_header_pattern_spec>(n)},
                       {"align_table", make_method<align_table_spec>(n)},
                       {"__init__", make_method<init_spec>(n)},
                       {"_add_entries_to_results", make_method<add_entries_to_results_spec>(n)},
                       {"_map_entry_field", make_method<map_entry_field_spec>(n)},
                       {"cleanup_entry_field", make_method<cleanup_entry_field_spec>(n)},
                       {"_find_entry_in_list", make_method<find_entry_in_list_spec>(n)},
                       {"find_entry_index_list", make_method<find_entry_index_list_spec>(n)}});
}

py::object make_column_table_result_core_class(PyObject* base) {
    PyObject* n = module_name();
    py::object bases = own(PyTuple_Pack(1, base));
    return make_class("column_table_result_core_t", bases.ptr(), n, core_doc,
                      {{"index_objects", borrow(Py_True)},
                       {"index_mapped_string", borrow(Py_False)},
                       {"__init__", make_method<core_init_spec>(n)},
                       {"add_entry", make_method<core_add_entry_spec>(n)}});
}

}  // namespace core
