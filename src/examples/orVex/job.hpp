// Shared frame of the job modules errand and courier.  Each binds `os`,
// `run` and `main`, in that order; main() hands the job runner the test
// script "rehearsal.py" beside the module's own file, with the script
// parameters of one device kind.
#pragma once
#include <vector>
#include "examples/example.hpp"

namespace job {

using pyutil::Handle;
using pyutil::ModuleFrame;
using pyutil::Object;
using pyutil::borrow;
using pyutil::own;

// The script parameters of one device kind.
struct DeviceKind {
    const char* uut_name;
    const char* if_name;
    long mtu;
    std::vector<const char*> header_fields;
    std::vector<long> index;
    const char* title_pattern;  // nullptr stands for None
};

inline Object text_list(const std::vector<const char*>& items) {
    Object list = pyutil::new_list();
    for (const char* item : items) pyutil::append(list, pyutil::str(item));
    return list;
}

inline Object int_list(const std::vector<long>& items) {
    Object list = pyutil::new_list();
    for (long item : items) pyutil::append(list, pyutil::integer(item));
    return list;
}

// The body of main(): every name is read from the module's globals now, so
// a rebinding of `run`, `os` or `__file__` takes effect at the next call.
inline void run_job(const ModuleFrame& m, const DeviceKind& kind) {
    // test_path = os.path.dirname(os.path.abspath(__file__))
    Object dirname = pyutil::getattr(pyutil::getattr(m.global(PYU_STR("os")), PYU_STR("path")), PYU_STR("dirname"));
    Object abspath = pyutil::getattr(pyutil::getattr(m.global(PYU_STR("os")), PYU_STR("path")), PYU_STR("abspath"));
    Object absolute = pyutil::call(abspath, {m.global(PYU_STR("__file__"))});
    Object test_path = pyutil::call(dirname, {absolute});

    Object chosen_uut_device = pyutil::str(kind.uut_name);
    Object stdby_device = pyutil::str("notreallyadevice");
    Object if_name = pyutil::str(kind.if_name);
    Object mtu = pyutil::integer(kind.mtu);
    Object header_fields = text_list(kind.header_fields);
    Object show_arp_table_parse_index = int_list(kind.index);
    Object show_arp_table_title_pattern = kind.title_pattern ? pyutil::str(kind.title_pattern) : borrow(Py_None);

    Object run = m.global(PYU_STR("run"));
    // plain concatenation, not a path join
    Object testscript = pyutil::add(test_path, PYU_STR("/rehearsal.py"));
    pyutil::call_kw(run,
                    {testscript, chosen_uut_device, stdby_device, if_name, mtu, header_fields,
                     show_arp_table_parse_index, show_arp_table_title_pattern},
                    PYU_KWNAMES("testscript", "uut_name", "stdby_name", "if_name", "mtu", "show_arp_header_fields",
                                "show_arp_table_parse_index", "show_arp_table_title_pattern"));
}

template <const DeviceKind& Kind>
Object main_body(const pyutil::Args& a) {
    run_job(a.frame(), Kind);
    return borrow(Py_None);
}

inline const char* const main_doc = R"doc(Run the test script rehearsal.py beside this module through the job runner.

Takes no argument. Hands ryn.runlet.run the path of rehearsal.py in this
module's directory and the script parameters of this job's device: uut_name,
stdby_name (no device of the testbed), if_name, mtu, show_arp_header_fields,
show_arp_table_parse_index and show_arp_table_title_pattern. The testbed is
the framework's (with the stand-in: ryn.testbed.configure(path) first).
Returns None.)doc";

// main() binds its arguments as a def without parameters does
template <const DeviceKind& Kind>
pyutil::FunctionSpec main_spec{"main", "main", {}, main_body<Kind>, main_doc};

// The module body: `os`, `run` and `main`, in that order.
template <const DeviceKind& Kind>
void script(const ModuleFrame& m) {
    m.import_module("os");
    m.from_import("ryn.runlet", "run");
    m.bind("main", pyutil::make_function<main_spec<Kind>>(m));
}

}  // namespace job
