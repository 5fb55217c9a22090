#pragma once

namespace stereoknit {

// Runs the join dialogue on the terminal. Returns the exit status: 2, with
// a line on standard error, when there is no interactive terminal.
[[nodiscard]] int RunStereoKnit();

}  // namespace stereoknit
