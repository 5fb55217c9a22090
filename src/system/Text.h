#pragma once

#include <cstddef>
#include <string_view>

namespace stereotools {

// One row of a table of texts, one for each value of an enum.
template <typename Key>
struct TextEntry {
    Key key;
    const char* text;
};

// Returns the text `table` holds for `key`, or "" when it holds none.
template <typename Key, std::size_t N>
[[nodiscard]] constexpr const char* TextOf(const TextEntry<Key> (&table)[N], Key key) {
    for (const auto& entry : table) {
        if (entry.key == key) return entry.text;
    }
    return "";
}

// Returns `text` without the blanks (spaces) around it.
[[nodiscard]] std::string_view TrimBlanks(std::string_view text);
// Returns whether `text` ends with `ending`, ASCII letters in either case.
[[nodiscard]] bool EndsWithNoCase(std::string_view text, std::string_view ending);
// Returns whether `character` is a control character: C0, DEL or C1.
[[nodiscard]] bool IsControlCharacter(char32_t character);

}  // namespace stereotools
