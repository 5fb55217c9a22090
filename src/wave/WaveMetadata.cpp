#include "WaveMetadata.h"

#include "Ixml.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>

namespace stereotools {
namespace {

// Where the fields of a "bext" body stand.
constexpr std::size_t kDescriptionBytes = 256;
constexpr std::size_t kTimeReferenceAt = 338;
constexpr std::size_t kVersionAt = 346;
// Version 2's five 16-bit loudness fields, and what says "not computed".
constexpr std::size_t kLoudnessAt = 412;
constexpr std::size_t kLoudnessFields = 5;
constexpr uint16_t kLoudnessUnknown = 0x7FFF;
// A "PEAK" body: version and time stamp, then a value and a position per channel.
constexpr std::size_t kPeakHeadBytes = 8;
constexpr std::size_t kPeakEntryBytes = 8;
// A "chna" body: the counts of tracks and of entries, then 40 bytes an entry.
constexpr std::size_t kChnaHeadBytes = 4;
constexpr std::size_t kChnaEntryBytes = 40;
// Bodies to rewrite are read into memory up to this size; real ones hold a
// few KiB.
constexpr uint32_t kMaxRewrittenBytes = 16u << 20;

uint16_t Le16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8)); }
uint32_t Le32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}
void PutLe16(uint8_t* out, uint16_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
}

bool IsList(std::string_view id) { return id == "LIST"; }

