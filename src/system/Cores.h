#pragma once

namespace stereotools {

// Returns the cores this process may run on: those its CPU affinity allows
// (`taskset`, a container's CPU set), else those online; at least 1.
[[nodiscard]] unsigned UsableCores();

}  // namespace stereotools
