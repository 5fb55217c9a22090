#include "support/TestWave.h"
#include "system/Paths.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using stereotools::BaseNameOf;
using stereotools::FolderOf;

TEST(PathParts, SplitAtTheLastSlash) {
    const struct {
        const char* path;
        const char* folder;
        const char* base;
    } cases[] = {
        {"take.wav", ".", "take.wav"},
        {"a/b/take.wav", "a/b", "take.wav"},
        {"/take.wav", "/", "take.wav"},
        {"a/", "a", ""},
        {"", ".", ""},
        {"a//b", "a/", "b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(FolderOf(c.path), c.folder);
        EXPECT_EQ(BaseNameOf(c.path), c.base);
    }
}

class PathNamesFile : public testwave::WithTempFolder {};

TEST_F(PathNamesFile, TellsNamesOfOneFileFromOthers) {
    const std::string take = folder.Write("take.wav", {1});
    const std::string copy = folder.Write("copy.wav", {1});
    ASSERT_EQ(::symlink("take.wav", folder.Path("link.wav").c_str()), 0);
    struct stat status {};
    ASSERT_EQ(::stat(take.c_str(), &status), 0);
    EXPECT_TRUE(stereotools::PathNamesFile(take, status));
    EXPECT_TRUE(stereotools::PathNamesFile(folder.Path("link.wav"), status)) << "links are followed";
    EXPECT_FALSE(stereotools::PathNamesFile(copy, status)) << "same bytes, another file";
    EXPECT_FALSE(stereotools::PathNamesFile(folder.Path("missing.wav"), status));
}

}  // namespace
