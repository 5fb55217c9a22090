#include "SampleShuffle.h"

namespace stereotools {

bool IsKernelPathAvailable(KernelPath path) {
    if (path == KernelPath::Portable) return true;
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (path == KernelPath::Ssse3) return __builtin_cpu_supports("ssse3");
    if (path == KernelPath::Avx512Vbmi) {
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vbmi");
    }
#endif
    return false;
}

KernelPath FastestKernelPath() {
    static const KernelPath fastest = [] {
        if (IsKernelPathAvailable(KernelPath::Avx512Vbmi)) return KernelPath::Avx512Vbmi;
        if (IsKernelPathAvailable(KernelPath::Ssse3)) return KernelPath::Ssse3;
        return KernelPath::Portable;
    }();
    return fastest;
}

}  // namespace stereotools
