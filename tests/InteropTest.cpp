// libsndfile as a real client: it reads every kind of file the two programs
// write, and the programs split and join files that libsndfile wrote (with
// its own PEAK, LIST and extensible headers) exactly.

#include "stereoknit/StereoKnit.h"
#include "stereorip/StereoRip.h"

#include "jobs/ChannelNames.h"
#include "jobs/JoinJob.h"
#include "jobs/SplitJob.h"
#include "support/MemoryConsole.h"
#include "support/TestWave.h"
#include "support/WaveOutputs.h"
#include "wave/WaveReader.h"
#include "wave/WaveWriter.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using testwave::Bytes;
using testwave::TempFolder;
using testwave::WaveBuilder;

struct SampleKind {
    const char* name;
    uint16_t tag;
    uint16_t bits;
    int subtype;  // libsndfile's name for it
};

constexpr SampleKind kKinds[] = {
    {"8-bit", 1, 8, SF_FORMAT_PCM_U8},         {"16-bit", 1, 16, SF_FORMAT_PCM_16},
    {"24-bit", 1, 24, SF_FORMAT_PCM_24},       {"32-bit float", 3, 32, SF_FORMAT_FLOAT},
    {"64-bit float", 3, 64, SF_FORMAT_DOUBLE},
};

constexpr int kRate = 48000;
// Odd, and more than one block of the kernels' widest lane.
constexpr std::size_t kFrames = 1001;

int RipFile(const std::string& path) {
    stereotools::MemoryConsole console{38};
    stereotools::RecordingToolkit toolkit{&console};
    console.AddText(path);
    console.AddEnter();
    console.AddText("q");
    return stereorip::RunSplitDialogue(console, toolkit);
}

int KnitFiles(const std::string& left, const std::string& right, const std::string& output) {
    stereotools::MemoryConsole console{28};
    stereotools::RecordingToolkit toolkit{&console};
    for (const std::string* answer : {&left, &right, &output}) {
        console.AddText(*answer);
        console.AddEnter();
    }
    console.AddText("q");
    return stereoknit::RunJoinDialogue(console, toolkit);
}

// Sample bytes that are valid values of every kind: small integers, and for
// float kinds finite numbers in [-1, 1) (so no byte pattern is a NaN that a
// reader might treat apart).
Bytes SampleBytes(const SampleKind& kind, std::size_t samples, int seed) {
    const unsigned width = kind.bits / 8u;
    Bytes out(samples * width);
    for (std::size_t i = 0; i < samples; ++i) {
        const double value = std::sin(0.01 * static_cast<double>(i * static_cast<std::size_t>(seed + 1))) * 0.9;
        uint8_t* at = &out[i * width];
        if (kind.tag == 3 && width == 4) {
            const float f = static_cast<float>(value);
            std::memcpy(at, &f, 4);
        } else if (kind.tag == 3) {
            std::memcpy(at, &value, 8);
        } else {
            const auto scaled = static_cast<int64_t>(value * std::ldexp(1.0, kind.bits - 1));
            const uint64_t stored =
                kind.bits == 8 ? static_cast<uint64_t>(scaled + 128) : static_cast<uint64_t>(scaled);
            for (unsigned b = 0; b < width; ++b) at[b] = static_cast<uint8_t>(stored >> (8 * b));
        }
    }
    return out;
}

// Returns sample `index` of `bytes` as the number it stands for: integer
// samples as their integer value (8-bit ones centred on 0, as libsndfile
// gives them unnormalised), float samples as they are.
double SampleValue(const SampleKind& kind, const Bytes& bytes, std::size_t index) {
    const unsigned width = kind.bits / 8u;
    const uint8_t* at = &bytes[index * width];
    if (kind.tag == 3 && width == 4) {
        float f = 0;
        std::memcpy(&f, at, 4);
        return f;
    }
    if (kind.tag == 3) {
        double d = 0;
        std::memcpy(&d, at, 8);
        return d;
    }
    if (kind.bits == 8) return static_cast<double>(at[0]) - 128.0;
    uint64_t raw = 0;
    for (unsigned b = 0; b < width; ++b) raw |= uint64_t{at[b]} << (8 * b);
    const unsigned shift = 64 - kind.bits;
    return static_cast<double>(static_cast<int64_t>(raw << shift) >> shift);
}

