#include "console/CellWidth.h"

#include <gtest/gtest.h>

namespace stereotools {
namespace {

TEST(WideCellWidth, GivesTwoCellsToWideAndEmojiCharacters) {
    struct Case {
        char32_t codePoint;
        int width;
    };
    const Case kCases[] = {
        {U'A', 1},       {0x00E9, 1},  {0x10FF, 1},  {0x1100, 2},  {0x115F, 2},  {0x1160, 1},  {0x2E80, 2},
        {0x3000, 2},     {0x303F, 1},  {0x3042, 2},  {0x4E2D, 2},  {0x9FFF, 2},  {0xAC00, 2},  {0xD7A3, 2},
        {0xD7A4, 1},     {0xFF01, 2},  {0xFF60, 2},  {0xFF61, 1},  {0xFFE6, 2},  {0xFFFD, 1},  {0x1F300, 2},
        {0x1F600, 2},    {0x1F64F, 2}, {0x1F680, 2}, {0x1F90D, 2}, {0x20000, 2}, {0x2FFFD, 2}, {0x3FFFD, 2},
        {0x10FFFF, 1},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(static_cast<uint32_t>(c.codePoint));
        EXPECT_EQ(WideCellWidth(c.codePoint), c.width);
    }
}

TEST(WideCellWidth, MeasuresMarksSymbolsAndNewerWideCharactersAsTerminalsShowThem) {
    struct Case {
        char32_t codePoint;
        int width;
    };
    const Case kCases[] = {
        {0x3029, 2},  {0x302A, 1},  {0x302D, 1},  {0x302E, 2},  {0x3098, 2},   {0x3099, 1},   {0x309A, 1},
        {0x309B, 2},  {0x4DBF, 2},  {0x4DC0, 2},  {0x4DFF, 2},  {0x16FE3, 2},  {0x16FE4, 1},  {0x16FF0, 2},
        {0x18D08, 2}, {0x18D09, 1}, {0x1AFF0, 2}, {0x1AFF4, 1}, {0x1F320, 2},  {0x1F321, 1},  {0x1F32C, 1},
        {0x1F32D, 2}, {0x1F5FA, 1}, {0x1F5FB, 2}, {0x1F7F0, 2}, {0x1F90B, 1},  {0x1F90C, 2},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(static_cast<uint32_t>(c.codePoint));
        EXPECT_EQ(WideCellWidth(c.codePoint), c.width);
    }
}

}  // namespace
}  // namespace stereotools
