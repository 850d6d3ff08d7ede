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

}  // namespace

extern "C" PyMODINIT_FUNC PyInit_errand() {
    return example::init_script_module<job::script<pellam_vm>>("mirel.textloom.examples.textloom.orVex.errand");
}