// Returns whether `id` is four printable ASCII characters, as every chunk id
// is that a reader knows: libsndfile stops at any other, and loses the data.
bool IsPrintableId(std::string_view id) {
    return id.size() == 4 && std::all_of(id.begin(), id.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

// One line of a description, and the end it had ("\r\n", "\n" or none).
struct DescriptionLine {
    std::string text;
    const char* end = "";
};

std::vector<DescriptionLine> DescriptionLines(std::span<const uint8_t> body) {
    const std::size_t size = std::min(body.size(), kDescriptionBytes);
    std::string text(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(size));
    text.erase(std::find(text.begin(), text.end(), '\0'), text.end());
    std::vector<DescriptionLine> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        DescriptionLine line;
        if (end == std::string::npos) {
            line.text = text.substr(start);
            start = text.size();
        } else {
            line.text = text.substr(start, end - start);
            line.end = "\n";
            start = end + 1;
        }
        if (!line.text.empty() && line.text.back() == '\r') {
            line.text.pop_back();
            line.end = *line.end == '\n' ? "\r\n" : "\r";
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

// Returns n of a line "sTRKn=NAME", or 0; `name` takes NAME.
unsigned TrackLineNumber(const std::string& line, std::string* name = nullptr) {
    if (line.rfind("sTRK", 0) != 0) return 0;
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos || equals == 4) return 0;
    unsigned number = 0;
    for (std::size_t i = 4; i < equals; ++i) {
        if (line[i] < '0' || line[i] > '9' || number > 100000) return 0;
        number = number * 10 + static_cast<unsigned>(line[i] - '0');
    }
    if (name != nullptr) *name = line.substr(equals + 1);
    return number;
}

std::span<const uint8_t> BodyOf(const WaveChunk& chunk) { return chunk.body; }

// Returns the held body of the first chunk `id` of `metadata`, if any.
const WaveChunk* FindChunk(const WaveMetadata& metadata, std::string_view id) {
    for (const auto* list : {&metadata.beforeData, &metadata.afterData}) {
        for (const WaveChunk& chunk : *list) {
            if (chunk.id == id) return &chunk;
        }
    }
    return nullptr;
}

WaveChunk Held(const WaveChunk& chunk, std::vector<uint8_t> body) {
    WaveChunk made{chunk.id, chunk.bodyOffset, static_cast<uint32_t>(body.size())};
    made.held = true;
    made.body = std::move(body);
    return made;
}

// Returns `chunk` copied unchanged: its held body dropped, so the output
// copies it from the input.
WaveChunk Unchanged(const WaveChunk& chunk) { return {chunk.id, chunk.bodyOffset, chunk.size}; }

// Builds an output's metadata from its input's, chunk by chunk: `rewrite`
// returns the new body of a chunk to rewrite, or none to leave it out (and
// may add notes).
template <typename Rewrite>
OutputMetadata ShapeChunks(const WaveMetadata& input, Rewrite&& rewrite) {
    OutputMetadata output;
    output.metadata.cutShort = input.cutShort;
    if (!input.cutShort.empty()) {
        output.notes.push_back("the chunks from '" + ChunkIdForLine(input.cutShort) +
                               "' on are not carried: its size runs past the end of the file");
    }
    const auto shape = [&](const std::vector<WaveChunk>& from, std::vector<WaveChunk>& to, std::size_t fmtAt,
                           std::size_t* newFmtAt) {
        for (std::size_t i = 0; i < from.size(); ++i) {
            if (newFmtAt != nullptr && i == fmtAt) *newFmtAt = to.size();
            const WaveChunk& chunk = from[i];
            const std::string id = ChunkIdForLine(chunk.id);
            switch (ChunkRuleFor(chunk.id, chunk.size)) {
            case ChunkRule::Never: break;
            case ChunkRule::Carried:
                output.carried.push_back(id);
                to.push_back(Unchanged(chunk));
                break;
            case ChunkRule::Dropped:
                output.dropped.push_back(id);
                output.notes.push_back("'" + id + "' left out (" +
                                       (IsPrintableId(chunk.id) ? "it describes the mix of all channels"
                                                                : "readers stop at an id that is not text") +
                                       ")");
                break;
            case ChunkRule::Rewritten:
                if (!chunk.held) {
                    // Too large to be read whole: no real chunk of its kind is.
                    output.dropped.push_back(id);
                    output.notes.push_back("'" + id + "' left out (too large to rewrite)");
                    break;
                }
                if (std::optional<std::vector<uint8_t>> body = rewrite(chunk, output)) {
                    if (*body == chunk.body) {
                        output.carried.push_back(id);
                    } else {
                        output.rewritten.push_back(id);
                    }
                    to.push_back(Held(chunk, std::move(*body)));
                } else {
                    output.dropped.push_back(id);
                }
                break;
            }
        }
        if (newFmtAt != nullptr && fmtAt >= from.size()) *newFmtAt = to.size();
    };
    shape(input.beforeData, output.metadata.beforeData, input.beforeFmt, &output.metadata.beforeFmt);
    shape(input.afterData, output.metadata.afterData, 0, nullptr);
    return output;
}

// Returns an iXML body that does not parse, carried unchanged with a note.
std::vector<uint8_t> UnparsedIxml(const WaveChunk& chunk, OutputMetadata& output) {
    output.notes.push_back("'iXML' carried unchanged (it does not parse as XML)");
    return chunk.body;
}

std::string TrackNumber(unsigned channel) { return std::to_string(channel + 1); }

}  // namespace

ChunkRule ChunkRuleFor(std::string_view id, uint64_t size) {
    for (const char* own : {"fmt ", "data", "fact", "ds64", "JUNK", "junk", "PAD ", "FLLR"}) {
        if (id == own) return ChunkRule::Never;
    }
    // A list's body starts with its 4-byte type; an empty list holds no more.
    if (IsList(id) && size <= 4) return ChunkRule::Never;
    for (const char* rewritten : {"bext", "iXML", "PEAK", "chna"}) {
        if (id == rewritten) return ChunkRule::Rewritten;
    }
    if (id == "levl" || id == "axml" || !IsPrintableId(id)) return ChunkRule::Dropped;
    return ChunkRule::Carried;
}

std::string ChunkIdForLine(std::string_view id) {
    if (IsPrintableId(id)) return std::string(id);
    std::string hex = "0x";
    for (const char c : id) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned>(static_cast<uint8_t>(c)));
        hex += digits;
    }
    return hex;
}

std::optional<uint64_t> BextTimeReference(std::span<const uint8_t> body) {
    if (body.size() < kTimeReferenceAt + 8) return std::nullopt;
    return Le32(body.data() + kTimeReferenceAt) | (uint64_t{Le32(body.data() + kTimeReferenceAt + 4)} << 32);
}

