#include "support/TestWave.h"
#include "wave/WaveDerive.h"
#include "wave/WaveReader.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using stereotools::HeaderProblemMessage;
using stereotools::MemorySource;
using stereotools::ReadWaveHeader;
using stereotools::ReadWaveMetadata;
using stereotools::WaveChunk;
using stereotools::WaveHeaderProblem;
using testwave::Bytes;
using testwave::WaveBuilder;

WaveHeaderProblem ProblemOf(const Bytes& bytes, int requiredChannels) {
    return ReadWaveHeader(MemorySource(bytes), requiredChannels).problem;
}

Bytes Cut(Bytes bytes, size_t length) {
    bytes.resize(length);
    return bytes;
}

// Returns `bytes` with `chunk` put in front of its first chunk.
Bytes InsertedAt12(Bytes bytes, const Bytes& chunk) {
    bytes.insert(bytes.begin() + 12, chunk.begin(), chunk.end());
    return bytes;
}

Bytes WithByte(Bytes bytes, size_t offset, uint8_t value) {
    bytes.at(offset) = value;
    return bytes;
}

TEST(HeaderProblemMessage, EveryProblemHasItsText) {
    struct Case {
        WaveHeaderProblem problem;
        int requiredChannels;
        const char* text;
    };
    const Case cases[] = {
        {WaveHeaderProblem::None, 1, ""},
        {WaveHeaderProblem::NotWave, 1, "This is not a Wave file  "},
        {WaveHeaderProblem::NotPcmOrFloat, 2, "This is not a PCM or float format Wave file  "},
        {WaveHeaderProblem::WrongChannelCount, 1, "This is not a mono Wave file  "},
        {WaveHeaderProblem::WrongChannelCount, 2, "This is not a stereo Wave file  "},
        {WaveHeaderProblem::UnsupportedBitDepth, 1, "This Wave file has an unsupported bit depth  "},
        {WaveHeaderProblem::InvalidSampleRate, 2, "This Wave file has an invalid sample rate  "},
        {WaveHeaderProblem::Stopped, 1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(HeaderProblemMessage(c.problem, c.requiredChannels), c.text);
    }
}

TEST(ReadWaveHeader, ReadsCanonicalFiles) {
    const Bytes mono = WaveBuilder().Rate(48000).Samples(testwave::CountingBytes(20)).Build();
    const auto monoResult = ReadWaveHeader(MemorySource(mono), 1);
    ASSERT_TRUE(monoResult);
    EXPECT_EQ(monoResult.info.formatTag, 1);
    EXPECT_EQ(monoResult.info.channels, 1);
    EXPECT_EQ(monoResult.info.sampleRate, 48000);
    EXPECT_EQ(monoResult.info.byteRate, 96000u);
    EXPECT_EQ(monoResult.info.blockAlign, 2);
    EXPECT_EQ(monoResult.info.bitsPerSample, 16);
    EXPECT_EQ(monoResult.info.dataSize, 20u);
    EXPECT_EQ(monoResult.info.dataOffset, 44u);

    const Bytes stereoFloat = WaveBuilder().Tag(3).Channels(2).Bits(32).ByteRate(7).BlockAlign(5).Build();
    const auto stereoResult = ReadWaveHeader(MemorySource(stereoFloat), 2);
    ASSERT_TRUE(stereoResult);
    EXPECT_EQ(stereoResult.info.formatTag, 3);
    EXPECT_EQ(stereoResult.info.channels, 2);
    EXPECT_EQ(stereoResult.info.bitsPerSample, 32);
    // Taken as stated, never recomputed.
    EXPECT_EQ(stereoResult.info.byteRate, 7u);
    EXPECT_EQ(stereoResult.info.blockAlign, 5);
    EXPECT_EQ(stereoResult.info.dataSize, 0u);
    EXPECT_EQ(stereoResult.info.dataOffset, 44u);
}

TEST(ReadWaveHeader, RefusesWhatIsNotAWaveFile) {
    const Bytes canonical = WaveBuilder().Samples(testwave::CountingBytes(8)).Build();
    struct Case {
        const char* name;
        Bytes bytes;
    };
    const Case cases[] = {
        {"empty file", {}},
        {"11 bytes", Cut(canonical, 11)},
        {"lower-case wave", WaveBuilder().FormType("wave").Build()},
        {"12 bytes holding WAVE", Cut(canonical, 12)},
        {"43 bytes holding WAVE", Cut(canonical, 43)},
        {"no fmt chunk", WithByte(canonical, 12, 'F')},
        {"no data chunk", WithByte(canonical, 36, 'D')},
        {"fmt chunk of 14 bytes", WaveBuilder().FmtSize(14).Build()},
        {"chunk size past end of file before fmt", InsertedAt12(canonical, {'J', 'U', 'N', 'K', 0xE8, 0x03, 0, 0})},
        {"data of unknown size before fmt", InsertedAt12(canonical, {'d', 'a', 't', 'a', 0xFF, 0xFF, 0xFF, 0xFF})},
        {"fmt body cut by end of file",
         [] {
             Bytes bytes = WaveBuilder().ChunkBeforeData("LIST", Bytes(20)).Build();
             // Move "fmt " behind everything and cut its body short.
             Bytes moved(bytes.begin(), bytes.begin() + 12);
             moved.insert(moved.end(), bytes.begin() + 36, bytes.end());
             moved.insert(moved.end(), bytes.begin() + 12, bytes.begin() + 28);
             return moved;
         }()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ProblemOf(c.bytes, 1), WaveHeaderProblem::NotWave);
    }
}

TEST(ReadWaveHeader, ReportsOnlyTheFirstFailingCheck) {
    struct Case {
        const char* name;
        Bytes bytes;
        int requiredChannels;
        WaveHeaderProblem expected;
    };
    const Case cases[] = {
        {"not WAVE beats a bad tag", WaveBuilder().FormType("WAVX").Tag(2).Build(), 1, WaveHeaderProblem::NotWave},
        {"plain extensible tag, two channels, to the join tool", WaveBuilder().Tag(0xFFFE).Channels(2).Build(), 1,
         WaveHeaderProblem::NotPcmOrFloat},
        {"bad tag beats a bad depth", WaveBuilder().Tag(2).Bits(0).Build(), 1, WaveHeaderProblem::NotPcmOrFloat},
        {"stereo to the join tool", WaveBuilder().Channels(2).Bits(0).Build(), 1, WaveHeaderProblem::WrongChannelCount},
        {"mono to the split tool", WaveBuilder().Build(), 2, WaveHeaderProblem::WrongChannelCount},
        {"bad depth beats a bad rate", WaveBuilder().Bits(65).Rate(0).Build(), 1,
         WaveHeaderProblem::UnsupportedBitDepth},
        {"rate 0", WaveBuilder().Rate(0).Build(), 1, WaveHeaderProblem::InvalidSampleRate},
        {"rate negative as signed", WaveBuilder().Rate(0x80000000u).Build(), 1, WaveHeaderProblem::InvalidSampleRate},
        {"largest positive rate", WaveBuilder().Rate(0x7FFFFFFFu).Build(), 1, WaveHeaderProblem::None},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ProblemOf(c.bytes, c.requiredChannels), c.expected);
    }
}

