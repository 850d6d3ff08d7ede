#include "common/output.hpp"
#include "pyutil/names.hpp"
#include "pyutil/ops.hpp"

namespace common {

pyutil::Object new_supported_oses() {
    pyutil::Object list = pyutil::new_list();
    for (const char* os : supported_os_names) pyutil::append(list, pyutil::intern_forever(os));
    return list;
}

PyObject* output_strip_chars() { return PYU_STR(output_strip_set); }

}  // namespace common
