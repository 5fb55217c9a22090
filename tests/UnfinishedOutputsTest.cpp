#include "support/TestWave.h"
#include "system/UnfinishedOutputs.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

namespace stereotools {
namespace {

class UnfinishedOutputsTest : public testwave::WithTempFolder {
protected:
    void SetUp() override { folderFd = ::open(folder.Path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC); }
    void TearDown() override { ::close(folderFd); }
    int folderFd = -1;
};

TEST_F(UnfinishedOutputsTest, RemovesWhatIsRecordedAndNotReleased) {
    folder.Write(".a.wav.XXXXXX", {1});
    folder.Write(".b.wav.XXXXXX", {2});
    folder.Write("a.wav", {3});
    const int kept = RecordUnfinishedOutput(folderFd, ".a.wav.XXXXXX");
    const int released = RecordUnfinishedOutput(folderFd, ".b.wav.XXXXXX");
    ASSERT_GE(kept, 0);
    ASSERT_GE(released, 0);
    EXPECT_NE(kept, released);
    ReleaseUnfinishedOutput(released);
    RemoveUnfinishedOutputs();
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{".b.wav.XXXXXX", "a.wav"}));
    // The owner's release after the removal frees the slot for the next output.
    ReleaseUnfinishedOutput(kept);
    folder.Write(".c.wav.XXXXXX", {4});
    const int again = RecordUnfinishedOutput(folderFd, ".c.wav.XXXXXX");
    ASSERT_GE(again, 0);
    ReleaseUnfinishedOutput(again);
    RemoveUnfinishedOutputs();
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{".b.wav.XXXXXX", ".c.wav.XXXXXX", "a.wav"}));
}

TEST_F(UnfinishedOutputsTest, RefusesWhatCannotNameAFileInTheFolder) {
    for (const std::string& name :
         {std::string(), std::string("sub/.x"), std::string(256, 'n'), std::string("nul\0name", 8)}) {
        SCOPED_TRACE(name.size());
        EXPECT_EQ(RecordUnfinishedOutput(folderFd, name), -1);
    }
    EXPECT_EQ(RecordUnfinishedOutput(-1, ".x"), -1);
    const int longest = RecordUnfinishedOutput(folderFd, std::string(255, 'n'));
    EXPECT_GE(longest, 0);
    ReleaseUnfinishedOutput(longest);
    ReleaseUnfinishedOutput(-1);
}

TEST_F(UnfinishedOutputsTest, TakesOutputsUpToItsSlotsThenAgainAfterARelease) {
    std::vector<int> slots;
    for (std::size_t i = 0; i < kMaxUnfinishedOutputs; ++i) slots.push_back(RecordUnfinishedOutput(folderFd, ".x"));
    EXPECT_EQ(std::count(slots.begin(), slots.end(), -1), 0);
    EXPECT_EQ(RecordUnfinishedOutput(folderFd, ".y"), -1);
    ReleaseUnfinishedOutput(slots[7]);
    EXPECT_EQ(RecordUnfinishedOutput(folderFd, ".y"), slots[7]);
    for (const int slot : slots) ReleaseUnfinishedOutput(slot);
}

}  // namespace
}  // namespace stereotools
