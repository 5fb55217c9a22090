#include "CommandLine.h"

#include "cli/Version.h"

#include <charconv>
#include <string_view>

#include <getopt.h>

namespace stereotools {
namespace {

// Long options without a short letter get codes past the byte range.
enum LongOnly : int { kPairsOption = 256, kAnyStartOption };

constexpr char kShortOptions[] = ":o:fnqj:mhV";

constexpr option kCommonOptions[] = {
    {"output-dir", required_argument, nullptr, 'o'}, {"force", no_argument, nullptr, 'f'},
    {"dry-run", no_argument, nullptr, 'n'},          {"quiet", no_argument, nullptr, 'q'},
    {"jobs", required_argument, nullptr, 'j'},       {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},          {"keep-metadata", no_argument, nullptr, 'm'},
};
constexpr option kPairsLongOption = {"pairs", no_argument, nullptr, kPairsOption};
constexpr option kAnyStartLongOption = {"any-start", no_argument, nullptr, kAnyStartOption};

std::vector<option> LongOptions(Tool tool) {
    std::vector<option> options(std::begin(kCommonOptions), std::end(kCommonOptions));
    if (tool == Tool::Join) {
        options.push_back(kPairsLongOption);
        options.push_back(kAnyStartLongOption);
    }
    options.push_back({nullptr, 0, nullptr, 0});
    return options;
}

CommandLine UsageError(std::string error) {
    CommandLine line;
    line.action = CommandLine::Action::UsageError;
    line.error = std::move(error);
    return line;
}

// Returns the message for the option getopt_long refused in `argument`.
std::string RefusedOption(std::string_view argument, int code, int letter) {
    const bool isLong = argument.substr(0, 2) == "--";
    const std::string name(argument.substr(0, argument.find('=')));
    if (code == ':') {
        if (isLong) return "option '" + name + "' requires an argument";
        return std::string("option requires an argument -- '") + static_cast<char>(letter) + "'";
    }
    if (isLong) {
        // A known long option refused with a value is one that takes none.
        if (letter != 0) return "option '" + name + "' doesn't allow an argument";
        return "unrecognized option '" + std::string(argument) + "'";
    }
    return std::string("invalid option -- '") + static_cast<char>(letter) + "'";
}

bool ParseJobs(std::string_view text, unsigned& jobs) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value < 1 || value > kMaxJobs) return false;
    jobs = value;
    return true;
}

}  // namespace

const char* ToolName(Tool tool) { return tool == Tool::Split ? "stereorip" : "stereoknit"; }

CommandLine ParseCommandLine(Tool tool, const std::vector<std::string>& arguments) {
    std::vector<std::string> storage;
    storage.reserve(arguments.size() + 1);
    storage.emplace_back(ToolName(tool));
    storage.insert(storage.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : storage) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const std::vector<option> longOptions = LongOptions(tool);

    CommandLine line;
    bool outputDirGiven = false;
    // getopt_long keeps its place in globals: 0 starts a new scan and lets
    // it permute, so operands may stand between options.
    optind = 0;
    opterr = 0;
    const int argc = static_cast<int>(argv.size()) - 1;
    for (;;) {
        const int code = getopt_long(argc, argv.data(), kShortOptions, longOptions.data(), nullptr);
        if (code == -1) break;
        switch (code) {
        case 'o':
            line.outputDir = optarg;
            outputDirGiven = true;
            break;
        case 'f': line.force = true; break;
        case 'n': line.dryRun = true; break;
        case 'q': line.quiet = true; break;
        case 'j':
            if (!ParseJobs(optarg, line.jobs))
                return UsageError("invalid number of jobs '" + std::string(optarg) + "' (1 to " +
                                  std::to_string(kMaxJobs) + ")");
            break;
        case 'h': line.action = CommandLine::Action::Help; break;
        case 'V':
            if (line.action != CommandLine::Action::Help) line.action = CommandLine::Action::Version;
            break;
        case kPairsOption: line.pairs = true; break;
        case 'm': line.keepMetadata = true; break;
        case kAnyStartOption: line.anyStart = true; break;
        default: return UsageError(RefusedOption(argv[static_cast<std::size_t>(optind - 1)], code, optopt));
        }
    }
    if (line.action != CommandLine::Action::Run) return line;

    for (int i = optind; i < argc; ++i) line.operands.emplace_back(argv[static_cast<std::size_t>(i)]);
    if (outputDirGiven && line.outputDir.empty()) return UsageError("the output folder name is empty");
    if (line.operands.empty()) return UsageError("missing file operand");
    if (tool == Tool::Join && !line.pairs) {
        if (outputDirGiven) return UsageError("--output-dir goes with --pairs; name the OUTPUT file instead");
        if (line.operands.size() != 3)
            return UsageError("expected LEFT RIGHT OUTPUT, got " + std::to_string(line.operands.size()) + " name" +
                              (line.operands.size() == 1 ? "" : "s"));
    }
    if (line.jobs == 0) line.jobs = kDefaultJobs;
    return line;
}

