#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace stereotools {

// One character of a byte string: a UTF-8 sequence, or a single invalid byte.
struct Utf8Character {
    char32_t codePoint = 0;  // U+FFFD for an invalid byte
    std::size_t offset = 0;  // first byte in the string
    std::size_t length = 0;  // bytes taken
};

// Splits `text` into characters. Every byte belongs to exactly one.
[[nodiscard]] std::vector<Utf8Character> SplitUtf8(std::string_view text);

// Returns the UTF-8 encoding of `codePoint`.
[[nodiscard]] std::string EncodeUtf8(char32_t codePoint);

}  // namespace stereotools
