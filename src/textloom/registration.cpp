// The forwarding registration functions extend_markup and extend, and isstr.
#include "textloom/textloom.hpp"
#include "pyutil/text.hpp"

namespace textloom {
namespace {

using namespace pyutil;

// The join character of inferred keys stays core's default, "-".
Object extend_markup_body(const Args& a) {
    call(core_attr(PYU_STR("extend_markup")), {a[0]});
    return borrow(Py_None);
}
FunctionSpec extend_markup_spec{"extend_markup", "extend_markup", {{"marked_up_input"}}, extend_markup_body,
                                "Compile marked-up sample output and register it in core's registry, as\n"
                                "core.extend_markup does with its default: inferred keys are joined with '-'."};

Object extend_body(const Args& a) {
    call(core_attr(PYU_STR("extend")), {a[0], a[1], a[2]});
    return borrow(Py_None);
}
FunctionSpec extend_spec{"extend", "extend",
                         {{"regex_ext", None}, {"show_cmds", None}, {"regex_tags", None}},
                         extend_body,
                         "Merge regexes, show-command templates and per-OS regex tag lists into core's registry."};

Object isstr_body(const Args& a) { return boolean(is_str(a[0])); }
FunctionSpec isstr_spec{"isstr", "isstr", {{"s"}}, isstr_body, "True when s is a str (or of a subclass of str)."};

}  // namespace

Object make_extend_markup() { return make_function<extend_markup_spec>(frame()); }
Object make_extend() { return make_function<extend_spec>(frame()); }
Object make_isstr() { return make_function<isstr_spec>(frame()); }

}  // namespace textloom