Bytes Channel(const Bytes& interleaved, unsigned width, int which) {
    Bytes out;
    for (std::size_t at = static_cast<std::size_t>(which) * width; at < interleaved.size(); at += 2 * width)
        out.insert(out.end(), interleaved.begin() + static_cast<std::ptrdiff_t>(at),
                   interleaved.begin() + static_cast<std::ptrdiff_t>(at + width));
    return out;
}

// What libsndfile makes of one file.
struct ReadBack {
    bool opened = false;
    SF_INFO info{};
    Bytes raw;                   // the data chunk as sf_read_raw gives it
    std::vector<double> values;  // every sample, unnormalised
};

ReadBack ReadWithSndfile(const std::string& path, std::size_t width) {
    ReadBack result;
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &result.info);
    if (file == nullptr) {
        ADD_FAILURE() << "libsndfile cannot open " << path << ": " << sf_strerror(nullptr);
        return result;
    }
    result.opened = true;
    const auto samples = static_cast<std::size_t>(result.info.frames) * static_cast<std::size_t>(result.info.channels);
    // One spare frame shows data past the stated end (libsndfile reads whole frames only).
    result.raw.resize((samples + static_cast<std::size_t>(result.info.channels)) * width);
    result.raw.resize(
        static_cast<std::size_t>(sf_read_raw(file, result.raw.data(), static_cast<sf_count_t>(result.raw.size()))));
    sf_seek(file, 0, SEEK_SET);
    sf_command(file, SFC_SET_NORM_DOUBLE, nullptr, SF_FALSE);
    result.values.resize(samples);
    result.values.resize(
        static_cast<std::size_t>(sf_read_double(file, result.values.data(), static_cast<sf_count_t>(samples))));
    sf_close(file);
    return result;
}

void ExpectFileHolds(const std::string& path, const SampleKind& kind, int channels, const Bytes& samples,
                     int container = SF_FORMAT_WAV) {
    SCOPED_TRACE(path);
    const unsigned width = kind.bits / 8u;
    const ReadBack read = ReadWithSndfile(path, width);
    if (!read.opened) return;
    EXPECT_EQ(read.info.channels, channels);
    EXPECT_EQ(read.info.samplerate, kRate);
    EXPECT_EQ(read.info.format, container | kind.subtype);
    EXPECT_EQ(read.info.frames, static_cast<sf_count_t>(samples.size() / width / static_cast<unsigned>(channels)));
    EXPECT_EQ(read.raw, samples);
    ASSERT_EQ(read.values.size(), samples.size() / width);
    for (std::size_t i = 0; i < read.values.size(); ++i) {
        if (read.values[i] != SampleValue(kind, samples, i)) {
            ADD_FAILURE() << "sample " << i << " reads " << read.values[i] << ", expected "
                          << SampleValue(kind, samples, i);
            break;
        }
    }
}

TEST(Interop, SndfileReadsEverySplitOutput) {
    for (const SampleKind& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        TempFolder folder;
        const unsigned width = kind.bits / 8u;
        const Bytes samples = SampleBytes(kind, 2 * kFrames, 1);
        const std::string input =
            folder.Write("take.wav",
                         WaveBuilder().Tag(kind.tag).Channels(2).Rate(kRate).Bits(kind.bits).Samples(samples).Build());
        ASSERT_EQ(RipFile(input), 0);
        ExpectFileHolds(folder.Path("take left channel.wav"), kind, 1, Channel(samples, width, 0));
        ExpectFileHolds(folder.Path("take right channel.wav"), kind, 1, Channel(samples, width, 1));
    }
}

