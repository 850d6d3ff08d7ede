// oper_fill_tabular: the tabular parser of core on a device's output (or the
// caller's text); all the work happens in the constructor.
#include "pyutil/hooks.hpp"
#include "pyutil/text.hpp"
#include "textloom/textloom.hpp"

namespace textloom {
namespace {

using namespace pyutil;

// An int (bool included) becomes a one-element list; a list stays the caller's object.
Object index_list(Handle index) {
    if (PyLong_Check(index.ptr())) {
        Object list = new_list();
        append(list, index);
        return list;
    }
    if (PyList_Check(index.ptr())) return borrow(index);
    raise(PyExc_ValueError, add(str(index), PYU_STR(" is not an int or list of ints")));
}

// Whether the statement `text_to_parse[name] += "\n"` would read `table` and
// `name` again without running user code: then nobody can tell a text stored
// with its line feed at once from one stored first without it.
bool unobserved(Handle self, Handle table, Handle name) {
    if (!PyDict_CheckExact(table.ptr()) || !only_str_keys(table.ptr()) || !PyUnicode_CheckExact(name.ptr()) ||
        !reads_plainly(frame().module(), PYU_STR("core")))
        return false;
    Object core = core_module();
    if (!reads_plainly(core, PYU_STR("text_to_parse")) || !reads_plainly(self, PYU_STR("_device"))) return false;
    Object device = getattr(self, PYU_STR("_device"));
    return reads_plainly(device, PYU_STR("name")) && getattr(core, PYU_STR("text_to_parse")).is(table) &&
           getattr(device, PYU_STR("name")).is(name);
}

// In core.text_to_parse, with name the device's name:
//     text_to_parse[name] = text_to_parse[name].replace("\r\n", "\n")
//     text_to_parse[name] += "\n"
// each statement reading the table and the name afresh, in Python's order.
void normalise_stored_text(Handle self) {
    Object text = stored_text(self);
    const bool exact = PyUnicode_CheckExact(text.ptr());
    Object replaced = exact ? Object() : call_method(text, PYU_STR("replace"), {PYU_STR("\r\n"), PYU_STR("\n")});
    Object table = core_attr(PYU_STR("text_to_parse"));
    Object name = device_name(self);
    if (exact && unobserved(self, table, name)) {
        setitem(table, name, crlf_to_lf_plus_lf(text));  // both statements in one pass over the text
        return;
    }
    if (exact) replaced = replace(text, PYU_STR("\r\n"), PYU_STR("\n"));
    setitem(table, name, replaced);
    table = core_attr(PYU_STR("text_to_parse"));
    name = device_name(self);
    Object stored = getitem(table, name);
    setitem(table, name, inplace_add(stored, PYU_STR("\n")));
}

Object init_body(const Args& a) {
    PyObject* self = a[0];
    PyObject *device = a[1], *show_command = a[2], *refresh_cache = a[3], *header_fields = a[4],
             *table_terminal_pattern = a[5], *index = a[6], *skip_header = a[7], *table_title_pattern = a[8],
             *right_justified = a[9], *label_fields = a[10], /* a[11]: is_run_command, unused */
        *skip_line = a[12], *device_conn_alias = a[13], *device_output = a[14], *device_os = a[15],
             *delimiter = a[16];
    setattr(self, PYU_STR("entries"), new_dict());
    setattr(self, PYU_STR("_refresh_cache"), refresh_cache);
    setattr(self, PYU_STR("_refresh_cache_init"), refresh_cache);
    setattr(self, PYU_STR("_show_command"), show_command);
    if (!choose_device(self, device, device_conn_alias, device_output, device_os)) {
        Object text = str(self);
        raise(PyExc_AttributeError,
              percent_format(PYU_STR("Neither 'device' nor 'device_output' (device output might be empty) has "
                                     "been passed when calling '%s'"),
                             {text}));
    }
    setattr(self, PYU_STR("index"), index_list(index));
    acquire_text(self, device_output);
    normalise_stored_text(self);
    // core's constructor itself, not the next class in the MRO; the index as given
    Object base = core_attr(PYU_STR("column_table_result_core_t"));
    Object base_init = getattr(base, PYU_STR("__init__"));
    call(base_init, {self, header_fields, table_terminal_pattern, index, skip_header, table_title_pattern,
                     right_justified, label_fields, skip_line, device_name(self), delimiter});
    return borrow(Py_None);
}
FunctionSpec init_spec{"__init__", "oper_fill_tabular.__init__",
                       {{"self"}, {"device", None}, {"show_command", None}, {"refresh_cache", true},
                        {"header_fields", None}, {"table_terminal_pattern", None}, {"index", 0},
                        {"skip_header", None}, {"table_title_pattern", None}, {"right_justified", false},
                        {"label_fields", None}, {"is_run_command", false}, {"skip_line", None},
                        {"device_conn_alias", None}, {"device_output", None}, {"device_os", None},
                        {"delimiter", ""}},
                       init_body,
                       R"doc(Parse a table of the command's output (or of device_output) into entries.

header_fields, table_terminal_pattern, index, skip_header, table_title_pattern,
right_justified, label_fields, skip_line, delimiter: the table settings of
    core.column_table_result_core_t (see column_result_t.__init__); with
    header_fields None, get_init_info gives them.
refresh_cache: True (the default) runs the command; False parses the device's
    last output in the shared cache (with none, the command runs).
is_run_command: accepted and unused.
device, show_command, device_conn_alias, device_output, device_os: as for
    oper_check. Carriage returns before line feeds are dropped from the output,
    and a line feed is appended.)doc"};

const char* const doc = R"doc(Parse the tabular output of a show command into nested `entries`.

    >>> from mirel.textloom import oper_fill_tabular
    >>> table = oper_fill_tabular(device_output=(
    ...     'Address         Age  Hardware Addr   Interface\n'
    ...     '10.0.0.1        5    0011.2233.4455  Ethernet1/1\n'),
    ...     header_fields=['Address', 'Age', 'Hardware Addr', 'Interface'])
    >>> table.entries['10.0.0.1']['Interface']
    'Ethernet1/1'

Subclasses fix the settings in their own __init__ and override the parser's hooks
(cleanup_entry_field, get_init_info, add_entry), field_mapping and
table_title_mapping.)doc";

}  // namespace

Object make_oper_fill_tabular_class(Handle table_core) {
    return make_subclass("oper_fill_tabular", table_core, doc, make_method<init_spec>(frame()));
}

}  // namespace textloom
