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

// Returns whether `byte` continues a UTF-8 sequence (10xxxxxx).
[[nodiscard]] constexpr bool IsUtf8Continuation(unsigned char byte) { return (byte & 0xC0u) == 0x80u; }

// Returns the length of the well-formed UTF-8 sequence that `lead` may
// start: 2 to 4, or 1 for an ASCII byte or a byte that starts none.
[[nodiscard]] std::size_t Utf8SequenceLength(unsigned char lead);

// Splits `text` into characters. Every byte belongs to exactly one.
[[nodiscard]] std::vector<Utf8Character> SplitUtf8(std::string_view text);

// Returns the UTF-8 encoding of `codePoint`.
[[nodiscard]] std::string EncodeUtf8(char32_t codePoint);

}  // namespace stereotools