TEST(Interop, SndfileReadsEveryJoinOutputShorterChannelZeroFilled) {
    for (const SampleKind& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        TempFolder folder;
        const unsigned width = kind.bits / 8u;
        const Bytes left = SampleBytes(kind, kFrames, 2);
        const Bytes right = SampleBytes(kind, kFrames - 10, 3);
        for (const auto& [name, samples] : {std::pair{"l.wav", &left}, std::pair{"r.wav", &right}})
            folder.Write(name,
                         WaveBuilder().Tag(kind.tag).Channels(1).Rate(kRate).Bits(kind.bits).Samples(*samples).Build());
        ASSERT_EQ(KnitFiles(folder.Path("l.wav"), folder.Path("r.wav"), folder.Path("joined.wav")), 0);

        Bytes expected;
        for (std::size_t frame = 0; frame < kFrames; ++frame) {
            expected.insert(expected.end(), left.begin() + static_cast<std::ptrdiff_t>(frame * width),
                            left.begin() + static_cast<std::ptrdiff_t>((frame + 1) * width));
            for (unsigned b = 0; b < width; ++b)
                expected.push_back(frame * width + b < right.size() ? right[frame * width + b] : 0);
        }
        // Zero bytes are silence in every kind but 8-bit, whose silence is
        // 0x80: the fill is zero bytes all the same, as the samples are moved
        // and never converted.
        ExpectFileHolds(folder.Path("joined.wav"), kind, 2, expected);
    }
}

// Writes `samples` (unnormalised doubles) with libsndfile as a WAV file of
// `kind` with a title (a LIST chunk) and, for float, its PEAK chunk.
void WriteWithSndfile(const std::string& path, const SampleKind& kind, int channels, int container,
                      const std::vector<double>& samples) {
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = channels;
    info.format = container | kind.subtype;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    sf_command(file, SFC_SET_NORM_DOUBLE, nullptr, kind.tag == 3 ? SF_TRUE : SF_FALSE);
    sf_set_string(file, SF_STR_TITLE, "take one");
    sf_set_string(file, SF_STR_ARTIST, "interop test");
    EXPECT_EQ(sf_write_double(file, samples.data(), static_cast<sf_count_t>(samples.size())),
              static_cast<sf_count_t>(samples.size()));
    sf_close(file);
}

// Returns the sample bytes libsndfile reads from `path`: exactly the frames it
// states (its raw read of a file it wrote goes on past the data chunk).
Bytes SndfileSamples(const std::string& path, std::size_t width) {
    ReadBack read = ReadWithSndfile(path, width);
    read.raw.resize(std::min(read.raw.size(), static_cast<std::size_t>(read.info.frames) *
                                                  static_cast<std::size_t>(read.info.channels) * width));
    return read.raw;
}

std::vector<double> Tone(const SampleKind& kind, std::size_t count, double step) {
    const double scale = kind.tag == 3 ? 0.8 : 0.8 * std::ldexp(1.0, kind.bits - 1);
    std::vector<double> out(count);
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = std::sin(step * static_cast<double>(i)) * scale;
        if (kind.tag != 3) out[i] = std::round(out[i]);
    }
    return out;
}

// Writes `samples` to `path` as the jobs write an output, in RF64 whatever
// its size, carrying `carried`.
void WriteRf64Output(const std::string& path, const stereotools::WaveFormatInfo& info, const Bytes& samples,
                     const stereotools::CarriedChunks& carried) {
    const auto container = stereotools::WaveContainer::Rf64;
    const stereotools::WaveLayout layout = stereotools::LayOutWave(info, carried.metadata, container);
    auto created = stereotools::OpenWaveOutput(path, layout.FileBytes());
    ASSERT_TRUE(created) << created.error.Describe();
    ASSERT_FALSE(stereotools::WriteWaveHeader(created.output, info, carried, container));
    ASSERT_FALSE(testwave::WriteSamplesBehindHeader(created.output, samples));
    ASSERT_FALSE(stereotools::WriteWaveTrailer(created.output, info, carried));
    ASSERT_FALSE(stereotools::CommitWaveOutput(created.output));
}

