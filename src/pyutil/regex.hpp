// Reading a str in code points, and reading regex syntax the way re's parser
// does, for what is decided about a pattern before it is compiled.
#pragma once
#include <Python.h>
#include <vector>
#include "pyutil/object.hpp"

namespace pyutil {

// Read-only view of the code points of a str.  It reads the str's own
// buffer, so the str must outlive it (a temporary Object cannot make one).
class CodePoints {
public:
    explicit CodePoints(Handle s)
        : kind_(PyUnicode_KIND(s.ptr())), data_(PyUnicode_DATA(s.ptr())), size_(PyUnicode_GET_LENGTH(s.ptr())) {}
    CodePoints(Object&&) = delete;
    int kind() const { return kind_; }
    const void* data() const { return data_; }
    Py_ssize_t size() const { return size_; }
    // the code point at i, for 0 <= i < size()
    Py_UCS4 operator[](Py_ssize_t i) const { return PyUnicode_READ(kind_, data_, i); }
    // the code point at i; 0 at and past the end
    Py_UCS4 get(Py_ssize_t i) const { return i < size_ ? (*this)[i] : 0; }

private:
    int kind_;
    const void* data_;
    Py_ssize_t size_;
};

// A letter of a global inline flag group "(?aiLmsux)".
bool is_flag_letter(Py_UCS4 c);

// The index just after a global flag group "(?imsx...)" standing at i, or i when none does.
Py_ssize_t flag_group_end(const CodePoints& at, Py_ssize_t i);

// The index of the ']' that closes the character class opened at i (the size when unclosed).
Py_ssize_t class_end(const CodePoints& at, Py_ssize_t i);

// Moves global inline flag groups such as "(?i)" that stand after the start of
// a pattern to its front, where Python 3.11 requires them (older series applied
// them to the whole pattern wherever they stood).  Returns the pattern itself
// (a new reference) when there is nothing to move.
Object hoist_global_flags(Handle pattern);

// What the syntax of a pattern (a str) allows when it is put after a prefix
// pattern of its own, its global flags moved to the front.
struct PatternTraits {
    // No numbered backreference, no conditional "(?(", and no quantifier first
    // (after the global flag groups): neither the prefix's group 1 nor its
    // greediness changes whether the whole matches.
    bool lazy_ok = true;
    // Nothing that looks before the match's start (\A, \b, \B, ^, a lookbehind):
    // matching from an offset of a text is matching a copy of its rest.
    bool from_offset = true;
};
PatternTraits pattern_traits(Handle pattern);

// Whether the parentheses of a pattern (a str) balance, so that put between
// the parentheses of a group it cannot end that group early.
bool groups_balance(Handle pattern);

// Whether a pattern (a str) holds "(?" followed by a flag letter or '-'
// anywhere: an inline flag group, global or scoped.
bool has_inline_flags(Handle pattern);

// The length of the literal text every match of a pattern (a str without
// inline flags) starts with, as far as its first characters tell; 0 when
// they tell none.
Py_ssize_t literal_prefix_length(Handle pattern);

// Whether every match of a pattern (a str, read as not verbose), wherever it
// starts, starts by taking one character that \s does not take, under any
// flags; false where the reader cannot tell.
bool takes_non_space_first(Handle pattern);

// One pattern that matches at the start of a text exactly where one of
// `patterns` (str, each compiled alone with `flags`) matches there: a
// non-capturing branch per pattern, its groups made non-capturing, branches
// that start with the same run of white space sharing it (taken whole where
// no branch can start inside it).  Null for no patterns, and where the reader
// cannot be sure of that: flags that change the reading (verbose) or the
// output, or a pattern whose groups, flags or classes would mean, refer to or
// warn of something else as a branch.
Object alternation(const std::vector<Object>& patterns, long flags);

}  // namespace pyutil
