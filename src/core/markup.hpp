// Shared by the files of the markup compiler (markup*.cpp): the class and
// extend_markup (markup.cpp), the convert step and its quoting
// (markup_convert.cpp), the registration-text writer (markup_register_text.cpp)
// and the input reader (markup_input.cpp).
#pragma once
#include "core/core.hpp"
#include "pyutil/ops.hpp"

namespace core::markup {

// m.group(which)
inline Object group(Handle m, Handle which) { return pyutil::call_method(m, PYU_STR("group"), {which}); }
inline Object group(Handle m, int which) { return group(m, pyutil::integer(which)); }

// match(pattern, s) through core's current `match`
inline Object re_match(Handle pattern, Handle s) { return pyutil::call(global(PYU_STR("match")), {pattern, s}); }

// str(value) as a literal of the registration text: between single quotes
// (a raw literal when `raw`) where it reads back unchanged, else its repr().
Object literal(Handle value, bool raw = false);
// str(value) for a comment line: as written unless it would end the comment early.
Object comment_text(Handle value);

// The methods of _mk_textloom_t, by the file that holds them.
extern pyutil::FunctionSpec escape_spec, convert_spec, desc_max_spec, convert_output_spec;  // markup_convert.cpp
extern pyutil::FunctionSpec generate_output_spec;                                            // markup_register_text.cpp
extern pyutil::FunctionSpec process_spec;                                                    // markup_input.cpp

}  // namespace core::markup
