#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace stereotools {

// One name in a folder.
struct FolderEntry {
    std::string name;       // the bytes the file system holds
    bool isFolder = false;  // a directory, or a link to one
};

// Returns the entries of folder `path` ("" is the current folder) without
// "." and "..", sorted by their bytes; empty when the folder cannot be read.
[[nodiscard]] std::vector<FolderEntry> ListFolder(const std::string& path);

// An answer cut before its last path component.
struct NameParts {
    std::string folder;  // up to and including the last "/", or ""
    std::string last;    // what follows it: the part Tab completes
};

// Splits `answer` after its last "/".
[[nodiscard]] NameParts SplitLastComponent(std::string_view answer);

// Returns `name` with a leading "~/" read as the shell reads it: the folder
// `home` names (the HOME variable). Returns nothing when `name` does not
// start with "~/" or `home` is unset or empty.
[[nodiscard]] std::optional<std::string> InHomeFolder(std::string_view name, const char* home);

// Returns whether `name` ends in ".wav" or ".wave", in any case.
[[nodiscard]] bool IsWaveName(std::string_view name);

// What Tab does to a partly typed name.
struct Completion {
    enum class Outcome {
        NoMatch,  // no entry starts with the typed part
        Unique,   // one entry: `addition` completes it, "/" after a folder
        Several,  // `addition` is what all of `choices` share beyond the typed part
    };
    Outcome outcome = Outcome::NoMatch;
    std::string addition;              // bytes to append to the answer
    std::vector<std::string> choices;  // with Several: the matching names, a folder's with "/"
};

// Completes `partial`, the last component of an answer, against `entries`
// byte for byte. WAV files and folders are offered; other files only when
// neither matches. Names starting with "." count only when `partial` does,
// and names holding control characters never (no answer can hold them). A
// shared part never ends inside a UTF-8 sequence.
[[nodiscard]] Completion CompleteName(std::string_view partial, const std::vector<FolderEntry>& entries);

// Lays `choices` out in columns, as a shell lists them, in rows of at most
// `width` cells, each row led by `indent` blanks. Returns at most `maxRows`
// rows; when more would be needed, the last one says how many names are not
// shown. A name wider than a row is cut and ends in "…".
[[nodiscard]] std::vector<std::string> LayOutChoices(const std::vector<std::string>& choices, int width, int indent,
                                                     int maxRows);

// Reads `text` as a shell reads one word: blanks around it dropped, single
// quotes taken literally, double quotes in which a backslash escapes only
// $, `, ", a backslash and a line break, a backslash outside quotes taking
// the next byte as it is. A word that then starts with "file://" (an empty
// host or "localhost") is read as a URI and its %XX escapes decoded. Returns
// nothing for an empty word, an open quote, a bad escape, or blanks outside
// quotes between words.
[[nodiscard]] std::optional<std::string> ReadShellWord(std::string_view text);

}  // namespace stereotools