std::map<unsigned, std::string> BextTrackNames(std::span<const uint8_t> body) {
    std::map<unsigned, std::string> names;
    for (const DescriptionLine& line : DescriptionLines(body)) {
        std::string name;
        if (const unsigned number = TrackLineNumber(line.text, &name); number != 0) names.emplace(number, name);
    }
    return names;
}

std::vector<uint8_t> RewriteBext(std::span<const uint8_t> body, const BextRewrite& rewrite) {
    std::vector<uint8_t> out(body.begin(), body.end());
    if (body.size() < kBextFixedBytes) return out;

    // The description: its track lines for the output's tracks, renumbered.
    std::string description;
    std::string lineEnd = "\n";
    std::size_t trackLinesAt = std::string::npos;
    std::map<unsigned, std::string> lines;  // by the output's track number
    for (const DescriptionLine& line : DescriptionLines(body)) {
        std::string name;
        const unsigned number = TrackLineNumber(line.text, &name);
        if (number == 0) {
            description += line.text + line.end;
            continue;
        }
        if (*line.end != '\0') lineEnd = line.end;
        if (trackLinesAt == std::string::npos) trackLinesAt = description.size();
        const auto at = std::find(rewrite.tracks.begin(), rewrite.tracks.end(), number);
        if (at != rewrite.tracks.end()) {
            lines.emplace(static_cast<unsigned>(at - rewrite.tracks.begin() + 1), name);
        }
    }
    for (const auto& [number, name] : rewrite.addedNames) lines.emplace(number, name);
    std::string trackText;
    for (const auto& [number, name] : lines) trackText += "sTRK" + std::to_string(number) + "=" + name + lineEnd;
    if (trackLinesAt == std::string::npos) {
        if (!description.empty() && description.back() != '\n' && !trackText.empty()) description += lineEnd;
        trackLinesAt = description.size();
    }
    description.insert(trackLinesAt, trackText);
    // The field holds 256 bytes; a longer text loses its last lines whole.
    while (description.size() > kDescriptionBytes) {
        const std::size_t cut = description.rfind('\n', description.size() - 2);
        description.erase(cut == std::string::npos ? kDescriptionBytes : cut + 1);
    }
    std::fill(out.begin(), out.begin() + kDescriptionBytes, uint8_t{0});
    std::copy(description.begin(), description.end(), out.begin());

    if (rewrite.markLoudnessUnknown && Le16(body.data() + kVersionAt) >= 2) {
        for (std::size_t i = 0; i < kLoudnessFields; ++i) PutLe16(&out[kLoudnessAt + 2 * i], kLoudnessUnknown);
    }

    // The coding history: its text up to the first NUL, each line ended
    // by CR LF, and the step's line after it.
    std::string history(body.begin() + kBextFixedBytes, body.end());
    history.erase(std::find(history.begin(), history.end(), '\0'), history.end());
    if (!history.empty() && history.back() != '\n') history += "\r\n";
    if (!rewrite.history.empty()) history += rewrite.history + "\r\n";
    out.resize(kBextFixedBytes);
    out.insert(out.end(), history.begin(), history.end());
    return out;
}

std::string CodingHistoryLine(const WaveFormatInfo& format, std::string_view software, std::string_view step) {
    const unsigned bits = format.validBits != 0 ? format.validBits : format.bitsPerSample;
    const char* mode = format.channels == 1 ? "mono" : format.channels == 2 ? "stereo" : "multichannel";
    const std::string_view by = software.empty() ? std::string_view("stereotools") : software;
    return "A=PCM,F=" + std::to_string(format.sampleRate) + ",W=" + std::to_string(bits) + ",M=" + mode +
           ",T=" + std::string(by) + "; " + std::string(step);
}

std::string DescribeStartTime(uint64_t timeReference, int32_t sampleRate) {
    const uint64_t rate = sampleRate > 0 ? static_cast<uint64_t>(sampleRate) : 1;
    const uint64_t seconds = timeReference / rate;
    char text[64];
    std::snprintf(text, sizeof text, "%02llu:%02llu:%02llu and %llu frames",
                  static_cast<unsigned long long>(seconds / 3600), static_cast<unsigned long long>(seconds / 60 % 60),
                  static_cast<unsigned long long>(seconds % 60), static_cast<unsigned long long>(timeReference % rate));
    return text;
}

