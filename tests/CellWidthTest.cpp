#include "console/CellWidth.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cwchar>
#include <string>

namespace stereotools {
namespace {

bool IsSurrogate(char32_t codePoint) { return codePoint >= 0xD800 && codePoint <= 0xDFFF; }

// Every code point the C library gives a width of one or two cells takes as
// many here: the library's table, not ours retyped, is the oracle.
TEST(WideCellWidth, AgreesWithTheCLibraryWhereverItGivesAWidth) {
    const char* const previous = std::setlocale(LC_CTYPE, nullptr);
    const std::string saved = previous != nullptr ? previous : "C";
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) GTEST_SKIP() << "no C.UTF-8 locale";
    std::size_t compared = 0;
    std::size_t wide = 0;
    for (char32_t codePoint = 0x20; codePoint <= 0x10FFFF; ++codePoint) {
        if (IsSurrogate(codePoint)) continue;
        const int expected = ::wcwidth(static_cast<wchar_t>(codePoint));
        if (expected < 1) continue;
        ++compared;
        wide += expected == 2;
        ASSERT_EQ(WideCellWidth(codePoint), expected) << std::hex << static_cast<uint32_t>(codePoint);
    }
    std::setlocale(LC_CTYPE, saved.c_str());
    // The walk saw the whole table, wide characters included.
    EXPECT_GT(compared, 100000u);
    EXPECT_GT(wide, 90000u);
}

// Where the C library gives no width (unassigned code points, marks that
// join the character before), each takes the cells terminals give it.
TEST(WideCellWidth, GivesTheCellsTerminalsShowWhereTheCLibraryGivesNone) {
    struct Case {
        char32_t codePoint;
        int width;
    };
    const Case kCases[] = {
        {0x1160, 1}, {0x302A, 1},  {0x302D, 1},  {0x3099, 1},   {0x309A, 1}, {0x16FE4, 1},  // marks
        {0x3098, 2}, {0x2FFFD, 2}, {0x3FFFD, 2},                 // unassigned inside wide blocks and planes
        {0xD7A4, 1}, {0x18D09, 1}, {0x1AFF4, 1}, {0x10FFFF, 1},  // unassigned elsewhere
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(static_cast<uint32_t>(c.codePoint));
        EXPECT_EQ(WideCellWidth(c.codePoint), c.width);
    }
}

}  // namespace
}  // namespace stereotools
