#include "Messages.h"

#include "system/Utf8.h"

#include <cstdio>

namespace stereotools {
namespace {

constexpr struct {
    CliMessage message;
    std::string_view text;
} kCliTexts[] = {
    {CliMessage::FileNotFound, "File not found. ({})"},
    {CliMessage::CannotRead, "Cannot read {}: {}"},
    {CliMessage::InputIsFolder, "{} is a folder"},
    {CliMessage::InputIsPipe, "{} is a named pipe"},
    {CliMessage::InputIsDevice, "{} is a device"},
    {CliMessage::InputIsSocket, "{} is a socket"},
    {CliMessage::ZeroFilled,
     "the header declares {} bytes of samples, the file holds {}; the rest is written as silence"},
    {CliMessage::Incompatible, "{} ({} and {}{})"},
    {CliMessage::IncompatibleFiles, ": this one and {}"},
    {CliMessage::NoSuchChannel, "This file has {} channels: there is no channel {}"},
    {CliMessage::MaskMismatch, "The channel mask names {} speakers for the {} files of this take"},
    {CliMessage::OutputTwiceInItem, "{} would be written twice by this input"},
    {CliMessage::OutputExists, "{} exists; use --force to replace it"},
    {CliMessage::OutputTwice, "{} is written by {} earlier in this run"},
    {CliMessage::OutputFolder, "Cannot use as output folder: {}"},
    {CliMessage::NotAFolder, "Not a folder"},
    {CliMessage::Wrote, "wrote {}"},
    {CliMessage::WouldWrite, "would write {}"},
    {CliMessage::LeftOutSilent, "{}; left out the silent {}"},
    {CliMessage::LeftOutSilentOnly, "wrote nothing; left out the silent {}"},
    {CliMessage::Facts,
     "{}: channels {}, sample rate {} Hz, resolution {} bits, length {} samples, duration {} seconds"},
    {CliMessage::MetadataListing, "{}: tracks {}; {}; carries {}; rewrites {}; drops {}"},
    {CliMessage::StartsAt, "starts at {}"},
    {CliMessage::NoStartTime, "no start time"},
    {CliMessage::Progress, "{} of {} files, {}%, {} MB/s"},
    {CliMessage::UsageHint, "Try '{} --help' for more information."},
    {CliMessage::OutputFailed, "write error: {}"},
};

// Returns whether `character` must be escaped in a name shown to a user:
// a C0 or C1 control, DEL, or a byte of no UTF-8 character.
bool MustEscape(const Utf8Character& character, std::string_view text) {
    const char32_t c = character.codePoint;
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return true;
    // U+FFFD stands for an invalid byte, unless the text spells it out.
    return c == 0xFFFD && text.substr(character.offset, character.length) != "\xEF\xBF\xBD";
}

// Returns the $'...' form of the bytes of `escaped`.
std::string AnsiCQuoted(std::string_view escaped) {
    std::string out = "$'";
    for (const char byte : escaped) {
        switch (byte) {
        case '\a': out += "\\a"; break;
        case '\b': out += "\\b"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\v': out += "\\v"; break;
        case '\f': out += "\\f"; break;
        case '\r': out += "\\r"; break;
        default: {
            char octal[8];
            std::snprintf(octal, sizeof octal, "\\%03o", static_cast<unsigned>(static_cast<unsigned char>(byte)));
            out += octal;
        }
        }
    }
    return out + "'";
}

}  // namespace

std::string QuotedName(std::string_view name) {
    std::string out;
    std::string plain;    // printable characters not yet put out
    std::string escaped;  // bytes to escape not yet put out
    const auto flushPlain = [&] {
        if (plain.empty()) return;
        out += "'";
        for (const char c : plain) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        out += "'";
        plain.clear();
    };
    const auto flushEscaped = [&] {
        if (escaped.empty()) return;
        out += AnsiCQuoted(escaped);
        escaped.clear();
    };
    for (const Utf8Character& character : SplitUtf8(name)) {
        const std::string_view bytes = name.substr(character.offset, character.length);
        if (MustEscape(character, name)) {
            flushPlain();
            escaped += bytes;
        } else {
            flushEscaped();
            plain += bytes;
        }
    }
    flushEscaped();
    flushPlain();
    return out.empty() ? "''" : out;
}

namespace {

// Returns `items` joined as an English list: "a", "a and b", "a, b and c".
std::string ListOf(const std::vector<std::string>& items) {
    std::string list;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) list += i + 1 == items.size() ? " and " : ", ";
        list += items[i];
    }
    return list;
}

}  // namespace

std::string NameList(const std::vector<std::string>& names) {
    std::vector<std::string> quoted;
    for (const std::string& name : names) quoted.push_back(QuotedName(name));
    return ListOf(quoted);
}

std::string NumberList(const std::vector<unsigned>& numbers) {
    std::vector<std::string> texts;
    for (const unsigned number : numbers) texts.push_back(std::to_string(number));
    return ListOf(texts);
}

std::string NameForLine(std::string_view name) {
    for (const Utf8Character& character : SplitUtf8(name)) {
        if (MustEscape(character, name)) return QuotedName(name);
    }
    return std::string(name);
}

std::string DescribeForLine(const IoError& error) {
    std::string text(TrimBlanks(error.Describe()));
    const std::string plain = "'" + error.path + "'";
    const std::string quoted = QuotedName(error.path);
    if (quoted != plain) {
        if (const std::size_t at = text.find(plain); at != std::string::npos) text.replace(at, plain.size(), quoted);
    }
    return text;
}

std::string CliText(CliMessage message, std::initializer_list<std::string_view> values) {
    std::string_view text;
    for (const auto& entry : kCliTexts) {
        if (entry.message == message) text = entry.text;
    }
    std::string out;
    const std::string_view* value = values.begin();
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t hole = text.find("{}", at);
        out += text.substr(at, hole - at);
        if (hole == std::string_view::npos) break;
        if (value != values.end()) out += *value++;
        at = hole + 2;
    }
    return out;
}

}  // namespace stereotools