std::optional<std::vector<uint8_t>> SelectPeakEntries(std::span<const uint8_t> body, unsigned inputChannels,
                                                      const std::vector<unsigned>& channels) {
    if (body.size() != kPeakHeadBytes + kPeakEntryBytes * inputChannels) return std::nullopt;
    std::vector<uint8_t> out(body.begin(), body.begin() + kPeakHeadBytes);
    for (const unsigned channel : channels) {
        if (channel >= inputChannels) return std::nullopt;
        const auto entry = body.begin() + static_cast<std::ptrdiff_t>(kPeakHeadBytes + kPeakEntryBytes * channel);
        out.insert(out.end(), entry, entry + kPeakEntryBytes);
    }
    return out;
}

std::optional<std::vector<uint8_t>> JoinPeakEntries(const std::vector<std::span<const uint8_t>>& bodies) {
    if (bodies.empty()) return std::nullopt;
    std::vector<uint8_t> out(bodies[0].begin(), bodies[0].begin() + std::min(bodies[0].size(), kPeakHeadBytes));
    for (const std::span<const uint8_t> body : bodies) {
        if (body.size() != kPeakHeadBytes + kPeakEntryBytes) return std::nullopt;
        out.insert(out.end(), body.begin() + kPeakHeadBytes, body.end());
    }
    return out;
}

std::optional<std::vector<uint8_t>> SelectChnaTracks(std::span<const uint8_t> body,
                                                     const std::vector<unsigned>& channels) {
    if (body.size() < kChnaHeadBytes) return std::nullopt;
    const uint16_t entries = Le16(body.data() + 2);
    if (body.size() < kChnaHeadBytes + kChnaEntryBytes * entries) return std::nullopt;
    std::vector<uint8_t> out(kChnaHeadBytes, 0);
    std::set<unsigned> tracks;
    uint16_t kept = 0;
    // The output's tracks in its order, each with all its entries.
    for (std::size_t k = 0; k < channels.size(); ++k) {
        for (uint16_t e = 0; e < entries; ++e) {
            const uint8_t* entry = body.data() + kChnaHeadBytes + kChnaEntryBytes * e;
            if (Le16(entry) != channels[k] + 1) continue;
            out.insert(out.end(), entry, entry + kChnaEntryBytes);
            PutLe16(&out[out.size() - kChnaEntryBytes], static_cast<uint16_t>(k + 1));
            tracks.insert(static_cast<unsigned>(k));
            ++kept;
        }
    }
    PutLe16(&out[0], static_cast<uint16_t>(tracks.size()));
    PutLe16(&out[2], kept);
    return out;
}

std::optional<std::vector<uint8_t>> JoinChnaTracks(const std::vector<std::span<const uint8_t>>& bodies) {
    std::vector<uint8_t> out(kChnaHeadBytes, 0);
    uint16_t kept = 0;
    for (std::size_t k = 0; k < bodies.size(); ++k) {
        const std::optional<std::vector<uint8_t>> own = SelectChnaTracks(bodies[k], {0});
        if (!own || Le16(own->data()) == 0) return std::nullopt;
        for (std::size_t at = kChnaHeadBytes; at < own->size(); at += kChnaEntryBytes) {
            out.insert(out.end(), own->begin() + static_cast<std::ptrdiff_t>(at),
                       own->begin() + static_cast<std::ptrdiff_t>(at + kChnaEntryBytes));
            PutLe16(&out[out.size() - kChnaEntryBytes], static_cast<uint16_t>(k + 1));
            ++kept;
        }
    }
    if (bodies.empty()) return std::nullopt;
    PutLe16(&out[0], static_cast<uint16_t>(bodies.size()));
    PutLe16(&out[2], kept);
    return out;
}

bool LoadRewrittenBodies(const ByteSource& source, WaveMetadata& metadata) {
    for (auto* list : {&metadata.beforeData, &metadata.afterData}) {
        for (WaveChunk& chunk : *list) {
            if (ChunkRuleFor(chunk.id, chunk.size) != ChunkRule::Rewritten || chunk.size > kMaxRewrittenBytes) continue;
            chunk.body.resize(chunk.size);
            if (source.ReadAt(chunk.bodyOffset, chunk.body) != static_cast<int64_t>(chunk.size)) return false;
            chunk.held = true;
        }
    }
    return true;
}

