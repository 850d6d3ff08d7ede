// The markup compiler _mk_textloom_t and extend_markup.
#include "core/core.hpp"
#include "core/stub.hpp"

namespace core {
namespace {

using namespace pyutil;

FunctionSpec init_spec{"__init__", "_mk_textloom_t.__init__", {{"self"}}, not_built};
FunctionSpec escape_spec{"escape", "_mk_textloom_t.escape", {{"self"}, {"line"}}, not_built};
FunctionSpec convert_spec{"convert", "_mk_textloom_t.convert", {{"self"}, {"os"}, {"line"}, {"groupnum"}},
                          not_built};
FunctionSpec desc_max_spec{"_desc_max", "_mk_textloom_t._desc_max", {{"self"}, {"os"}, {"output"}}, not_built};
FunctionSpec generate_output_spec{"generate_output", "_mk_textloom_t.generate_output",
                                  {{"self"}, {"generate_regex_tags", "False"}, {"called_from_textloom", "False"}},
                                  not_built};
FunctionSpec convert_output_spec{"convert_output", "_mk_textloom_t.convert_output",
                                 {{"self"}, {"showcmd"}, {"prefix"}, {"output"}, {"os"}, {"cmd"}}, not_built};
FunctionSpec process_spec{"process_marked_up_input", "_mk_textloom_t.process_marked_up_input",
                          {{"self"}, {"markup_iterator"}, {"auto_key_join_char", "'-'"}}, not_built};

FunctionSpec extend_markup_spec{"extend_markup", "extend_markup",
                                {{"marked_up_input"}, {"auto_key_join_char", "'-'"}}, not_built,
                                "Compile marked-up sample output and register its regexes, tags and commands."};

const char* const doc = "Compiler of marked-up sample output into regexes, regex tags and show commands.";

}  // namespace

py::object make_mk_textloom_class() {
    PyObject* n = module_name();
    py::object bases = own(PyTuple_Pack(1, reinterpret_cast<PyObject*>(&PyBaseObject_Type)));
    return make_class("_mk_textloom_t", bases.ptr(), n, doc,
                      {{"regex", own(PyDict_New())},
                       {"__init__", make_method<init_spec>(n)},
                       {"escape", make_method<escape_spec>(n)},
                       {"convert", make_method<convert_spec>(n)},
                       {"_desc_max", make_method<desc_max_spec>(n)},
                       {"generate_output", make_method<generate_output_spec>(n)},
                       {"convert_output", make_method<convert_output_spec>(n)},
                       {"process_marked_up_input", make_method<process_spec>(n)}});
}

py::object make_extend_markup() { return make_function<extend_markup_spec>(module(), module_name()); }

}  // namespace core
