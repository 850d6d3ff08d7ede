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

PyModuleDef errand_def = {PyModuleDef_HEAD_INIT, "mirel.textloom.examples.textloom.orVex.errand", nullptr, 0};

}  // namespace

extern "C" PyMODINIT_FUNC PyInit_errand() { return job::init<pellam_vm>(errand_def); }