TEST(ReadWaveHeader, AcceptsRifxStart) {
    const auto result = ReadWaveHeader(MemorySource(WaveBuilder().RiffId("RIFX").Build()), 1);
    EXPECT_TRUE(result);
}

TEST(ReadWaveHeader, ReadsTheLowByteOfTheChannelField) {
    EXPECT_EQ(ProblemOf(WaveBuilder().Channels(0x0101).Build(), 1), WaveHeaderProblem::None);
    EXPECT_EQ(ProblemOf(WaveBuilder().Channels(0x0102).Build(), 2), WaveHeaderProblem::None);
    EXPECT_EQ(ProblemOf(WaveBuilder().Channels(0x0201).Build(), 2), WaveHeaderProblem::WrongChannelCount);
}

// Any count from two up, by the whole field: the mono and stereo checks
// keep reading the low byte, so a field of 0x0102 is stereo to them and
// 258 channels here; one channel keeps the stereo refusal.
TEST(ReadWaveHeader, TakesManyChannelsByTheWholeField) {
    struct Case {
        uint16_t field;
        WaveHeaderProblem problem;
        uint16_t channels;
    };
    const Case cases[] = {{2, WaveHeaderProblem::None, 2},
                          {6, WaveHeaderProblem::None, 6},
                          {0x0102, WaveHeaderProblem::None, 258},
                          {65535, WaveHeaderProblem::None, 65535},
                          {1, WaveHeaderProblem::WrongChannelCount, 0},
                          {0, WaveHeaderProblem::WrongChannelCount, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        const auto result = ReadWaveHeader(MemorySource(WaveBuilder().Channels(c.field).BlockAlign(2).Build()),
                                           stereotools::kManyChannels);
        EXPECT_EQ(result.problem, c.problem);
        if (result) {
            EXPECT_EQ(result.info.channels, c.channels);
        }
    }
    EXPECT_EQ(HeaderProblemMessage(WaveHeaderProblem::WrongChannelCount, stereotools::kManyChannels),
              HeaderProblemMessage(WaveHeaderProblem::WrongChannelCount, 2));
    // A count the caller names (as a job does when it opens the file again) is the whole field too.
    EXPECT_TRUE(ReadWaveHeader(MemorySource(WaveBuilder().Channels(0x0102).BlockAlign(2).Build()), 258));
}

// The valid bits of an extensible file are kept; a plain file's are its depth.
TEST(ReadWaveHeader, KeepsTheValidBitsOfAnExtensibleFile) {
    const auto extensible =
        ReadWaveHeader(MemorySource(WaveBuilder().Bits(24).Extensible(testwave::kPcmSubFormat).ValidBits(20).Build()),
                       1);
    ASSERT_TRUE(extensible);
    EXPECT_EQ(extensible.info.validBits, 20);
    EXPECT_FALSE(extensible.info.extensible) << "inputs are resolved to the plain format";
    const auto tooMany =
        ReadWaveHeader(MemorySource(WaveBuilder().Bits(16).Extensible(testwave::kPcmSubFormat).ValidBits(20).Build()),
                       1);
    EXPECT_EQ(tooMany.info.validBits, 16);
    EXPECT_EQ(ReadWaveHeader(MemorySource(WaveBuilder().Bits(24).Build()), 1).info.validBits, 24);
}

TEST(ReadWaveHeader, FindsTheChunksWhereverTheyLie) {
    const Bytes samples = testwave::CountingBytes(6);
    struct Case {
        const char* name;
        Bytes bytes;
        uint64_t dataOffset;
    };
    const Case cases[] = {
        {"LIST before data", WaveBuilder().ChunkBeforeData("LIST", Bytes(26)).Samples(samples).Build(), 44 + 34},
        {"odd-sized chunk and its pad byte", WaveBuilder().ChunkBeforeData("bext", Bytes(5)).Samples(samples).Build(),
         44 + 14},
        {"18-byte fmt", WaveBuilder().FmtSize(18).Samples(samples).Build(), 46},
        {"40-byte fmt of a plain tag", WaveBuilder().FmtSize(40).Samples(samples).Build(), 68},
        {"chunks after data", WaveBuilder().Samples(samples).ChunkAfterData("LIST", Bytes(30, 'x')).Build(), 44},
        {"JUNK before fmt",
         InsertedAt12(WaveBuilder().Samples(samples).Build(), {'J', 'U', 'N', 'K', 3, 0, 0, 0, 9, 9, 9, 0}), 56},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = ReadWaveHeader(MemorySource(c.bytes), 1);
        ASSERT_TRUE(result);
        EXPECT_EQ(result.info.dataOffset, c.dataOffset);
        EXPECT_EQ(result.info.dataSize, samples.size());
        EXPECT_EQ(result.info.bitsPerSample, 16);
        ASSERT_LE(c.dataOffset + samples.size(), c.bytes.size());
        EXPECT_EQ(Bytes(c.bytes.begin() + static_cast<long>(c.dataOffset),
                        c.bytes.begin() + static_cast<long>(c.dataOffset + samples.size())),
                  samples);
    }
}

TEST(ReadWaveHeader, TakesTheFirstFmtAndDataChunks) {
    // Behind the mono "fmt " come a stereo "fmt " and a 10-byte "data"
    // chunk, then the original 4-byte "data": the first of each counts.
    Bytes bytes = WaveBuilder().Samples(Bytes(4, 7)).Build();
    const Bytes second = WaveBuilder().Channels(2).Samples(Bytes(10, 8)).Build();
    bytes.insert(bytes.begin() + 36, second.begin() + 12, second.end());
    const auto result = ReadWaveHeader(MemorySource(bytes), 1);
    ASSERT_TRUE(result);
    EXPECT_EQ(result.info.dataSize, 10u);
    EXPECT_EQ(result.info.dataOffset, 36u + 24u + 8u);
}

TEST(ReadWaveHeader, ResolvesExtensibleFormats) {
    std::array<uint8_t, 16> otherGuid = testwave::kPcmSubFormat;
    otherGuid[15] = 0x72;
    std::array<uint8_t, 16> tagTwoGuid = testwave::kPcmSubFormat;
    tagTwoGuid[0] = 2;
    struct Case {
        const char* name;
        Bytes bytes;
        WaveHeaderProblem expected;
        uint16_t formatTag;
    };
    const Case cases[] = {
        {"PCM", WaveBuilder().Bits(24).Extensible(testwave::kPcmSubFormat).Build(), WaveHeaderProblem::None, 1},
        {"float", WaveBuilder().Bits(32).Extensible(testwave::kFloatSubFormat).Build(), WaveHeaderProblem::None, 3},
        {"other GUID", WaveBuilder().Extensible(otherGuid).Build(), WaveHeaderProblem::NotPcmOrFloat, 0},
        {"GUID of tag 2", WaveBuilder().Extensible(tagTwoGuid).Build(), WaveHeaderProblem::NotPcmOrFloat, 0},
        {"extension shorter than 22 bytes", WaveBuilder().Extensible(testwave::kPcmSubFormat, 20).Build(),
         WaveHeaderProblem::NotPcmOrFloat, 0},
        {"fmt chunk too short for the GUID", WaveBuilder().Extensible(testwave::kPcmSubFormat).FmtSize(24).Build(),
         WaveHeaderProblem::NotPcmOrFloat, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = ReadWaveHeader(MemorySource(c.bytes), 1);
        EXPECT_EQ(result.problem, c.expected);
        if (result) {
            EXPECT_EQ(result.info.formatTag, c.formatTag);
            EXPECT_EQ(result.info.dataOffset, 68u);
        }
    }
}

// Writers to a pipe leave a placeholder for the size they could not go
// back to fill in; it runs past the end of the file, which holds the
// samples, up to the last whole frame.
TEST(ReadWaveHeader, ResolvesAnUnknownDataSizeToTheEndOfTheFile) {
    const Bytes samples = testwave::CountingBytes(13);
    for (const uint32_t placeholder : {0xFFFFFFFFu, 0x7FFFF000u, 0x7FFFFFFFu, 0x80000000u}) {
        SCOPED_TRACE(placeholder);
        const auto unknown =
            ReadWaveHeader(MemorySource(WaveBuilder().Samples(samples).DataSize(placeholder).Build()), 1);
        ASSERT_TRUE(unknown);
        EXPECT_EQ(unknown.info.dataSize, 12u) << "six whole 16-bit frames";
        const auto stereo =
            ReadWaveHeader(MemorySource(WaveBuilder().Channels(2).Samples(samples).DataSize(placeholder).Build()), 2);
        ASSERT_TRUE(stereo);
        EXPECT_EQ(stereo.info.dataSize, 12u) << "three whole 16-bit stereo frames";
    }

    const auto behindList = ReadWaveHeader(
        MemorySource(WaveBuilder().ChunkBeforeData("LIST", Bytes(4)).Samples(samples).DataSize(0xFFFFFFFF).Build()), 1);
    ASSERT_TRUE(behindList);
    EXPECT_EQ(behindList.info.dataOffset, 56u);
    EXPECT_EQ(behindList.info.dataSize, 12u);

    // A size that is merely larger than the file stays as stated.
    for (const uint32_t size : {0xFFFFFFFEu, 0x7FFFF001u, 14u}) {
        SCOPED_TRACE(size);
        const auto tooLarge = ReadWaveHeader(MemorySource(WaveBuilder().Samples(samples).DataSize(size).Build()), 1);
        ASSERT_TRUE(tooLarge);
        EXPECT_EQ(tooLarge.info.dataSize, size);
    }
}

TEST(ReadWaveHeader, TakesRf64AndBw64SizesFromDs64) {
    const Bytes samples = testwave::CountingBytes(12);
    const Bytes list = {'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 2, 0, 0, 0, 'x', 0};
    struct Case {
        const char* name;
        WaveBuilder builder;
        uint64_t dataSize;
        uint64_t dataOffset;
    };
    const Case cases[] = {
        {"RF64 with a LIST behind the data",
         WaveBuilder().Rf64().Channels(2).Samples(samples).ChunkAfterData("LIST", list), 12, 80},
        {"BW64 with a LIST behind the data",
         WaveBuilder().Rf64("BW64").Channels(2).Samples(samples).ChunkAfterData("LIST", list), 12, 80},
        {"ds64 with a table and chunks before the data",
         WaveBuilder()
             .Rf64()
             .Ds64Size(40)
             .Channels(2)
             .ChunkBeforeFmt("bext", Bytes(3))
             .ChunkBeforeData("LIST", list)
             .Samples(samples)
             .ChunkAfterData("cue ", Bytes(4)),
         12, 12 + 48 + 12 + 24 + 22 + 8},
        {"a 32-bit data size other than 0xFFFFFFFF stays as stated",
         WaveBuilder().Rf64().DataSize(8).Ds64DataSize(12).Channels(2).Samples(samples), 8, 80},
        {"ds64 data size larger than the file",
         WaveBuilder().Rf64().Ds64DataSize(0x123456789).Channels(2).Samples(samples), 0x123456789, 80},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes bytes = c.builder.Build();
        const auto result = ReadWaveHeader(MemorySource(bytes), 2);
        ASSERT_TRUE(result);
        EXPECT_EQ(result.info.dataSize, c.dataSize);
        EXPECT_EQ(result.info.dataOffset, c.dataOffset);
        EXPECT_EQ(Bytes(bytes.begin() + static_cast<long>(c.dataOffset),
                        bytes.begin() + static_cast<long>(c.dataOffset + std::min<uint64_t>(c.dataSize, 12))),
                  Bytes(samples.begin(), samples.begin() + static_cast<long>(std::min<uint64_t>(c.dataSize, 12))));
    }
}

TEST(ReadWaveHeader, RefusesRf64WithoutAUsableDs64) {
    const Bytes plain = WaveBuilder().RiffId("RF64").DataSize(0xFFFFFFFF).Samples(Bytes(8)).Build();
    const Bytes valid = WaveBuilder().Rf64().Samples(Bytes(8)).Build();
    struct Case {
        const char* name;
        Bytes bytes;
    };
    const Case cases[] = {
        {"RF64 without ds64", plain},
        {"BW64 without ds64", WaveBuilder().RiffId("BW64").Build()},
        {"ds64 of 23 bytes", WaveBuilder().Rf64().Ds64Size(23).Samples(Bytes(8)).Build()},
        {"ds64 body cut by the end of the file", Cut(WaveBuilder().Rf64().Ds64Size(4000).Build(), 200)},
        {"ds64 behind a JUNK chunk", InsertedAt12(valid, {'J', 'U', 'N', 'K', 2, 0, 0, 0, 0, 0})},
        {"ds64 data size past any file system", WaveBuilder().Rf64().Ds64DataSize(uint64_t{1} << 61).Build()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ProblemOf(c.bytes, 1), WaveHeaderProblem::NotWave);
    }
    // The ds64 check comes second, after "WAVE"; the later checks are those of RIFF.
    EXPECT_EQ(ProblemOf(WaveBuilder().Rf64().Channels(2).Build(), 1), WaveHeaderProblem::WrongChannelCount);
    EXPECT_EQ(ProblemOf(WaveBuilder().Rf64().Tag(2).Build(), 1), WaveHeaderProblem::NotPcmOrFloat);
    EXPECT_EQ(ProblemOf(WaveBuilder().Rf64().Ds64Size(24).Build(), 1), WaveHeaderProblem::None);
}

TEST(ReadWaveHeader, TakesDs64OnlyInRf64AndBw64Files) {
    // A RIFF file with a "ds64" chunk keeps RIFF's rule: size unknown, to the end.
    Bytes bytes = WaveBuilder().Rf64().Samples(testwave::CountingBytes(6)).ChunkAfterData("LIST", Bytes(8)).Build();
    std::copy_n("RIFF", 4, bytes.begin());
    const auto result = ReadWaveHeader(MemorySource(bytes), 1);
    ASSERT_TRUE(result);
    EXPECT_EQ(result.info.dataOffset, 80u);
    EXPECT_EQ(result.info.dataSize, bytes.size() - 80);
}

TEST(ReadWaveMetadata, ListsTheChunksAnOutputCarriesByWhereTheyStood) {
    const Bytes list = {'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 1, 0, 0, 0, 'x', 0};
    const Bytes bytes = WaveBuilder()
                            .ChunkBeforeFmt("bext", Bytes(5, 'b'))
                            .ChunkBeforeFmt("JUNK", Bytes(28))
                            .ChunkBeforeData("fact", Bytes(4))
                            .ChunkBeforeData("LIST", list)
                            .ChunkBeforeData("PAD ", Bytes(2))
                            .ChunkBeforeData("FLLR", Bytes(2))
                            .ChunkBeforeData("ds64", Bytes(28))
                            .ChunkBeforeData("iXML", Bytes(3, 'i'))
                            .Samples(Bytes(3, 's'))
                            .ChunkAfterData("cue ", Bytes(4))
                            .ChunkAfterData("LIST", {'a', 'd', 't', 'l'})
                            .ChunkAfterData("_PMX", Bytes(1, 'p'))
                            .Build();
    const auto result = ReadWaveMetadata(MemorySource(bytes));
    ASSERT_TRUE(result);
    // RIFF 12, bext 14, JUNK 36, fmt 24, fact 12, LIST 22, PAD 10, FLLR 10, ds64 36, iXML 12, data 12 (3 + pad).
    const std::vector<WaveChunk> before = {{"bext", 20, 5},
                                           {"LIST", 12 + 14 + 36 + 24 + 12 + 8, 14},
                                           {"iXML", 12 + 14 + 36 + 24 + 12 + 22 + 10 + 10 + 36 + 8, 3}};
    EXPECT_EQ(result.metadata.beforeData, before);
    EXPECT_EQ(result.metadata.beforeFmt, 1u);
    const uint64_t behindData = 12 + 14 + 36 + 24 + 12 + 22 + 10 + 10 + 36 + 12 + 12;
    const std::vector<WaveChunk> after = {{"cue ", behindData + 8, 4}, {"_PMX", behindData + 12 + 12 + 8, 1}};
    EXPECT_EQ(result.metadata.afterData, after);
    EXPECT_EQ(bytes.size(), behindData + 12 + 12 + 10);
}

TEST(ReadWaveMetadata, CarriesOnlyWholeChunks) {
    struct Case {
        const char* name;
        Bytes bytes;
        std::vector<std::string> before;
        std::vector<std::string> after;
        std::size_t beforeFmt;
    };
    Bytes cut =
        WaveBuilder().Samples(Bytes(4)).ChunkAfterData("cue ", Bytes(4)).ChunkAfterData("iXML", Bytes(40)).Build();
    cut.resize(cut.size() - 1);
    Bytes garbage = WaveBuilder().Samples(Bytes(4)).ChunkAfterData("cue ", Bytes(4)).Build();
    const Bytes id3 = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0, 0, 0};
    garbage.insert(garbage.end(), id3.begin(), id3.end());
    Bytes fmtBehind = WaveBuilder().ChunkBeforeData("bext", Bytes(2)).Samples(Bytes(4)).Build();
    // Move "fmt " (bytes 12..35) to the end, behind the data.
    Bytes moved(fmtBehind.begin(), fmtBehind.begin() + 12);
    moved.insert(moved.end(), fmtBehind.begin() + 36, fmtBehind.end());
    moved.insert(moved.end(), fmtBehind.begin() + 12, fmtBehind.begin() + 36);
    const Case cases[] = {
        {"a chunk cut by the end of the file", cut, {}, {"cue "}, 0},
        {"bytes that are no chunk behind the form", garbage, {}, {"cue "}, 0},
        {"data of unknown size runs to the end",
         WaveBuilder().Samples(Bytes(4)).DataSize(0xFFFFFFFF).ChunkAfterData("cue ", Bytes(4)).Build(),
         {},
         {},
         0},
        {"RF64 data ends where ds64 says",
         WaveBuilder().Rf64().Samples(Bytes(4)).ChunkAfterData("cue ", Bytes(4)).Build(),
         {},
         {"cue "},
         0},
        {"fmt behind the data goes right before it", moved, {"bext"}, {}, 1},
        {"an id that is not text ends nothing",
         WaveBuilder()
             .ChunkBeforeData(std::string("\x01\x02\x03\x04", 4), Bytes(3))
             .ChunkBeforeData("LIST", {'I', 'N', 'F', 'O', 0, 0, 0, 0})
             .Samples(Bytes(4))
             .ChunkAfterData("cue ", Bytes(4))
             .Build(),
         {std::string("\x01\x02\x03\x04", 4), "LIST"},
         {"cue "},
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = ReadWaveMetadata(MemorySource(c.bytes));
        ASSERT_TRUE(result);
        std::vector<std::string> before;
        std::vector<std::string> after;
        for (const auto& chunk : result.metadata.beforeData) before.push_back(chunk.id);
        for (const auto& chunk : result.metadata.afterData) after.push_back(chunk.id);
        EXPECT_EQ(before, c.before);
        EXPECT_EQ(after, c.after);
        EXPECT_EQ(result.metadata.beforeFmt, c.beforeFmt);
    }
    // The walk says where it stopped short, so that no later chunk is lost unsaid.
    EXPECT_EQ(ReadWaveMetadata(MemorySource(cut)).metadata.cutShort, "iXML");
}

TEST(ReadWaveMetadata, RefusesMoreChunksThanAnyRealFileHolds) {
    Bytes bytes = WaveBuilder().Samples(Bytes(2)).Build();
    const Bytes emptyCue = {'c', 'u', 'e', ' ', 0, 0, 0, 0};
    for (int i = 0; i < 70000; ++i) bytes.insert(bytes.end(), emptyCue.begin(), emptyCue.end());
    testwave::CoverWithForm(bytes);
    const auto result = ReadWaveMetadata(MemorySource(bytes));
    EXPECT_EQ(result.problem, WaveHeaderProblem::NotWave);
    EXPECT_TRUE(result.metadata.Empty());
    int asked = 0;
    EXPECT_EQ(ReadWaveMetadata(MemorySource(bytes), [&] { return ++asked == 2; }).problem, WaveHeaderProblem::Stopped);
}

TEST(ReadWaveHeader, WalksThousandsOfChunks) {
    // Odd bodies and their pad bytes put chunk headers at every offset,
    // across every boundary of the blocks the headers are read in.
    WaveBuilder builder;
    uint64_t dataOffset = 36 + 8;
    for (int i = 0; i < 5000; ++i) {
        const size_t body = static_cast<size_t>(i % 7);
        builder.ChunkBeforeData("JUNK", Bytes(body, 0xEE));
        dataOffset += 8 + body + body % 2;
    }
    const Bytes samples = testwave::CountingBytes(6);
    const Bytes bytes = builder.Samples(samples).Build();
    const auto result = ReadWaveHeader(MemorySource(bytes), 1);
    ASSERT_TRUE(result);
    EXPECT_EQ(result.info.dataOffset, dataOffset);
    EXPECT_EQ(Bytes(bytes.begin() + static_cast<long>(dataOffset), bytes.end()), samples);
}

// A ByteSource that counts the reads made through it.
class CountingSource final : public stereotools::ByteSource {
public:
    explicit CountingSource(const ByteSource& source) : source_(source) {}
    [[nodiscard]] int64_t ReadAt(uint64_t offset, std::span<uint8_t> out) const override {
        ++reads;
        return source_.ReadAt(offset, out);
    }
    [[nodiscard]] uint64_t Size() const override { return source_.Size(); }
    mutable uint64_t reads = 0;

private:
    const ByteSource& source_;
};

// A file of zero-size chunks, one every 8 bytes: "RIFF", size unknown,
// "WAVE", then 256 MiB of zeros, made sparse.
class ChunkFlood : public testwave::WithTempFolder {
protected:
    static constexpr uint64_t kZeroBytes = uint64_t{256} << 20;
    void SetUp() override {
        Bytes head = {'R', 'I', 'F', 'F', 0xFF, 0xFF, 0xFF, 0xFF, 'W', 'A', 'V', 'E'};
        const std::string path = folder.Write("flood.wav", head);
        ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(head.size() + kZeroBytes)), 0);
        opened = stereotools::OpenInputFile(path);
        ASSERT_TRUE(opened) << opened.error.Describe();
    }
    stereotools::InputOpenResult opened;
};

TEST_F(ChunkFlood, IsRefusedAfterABoundedWalk) {
    const CountingSource source(opened.file);
    EXPECT_EQ(ReadWaveHeader(source, 2).problem, WaveHeaderProblem::NotWave);
    // One read per chunk would be 33 million reads.
    EXPECT_LT(source.reads, 1000u);
}

TEST_F(ChunkFlood, StopsWhenAsked) {
    const CountingSource source(opened.file);
    int asked = 0;
    const auto result = ReadWaveHeader(source, 2, [&] { return ++asked == 3; });
    EXPECT_EQ(result.problem, WaveHeaderProblem::Stopped);
    EXPECT_EQ(asked, 3) << "not asked again once it said stop";
    EXPECT_LT(source.reads, 10u);

    // A check that never says stop changes nothing.
    const Bytes wave = WaveBuilder().Samples(Bytes(4)).Build();
    EXPECT_TRUE(ReadWaveHeader(MemorySource(wave), 1, [] { return false; }));
}

class BitDepth : public ::testing::TestWithParam<std::pair<uint16_t, bool>> {};

TEST_P(BitDepth, IsAcceptedOnlyFromOneToSixtyFour) {
    const auto [bits, accepted] = GetParam();
    const auto result = ReadWaveHeader(MemorySource(WaveBuilder().Tag(bits == 64 ? 3 : 1).Bits(bits).Build()), 1);
    EXPECT_EQ(result.problem, accepted ? WaveHeaderProblem::None : WaveHeaderProblem::UnsupportedBitDepth);
    if (accepted) {
        EXPECT_EQ(result.info.bitsPerSample, bits);
    }
}

INSTANTIATE_TEST_SUITE_P(ReadWaveHeader, BitDepth,
                         ::testing::Values(std::pair<uint16_t, bool>{0, false}, std::pair<uint16_t, bool>{1, true},
                                           std::pair<uint16_t, bool>{8, true}, std::pair<uint16_t, bool>{12, true},
                                           std::pair<uint16_t, bool>{24, true}, std::pair<uint16_t, bool>{64, true},
                                           std::pair<uint16_t, bool>{65, false}));

TEST(BytesPerSample, RoundsUpToWholeBytes) {
    const std::pair<uint16_t, uint32_t> cases[] = {{1, 1},  {8, 1},  {12, 2}, {16, 2},
                                                   {20, 3}, {24, 3}, {32, 4}, {64, 8}};
    for (const auto& [bits, bytes] : cases) {
        SCOPED_TRACE(bits);
        stereotools::WaveFormatInfo info;
        info.bitsPerSample = bits;
        EXPECT_EQ(info.BytesPerSample(), bytes);
    }
}

// Files past 4 GiB, made sparse so they cost no disk.
class LargeFile : public testwave::WithTempFolder {};

TEST_F(LargeFile, ResolvesAnUnknownSizeToTheEndOfAFilePast4GiB) {
    const uint64_t dataSize = (uint64_t{5} << 30) + 3;
    const std::string path = folder.Write("long.wav", WaveBuilder().Channels(2).DataSize(0xFFFFFFFF).Build());
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(44 + dataSize)), 0);
    stereotools::InputOpenResult opened = stereotools::OpenInputFile(path);
    ASSERT_TRUE(opened) << opened.error.Describe();
    const auto result = ReadWaveHeader(opened.file, 2);
    ASSERT_TRUE(result);
    // The 3 bytes past the last whole frame of 4 are no frame.
    EXPECT_EQ(result.info.dataSize, dataSize - 3);
    EXPECT_EQ(stereotools::CountFrames(result.info), dataSize >> 2);
}