std::string UsageText(Tool tool) {
    if (tool == Tool::Split) {
        return "Usage: stereorip [OPTION]... FILE...\n"
               "Split each stereo WAV FILE into two mono WAV files, 'NAME left channel.wav'\n"
               "and 'NAME right channel.wav', NAME being FILE less its last four characters\n"
               "(normally '.wav'). Samples are copied byte for byte, never converted.\n"
               "Started without arguments, stereorip asks for the file in a full-screen dialogue.\n"
               "\n"
               "  -o, --output-dir=DIR  write the outputs into DIR instead of beside each FILE\n"
               "  -f, --force           replace output files that exist\n"
               "  -n, --dry-run         check each FILE and show what would be written; write nothing\n"
               "  -q, --quiet           print nothing but errors\n"
               "  -j, --jobs=N          split up to N files at once (default " +
               std::to_string(kDefaultJobs) +
               ")\n"
               "  -m, --keep-metadata   give each output FILE's metadata chunks, made right for\n"
               "                        its channel: bext, iXML, PEAK and chna rewritten, cue,\n"
               "                        LIST ... copied, levl and axml left out\n"
               "  -h, --help            show this help and exit\n"
               "  -V, --version         show the version and exit\n"
               "\n"
               "Outputs past 4 GiB are written as RF64.\n"
               "\n"
               "Exit status: 0 when every FILE was split, 1 when any failed, 2 for a usage\n"
               "error, 128+N when stopped by signal N.\n";
    }
    return "Usage: stereoknit [OPTION]... LEFT RIGHT OUTPUT\n"
           "  or:  stereoknit [OPTION]... --pairs FILE...\n"
           "Join the mono WAV files LEFT and RIGHT into the stereo WAV file OUTPUT. With\n"
           "--pairs, join each FILE with its right-channel partner into NAME.wav:\n"
           "'NAME left channel.wav' with 'NAME right channel.wav', and NAME.L.wav,\n"
           "NAME_L.wav or NAME-L.wav with the same name ending in R (any case, .wave\n"
           "too). A right-channel FILE whose left-channel FILE is named too is skipped.\n"
           "Samples are copied byte for byte, never converted.\n"
           "Started without arguments, stereoknit asks for the files in a full-screen dialogue.\n"
           "\n"
           "      --pairs           join each FILE with its partner, as above\n"
           "  -o, --output-dir=DIR  with --pairs: write the outputs into DIR instead of\n"
           "                        beside each FILE\n"
           "  -f, --force           replace output files that exist\n"
           "  -n, --dry-run         check the inputs and show what would be written; write nothing\n"
           "  -q, --quiet           print nothing but errors\n"
           "  -j, --jobs=N          join up to N pairs at once (default " +
           std::to_string(kDefaultJobs) +
           ")\n"
           "  -m, --keep-metadata   give OUTPUT the left file's metadata chunks: bext, iXML,\n"
           "                        PEAK and chna made from every input, cue, LIST ...\n"
           "                        copied, levl and axml left out; inputs whose bext\n"
           "                        start times differ are refused\n"
           "      --any-start       with -m, join inputs whose start times differ\n"
           "  -h, --help            show this help and exit\n"
           "  -V, --version         show the version and exit\n"
           "\n"
           "Outputs past 4 GiB are written as RF64.\n"
           "\n"
           "Exit status: 0 when every join succeeded, 1 when any failed, 2 for a usage\n"
           "error, 128+N when stopped by signal N.\n";
}

std::string VersionText(Tool tool) {
    return std::string(ToolName(tool)) + " (stereotools) " + std::string(kProjectVersion) + "\n";
}

}  // namespace stereotools
