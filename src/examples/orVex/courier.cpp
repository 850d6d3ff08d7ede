// Job module courier: runs rehearsal against a brume device, whose ARP
// table has four columns and no titles.
#include "examples/orVex/job.hpp"

namespace {

const job::DeviceKind brume_vm{
    "VM-4", "mgmt0", 1500, {"Address", "Age", "MAC Address", "Interface"}, {0, 3}, nullptr,
};

const char* const doc = R"doc(Demonstration job: the test script rehearsal against a brume device.

main() runs rehearsal.py, beside this module, through the framework's job
runner for the device "VM-4": interface "mgmt0", MTU 1500, and an ARP table of
four columns without titles, indexed by address and interface. Importing the
module runs nothing. With the stand-in framework:

    import logging
    from ryn import testbed
    from mirel.textloom.examples.textloom.orVex import courier
    logging.basicConfig(level=logging.INFO)
    testbed.configure("samples/testbeds/vm4.json")
    courier.main())doc";

}  // namespace

extern "C" PyMODINIT_FUNC PyInit_courier() {
    return example::init_script_module<job::script<brume_vm>>("mirel.textloom.examples.textloom.orVex.courier", doc);
}
