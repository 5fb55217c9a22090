#include "PageAlignedWrites.h"

#include <bit>
#include <cstring>
#include <span>

namespace stereotools {

IoError PageAlignedWrites::Write(const WaveOutput& output, uint64_t position, uint8_t* samples, std::size_t count) {
    if (held_ > 0 && (samples != buffer_ || position != heldAt_ + held_)) {
        // Not this run's next piece: what is held goes first, as it is.
        if (IoError error = Finish(output)) return error;
    }
    buffer_ = samples;
    // The held bytes already sit before the buffer: the piece grows back over them.
    uint8_t* const start = samples - held_;
    const uint64_t from = position - held_;
    const std::size_t bytes = count + held_;
    std::size_t tail = 0;
    if (granule_ >= kMinGranule) {
        tail = std::min<std::size_t>(bytes, (output.SamplesAt() + from + bytes) % granule_);
        if (tail > room_) tail = 0;
    }
    // Larger writes are made in pieces: the page cache then never asks for
    // more than 1 MiB of contiguous memory at once, which, when memory is in
    // fragments, made some 4 MiB writes wait up to a second.
    for (std::size_t done = 0; done < bytes - tail;) {
        const std::size_t piece = std::min(bytes - tail - done, kMaxWrite);
        if (IoError error = WriteWaveSamplesAt(output, from + done, std::span<const uint8_t>(start + done, piece))) {
            return error;
        }
        done += piece;
    }
    std::memmove(samples - tail, start + bytes - tail, tail);
    heldAt_ = from + bytes - tail;
    held_ = tail;
    return {};
}

IoError PageAlignedWrites::Finish(const WaveOutput& output) {
    if (held_ == 0) return {};
    const std::size_t held = held_;
    held_ = 0;
    return WriteWaveSamplesAt(output, heldAt_, std::span<const uint8_t>(buffer_ - held, held));
}

std::size_t PowerOfTwoIn(uint64_t bytes, std::size_t most) {
    if (bytes == 0) return most;
    return static_cast<std::size_t>(std::min<uint64_t>(uint64_t{1} << std::countr_zero(bytes), most));
}

}  // namespace stereotools
