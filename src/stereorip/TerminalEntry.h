#pragma once

namespace stereorip {

// Runs the split dialogue on the terminal. Returns the exit status: 2, with
// a line on standard error, when there is no interactive terminal.
[[nodiscard]] int RunStereoRip();

}  // namespace stereorip