// libsndfile reads the RF64 form that outputs past 4 GiB take, with and
// without carried metadata, here at a small size so nothing large is written.
TEST(Interop, SndfileReadsEveryRf64Output) {
    for (const SampleKind& kind : kKinds) {
        for (const int channels : {1, 2}) {
            SCOPED_TRACE(std::string(kind.name) + (channels == 1 ? ", mono" : ", stereo"));
            TempFolder folder;
            const Bytes samples = SampleBytes(kind, static_cast<std::size_t>(channels) * kFrames, channels);
            // Even chunks before the data: libsndfile 1.2's RF64 reader skips
            // no pad byte there (RIFF's it does), so an odd one hides the data.
            const Bytes list = {'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 2, 0, 0, 0, 'x', 0};
            const std::string input = folder.Write("take.wav", WaveBuilder()
                                                                   .Tag(kind.tag)
                                                                   .Channels(static_cast<uint16_t>(channels))
                                                                   .Rate(kRate)
                                                                   .Bits(kind.bits)
                                                                   .ChunkBeforeFmt("bext", Bytes(602, 'b'))
                                                                   .ChunkBeforeData("LIST", list)
                                                                   .Samples(samples)
                                                                   .ChunkAfterData("iXML", Bytes(27, 'i'))
                                                                   .Build());
            auto opened = stereotools::OpenInputFile(input);
            ASSERT_TRUE(opened);
            const auto header = stereotools::ReadWaveHeader(opened.file, channels);
            ASSERT_TRUE(header);
            auto metadata = stereotools::ReadWaveMetadata(opened.file);
            ASSERT_TRUE(metadata);

            WriteRf64Output(folder.Path("plain.wav"), header.info, samples, {});
            ExpectFileHolds(folder.Path("plain.wav"), kind, channels, samples, SF_FORMAT_RF64);
            WriteRf64Output(folder.Path("carried.wav"), header.info, samples, {&opened.file, metadata.metadata});
            ExpectFileHolds(folder.Path("carried.wav"), kind, channels, samples, SF_FORMAT_RF64);
        }
    }
}

// The one test that writes past 4 GiB (label "slow", left out by the
// presets; ctest -L slow runs it): a join of two sparse mono files whose
// joined data, 0xFFFFFFDC bytes, is the first size that needs RF64.
TEST(InteropSlow, SndfileReadsAJoinPast4GiB) {
    const uint64_t monoBytes = 0x7FFFFFEE;
    TempFolder folder;
    const std::pair<const char*, Bytes> inputs[] = {{"l.wav", {0x11, 0x12, 0x13, 0x14}},
                                                    {"r.wav", {0x21, 0x22, 0x23, 0x24}}};
    for (const auto& [name, lastSamples] : inputs) {
        const std::string path = folder.Write(name, WaveBuilder().Rate(kRate).DataSize(monoBytes).Build());
        const int fd = ::open(path.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, lastSamples.data(), 4, static_cast<off_t>(44 + monoBytes - 4)), 4);
        ::close(fd);
    }
    ASSERT_EQ(KnitFiles(folder.Path("l.wav"), folder.Path("r.wav"), folder.Path("joined.wav")), 0);

    const uint64_t dataSize = 2 * monoBytes;
    struct stat status {};
    ASSERT_EQ(::stat(folder.Path("joined.wav").c_str(), &status), 0);
    EXPECT_EQ(static_cast<uint64_t>(status.st_size), 80 + dataSize);
    SF_INFO info{};
    SNDFILE* file = sf_open(folder.Path("joined.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.format, SF_FORMAT_RF64 | SF_FORMAT_PCM_16);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.frames, static_cast<sf_count_t>(dataSize / 4));
    ASSERT_EQ(sf_seek(file, info.frames - 2, SEEK_SET), info.frames - 2);
    Bytes last(8);
    EXPECT_EQ(sf_read_raw(file, last.data(), 8), 8);
    EXPECT_EQ(last, Bytes({0x11, 0x12, 0x21, 0x22, 0x13, 0x14, 0x23, 0x24}));
    sf_close(file);
}

// Returns what ffprobe says of the channels of `path`'s stream, one
// "key=value" line each, or nothing when ffprobe is not installed.
std::optional<std::string> FfprobeStream(const std::string& path) {
    if (std::system("command -v ffprobe > /dev/null 2>&1") != 0) return std::nullopt;
    const std::string command =
        "ffprobe -v error -show_entries stream=channels,channel_layout "
        "-of default=noprint_wrappers=1 '" +
        path + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return {};
    std::string out;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    ::pclose(pipe);
    return out;
}

// Joins three mono files of each kind with the job: libsndfile reads an
// extensible file of three channels, every frame as it was joined, with no
// channel assigned to a speaker (mask 0 gives it no map to report).
TEST(Interop, SndfileReadsAThreeChannelJoin) {
    for (const SampleKind& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        TempFolder folder;
        const unsigned width = kind.bits / 8u;
        stereotools::JoinRequest request;
        std::vector<Bytes> channels;
        for (int c = 0; c < 3; ++c) {
            channels.push_back(SampleBytes(kind, kFrames, 10 + c));
            const std::string name =
                folder.Write("in" + std::to_string(c) + ".wav",
                             WaveBuilder().Tag(kind.tag).Rate(kRate).Bits(kind.bits).Samples(channels.back()).Build());
            const stereotools::InputCheck check = stereotools::CheckInput(name, 1);
            ASSERT_TRUE(check);
            request.inputs.push_back(check.input);
        }
        request.output = folder.Path("joined.wav");
        stereotools::JoinJob job(request);
        stereotools::JobMonitor monitor;
        ASSERT_TRUE(stereotools::RunJob(job, monitor));
        Bytes expected;
        for (std::size_t frame = 0; frame < kFrames; ++frame) {
            for (const Bytes& channel : channels) {
                expected.insert(expected.end(), channel.begin() + static_cast<std::ptrdiff_t>(frame * width),
                                channel.begin() + static_cast<std::ptrdiff_t>((frame + 1) * width));
            }
        }
        ExpectFileHolds(folder.Path("joined.wav"), kind, 3, expected, SF_FORMAT_WAVEX);
        SF_INFO info{};
        SNDFILE* file = sf_open(folder.Path("joined.wav").c_str(), SFM_READ, &info);
        ASSERT_NE(file, nullptr);
        int map[3] = {};
        EXPECT_EQ(sf_command(file, SFC_GET_CHANNEL_MAP_INFO, map, sizeof map), SF_FALSE);
        sf_close(file);
        // ffprobe names no layout for channels assigned to no speaker.
        if (const auto stream = FfprobeStream(folder.Path("joined.wav"))) {
            EXPECT_EQ(*stream, "channels=3\nchannel_layout=unknown\n");
        }
    }
}

// A 5.1 file as libsndfile writes it (extensible, with its metadata) splits
// into six mono files that hold exactly the channels libsndfile reads.
TEST(Interop, SndfileWrittenSurroundSplitsExactly) {
    for (const SampleKind& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        TempFolder folder;
        const unsigned width = kind.bits / 8u;
        const std::string input = folder.Path("surround.wav");
        WriteWithSndfile(input, kind, 6, SF_FORMAT_WAVEX, Tone(kind, 6 * kFrames, 0.011));
        const Bytes samples = SndfileSamples(input, width);
        const stereotools::InputCheck check = stereotools::CheckInput(input, stereotools::kManyChannels);
        ASSERT_TRUE(check);
        ASSERT_EQ(check.input.info.channels, 6);
        stereotools::SplitJob job({check.input, stereotools::DeriveSplitFileNames(input, 6)});
        stereotools::JobMonitor monitor;
        ASSERT_TRUE(stereotools::RunJob(job, monitor));
        for (unsigned c = 0; c < 6; ++c) {
            Bytes expected;
            for (std::size_t at = c * width; at < samples.size(); at += 6 * width) {
                expected.insert(expected.end(), samples.begin() + static_cast<std::ptrdiff_t>(at),
                                samples.begin() + static_cast<std::ptrdiff_t>(at + width));
            }
            ExpectFileHolds(folder.Path("surround channel " + std::to_string(c + 1) + ".wav"), kind, 1, expected);
        }
    }
}

bool Contains(const Bytes& bytes, const char* id) {
    return std::search(bytes.begin(), bytes.end(), id, id + 4) != bytes.end();
}

// Split and joined with the metadata kept, a 5.1 file as libsndfile writes
// it (a float one with a PEAK chunk of six entries) gives files libsndfile
// opens and reads exactly: each chunk that describes the channels is made
// for the file that carries it.
TEST(Interop, SndfileReadsPolyOutputsThatKeepTheMetadata) {
    for (const SampleKind& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        TempFolder folder;
        const unsigned width = kind.bits / 8u;
        const std::string input = folder.Path("surround.wav");
        WriteWithSndfile(input, kind, 6, SF_FORMAT_WAVEX, Tone(kind, 6 * kFrames, 0.013));
        const Bytes samples = SndfileSamples(input, width);
        const stereotools::InputCheck check = stereotools::CheckInput(input, stereotools::kManyChannels);
        ASSERT_TRUE(check);
        const std::vector<std::string> names = stereotools::DeriveSplitFileNames(input, 6);
        stereotools::SplitJob split({check.input, names, true});
        stereotools::JobMonitor monitor;
        ASSERT_TRUE(stereotools::RunJob(split, monitor));
        std::vector<stereotools::JobInput> monos;
        for (unsigned c = 0; c < 6; ++c) {
            Bytes expected;
            for (std::size_t at = c * width; at < samples.size(); at += 6 * width) {
                expected.insert(expected.end(), samples.begin() + static_cast<std::ptrdiff_t>(at),
                                samples.begin() + static_cast<std::ptrdiff_t>(at + width));
            }
            ExpectFileHolds(names[c], kind, 1, expected);
            const stereotools::InputCheck mono = stereotools::CheckInput(names[c], 1);
            ASSERT_TRUE(mono);
            monos.push_back(mono.input);
        }
        if (kind.tag == 3) {
            EXPECT_TRUE(Contains(*folder.Read("surround channel 6.wav"), "PEAK"));
        }
        stereotools::JoinJob join({monos, folder.Path("joined.wav"), true});
        ASSERT_TRUE(stereotools::RunJob(join, monitor));
        ExpectFileHolds(folder.Path("joined.wav"), kind, 6, samples, SF_FORMAT_WAVEX);
    }
}

TEST(Interop, SndfileWrittenFilesSplitAndJoinExactly) {
    for (const SampleKind& kind : kKinds) {
        for (int container : {SF_FORMAT_WAV, SF_FORMAT_WAVEX, SF_FORMAT_RF64}) {
            SCOPED_TRACE(std::string(kind.name) + (container == SF_FORMAT_WAVEX  ? ", extensible"
                                                   : container == SF_FORMAT_RF64 ? ", RF64"
                                                                                 : ""));
            TempFolder folder;
            const unsigned width = kind.bits / 8u;
            const std::string stereo = folder.Path("take.wav");
            WriteWithSndfile(stereo, kind, 2, container, Tone(kind, 2 * kFrames, 0.03));
            const Bytes file = *folder.Read("take.wav");
            // The file carries what makes it more than a canonical header.
            EXPECT_TRUE(Contains(file, "LIST"));
            // libsndfile's RF64 writer leaves the PEAK chunk out.
            if (kind.tag == 3 && container != SF_FORMAT_RF64) {
                EXPECT_TRUE(Contains(file, "PEAK"));
            }
            if (container == SF_FORMAT_WAVEX) {
                EXPECT_EQ(file[20] | file[21] << 8, 0xFFFE);
            }
            if (container == SF_FORMAT_RF64) {
                EXPECT_TRUE(std::equal(file.begin(), file.begin() + 4, "RF64"));
            }
            const Bytes samples = SndfileSamples(stereo, width);
            ASSERT_EQ(samples.size(), 2 * kFrames * width);

            ASSERT_EQ(RipFile(stereo), 0);
            ExpectFileHolds(folder.Path("take left channel.wav"), kind, 1, Channel(samples, width, 0));
            ExpectFileHolds(folder.Path("take right channel.wav"), kind, 1, Channel(samples, width, 1));

            WriteWithSndfile(folder.Path("l.wav"), kind, 1, container, Tone(kind, kFrames, 0.05));
            WriteWithSndfile(folder.Path("r.wav"), kind, 1, container, Tone(kind, kFrames, 0.07));
            const Bytes left = SndfileSamples(folder.Path("l.wav"), width);
            const Bytes right = SndfileSamples(folder.Path("r.wav"), width);
            ASSERT_EQ(KnitFiles(folder.Path("l.wav"), folder.Path("r.wav"), folder.Path("joined.wav")), 0);
            Bytes expected;
            for (std::size_t at = 0; at < left.size(); at += width) {
                expected.insert(expected.end(), left.begin() + static_cast<std::ptrdiff_t>(at),
                                left.begin() + static_cast<std::ptrdiff_t>(at + width));
                expected.insert(expected.end(), right.begin() + static_cast<std::ptrdiff_t>(at),
                                right.begin() + static_cast<std::ptrdiff_t>(at + width));
            }
            ExpectFileHolds(folder.Path("joined.wav"), kind, 2, expected);
        }
    }
}

}  // namespace
