#include "Messages.h"

namespace stereotools {
namespace {

constexpr struct {
    CliMessage message;
    std::string_view text;
} kCliTexts[] = {
    {CliMessage::FileNotFound, "File not found. ({})"},
    {CliMessage::OutputExists, "'{}' exists; use --force to replace it"},
    {CliMessage::OutputTwice, "'{}' is written by '{}' earlier in this run"},
    {CliMessage::OutputFolder, "Cannot use as output folder: {}"},
    {CliMessage::NotAFolder, "Not a folder"},
    {CliMessage::Wrote, "wrote '{}'"},
    {CliMessage::WroteTwo, "wrote '{}' and '{}'"},
    {CliMessage::WouldWrite, "would write '{}'"},
    {CliMessage::WouldWriteTwo, "would write '{}' and '{}'"},
    {CliMessage::Facts,
     "{}: channels {}, sample rate {} Hz, resolution {} bits, length {} samples, duration {} seconds"},
    {CliMessage::Progress, "{} of {} files, {}%, {} MB/s"},
    {CliMessage::UsageHint, "Try '{} --help' for more information."},
    {CliMessage::OutputFailed, "write error: {}"},
};

}  // namespace

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
