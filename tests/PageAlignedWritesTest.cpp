#include "jobs/PageAlignedWrites.h"
#include "support/TestWave.h"
#include "wave/WaveWriter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace stereotools {
namespace {

using testwave::Bytes;

// The pwrite calls of the samples, as offset and length.
struct RecordedWrites {
    struct Write {
        uint64_t offset;
        std::size_t count;
    };
    static inline std::vector<Write> writes;
    static ssize_t Pwrite(int fd, const void* buffer, size_t count, off_t offset) {
        writes.push_back({static_cast<uint64_t>(offset), count});
        return ::pwrite(fd, buffer, count, offset);
    }
    static FileCalls Calls() {
        writes.clear();
        FileCalls calls = SystemFileCalls();
        calls.pwrite = Pwrite;
        return calls;
    }
};

WaveFormatInfo Mono8(uint64_t dataSize) {
    WaveFormatInfo info;
    info.formatTag = 1;
    info.channels = 1;
    info.sampleRate = 8000;
    info.byteRate = 8000;
    info.blockAlign = 1;
    info.bitsPerSample = 8;
    info.dataSize = dataSize;
    return info;
}

class PageAlignedWritesTest : public testwave::WithTempFolder {
protected:
    static constexpr std::size_t kRoom = 4096;

    // Writes `samples` to a new output in pieces of `piece` bytes through one
    // buffer with `kRoom` bytes before it, as a thread of a job does, commits
    // it and returns the file.
    Bytes WriteInPieces(const Bytes& samples, std::size_t piece, std::size_t granule, std::size_t room = kRoom) {
        auto opened = OpenWaveOutput(folder.Path("out.wav"), kWaveHeaderBytes + samples.size());
        EXPECT_TRUE(opened);
        EXPECT_FALSE(WriteWaveHeader(opened.output, Mono8(samples.size())));
        std::vector<uint8_t> memory(kRoom + piece);
        uint8_t* const buffer = memory.data() + kRoom;
        PageAlignedWrites writes(granule, room);
        {
            testwave::ScopedFileCalls recorded(RecordedWrites::Calls());
            for (std::size_t at = 0; at < samples.size(); at += piece) {
                const std::size_t count = std::min(piece, samples.size() - at);
                std::memcpy(buffer, samples.data() + at, count);
                EXPECT_FALSE(writes.Write(opened.output, at, buffer, count));
            }
            EXPECT_FALSE(writes.Finish(opened.output));
        }
        EXPECT_FALSE(EndWaveSamples(opened.output, samples.size()));
        EXPECT_FALSE(CommitWaveOutput(opened.output));
        const Bytes file = folder.Read("out.wav").value_or(Bytes{});
        return Bytes(file.begin() + std::min<std::size_t>(file.size(), kWaveHeaderBytes), file.end());
    }
};

// Whatever the piece and the granule, the file holds every byte once, at its
// place, and every write but the first and the last begins and ends on a
// boundary of the granule.
TEST_F(PageAlignedWritesTest, WritesEveryByteAtItsPlaceOnTheBoundaries) {
    const Bytes samples = testwave::RandomBytes(300000, 7);
    struct Case {
        std::size_t piece;
        std::size_t granule;
    };
    for (const Case c : {Case{65536, 65536}, Case{65536, 16384}, Case{49152, 16384}, Case{10000, 4096},
                         Case{3000, 4096}, Case{1, 4096}}) {
        SCOPED_TRACE(std::to_string(c.piece) + " bytes a piece, granule " + std::to_string(c.granule));
        EXPECT_EQ(WriteInPieces(samples, c.piece, c.granule), samples);
        const auto& writes = RecordedWrites::writes;
        ASSERT_GE(writes.size(), 2u);
        EXPECT_EQ(writes.front().offset, kWaveHeaderBytes);
        for (std::size_t i = 0; i + 1 < writes.size(); ++i) {
            EXPECT_EQ((writes[i].offset + writes[i].count) % c.granule, 0u) << "write " << i;
            if (i > 0) {
                EXPECT_EQ(writes[i].offset % c.granule, 0u) << "write " << i;
            }
        }
        EXPECT_EQ(writes.back().offset + writes.back().count, kWaveHeaderBytes + samples.size());
    }
}

// A granule under a file page, or held bytes that would not fit the room
// before the buffer, leave the pieces as they come.
TEST_F(PageAlignedWritesTest, WritesPiecesAsTheyComeWhenItCannotAlignThem) {
    const Bytes samples = testwave::RandomBytes(20000, 8);
    for (const auto& [granule, room] : {std::pair<std::size_t, std::size_t>{1024, kRoom}, {4096, 40}}) {
        EXPECT_EQ(WriteInPieces(samples, 5000, granule, room), samples);
        ASSERT_EQ(RecordedWrites::writes.size(), 4u);
        EXPECT_EQ(RecordedWrites::writes[1].offset, kWaveHeaderBytes + 5000);
    }
}

// A piece that does not continue the run writes what is held first, where
// it belongs, and starts a new run.
TEST_F(PageAlignedWritesTest, WritesTheHeldBytesBeforeAPieceElsewhere) {
    const Bytes samples = testwave::RandomBytes(3 * 8192, 9);
    auto opened = OpenWaveOutput(folder.Path("out.wav"), kWaveHeaderBytes + samples.size());
    ASSERT_TRUE(opened);
    ASSERT_FALSE(WriteWaveHeader(opened.output, Mono8(samples.size())));
    std::vector<uint8_t> memory(kRoom + 8192);
    uint8_t* const buffer = memory.data() + kRoom;
    PageAlignedWrites writes(4096, kRoom);
    // The pieces out of order: the last, then the first, then the middle.
    for (const std::size_t at : {16384u, 0u, 8192u}) {
        std::memcpy(buffer, samples.data() + at, 8192);
        ASSERT_FALSE(writes.Write(opened.output, at, buffer, 8192));
    }
    ASSERT_FALSE(writes.Finish(opened.output));
    ASSERT_FALSE(EndWaveSamples(opened.output, samples.size()));
    ASSERT_FALSE(CommitWaveOutput(opened.output));
    const Bytes file = folder.Read("out.wav").value_or(Bytes{});
    EXPECT_EQ(Bytes(file.begin() + kWaveHeaderBytes, file.end()), samples);
}

TEST(PowerOfTwoIn, GivesTheLargestPowerOfTwoThatDividesUpToTheMost) {
    EXPECT_EQ(PowerOfTwoIn(786432, 1 << 20), 262144u);  // 2^18 * 3
    EXPECT_EQ(PowerOfTwoIn(1 << 22, 1 << 20), 1u << 20);
    EXPECT_EQ(PowerOfTwoIn(6, 1 << 20), 2u);
    EXPECT_EQ(PowerOfTwoIn(0, 4096), 4096u);
}

}  // namespace
}  // namespace stereotools
