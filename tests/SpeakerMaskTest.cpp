#include "wave/SpeakerMask.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace stereotools {
namespace {

TEST(ReadSpeakerMask, ReadsNumbersAndSpeakerNames) {
    struct Case {
        const char* text;
        uint32_t mask;
    };
    const Case cases[] = {
        {"63", 0x3F},
        {"0x3F", 0x3F},
        {"0X3f", 0x3F},
        {"4294967295", 0xFFFFFFFF},
        {"FL,FR", 0x3},
        {"FL,FR,FC,LFE,BL,BR", 0x3F},
        {"fl,fr,fc,lfe,sl,sr", 0x60F},
        {"FC", 0x4},
        {"TBR", 0x20000},
        {"FL,FR,FC,LFE,BL,BR,FLC,FRC,BC,SL,SR,TC,TFL,TFC,TFR,TBL,TBC,TBR", 0x3FFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const SpeakerMaskRead read = ReadSpeakerMask(c.text);
        ASSERT_TRUE(read.mask) << read.error;
        EXPECT_EQ(*read.mask, c.mask);
    }
}

// Names out of order would say channel 1 is FR when the file makes it FL.
TEST(ReadSpeakerMask, RefusesWhatItCannotRead) {
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"", "the channel mask is empty"},
        {"4294967296", "invalid channel mask '4294967296'"},
        {"0x", "invalid channel mask '0x'"},
        {"0x1G", "invalid channel mask '0x1G'"},
        {"12abc", "invalid channel mask '12abc'"},
        {"FL,XX", "unknown speaker 'XX' in the channel mask"},
        {"FL,,FR", "unknown speaker '' in the channel mask"},
        {"FL,FR,", "unknown speaker '' in the channel mask"},
        {"-3", "unknown speaker '-3' in the channel mask"},
        {"FR,FL",
         "speaker 'FL' is out of order in the channel mask (FL FR FC LFE BL BR FLC FRC BC SL SR TC TFL TFC "
         "TFR TBL TBC TBR)"},
        {"FL,FL",
         "speaker 'FL' is out of order in the channel mask (FL FR FC LFE BL BR FLC FRC BC SL SR TC TFL TFC "
         "TFR TBL TBC TBR)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const SpeakerMaskRead read = ReadSpeakerMask(c.text);
        EXPECT_FALSE(read.mask);
        EXPECT_EQ(read.error, c.error);
    }
}

TEST(CountSpeakers, CountsTheBitsSet) {
    EXPECT_EQ(CountSpeakers(0), 0u);
    EXPECT_EQ(CountSpeakers(0x3F), 6u);
    EXPECT_EQ(CountSpeakers(0x80000001), 2u);
}

}  // namespace
}  // namespace stereotools
