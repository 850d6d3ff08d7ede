// Job module courier: runs rehearsal against a brume device, whose ARP
// table has four columns and no titles.
#include "examples/orVex/job.hpp"

namespace {

const job::DeviceKind brume_vm{
    "VM-4", "mgmt0", 1500, {"Address", "Age", "MAC Address", "Interface"}, {0, 3}, nullptr,
};

}  // namespace

extern "C" PyMODINIT_FUNC PyInit_courier() {
    return example::init_script_module<job::script<brume_vm>>("mirel.textloom.examples.textloom.orVex.courier");
}
