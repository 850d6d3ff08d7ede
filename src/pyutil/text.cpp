#include "pyutil/text.hpp"
#include <cstring>
#include <string>
#include <vector>
#include "pyutil/names.hpp"

namespace pyutil {

Object strip(Handle s, Handle chars) {
    PyObject* args[] = {s.ptr(), chars.ptr()};
    return own(PyObject_VectorcallMethod(PYU_STR("strip"), args, 2, nullptr));
}

PyObject* output_strip_chars() { return PYU_STR("\t\n\r\x0c\x0b"); }

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

namespace {
bool is_global_flag(Py_UCS4 c) {
    return c == 'a' || c == 'i' || c == 'L' || c == 'm' || c == 's' || c == 'u' || c == 'x';
}
}  // namespace

Py_ssize_t RegexText::flag_group_end(Py_ssize_t i) const {
    const RegexText& at = *this;
    if (at[i] != '(' || at[i + 1] != '?' || !is_global_flag(at[i + 2])) return i;
    Py_ssize_t j = i + 2;
    while (is_global_flag(at[j])) ++j;
    return at[j] == ')' ? j + 1 : i;
}

Py_ssize_t RegexText::class_end(Py_ssize_t i) const {
    const RegexText& at = *this;
    ++i;
    // a ']' right after '[' or '[^' is a literal member
    if (at[i] == '^') ++i;
    if (at[i] == ']') ++i;
    for (; i < n_ && at[i] != ']'; ++i)
        if (at[i] == '\\') ++i;
    return i < n_ ? i : n_;
}

Object hoist_global_flags(Handle pattern) {
    if (!PyUnicode_Check(pattern.ptr())) return borrow(pattern);
    const RegexText at(pattern);
    const Py_ssize_t n = at.size();

    // Spans [start, end) of "(?flags)" groups after the leading run, and their flag letters.
    std::vector<std::pair<Py_ssize_t, Py_ssize_t>> groups;
    std::u32string flags;
    Py_ssize_t i = 0;
    while (at.flag_group_end(i) != i) i = at.flag_group_end(i);  // already at the front
    for (; i < n; ++i) {
        Py_UCS4 c = at[i];
        if (c == '\\') {
            ++i;
        } else if (c == '[') {
            i = at.class_end(i);
        } else if (Py_ssize_t end = at.flag_group_end(i); end != i) {
            groups.emplace_back(i, end);
            for (Py_ssize_t k = i + 2; k < end - 1; ++k) flags.push_back(at[k]);
            i = end - 1;
        }
    }
    if (groups.empty()) return borrow(pattern);

    std::u32string out = U"(?" + flags + U")";
    Py_ssize_t pos = 0;
    for (auto& g : groups) {
        for (Py_ssize_t k = pos; k < g.first; ++k) out.push_back(at[k]);
        pos = g.second;
    }
    for (Py_ssize_t k = pos; k < n; ++k) out.push_back(at[k]);
    return own(PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, out.data(), static_cast<Py_ssize_t>(out.size())));
}

}  // namespace pyutil
