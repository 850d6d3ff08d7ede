// The non-tabular parser _textloom_t.
#include "core/core.hpp"
#include "core/stub.hpp"

namespace core {
namespace {

using namespace pyutil;

FunctionSpec init_spec{"__init__", "_textloom_t.__init__",
                       {{"self"}, {"routerOs"}, {"attributes"}, {"values"}, {"fill", "False"}, {"parse_key", "''"},
                        {"skip", "False"}},
                       not_built};
FunctionSpec check_scope_spec{"_parser_check_scope", "_textloom_t._parser_check_scope",
                              {{"self"}, {"regex_done"}, {"line"}}, not_built};
FunctionSpec current_matching_spec{"_parser_current_matching", "_textloom_t._parser_current_matching",
                                   {{"self"}, {"value_to_match"}, {"value_found"}}, not_built};
FunctionSpec future_matching_spec{"_parser_future_matching", "_textloom_t._parser_future_matching",
                                  {{"self"}, {"regex"}, {"regex_done"}, {"line"}}, not_built};
FunctionSpec delete_non_matching_spec{"_parser_delete_non_matching", "_textloom_t._parser_delete_non_matching",
                                      {{"self"}, {"lines"}, {"regex_tags"}}, not_built};
FunctionSpec parser_spec{"_parser", "_textloom_t._parser", {{"self"}}, not_built};
FunctionSpec get_regex_def_spec{"__get_regex_def", "_textloom_t.__get_regex_def",
                                {{"self"}, {"attribute_n"}, {"line"}}, not_built};
FunctionSpec validate_spec{"_parser_validate", "_textloom_t._parser_validate", {{"self"}}, not_built};
FunctionSpec error_spec{"error", "_textloom_t.error", {{"self"}, {"msg"}}, not_built};
FunctionSpec str_spec{"__str__", "_textloom_t.__str__", {{"self"}}, not_built};

const char* const doc =
    "Parse non-tabular show-command output by a list of regex tags and their\n"
    "expected values (fill mode: collect the values; check mode: compare them).";

}  // namespace

py::object make_textloom_class() {
    PyObject* n = module_name();
    py::object bases = own(PyTuple_Pack(1, reinterpret_cast<PyObject*>(&PyBaseObject_Type)));
    return make_class("_textloom_t", bases.ptr(), n, doc,
                      {{"_dictio", own(PyDict_New())},
                       {"__init__", make_method<init_spec>(n)},
                       {"_parser_check_scope", make_method<check_scope_spec>(n)},
                       {"_parser_current_matching", make_method<current_matching_spec>(n)},
                       {"_parser_future_matching", make_method<future_matching_spec>(n)},
                       {"_parser_delete_non_matching", make_method<delete_non_matching_spec>(n)},
                       {"_parser", make_method<parser_spec>(n)},
                       {"_textloom_t__get_regex_def", make_method<get_regex_def_spec>(n)},
                       {"_parser_validate", make_method<validate_spec>(n)},
                       {"error", make_method<error_spec>(n)},
                       {"__str__", make_method<str_spec>(n)}});
}

}  // namespace core
