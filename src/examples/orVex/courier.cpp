// Job module courier: runs rehearsal against a brume device, whose ARP
// table has four columns and no titles.
#include "examples/orVex/job.hpp"

namespace {

const job::DeviceKind brume_vm{
    "VM-4", "mgmt0", 1500, {"Address", "Age", "MAC Address", "Interface"}, {0, 3}, nullptr,
};

PyModuleDef courier_def = {PyModuleDef_HEAD_INIT, "mirel.textloom.examples.textloom.orVex.courier", nullptr, 0};

}  // namespace

extern "C" PyMODINIT_FUNC PyInit_courier() { return job::init<brume_vm>(courier_def); }