TEST_F(LargeFile, FindsTheChunksBehindRf64DataPast4GiB) {
    const uint64_t dataSize = (uint64_t{4} << 30) + 7;
    const std::string path = folder.Write("long.rf64", WaveBuilder().Rf64().Channels(2).Ds64DataSize(dataSize).Build());
    // Sparse data, then a pad byte and a "cue " chunk behind it.
    const Bytes cue = {'c', 'u', 'e', ' ', 4, 0, 0, 0, 0, 0, 0, 0};
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, cue.data(), cue.size(), static_cast<off_t>(80 + dataSize + 1)), 12);
    ::close(fd);
    stereotools::InputOpenResult opened = stereotools::OpenInputFile(path);
    ASSERT_TRUE(opened) << opened.error.Describe();
    const auto header = ReadWaveHeader(opened.file, 2);
    ASSERT_TRUE(header);
    EXPECT_EQ(header.info.dataSize, dataSize);
    const auto metadata = stereotools::ReadWaveMetadata(opened.file);
    ASSERT_TRUE(metadata);
    EXPECT_TRUE(metadata.metadata.beforeData.empty());
    EXPECT_EQ(metadata.metadata.afterData, (std::vector<WaveChunk>{{"cue ", 80 + dataSize + 9, 4}}));
}