std::vector<std::string> ChannelTrackNames(const WaveMetadata& metadata, unsigned channelCount) {
    std::optional<std::map<unsigned, std::string>> ixmlNames;
    if (const WaveChunk* ixml = FindChunk(metadata, "iXML"); ixml != nullptr && ixml->held) {
        ixmlNames = IxmlTrackNames(BodyOf(*ixml));
    }
    std::map<unsigned, std::string> bextNames;
    if (const WaveChunk* bext = FindChunk(metadata, "bext"); bext != nullptr && bext->held) {
        bextNames = BextTrackNames(BodyOf(*bext));
    }
    std::vector<std::string> names(channelCount);
    for (unsigned channel = 1; channel <= channelCount; ++channel) {
        std::string& name = names[channel - 1];
        // An empty name names nothing: the next source, or none, stands instead.
        if (ixmlNames && ixmlNames->count(channel) != 0) name = ixmlNames->at(channel);
        if (name.empty() && bextNames.count(channel) != 0) name = bextNames.at(channel);
    }
    return names;
}

std::vector<OutputMetadata> ShapeSplitMetadata(const MetadataSource& input, const std::vector<unsigned>& channels,
                                               const std::vector<WaveFormatInfo>& outputs, const MetadataStep& step) {
    const WaveMetadata& metadata = input.metadata;
    const std::string parentName = FileNameOf(input.name);
    const WaveChunk* ixml = FindChunk(metadata, "iXML");
    std::string familyUid = ixml != nullptr && ixml->held ? IxmlFamilyUid(BodyOf(*ixml)) : std::string();
    if (ixml != nullptr && ixml->held && familyUid.empty() && IxmlTrackNames(BodyOf(*ixml))) {
        familyUid = step.newUid();
    }
    const WaveChunk* bext = FindChunk(metadata, "bext");
    const std::vector<std::string> trackNames = ChannelTrackNames(metadata, input.info.channels);

    std::vector<OutputMetadata> shaped;
    for (std::size_t k = 0; k < channels.size() && k < outputs.size(); ++k) {
        const std::vector<unsigned> own = {channels[k]};
        OutputMetadata output =
            ShapeChunks(metadata,
                        [&](const WaveChunk& chunk, OutputMetadata& out) -> std::optional<std::vector<uint8_t>> {
                            if (chunk.id == "bext") {
                                BextRewrite rewrite;
                                rewrite.tracks = {channels[k] + 1};
                                rewrite.markLoudnessUnknown = true;
                                rewrite.history =
                                    CodingHistoryLine(outputs[k], step.software,
                                                      "channel " + TrackNumber(channels[k]) + " of " + parentName);
                                return RewriteBext(chunk.body, rewrite);
                            }
                            if (chunk.id == "iXML") {
                                const IxmlSplitOutput split{own,
                                                            static_cast<unsigned>(k),
                                                            static_cast<unsigned>(channels.size()),
                                                            familyUid,
                                                            step.newUid(),
                                                            parentName};
                                if (std::optional<std::vector<uint8_t>> body = RewriteIxmlForSplit(chunk.body, split))
                                    return body;
                                return UnparsedIxml(chunk, out);
                            }
                            std::optional<std::vector<uint8_t>> body =
                                chunk.id == "PEAK" ? SelectPeakEntries(chunk.body, input.info.channels, own)
                                                   : SelectChnaTracks(chunk.body, own);
                            if (!body)
                                out.notes.push_back("'" + chunk.id + "' left out (it does not match the channels)");
                            return body;
                        });
        const unsigned channel = channels[k];
        const bool named = channel < trackNames.size() && !trackNames[channel].empty();
        output.trackNames = {named ? trackNames[channel] : TrackNumber(channel)};
        if (bext != nullptr && bext->held) output.timeReference = BextTimeReference(BodyOf(*bext));
        shaped.push_back(std::move(output));
    }
    return shaped;
}

