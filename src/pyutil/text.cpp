#include "pyutil/text.hpp"
#include <cstring>
#include "pyutil/names.hpp"
#include "pyutil/ops.hpp"

namespace pyutil {

Object strip(Handle s, Handle chars) {
    PyObject* args[] = {s.ptr(), chars.ptr()};
    return own(PyObject_VectorcallMethod(PYU_STR("strip"), args, 2, nullptr));
}

Object without_cr(Handle s) {
    if (!is_exact_str(s)) return call_method(s, PYU_STR("replace"), {PYU_STR("\r"), empty_str()});
    if (find_char(s, '\r', 0, PyUnicode_GET_LENGTH(s.ptr())) < 0) return borrow(s);
    return replace(s, PYU_STR("\r"), empty_str());
}

Object slice_without_cr(Handle s, Py_ssize_t start, Py_ssize_t end) {
    const bool has_cr = find_char(s, '\r', start, end) >= 0;
    Object piece = substring(s, start, end);
    if (!has_cr) return piece;
    return replace(piece, PYU_STR("\r"), empty_str());
}

namespace {

// The carriage returns of CRLF pairs, found with memchr for the common
// one-byte texts and by a plain scan for wider ones.
template <class Char>
const Char* next_cr(const Char* p, const Char* end) {
    if constexpr (sizeof(Char) == 1) {
        return static_cast<const Char*>(std::memchr(p, '\r', static_cast<size_t>(end - p)));
    } else {
        for (; p < end; ++p)
            if (*p == '\r') return p;
        return nullptr;
    }
}

template <class Char>
Py_ssize_t count_crlf(const Char* in, Py_ssize_t n) {
    Py_ssize_t pairs = 0;
    const Char* end = in + n;
    for (const Char* p = in; (p = next_cr(p, end)); ++p) pairs += p + 1 < end && p[1] == '\n';
    return pairs;
}

template <class Char>
void copy_without_cr_before_lf(const Char* in, Py_ssize_t n, Char* out) {
    const Char* end = in + n;
    const Char* run = in;  // start of the stretch not yet copied
    for (const Char* p = in; (p = next_cr(p, end)); ++p) {
        if (p + 1 < end && p[1] == '\n') {
            std::memcpy(out, run, static_cast<size_t>(p - run) * sizeof(Char));
            out += p - run;
            run = p + 1;
        }
    }
    std::memcpy(out, run, static_cast<size_t>(end - run) * sizeof(Char));
    out[end - run] = '\n';
}

}  // namespace

Object crlf_to_lf_plus_lf(Handle text) {
    PyObject* s = text.ptr();
    const Py_ssize_t n = PyUnicode_GET_LENGTH(s);
    const int kind = PyUnicode_KIND(s);
    const void* data = PyUnicode_DATA(s);
    Py_ssize_t pairs = kind == PyUnicode_1BYTE_KIND   ? count_crlf(static_cast<const Py_UCS1*>(data), n)
                       : kind == PyUnicode_2BYTE_KIND ? count_crlf(static_cast<const Py_UCS2*>(data), n)
                                                      : count_crlf(static_cast<const Py_UCS4*>(data), n);
    // only carriage returns go, so the widest character (and the kind) stays
    Object out = own(PyUnicode_New(n - pairs + 1, PyUnicode_MAX_CHAR_VALUE(s)));
    void* dest = PyUnicode_DATA(out.ptr());
    if (kind == PyUnicode_1BYTE_KIND)
        copy_without_cr_before_lf(static_cast<const Py_UCS1*>(data), n, static_cast<Py_UCS1*>(dest));
    else if (kind == PyUnicode_2BYTE_KIND)
        copy_without_cr_before_lf(static_cast<const Py_UCS2*>(data), n, static_cast<Py_UCS2*>(dest));
    else
        copy_without_cr_before_lf(static_cast<const Py_UCS4*>(data), n, static_cast<Py_UCS4*>(dest));
    return out;
}

bool str_contains(Handle s, Handle part) { return check(PyUnicode_Contains(s.ptr(), part.ptr())) != 0; }

Py_ssize_t rfind(Handle s, Handle part) {
    Py_ssize_t at = PyUnicode_Find(s.ptr(), part.ptr(), 0, PY_SSIZE_T_MAX, -1);
    if (at == -2) throw PyError();
    return at;
}

Py_ssize_t find(Handle s, Handle part, Py_ssize_t start, Py_ssize_t end) {
    Py_ssize_t at = PyUnicode_Find(s.ptr(), part.ptr(), start, end, 1);
    if (at == -2) throw PyError();
    return at;
}

Py_ssize_t find_char(Handle s, Py_UCS4 c, Py_ssize_t start, Py_ssize_t end) {
    Py_ssize_t at = PyUnicode_FindChar(s.ptr(), c, start, end, 1);
    if (at == -2) throw PyError();
    return at;
}

}  // namespace pyutil
