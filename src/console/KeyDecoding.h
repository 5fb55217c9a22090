#pragma once

#include "Console.h"

namespace stereotools {

// Returns the key that character `code`, as the terminal sent it, stands
// for: Enter for carriage return and line feed, Backspace for DEL and
// backspace, Escape, Tab, the Ctrl kinds for the codes of Ctrl-A, D, E, K, U
// and W, a Character with its UTF-8 bytes for a printable character (U+FFFD
// for a value that is no character), and Other for the remaining control
// codes.
[[nodiscard]] Key KeyForCharacter(char32_t code);

}  // namespace stereotools
