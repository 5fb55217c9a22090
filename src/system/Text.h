#pragma once

#include <string_view>

namespace stereotools {

// Returns `text` without the blanks (spaces) around it.
[[nodiscard]] std::string_view TrimBlanks(std::string_view text);
// Returns whether `text` ends with `ending`, ASCII letters in either case.
[[nodiscard]] bool EndsWithNoCase(std::string_view text, std::string_view ending);
// Returns whether `character` is a control character: C0, DEL or C1.
[[nodiscard]] bool IsControlCharacter(char32_t character);

}  // namespace stereotools
