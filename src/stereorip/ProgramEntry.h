#pragma once

namespace stereorip {

// Runs the split dialogue on the terminal when `argv` holds only the
// program's name, else the command line on the files it names. Returns the
// exit status: 2, with a line on standard error, for a dialogue without an
// interactive terminal or a command line it cannot read.
[[nodiscard]] int RunStereoRip(int argc, char** argv);

}  // namespace stereorip
