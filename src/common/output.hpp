// What every module of textloom agrees on about device output: the operating
// systems it knows, and the characters an output is stripped of before parsing.
#pragma once
#include <Python.h>
#include "pyutil/errors.hpp"

namespace common {

// The names of supported_oses, in order.
inline constexpr const char* supported_os_names[] = {"ketch", "pellam", "larch", "brume",   "morrow",  "wend",
                                                     "dapple", "quint", "gorse", "tessel", "halvane", "fernet"};

// A new list of those names, as both modules bind it.
pyutil::Object new_supported_oses();

// Tab, line feed, carriage return, form feed, vertical tab: what the
// non-tabular parser strips from both ends of a stored output.
inline constexpr char output_strip_set[] = "\t\n\r\x0c\x0b";
inline bool is_output_strip_char(Py_UCS4 c) {
    for (const char* p = output_strip_set; *p; ++p)
        if (c == static_cast<unsigned char>(*p)) return true;
    return false;
}
// The same characters as a str (for str.strip), kept for the process; borrowed.
PyObject* output_strip_chars();

}  // namespace common
