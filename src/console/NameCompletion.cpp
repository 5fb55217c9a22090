#include "NameCompletion.h"

#include "CellWidth.h"
#include "system/Text.h"
#include "system/Utf8.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>

namespace stereotools {
namespace {

bool HoldsControlCharacter(std::string_view name) {
    const auto characters = SplitUtf8(name);
    return std::any_of(characters.begin(), characters.end(),
                       [](const Utf8Character& c) { return IsControlCharacter(c.codePoint); });
}

int TextWidth(std::string_view text) {
    int width = 0;
    for (const Utf8Character& c : SplitUtf8(text)) width += WideCellWidth(c.codePoint);
    return width;
}

// Returns `text` cut to at most `width` cells, ending in "…" when cut.
std::string FitToWidth(std::string_view text, int width) {
    if (TextWidth(text) <= width) return std::string(text);
    std::string fitted;
    int used = 0;
    for (const Utf8Character& c : SplitUtf8(text)) {
        const int cells = WideCellWidth(c.codePoint);
        if (used + cells > width - 1) break;
        fitted += text.substr(c.offset, c.length);
        used += cells;
    }
    return fitted + "\xE2\x80\xA6";
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decodes the path of a file:// URI. Returns nothing for another host or a
// broken %XX escape.
std::optional<std::string> DecodeFileUri(std::string_view uri) {
    std::string_view rest = uri.substr(7);
    if (rest.starts_with("localhost/")) rest.remove_prefix(9);
    if (!rest.starts_with('/')) return std::nullopt;
    std::string path;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] != '%') {
            path += rest[i];
            continue;
        }
        const int high = i + 1 < rest.size() ? HexValue(rest[i + 1]) : -1;
        const int low = i + 2 < rest.size() ? HexValue(rest[i + 2]) : -1;
        if (high < 0 || low < 0) return std::nullopt;
        const char byte = static_cast<char>(high * 16 + low);
        // A NUL byte cannot be part of a path.
        if (byte == '\0') return std::nullopt;
        path += byte;
        i += 2;
    }
    return path;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

std::vector<FolderEntry> ListFolder(const std::string& path) {
    std::vector<FolderEntry> entries;
    DIR* folder = ::opendir(path.empty() ? "." : path.c_str());
    if (folder == nullptr) return entries;
    const int folderFd = ::dirfd(folder);
    while (const dirent* entry = ::readdir(folder)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat info {};
            isFolder = ::fstatat(folderFd, entry->d_name, &info, 0) == 0 && S_ISDIR(info.st_mode);
        }
        entries.push_back({std::string(name), isFolder});
    }
    ::closedir(folder);
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return entries;
}

std::optional<std::string> InHomeFolder(std::string_view name, const char* home) {
    if (!name.starts_with("~/") || home == nullptr || *home == '\0') return std::nullopt;
    std::string path(home);
    if (!path.ends_with('/')) path += '/';
    return path + std::string(name.substr(2));
}

NameParts SplitLastComponent(std::string_view answer) {
    const std::size_t slash = answer.rfind('/');
    if (slash == std::string_view::npos) return {{}, std::string(answer)};
    return {std::string(answer.substr(0, slash + 1)), std::string(answer.substr(slash + 1))};
}

bool IsWaveName(std::string_view name) { return EndsWithNoCase(name, ".wav") || EndsWithNoCase(name, ".wave"); }

