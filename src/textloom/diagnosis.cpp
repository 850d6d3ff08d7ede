// The text form of check and fill operations: the attribute list and, after
// a failed parse, the diagnosis and the stored output with each named line
// marked.
#include <unordered_map>
#include "common/output.hpp"
#include "pyutil/regex.hpp"
#include "textloom/textloom.hpp"

namespace textloom {
namespace {

using namespace pyutil;

constexpr Py_ssize_t pad_width = 80;

// Line feeds in the leading run of characters the parser strips: its line
// numbers count from the first line after that run.
Py_ssize_t leading_line_feeds(Handle text) {
    const CodePoints at(text);
    Py_ssize_t feeds = 0;
    for (Py_ssize_t i = 0; i < at.size(); ++i) {
        Py_UCS4 c = at[i];
        if (c == '\n') ++feeds;
        else if (!common::is_output_strip_char(c)) break;
    }
    return feeds;
}

// stored line index -> message of the first diagnostic naming it
std::unordered_map<Py_ssize_t, Object> markers(Handle errors, Py_ssize_t shift, Py_ssize_t nlines) {
    std::unordered_map<Py_ssize_t, Object> marks;
    Object zero = integer(0), one = integer(1);
    Object it = iter(errors);
    while (Object entry = next(it)) {
        Object line = getitem(entry, zero);
        // only integer lines name a stored line; sys.maxsize names none
        if (!PyLong_Check(line.ptr())) continue;
        int overflow = 0;
        long long n = PyLong_AsLongLongAndOverflow(line.ptr(), &overflow);
        if (overflow || n >= nlines) continue;
        check_no_error();
        long long target = n + shift;
        if (target < 0 || target >= nlines) continue;
        if (!marks.count(static_cast<Py_ssize_t>(target)))
            marks.emplace(static_cast<Py_ssize_t>(target), getitem(entry, one));
    }
    return marks;
}

Object str_body(const Args& a) {
    PyObject* self = a[0];
    TextBuilder text;
    text << PYU_STR("Textloom attributes : ");
    Object attributes = getattr(self, PYU_STR("_attributes"));
    Object values = getattr(self, PYU_STR("_values_debug"));
    const Py_ssize_t count = length(attributes);
    for (Py_ssize_t i = 0; i < count; ++i)
        text << str(getitem(attributes, i)) << PYU_STR(" : ") << str(getitem(values, i)) << PYU_STR(" - ");

    Object errors = getattr(self, PYU_STR("_errors"));
    if (!truth(errors)) return text.joined();
    text << PYU_STR("\n\n: Diagnosis : \n");
    {
        Object messages = new_list();
        Object one = integer(1);
        Object it = iter(errors);
        while (Object entry = next(it)) append(messages, getitem(entry, one));
        text << own(PyUnicode_Join(PYU_STR("\n"), messages.ptr()));
    }

    Object output = stored_text(self);
    if (output.is_none()) return text.joined();
    if (!same_or_equal(getattr(self, PYU_STR("_refresh_cache")), Py_True)) return text.joined();
    if (!PyUnicode_Check(output.ptr())) {
        call_method(output, PYU_STR("split"), {PYU_STR("\n")});  // the interpreter's own error
        raise(PyExc_TypeError, "the stored output is not text");
    }
    text << PYU_STR("\n");
    Object lines = own(PyUnicode_Split(output.ptr(), PYU_STR("\n"), -1));
    const Py_ssize_t nlines = length(lines);
    auto marks = markers(errors, leading_line_feeds(output), nlines);
    Object width = integer(pad_width);
    for (Py_ssize_t i = 0; i < nlines; ++i) {
        Object line = getitem(lines, i);
        auto mark = marks.find(i);
        if (mark == marks.end())
            text << line;
        else
            text << call_method(line, PYU_STR("ljust"), {width}) << percent_format(PYU_STR("<=== %s"), {mark->second});
        text << PYU_STR("\n");
    }
    return text.joined();
}
FunctionSpec str_spec{"__str__", "oper_check.__str__", {{"self"}}, str_body,
                      "The pairs, \"Textloom attributes : <tag> : <value> - ...\"; after a failed parse,\n"
                      "the diagnosis and the output stored for the device, each line holding a wrong\n"
                      "value padded to 80 columns and marked \"<=== <message>\"."};

}  // namespace

Object make_diagnosis_method() { return make_method<str_spec>(frame()); }

}  // namespace textloom