OutputMetadata ShapeJoinMetadata(const std::vector<MetadataSource>& inputs, const WaveFormatInfo& output,
                                 const MetadataStep& step) {
    if (inputs.empty()) return {};
    std::vector<IxmlJoinInput> ixmlInputs;
    std::vector<std::span<const uint8_t>> peaks;
    std::vector<std::span<const uint8_t>> chnas;
    std::string joinedNames;
    std::vector<std::string> trackNames;
    BextRewrite bextRewrite;
    bextRewrite.markLoudnessUnknown = true;
    for (std::size_t k = 0; k < inputs.size(); ++k) {
        const WaveMetadata& metadata = inputs[k].metadata;
        const std::string fileName = FileNameOf(inputs[k].name);
        joinedNames += (k == 0 ? "" : ", ") + fileName;
        IxmlJoinInput ixmlInput{std::nullopt, fileName};
        std::optional<std::map<unsigned, std::string>> ixmlNames;
        if (const WaveChunk* ixml = FindChunk(metadata, "iXML"); ixml != nullptr && ixml->held) {
            ixmlInput.body = BodyOf(*ixml);
            ixmlNames = IxmlTrackNames(BodyOf(*ixml));
        }
        ixmlInputs.push_back(ixmlInput);
        if (const WaveChunk* peak = FindChunk(metadata, "PEAK"); peak != nullptr && peak->held) {
            peaks.push_back(BodyOf(*peak));
        }
        if (const WaveChunk* chna = FindChunk(metadata, "chna"); chna != nullptr && chna->held) {
            chnas.push_back(BodyOf(*chna));
        }
        std::map<unsigned, std::string> bextNames;
        if (const WaveChunk* bext = FindChunk(metadata, "bext"); bext != nullptr && bext->held) {
            bextNames = BextTrackNames(BodyOf(*bext));
        }
        // The first input's own line is renumbered; the others' names are added.
        if (k == 0) {
            bextRewrite.tracks = {1};
        } else if (bextNames.count(1) != 0) {
            bextRewrite.addedNames.emplace(static_cast<unsigned>(k + 1), bextNames.at(1));
        }
        std::string name = fileName.substr(0, fileName.rfind('.') == 0 ? fileName.size() : fileName.rfind('.'));
        if (ixmlNames && ixmlNames->count(1) != 0) {
            name = ixmlNames->at(1);
        } else if (bextNames.count(1) != 0) {
            name = bextNames.at(1);
        }
        trackNames.push_back(name);
    }
    bextRewrite.history = CodingHistoryLine(output, step.software, "joined from " + joinedNames);
    const std::string fileUid = step.newUid();
    const WaveMetadata& first = inputs[0].metadata;
    OutputMetadata shaped =
        ShapeChunks(first, [&](const WaveChunk& chunk, OutputMetadata& out) -> std::optional<std::vector<uint8_t>> {
            if (chunk.id == "bext") return RewriteBext(chunk.body, bextRewrite);
            if (chunk.id == "iXML") {
                if (std::optional<std::vector<uint8_t>> body = RewriteIxmlForJoin(ixmlInputs, fileUid)) return body;
                return UnparsedIxml(chunk, out);
            }
            std::optional<std::vector<uint8_t>> body;
            if (chunk.id == "PEAK" && peaks.size() == inputs.size()) body = JoinPeakEntries(peaks);
            if (chunk.id == "chna" && chnas.size() == inputs.size()) body = JoinChnaTracks(chnas);
            if (!body) out.notes.push_back("'" + chunk.id + "' left out (not every input has one of its channel)");
            return body;
        });
    shaped.trackNames = std::move(trackNames);
    if (const WaveChunk* bext = FindChunk(first, "bext"); bext != nullptr && bext->held) {
        shaped.timeReference = BextTimeReference(BodyOf(*bext));
    }
    return shaped;
}

std::string NewIxmlUid() {
    std::random_device device;
    std::string uid;
    while (uid.size() < 32) {
        char digits[9];
        std::snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(device()));
        uid += digits;
    }
    return uid;
}

std::string FileNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace stereotools
