// oper_fill: the check operation in fill mode, with the optional fill
// pattern that adds registered tags to the caller's pairs.
#include <vector>
#include "pyutil/regex.hpp"
#include "textloom/textloom.hpp"

namespace textloom {
namespace {

using namespace pyutil;

// Appends (tag, None) to the caller's own list for every tag registered for
// `os` that ".*" + pattern matches and the list lacks; nothing is appended
// before all candidates are known.
void expand(Handle attrvalpairs, Handle os, Handle pattern) {
    Object caller_tags = new_list();
    {
        Object zero = integer(0);
        Object it = iter(attrvalpairs);
        while (Object pair = next(it)) append(caller_tags, getitem(pair, zero));
    }
    Object registered = getitem(global(PYU_STR("_glb_regex_tags")), os);
    std::vector<Object> candidates;
    Object composed;  // made at the first tag, as the concatenation would be
    Object tags = iter(registered);
    while (Object tag = next(tags)) {
        // "(?i)show" must stay a global flag group once ".*" stands before it
        if (!composed) composed = hoist_global_flags(add(PYU_STR(".*"), pattern));
        Object match = getattr(global(PYU_STR("re")), PYU_STR("match"));
        if (truth(call(match, {composed, tag}))) candidates.push_back(tuple({tag, Py_None}));
    }
    for (const Object& candidate : candidates) {
        if (contains(caller_tags, getitem(candidate, 0))) continue;
        call_method(attrvalpairs, PYU_STR("append"), {candidate});
    }
}

Object init_body(const Args& a) {
    PyObject* self = a[0];
    // device, show_command, attrvalpairs, refresh_cache, regex_tag_fill_pattern, skip,
    // device_conn_alias, device_output, device_os
    prepare_operation(self, a[2], a[3], a[4], a[8]);
    if (!choose_device(self, a[1], a[7], a[8], a[9])) missing_device(self);
    setattr(self, PYU_STR("_fill"), Py_True);
    setattr(self, PYU_STR("_skip"), a[6]);
    setattr(self, PYU_STR("_negate"), Py_False);
    Object os = getattr(self, PYU_STR("_device_os"));
    if (truth(a[5])) {
        expand(a[3], os, a[5]);
        call_method(self, PYU_STR("process_attrvalpairs"), {a[3], os, Py_False});
    } else {
        call_method(self, PYU_STR("process_attrvalpairs"), {a[3], os, Py_True});
    }
    return borrow(Py_None);
}
FunctionSpec init_spec{"__init__", "oper_fill.__init__",
                       {{"self"}, {"device", None}, {"show_command", None}, {"attrvalpairs", None},
                        {"refresh_cache", false}, {"regex_tag_fill_pattern", ""}, {"skip", false},
                        {"device_conn_alias", None}, {"device_output", None}, {"device_os", None}},
                       init_body,
                       R"doc(Prepare a fill; parse() (or test()) runs it, anew at each call.

attrvalpairs: pairs as for oper_check, a value of None asking for the value.
    The first value, in the order the pairs are used, must not be None: it
    selects the record (parse() raises AssertionError otherwise).
regex_tag_fill_pattern: a regex; every tag registered for the OS that
    '.*' + pattern matches (re.match) and that the pairs lack is appended, with
    None, to your own list. Your order is then kept as it is, so give the pairs
    in the order of the OS's tag list.
skip: first drop the tags whose regex matches no line of the output (a tag
    with alternatives stays when one of them matches a line); else a tag whose
    line is absent holds back the tags after it.
device, show_command, refresh_cache, device_conn_alias, device_output,
device_os: as for oper_check.)doc"};

const char* const doc = R"doc(Fill the values of regex tags from the output of a show command into
ext_dictio[device.name] (ext_dictio['device_name'] for output given as text).

    >>> from mirel.textloom import extend, ext_dictio, oper_fill
    >>> extend({'brume': {'show.intf.if_name': r'(\S+) is up', 'show.intf.mtu': r'\s+MTU (\d+) bytes'}},
    ...        regex_tags={'brume': ['show.intf.if_name', 'show.intf.mtu']})
    >>> fill = oper_fill(attrvalpairs=[('show.intf.if_name', 'mgmt0')],
    ...                  regex_tag_fill_pattern=r'show\.intf', device_os='brume',
    ...                  device_output='mgmt0 is up\n  MTU 1500 bytes, BW 0 Kbit\n')
    >>> fill.parse()
    True
    >>> ext_dictio['device_name']
    {'show.intf.if_name': 'mgmt0', 'show.intf.mtu': '1500'}

A value asked for whose line is absent holds back the tags after it. When the
next record begins, the fill fails with a diagnosis that names no tag: the
missing tag is the first of the tags, in the order the fill meets them, that
ext_dictio lacks.)doc";

}  // namespace

Object make_oper_fill_class(Handle oper_check) {
    return make_subclass("oper_fill", oper_check, doc, make_method<init_spec>(frame()));
}

}  // namespace textloom
