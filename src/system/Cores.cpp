#include "Cores.h"

#include <algorithm>
#include <thread>

#include <sched.h>

namespace stereotools {

unsigned UsableCores() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
        return static_cast<unsigned>(std::max(1, CPU_COUNT(&allowed)));
    }
    // 0: the count is unknown, and one core is always there.
    return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace stereotools