Completion CompleteName(std::string_view partial, const std::vector<FolderEntry>& entries) {
    std::vector<const FolderEntry*> offered;
    std::vector<const FolderEntry*> others;
    const bool showHidden = partial.starts_with('.');
    for (const FolderEntry& entry : entries) {
        const std::string_view name = entry.name;
        if (!name.starts_with(partial) || name == "." || name == "..") continue;
        if (name.starts_with('.') && !showHidden) continue;
        if (HoldsControlCharacter(name)) continue;
        (entry.isFolder || IsWaveName(name) ? offered : others).push_back(&entry);
    }
    const std::vector<const FolderEntry*>& matches = offered.empty() ? others : offered;
    Completion completion;
    if (matches.empty()) return completion;

    if (matches.size() == 1) {
        completion.outcome = Completion::Outcome::Unique;
        completion.addition = matches[0]->name.substr(partial.size());
        if (matches[0]->isFolder) completion.addition += '/';
        return completion;
    }

    completion.outcome = Completion::Outcome::Several;
    const std::string& first = matches[0]->name;
    std::size_t shared = first.size();
    for (const FolderEntry* match : matches) {
        const std::string& name = match->name;
        std::size_t i = partial.size();
        while (i < shared && i < name.size() && name[i] == first[i]) ++i;
        shared = i;
    }
    // Cutting inside a character would put half of it into the answer.
    while (shared > partial.size() && shared < first.size() &&
           IsUtf8Continuation(static_cast<unsigned char>(first[shared])))
        --shared;
    completion.addition = first.substr(partial.size(), shared - partial.size());
    for (const FolderEntry* match : matches) completion.choices.push_back(match->name + (match->isFolder ? "/" : ""));
    return completion;
}

std::vector<std::string> LayOutChoices(const std::vector<std::string>& choices, int width, int indent, int maxRows) {
    std::vector<std::string> rows;
    const int usable = width - indent;
    if (choices.empty() || maxRows < 1 || usable < 2) return rows;

    constexpr int kGap = 2;
    int widest = 0;
    for (const std::string& choice : choices) widest = std::max(widest, TextWidth(choice));
    const int columnWidth = std::min(widest, usable) + kGap;
    const int columns = std::max(1, (usable + kGap) / columnWidth);
    const std::size_t count = choices.size();
    const auto columnCount = static_cast<std::size_t>(columns);
    std::size_t rowCount = (count + columnCount - 1) / columnCount;
    std::size_t shown = count;
    if (rowCount > static_cast<std::size_t>(maxRows)) {
        // The last row that fits tells how many names are left out.
        rowCount = static_cast<std::size_t>(maxRows - 1);
        shown = rowCount * columnCount;
    }
    const std::string lead(static_cast<std::size_t>(indent), ' ');
    for (std::size_t r = 0; r < rowCount; ++r) {
        std::string row = lead;
        for (std::size_t c = 0; c < columnCount; ++c) {
            // Column by column, as ls lists them.
            const std::size_t index = c * rowCount + r;
            if (index >= shown) break;
            const std::string name = FitToWidth(choices[index], usable);
            row += name;
            const bool lastInRow = c + 1 == columnCount || (c + 1) * rowCount + r >= shown;
            if (!lastInRow) row += std::string(static_cast<std::size_t>(columnWidth - TextWidth(name)), ' ');
        }
        rows.push_back(std::move(row));
    }
    if (shown < count) rows.push_back(lead + "... " + std::to_string(count - shown) + " more");
    return rows;
}

std::optional<std::string> ReadShellWord(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    const std::string_view source = text.substr(begin, end - begin);
    if (source.empty()) return std::nullopt;

    std::string word;
    enum class Quote { None, Single, Double } quote = Quote::None;
    for (std::size_t i = 0; i < source.size(); ++i) {
        const char c = source[i];
        switch (quote) {
        case Quote::Single:
            if (c == '\'') {
                quote = Quote::None;
            } else {
                word += c;
            }
            break;
        case Quote::Double:
            if (c == '"') {
                quote = Quote::None;
            } else if (c == '\\' && i + 1 < source.size() &&
                       std::string_view("$`\"\\\n").find(source[i + 1]) != std::string_view::npos) {
                ++i;
                // A backslash and a line break join two lines: both go.
                if (source[i] != '\n') word += source[i];
            } else {
                word += c;
            }
            break;
        case Quote::None:
            if (c == '\'') {
                quote = Quote::Single;
            } else if (c == '"') {
                quote = Quote::Double;
            } else if (c == '\\') {
                if (i + 1 == source.size()) return std::nullopt;
                ++i;
                if (source[i] != '\n') word += source[i];
            } else if (IsBlank(c)) {
                return std::nullopt;
            } else {
                word += c;
            }
            break;
        }
    }
    if (quote != Quote::None || word.empty()) return std::nullopt;
    if (word.starts_with("file://")) return DecodeFileUri(word);
    return word;
}

}  // namespace stereotools
