#include "CommandLine.h"

#include "cli/Version.h"
#include "jobs/ChannelNames.h"
#include "system/Cores.h"
#include "wave/SpeakerMask.h"

#include <charconv>
#include <set>
#include <string_view>

#include <getopt.h>

namespace stereotools {
namespace {

// Long options without a short letter get codes past the byte range.
enum LongOnly : int {
    kPairsOption = 256,
    kTakesOption,
    kChannelsOption,
    kSkipSilentOption,
    kNamesOption,
    kChannelMaskOption,
    kAnyStartOption,
};

// The most channels a WAV file holds.
constexpr unsigned kMaxChannels = 65535;

constexpr char kShortOptions[] = ":o:fnqj:mhV";

constexpr option kCommonOptions[] = {
    {"output-dir", required_argument, nullptr, 'o'}, {"force", no_argument, nullptr, 'f'},
    {"dry-run", no_argument, nullptr, 'n'},          {"quiet", no_argument, nullptr, 'q'},
    {"jobs", required_argument, nullptr, 'j'},       {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},          {"keep-metadata", no_argument, nullptr, 'm'},
};
constexpr option kSplitOptions[] = {
    {"channels", required_argument, nullptr, kChannelsOption},
    {"skip-silent", no_argument, nullptr, kSkipSilentOption},
    {"names", required_argument, nullptr, kNamesOption},
};
constexpr option kJoinOptions[] = {
    {"pairs", no_argument, nullptr, kPairsOption},
    {"takes", no_argument, nullptr, kTakesOption},
    {"channel-mask", required_argument, nullptr, kChannelMaskOption},
    {"any-start", no_argument, nullptr, kAnyStartOption},
};

std::vector<option> LongOptions(Tool tool) {
    std::vector<option> options(std::begin(kCommonOptions), std::end(kCommonOptions));
    if (tool == Tool::Split) options.insert(options.end(), std::begin(kSplitOptions), std::end(kSplitOptions));
    if (tool == Tool::Join) options.insert(options.end(), std::begin(kJoinOptions), std::end(kJoinOptions));
    options.push_back({nullptr, 0, nullptr, 0});
    return options;
}

// Reads a channel number of a --channels list.
std::optional<unsigned> ReadChannelNumber(std::string_view text) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    if (value < 1 || value > kMaxChannels) return std::nullopt;
    return value;
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

std::optional<std::vector<unsigned>> ReadChannelList(std::string_view list) {
    std::vector<unsigned> channels;
    std::set<unsigned> seen;
    for (std::size_t start = 0; start <= list.size();) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        const std::string_view item = list.substr(start, comma - start);
        const std::size_t dash = item.find('-');
        const std::optional<unsigned> first = ReadChannelNumber(item.substr(0, dash));
        const std::optional<unsigned> last =
            dash == std::string_view::npos ? first : ReadChannelNumber(item.substr(dash + 1));
        if (!first || !last || *last < *first) return std::nullopt;
        for (unsigned channel = *first; channel <= *last; ++channel) {
            if (!seen.insert(channel).second) return std::nullopt;
            channels.push_back(channel);
        }
        start = comma + 1;
    }
    return channels;
}

const char* ToolName(Tool tool) { return tool == Tool::Split ? "stereorip" : "stereoknit"; }

unsigned DefaultJobs() { return UsableCores() >= 2 ? kDefaultJobs : 1; }

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
        case kTakesOption: line.takes = true; break;
        case kSkipSilentOption: line.skipSilent = true; break;
        case kChannelsOption: {
            std::optional<std::vector<unsigned>> channels = ReadChannelList(optarg);
            if (!channels) {
                return UsageError("invalid channel list '" + std::string(optarg) +
                                  "' (numbers from 1 and ranges, each channel once, e.g. 1,3-6)");
            }
            line.channels = std::move(*channels);
            break;
        }
        case kNamesOption:
            line.nameTemplate = optarg;
            if (std::string problem = NameTemplateProblem(line.nameTemplate); !problem.empty()) {
                return UsageError(std::move(problem));
            }
            break;
        case kChannelMaskOption: {
            SpeakerMaskRead mask = ReadSpeakerMask(optarg);
            if (!mask.mask) return UsageError(std::move(mask.error));
            line.channelMask = mask.mask;
            break;
        }
        default: return UsageError(RefusedOption(argv[static_cast<std::size_t>(optind - 1)], code, optopt));
        }
    }
    if (line.action != CommandLine::Action::Run) return line;

    for (int i = optind; i < argc; ++i) line.operands.emplace_back(argv[static_cast<std::size_t>(i)]);
    if (outputDirGiven && line.outputDir.empty()) return UsageError("the output folder name is empty");
    if (line.operands.empty()) return UsageError("missing file operand");
    if (line.pairs && line.takes) return UsageError("--pairs and --takes do not go together");
    if (tool == Tool::Join && !line.pairs && !line.takes) {
        if (outputDirGiven)
            return UsageError("--output-dir goes with --pairs or --takes; name the OUTPUT file instead");
        if (line.operands.size() < 3)
            return UsageError("expected LEFT RIGHT OUTPUT, got " + std::to_string(line.operands.size()) + " name" +
                              (line.operands.size() == 1 ? "" : "s"));
    }
    // A template without {n} names every channel alike; {track} tells them
    // apart too, for outputs whose track names clash get their numbers.
    if (!line.nameTemplate.empty() && line.channels.size() != 1 && !TemplateHasField(line.nameTemplate, "n") &&
        !TemplateHasField(line.nameTemplate, "track")) {
        return UsageError("the name template '" + line.nameTemplate +
                          "' gives every channel of a file the same name: add {n}");
    }
    if (line.channelMask && !line.takes) {
        // The takes' channel counts are known once their files are grouped.
        const std::size_t channels = line.pairs ? 2 : line.operands.size() - 1;
        if (const unsigned speakers = CountSpeakers(*line.channelMask); speakers != channels) {
            return UsageError("the channel mask names " + std::to_string(speakers) + " speaker" +
                              (speakers == 1 ? "" : "s") + " for " + std::to_string(channels) + " channels");
        }
    }
    if (line.jobs == 0) line.jobs = DefaultJobs();
    return line;
}