// Calls whose reads fail with EIO.
stereotools::FileCalls FailingReads() {
    stereotools::FileCalls calls = stereotools::SystemFileCalls();
    calls.pread = [](int, void*, size_t, off_t) -> ssize_t {
        errno = EIO;
        return -1;
    };
    return calls;
}

class ReadSampleRangeTest : public testwave::WithTempFolder {};

TEST_F(ReadSampleRangeTest, TakesOnlyTheDataChunkAndZeroFillsTheRest) {
    const Bytes file = testwave::CountingBytes(60, 0);
    auto opened = stereotools::OpenInputFile(folder.Write("data", file));
    ASSERT_TRUE(opened);
    const auto Slice = [&](size_t from, size_t to) { return Bytes(file.begin() + from, file.begin() + to); };
    const auto Then = [](Bytes bytes, size_t zeros) {
        bytes.resize(bytes.size() + zeros, 0);
        return bytes;
    };
    struct Case {
        const char* name;
        uint64_t dataOffset;
        uint64_t dataSize;
        uint64_t position;
        size_t outSize;
        Bytes expected;
    };
    const Case cases[] = {
        {"whole chunk, larger buffer", 10, 20, 0, 24, Then(Slice(10, 30), 4)},
        {"inside the chunk", 10, 20, 5, 5, Slice(15, 20)},
        {"across the chunk's end", 10, 20, 18, 4, Then(Slice(28, 30), 2)},
        {"at the chunk's end", 10, 20, 20, 3, Bytes(3, 0)},
        {"far past the chunk", 10, 20, 1000, 3, Bytes(3, 0)},
        {"chunk declared past end of file", 50, 40, 0, 12, Then(Slice(50, 60), 2)},
        {"chunk starting at end of file", 60, 8, 2, 4, Bytes(4, 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes out(c.outSize, 0xEE);
        const stereotools::IoError error =
            stereotools::ReadSampleRange(opened.file, c.dataOffset, c.dataSize, c.position, out);
        EXPECT_FALSE(error) << error.Describe();
        EXPECT_EQ(out, c.expected);
    }
}

TEST_F(ReadSampleRangeTest, ReportsAFailedReadWithTheFileName) {
    const std::string path = folder.Write("data", Bytes(20, 1));
    auto opened = stereotools::OpenInputFile(path);
    ASSERT_TRUE(opened);
    Bytes out(8);
    {
        testwave::ScopedFileCalls fake(FailingReads());
        const stereotools::IoError error = stereotools::ReadSampleRange(opened.file, 0, 20, 0, out);
        EXPECT_EQ(error.operation, stereotools::IoError::Operation::Read);
        EXPECT_EQ(error.path, path);
        EXPECT_EQ(error.errorNumber, EIO);
    }
    opened.file.Close();
    EXPECT_EQ(stereotools::ReadSampleRange(opened.file, 0, 20, 0, out).errorNumber, EBADF);
}

}  // namespace
