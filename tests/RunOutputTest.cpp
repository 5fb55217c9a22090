#include "cli/RunOutput.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace stereotools {
namespace {

TEST(FormatProgress, ShowsFilesShareAndSpeed) {
    struct Case {
        std::size_t filesDone, files;
        uint64_t bytesDone, bytes;
        double seconds;
        const char* line;
    };
    const Case cases[] = {
        {0, 200, 0, 1000, 0.0, "0 of 200 files, 0%, 0.0 MB/s"},
        {3, 200, 420, 1000, 2.0, "3 of 200 files, 42%, 0.0 MB/s"},
        {1, 2, 999'999, 1'000'000, 1.0, "1 of 2 files, 99%, 1.0 MB/s"},
        {2, 2, 1'000'000, 1'000'000, 0.5, "2 of 2 files, 100%, 2.0 MB/s"},
        {5, 5, 0, 0, 1.0, "5 of 5 files, 100%, 0.0 MB/s"},
        {1, 1, 3'000'000'000'000, 4'000'000'000'000, 10.0, "1 of 1 files, 75%, 300000.0 MB/s"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(FormatProgress(c.filesDone, c.files, c.bytesDone, c.bytes, c.seconds), c.line);
    }
}

// Items end in any order; their lines come out in the order of the items,
// and those held behind an item that never ran come out at the end.
TEST(RunOutput, PrintsEachItemsLinesInItemOrder) {
    testing::internal::CaptureStdout();
    {
        RunOutput output("stereorip", false);
        output.ItemLines(2, 5, {{stdout, "c"}});
        output.ItemLines(1, 5, {{stdout, "b1"}, {stdout, "b2"}});
        output.ItemLines(0, 5, {{stdout, "a"}});
        output.ItemLines(4, 5, {{stdout, "e"}});
        output.Line(stdout, "between");  // item 3 never ran: 4 waits for the end
        output.Finish();
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "stereorip: a\nstereorip: b1\nstereorip: b2\nstereorip: c\nstereorip: between\nstereorip: e\n");
}

}  // namespace
}  // namespace stereotools