std::string UsageText(Tool tool) {
    if (tool == Tool::Split) {
        return "Usage: stereorip [OPTION]... FILE...\n"
               "Split each WAV FILE of two channels or more into mono WAV files. A stereo\n"
               "FILE gives 'NAME left channel.wav' and 'NAME right channel.wav', NAME being\n"
               "FILE less its last four characters (normally '.wav'); a FILE of N channels\n"
               "gives 'NAME channel K.wav', K from 1, zero-padded to the digits of N.\n"
               "Samples are copied byte for byte, never converted, in one pass over FILE.\n"
               "Started without arguments, stereorip asks for the file in a full-screen dialogue.\n"
               "\n"
               "  -o, --output-dir=DIR  write the outputs into DIR instead of beside each FILE\n"
               "  -f, --force           replace output files that exist\n"
               "  -n, --dry-run         check each FILE and show what would be written; write nothing\n"
               "  -q, --quiet           print nothing but errors\n"
               "  -j, --jobs=N          split up to N files at once (default " +
               std::to_string(kDefaultJobs) +
               "; 1 on one core)\n"
               "      --channels=LIST   write only the channels of LIST, numbers from 1 and\n"
               "                        ranges such as 1,3-6\n"
               "      --skip-silent     leave out the channels whose samples are all zero\n"
               "      --names=TEMPLATE  name the outputs by TEMPLATE: {name} is NAME, {n} the\n"
               "                        channel number padded as above, {track} the channel's\n"
               "                        track name in FILE's metadata (iXML, else bext), else\n"
               "                        {n}; names that clash get _K; e.g. '{name}_{track}.wav'\n"
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
           "  or:  stereoknit [OPTION]... INPUT... OUTPUT\n"
           "  or:  stereoknit [OPTION]... --pairs FILE...\n"
           "  or:  stereoknit [OPTION]... --takes FILE...\n"
           "Join the mono WAV files LEFT and RIGHT into the stereo WAV file OUTPUT, or\n"
           "three INPUT files or more, in the order given, into one file of as many\n"
           "channels (WAVE_FORMAT_EXTENSIBLE, channel mask 0 unless --channel-mask).\n"
           "With --pairs, join each FILE with its right-channel partner into NAME.wav:\n"
           "'NAME left channel.wav' with 'NAME right channel.wav', and NAME.L.wav,\n"
           "NAME_L.wav or NAME-L.wav with the same name ending in R (any case, .wave\n"
           "too). A right-channel FILE whose left-channel FILE is named too is skipped.\n"
           "With --takes, join the FILEs whose names differ only in a channel number K,\n"
           "'NAME channel K.wav', NAME_K.wav or NAME_TrK.wav (any case), into NAME.wav.\n"
           "Samples are copied byte for byte, never converted.\n"
           "Started without arguments, stereoknit asks for the files in a full-screen dialogue.\n"
           "\n"
           "      --pairs           join each FILE with its partner, as above\n"
           "      --takes           join the FILEs of each take, in the order of K\n"
           "      --channel-mask=MASK  assign the channels to speakers: a number (decimal or\n"
           "                        0x hex) or speaker names in their order, such as\n"
           "                        FL,FR,FC,LFE,BL,BR; as many as there are channels\n"
           "  -o, --output-dir=DIR  with --pairs or --takes: write the outputs into DIR\n"
           "                        instead of beside each FILE\n"
           "  -f, --force           replace output files that exist\n"
           "  -n, --dry-run         check the inputs and show what would be written; write nothing\n"
           "  -q, --quiet           print nothing but errors\n"
           "  -j, --jobs=N          join up to N pairs or takes at once (default " +
           std::to_string(kDefaultJobs) +
           "; 1 on one core)\n"
           "  -m, --keep-metadata   give OUTPUT the first file's metadata chunks: bext, iXML,\n"
           "                        PEAK and chna made from every input, cue, LIST ...\n"
           "                        copied, levl and axml left out; inputs whose bext\n"
           "                        start times differ are refused\n"
           "      --any-start       with -m, join inputs whose start times differ\n"
           "  -h, --help            show this help and exit\n"
           "  -V, --version         show the version and exit\n"
           "\n"
           "Speakers: FL FR FC LFE BL BR FLC FRC BC SL SR TC TFL TFC TFR TBL TBC TBR.\n"
           "Outputs past 4 GiB are written as RF64.\n"
           "\n"
           "Exit status: 0 when every join succeeded, 1 when any failed, 2 for a usage\n"
           "error, 128+N when stopped by signal N.\n";
}

std::string VersionText(Tool tool) {
    return std::string(ToolName(tool)) + " (stereotools) " + std::string(kProjectVersion) + "\n";
}

}  // namespace stereotools
