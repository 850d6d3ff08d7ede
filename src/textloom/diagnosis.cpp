// The text form of check and fill operations: the attribute list and, after
// a failed parse, the diagnosis and the stored output with each named line
// marked.
#include <unordered_map>
#include "common/output.hpp"
#include "textloom/textloom.hpp"

namespace textloom {
namespace {

using namespace pyutil;

constexpr Py_ssize_t pad_width = 80;

void append(PyObject* pieces, PyObject* piece) { check(PyList_Append(pieces, piece)); }

// Line feeds in the leading run of characters the parser strips: its line
// numbers count from the first line after that run.
Py_ssize_t leading_line_feeds(PyObject* text) {
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
    const int kind = PyUnicode_KIND(text);
    const void* data = PyUnicode_DATA(text);
    Py_ssize_t feeds = 0;
    for (Py_ssize_t i = 0; i < n; ++i) {
        Py_UCS4 c = PyUnicode_READ(kind, data, i);
        if (c == '\n') ++feeds;
        else if (!common::is_output_strip_char(c)) break;
    }
    return feeds;
}

// stored line index -> message of the first diagnostic naming it
std::unordered_map<Py_ssize_t, Object> markers(PyObject* errors, Py_ssize_t shift, Py_ssize_t nlines) {
    std::unordered_map<Py_ssize_t, Object> marks;
    Object zero = own(PyLong_FromLong(0)), one = own(PyLong_FromLong(1));
    Object it = iter(errors);
    while (Object entry = next(it.ptr())) {
        Object line = getitem(entry.ptr(), zero.ptr());
        // only integer lines name a stored line; sys.maxsize names none
        if (!PyLong_Check(line.ptr())) continue;
        int overflow = 0;
        long long n = PyLong_AsLongLongAndOverflow(line.ptr(), &overflow);
        if (overflow || n >= nlines) continue;
        check_no_error();
        long long target = n + shift;
        if (target < 0 || target >= nlines) continue;
        if (!marks.count(static_cast<Py_ssize_t>(target)))
            marks.emplace(static_cast<Py_ssize_t>(target), getitem(entry.ptr(), one.ptr()));
    }
    return marks;
}

Object str_body(const Args& a) {
    PyObject* self = a[0];
    Object pieces = own(PyList_New(0));
    append(pieces.ptr(), PYU_STR("Textloom attributes : "));
    Object attributes = getattr(self, PYU_STR("_attributes"));
    Object values = getattr(self, PYU_STR("_values_debug"));
    Py_ssize_t count = PyObject_Length(attributes.ptr());
    if (count < 0) throw PyError();
    for (Py_ssize_t i = 0; i < count; ++i) {
        append(pieces.ptr(), str(own(PySequence_GetItem(attributes.ptr(), i)).ptr()).ptr());
        append(pieces.ptr(), PYU_STR(" : "));
        append(pieces.ptr(), str(own(PySequence_GetItem(values.ptr(), i)).ptr()).ptr());
        append(pieces.ptr(), PYU_STR(" - "));
    }
    auto done = [&] { return own(PyUnicode_Join(PYU_STR(""), pieces.ptr())); };

    Object errors = getattr(self, PYU_STR("_errors"));
    if (!truth(errors.ptr())) return done();
    append(pieces.ptr(), PYU_STR("\n\n: Diagnosis : \n"));
    {
        Object messages = own(PyList_New(0));
        Object one = own(PyLong_FromLong(1));
        Object it = iter(errors.ptr());
        while (Object entry = next(it.ptr())) append(messages.ptr(), getitem(entry.ptr(), one.ptr()).ptr());
        append(pieces.ptr(), own(PyUnicode_Join(PYU_STR("\n"), messages.ptr())).ptr());
    }

    Object output = stored_text(self);
    if (output.ptr() == Py_None) return done();
    if (!same_or_equal(getattr(self, PYU_STR("_refresh_cache")).ptr(), Py_True)) return done();
    if (!PyUnicode_Check(output.ptr())) {
        call_method(output.ptr(), PYU_STR("split"), {PYU_STR("\n")});  // the interpreter's own error
        raise(PyExc_TypeError, "the stored output is not text");
    }
    append(pieces.ptr(), PYU_STR("\n"));
    Object lines = own(PyUnicode_Split(output.ptr(), PYU_STR("\n"), -1));
    const Py_ssize_t nlines = PyList_GET_SIZE(lines.ptr());
    auto marks = markers(errors.ptr(), leading_line_feeds(output.ptr()), nlines);
    Object width = own(PyLong_FromSsize_t(pad_width));
    for (Py_ssize_t i = 0; i < nlines; ++i) {
        PyObject* line = PyList_GET_ITEM(lines.ptr(), i);
        auto mark = marks.find(i);
        if (mark == marks.end()) {
            append(pieces.ptr(), line);
        } else {
            append(pieces.ptr(), call_method(line, PYU_STR("ljust"), {width.ptr()}).ptr());
            append(pieces.ptr(), percent_format(PYU_STR("<=== %s"), {mark->second.ptr()}).ptr());
        }
        append(pieces.ptr(), PYU_STR("\n"));
    }
    return done();
}
FunctionSpec str_spec{"__str__", "oper_check.__str__", {{"self"}}, str_body};

}  // namespace

Object make_diagnosis_method() { return make_method<str_spec>(frame()); }

}  // namespace textloom
