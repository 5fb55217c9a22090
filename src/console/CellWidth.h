#pragma once

namespace stereotools {

// Returns the cells `codePoint` takes on a terminal: 2 for East Asian wide
// and emoji characters, else 1.
[[nodiscard]] int WideCellWidth(char32_t codePoint);

}  // namespace stereotools
