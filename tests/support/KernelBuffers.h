#pragma once

// Buffers for the channel-kernel tests: seeded random samples, and outputs
// with guard bytes around them so an overrun on either side shows.

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace kerneltest {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kGuard = 0xA5;
// More than the widest vector store a kernel makes past its last frame.
constexpr std::size_t kGuardBytes = 160;

inline Bytes RandomBytes(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    Bytes bytes(count);
    for (auto& byte : bytes) byte = static_cast<uint8_t>(random());
    return bytes;
}

// A buffer of `size` bytes starting `offset` bytes into an allocation, with
// guard bytes before and after it.
struct GuardedBuffer {
    GuardedBuffer(std::size_t size, std::size_t offset)
        : storage(offset + size + kGuardBytes, kGuard), offset(offset), size(size) {}
    uint8_t* data() { return storage.data() + offset; }
    Bytes Contents() const {
        return Bytes(storage.begin() + static_cast<std::ptrdiff_t>(offset),
                     storage.begin() + static_cast<std::ptrdiff_t>(offset + size));
    }
    bool GuardsIntact() const {
        for (std::size_t i = 0; i < storage.size(); ++i) {
            const bool inside = i >= offset && i < offset + size;
            if (!inside && storage[i] != kGuard) return false;
        }
        return true;
    }
    Bytes storage;
    std::size_t offset;
    std::size_t size;
};

}  // namespace kerneltest
