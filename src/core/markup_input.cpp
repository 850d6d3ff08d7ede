// The input reader of the markup compiler: OS, CMD, SHOWCMD and PREFIX
// headers and MARKUP sections, each block handed to convert_output.
#include "core/markup.hpp"
#include "pyutil/text.hpp"

namespace core::markup {

using namespace pyutil;

namespace {

// Group 1 of `pattern` matched at the start of `line`, or a null object.
Object header_value(Handle pattern, Handle line) {
    Object m = re_match(pattern, line);
    return m.is_none() ? Object() : group(m, 1);
}

Object process_body(const Args& a) {
    Handle self = a[0];
    Handle markup_iterator = a[1];
    if (!assertions_disabled() && !isinstance(markup_iterator, iterable_abc()))
        raise(PyExc_AssertionError, "Must provide an iterator to process_marked_up_input.");
    setattr(self, PYU_STR("_autoKeyJoinChar"), a[2]);
    Object cmd = borrow(empty_str()), showcmd = cmd, prefix = cmd, markup = cmd;
    Object os = borrow(Py_None), oldos;
    bool inmarkup = false;
    call_method(global(PYU_STR("logger")), PYU_STR("debug"), {PYU_STR("process_marked_up_input")});

    auto hand_over = [&](Handle block_os) {
        call_method(self, PYU_STR("convert_output"), {showcmd, prefix, markup, block_os, cmd});
    };
    Object lines = iter(markup_iterator);
    Py_ssize_t line_number = 0;
    for (Object line; (line = next(lines)); ++line_number) {
        if (!truth(line)) continue;
        if (Object value = header_value(PYU_STR("OS: (.+)"), line)) {
            oldos = os;
            os = call_method(value, PYU_STR("lower"), {});
            Object oses = global(PYU_STR("supported_oses"));
            if (!assertions_disabled() && !contains(oses, os))
                raise(PyExc_AssertionError, format(PYU_STR("Unknown OS {}, must be one of {}"), {os, oses}));
            if (truth(markup)) {
                hand_over(oldos);
                cmd = showcmd = prefix = borrow(Py_None);
                markup = borrow(empty_str());
            }
            inmarkup = false;
            continue;
        }
        Object* target = nullptr;
        Object value;
        if ((value = header_value(PYU_STR("CMD: (.+)"), line))) target = &cmd;
        else if ((value = header_value(PYU_STR("SHOWCMD: (.+)"), line))) target = &showcmd;
        else if ((value = header_value(PYU_STR("PREFIX: (.+)"), line))) target = &prefix;
        if (target) {
            if (truth(markup)) {
                hand_over(os);
                cmd = showcmd = prefix = markup = borrow(empty_str());
            }
            *target = value;
            inmarkup = false;
            continue;
        }
        if (!re_match(PYU_STR("MARKUP:"), line).is_none()) {
            if (!assertions_disabled()) {
                if (inmarkup)
                    raise(PyExc_AssertionError,
                          format(PYU_STR("Found two back-to-back MARKUP sections at line number {}."),
                                 {integer(line_number)}));
                if (truth(markup)) raise(PyExc_AssertionError, "error processing marked-up input.");
            }
            inmarkup = true;
            continue;
        }
        if (inmarkup) {
            markup = concat(markup, line);
            if (!str_contains(line, PYU_STR("\n"))) markup = concat(markup, PYU_STR("\n"));
        }
    }
    if (inmarkup && truth(markup)) hand_over(os);
    return borrow(Py_None);
}

}  // namespace

FunctionSpec process_spec{"process_marked_up_input", "_mk_textloom_t.process_marked_up_input",
                          {{"self"}, {"markup_iterator"}, {"auto_key_join_char", "-"}}, process_body,
                          "Read marked-up input lines: the OS, CMD, SHOWCMD and PREFIX sections in any "
                          "order, the MARKUP section always last."};

}  // namespace core::markup
