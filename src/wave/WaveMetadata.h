#pragma once

#include "WaveFormat.h"
#include "WaveReader.h"
#include "system/ByteSource.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace stereotools {

// What an output does with a chunk of its input, by what the chunk means.
enum class ChunkRule {
    Never,      // the output's own (format, samples, sizes) or a filler: never carried
    Carried,    // true of every output: copied unchanged (unknown chunks too)
    Rewritten,  // describes the channels: made anew for each output
    Dropped,    // describes the mix of all channels, or has an id no reader takes: left out, with a note
};

// Returns the rule for a chunk of `id` whose body holds `size` bytes.
[[nodiscard]] ChunkRule ChunkRuleFor(std::string_view id, uint64_t size);

// Returns `id` as a listing shows it: its four characters, blanks kept, or
// its bytes in hex ("0x01020304") when some are not printable.
[[nodiscard]] std::string ChunkIdForLine(std::string_view id);

// ---- bext (EBU Tech 3285) ----

// The fixed part of a "bext" body, before its coding history.
constexpr std::size_t kBextFixedBytes = 602;

// Returns the TimeReference of a "bext" body: the first frame's count of
// samples since midnight. None for a body too short to hold one.
[[nodiscard]] std::optional<uint64_t> BextTimeReference(std::span<const uint8_t> body);

// Returns the track names that the "sTRKn=NAME" lines of a "bext"
// description give, by n.
[[nodiscard]] std::map<unsigned, std::string> BextTrackNames(std::span<const uint8_t> body);

// How a "bext" body is made for an output.
struct BextRewrite {
    // The output's tracks in order, each as the number n of its "sTRKn=" line
    // in the input (counted from 1); the line becomes "sTRK<k>=" for the
    // output's k-th track, and lines of other tracks go.
    std::vector<unsigned> tracks;
    // Names of tracks with no line in the input, by their place in the
    // output (from 1): a join's other inputs' names.
    std::map<unsigned, std::string> addedNames;
    bool markLoudnessUnknown = false;  // version 2: the loudness fields say "not computed"
    std::string history;               // one coding-history line, without its CR LF
};

// Returns `body` rewritten as `rewrite` says, every other field kept.
// Bodies shorter than the fixed part are returned unchanged.
[[nodiscard]] std::vector<uint8_t> RewriteBext(std::span<const uint8_t> body, const BextRewrite& rewrite);

// Returns an EBU R 98 coding-history line for an output of `format`:
// "A=PCM,F=48000,W=24,M=mono,T=<software>; <step>".
[[nodiscard]] std::string CodingHistoryLine(const WaveFormatInfo& format, std::string_view software,
                                            std::string_view step);

// Returns a start of `timeReference` samples at `sampleRate` as
// "HH:MM:SS and F frames" (F the frames past the whole second).
[[nodiscard]] std::string DescribeStartTime(uint64_t timeReference, int32_t sampleRate);

// ---- PEAK and chna ----

// Returns the "PEAK" body of an input of `inputChannels` channels with the
// entries of `channels` (counted from 0) alone, in their order; none when
// the body is not one of that many channels.
[[nodiscard]] std::optional<std::vector<uint8_t>> SelectPeakEntries(std::span<const uint8_t> body,
                                                                    unsigned inputChannels,
                                                                    const std::vector<unsigned>& channels);

// Returns one "PEAK" body of the single entries of mono `bodies`, in order,
// with the first one's version and time; none when any is not a mono's.
[[nodiscard]] std::optional<std::vector<uint8_t>> JoinPeakEntries(const std::vector<std::span<const uint8_t>>& bodies);

// Returns the "chna" body (ITU-R BS.2076) with the entries of the tracks
// `channels` (counted from 0) alone, renumbered from 1 in their order; none
// for a body whose count of entries does not fit it.
[[nodiscard]] std::optional<std::vector<uint8_t>> SelectChnaTracks(std::span<const uint8_t> body,
                                                                   const std::vector<unsigned>& channels);

// Returns one "chna" body of the track-1 entries of mono `bodies`, the k-th
// body's as track k; none when any is malformed or has none.
[[nodiscard]] std::optional<std::vector<uint8_t>> JoinChnaTracks(const std::vector<std::span<const uint8_t>>& bodies);

// Returns the name of each of the `channelCount` channels of a recording
// whose chunks are `metadata` (with the rewritten bodies held): its iXML
// track NAME, else its "sTRKn=" name in the "bext" description, else "".
[[nodiscard]] std::vector<std::string> ChannelTrackNames(const WaveMetadata& metadata, unsigned channelCount);

// ---- Putting an output's metadata together ----

// One input's metadata, with the bodies of the chunks to rewrite read
// (LoadRewrittenBodies).
struct MetadataSource {
    std::string name;  // the file's name, as the job was given it
    WaveFormatInfo info;
    WaveMetadata metadata;
};

// Reads into `metadata` the bodies of the chunks it rewrites, so that they
// can be rewritten in memory. A body past a sane size stays unread (and is
// carried unchanged or dropped). Returns false when a read fails.
[[nodiscard]] bool LoadRewrittenBodies(const ByteSource& source, WaveMetadata& metadata);

// What one output carries, and what a listing says about it.
struct OutputMetadata {
    WaveMetadata metadata;                  // the chunks it carries, rewritten ones held in memory
    std::vector<std::string> carried;       // ids carried unchanged, in order
    std::vector<std::string> rewritten;     // ids rewritten for it
    std::vector<std::string> dropped;       // ids left out
    std::vector<std::string> notes;         // what the output line says about it
    std::vector<std::string> trackNames;    // its channels' names, in order
    std::optional<uint64_t> timeReference;  // from its "bext"
};

// What the outputs of a job are made from, besides their inputs.
struct MetadataStep {
    std::string software;                 // "stereorip 1.1.0"
    std::function<std::string()> newUid;  // a new iXML UID each call
};

// Returns the metadata of each output of a split of `input` whose outputs
// hold `channels` (counted from 0), one each, in order: `outputs` names them.
[[nodiscard]] std::vector<OutputMetadata> ShapeSplitMetadata(const MetadataSource& input,
                                                             const std::vector<unsigned>& channels,
                                                             const std::vector<WaveFormatInfo>& outputs,
                                                             const MetadataStep& step);

// Returns the metadata of a join of `inputs` (channel k from input k) into
// an output of `output`: the first input's chunks, with "bext", "iXML",
// "PEAK" and "chna" made from all of them.
[[nodiscard]] OutputMetadata ShapeJoinMetadata(const std::vector<MetadataSource>& inputs, const WaveFormatInfo& output,
                                               const MetadataStep& step);

// Returns a new iXML UID: 32 random hex digits.
[[nodiscard]] std::string NewIxmlUid();

// Returns `path` less its folder part.
[[nodiscard]] std::string FileNameOf(const std::string& path);

}  // namespace stereotools
