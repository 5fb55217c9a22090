#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace stereotools {

// A readable run of bytes: the seam through which headers and samples are
// parsed, so tests can hand the reader crafted bytes instead of a file.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Copies up to `out.size()` bytes starting at `offset` into `out`.
    // Returns how many were copied: fewer (possibly 0) at the end of the
    // source, or -1 with errno set when the underlying read failed.
    [[nodiscard]] virtual int64_t ReadAt(uint64_t offset, std::span<uint8_t> out) const = 0;
    // Returns the total size of the source in bytes.
    [[nodiscard]] virtual uint64_t Size() const = 0;
};

// A ByteSource over bytes held in memory.
class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    [[nodiscard]] int64_t ReadAt(uint64_t offset, std::span<uint8_t> out) const override;
    [[nodiscard]] uint64_t Size() const override { return bytes_.size(); }

private:
    std::vector<uint8_t> bytes_;
};

}  // namespace stereotools
