// Job module errand: runs rehearsal against a pellam device, whose ARP
// table is split into one titled table per node.
#include "examples/orVex/job.hpp"

namespace {

const job::DeviceKind pellam_vm{
    "VM-2",
    "MgmtEth0/0/CPU0/0",
    1514,
    {"Address", "Age", "Hardware Addr", "State", "Type", "Interface"},
    {0, 5},
    R"(^(\d+/\d+/CPU\d+))",
};

const char* const doc = R"doc(Demonstration job: the test script rehearsal against a pellam device.

main() runs rehearsal.py, beside this module, through the framework's job
runner for the device "VM-2": interface "MgmtEth0/0/CPU0/0", MTU 1514, and an
ARP table of six columns split into one table per node, indexed by address
and interface. Importing the module runs nothing. With the stand-in framework:

    import logging
    from ryn import testbed
    from mirel.textloom.examples.textloom.orVex import errand
    logging.basicConfig(level=logging.INFO)
    testbed.configure("samples/testbeds/vm2.json")
    errand.main())doc";

}  // namespace

extern "C" PyMODINIT_FUNC PyInit_errand() {
    return example::init_script_module<job::script<pellam_vm>>("mirel.textloom.examples.textloom.orVex.errand", doc);
}
