#pragma once

#include <cstddef>
#include <cstdint>

namespace stereotools {

// Whether a job has room for the files it opens at once.
struct OpenFileRoom {
    bool enough = true;
    uint64_t needed = 0;  // files open at once: those open now and the job's
    uint64_t limit = 0;   // the limit on open files after any raise
    explicit operator bool() const { return enough; }
};

// Returns the files this process has open now, or 0 when it cannot tell.
[[nodiscard]] std::size_t CountOpenFiles();

// Makes room for `more` files beyond those open now: raises the soft limit
// on open files to the hard limit when it is too low for them. Returns
// whether there is room, with the number needed and the limit.
[[nodiscard]] OpenFileRoom MakeRoomForOpenFiles(std::size_t more);

}  // namespace stereotools
