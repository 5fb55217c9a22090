#pragma once

#include <utility>

#include <unistd.h>

namespace stereotools {

// An open file descriptor, closed when the object goes. Move-only, so a
// class that holds its descriptors in these moves with the defaults.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { Reset(); }

    [[nodiscard]] int Get() const { return fd_; }
    [[nodiscard]] bool IsOpen() const { return fd_ >= 0; }
    // Returns the descriptor, which the caller now closes.
    [[nodiscard]] int Release() { return std::exchange(fd_, -1); }
    // Closes the descriptor, for one whose close has nothing to report: a
    // caller that must know how a close went Releases it and closes it.
    void Reset() {
        if (fd_ >= 0) ::close(std::exchange(fd_, -1));
    }

private:
    int fd_ = -1;
};

}  // namespace stereotools
