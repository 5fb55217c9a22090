#include "ByteSource.h"

#include <algorithm>
#include <cstring>

namespace stereotools {

int64_t MemorySource::ReadAt(uint64_t offset, std::span<uint8_t> out) const {
    if (offset >= bytes_.size()) return 0;
    const uint64_t count = std::min<uint64_t>(out.size(), bytes_.size() - offset);
    if (count > 0) std::memcpy(out.data(), bytes_.data() + offset, count);
    return static_cast<int64_t>(count);
}

}  // namespace stereotools
