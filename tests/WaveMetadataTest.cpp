#include "wave/Ixml.h"
#include "wave/WaveMetadata.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <cstring>
#include <string>
#include <vector>

namespace stereotools {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes BytesOf(const std::string& text) { return {text.begin(), text.end()}; }

void PutLe(Bytes& out, std::size_t at, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) out[at + static_cast<std::size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t Le(const Bytes& in, std::size_t at, int width) {
    uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = (value << 8) | in[at + static_cast<std::size_t>(i)];
    return value;
}

Bytes Bext(const std::string& description, uint64_t timeReference, uint16_t version, const std::string& history) {
    Bytes body(kBextFixedBytes, 0);
    std::memcpy(body.data(), description.data(), description.size());
    PutLe(body, 338, timeReference, 8);
    PutLe(body, 346, version, 2);
    for (std::size_t i = 0; i < 5; ++i) PutLe(body, 412 + 2 * i, 0x0100 + i, 2);
    body.resize(kBextFixedBytes + history.size());
    std::copy(history.begin(), history.end(), body.begin() + kBextFixedBytes);
    return body;
}

std::string Description(const Bytes& body) {
    std::string text(body.begin(), body.begin() + 256);
    return text.substr(0, text.find('\0'));
}

std::string History(const Bytes& body) { return std::string(body.begin() + kBextFixedBytes, body.end()); }

TEST(ChunkRuleFor, SaysWhatEachKindOfChunkBecomes) {
    for (const char* id : {"fmt ", "data", "fact", "ds64", "JUNK", "PAD ", "FLLR"}) {
        EXPECT_EQ(ChunkRuleFor(id, 10), ChunkRule::Never) << id;
    }
    EXPECT_EQ(ChunkRuleFor("LIST", 4), ChunkRule::Never);
    for (const char* id : {"LIST", "cue ", "smpl", "inst", "cart", "id3 ", "ID3 ", "_PMX", "abcd"}) {
        EXPECT_EQ(ChunkRuleFor(id, 10), ChunkRule::Carried) << id;
    }
    for (const char* id : {"bext", "iXML", "PEAK", "chna"}) EXPECT_EQ(ChunkRuleFor(id, 10), ChunkRule::Rewritten) << id;
    for (const char* id : {"levl", "axml"}) EXPECT_EQ(ChunkRuleFor(id, 10), ChunkRule::Dropped) << id;
    // libsndfile stops reading at an id that is not text, and loses the samples behind it.
    EXPECT_EQ(ChunkRuleFor(std::string("\x01\x02\x03\x04", 4), 10), ChunkRule::Dropped);
    EXPECT_EQ(ChunkIdForLine(std::string("\x01\x02\x03\x04", 4)), "0x01020304");
}

TEST(RewriteBext, KeepsTheOutputsTrackLinesRenumberedAndAppendsOneHistoryLine) {
    const Bytes body = Bext("sTRK1=Boom\r\nsTRK2=Lav1\r\nsTRK3=Lav2\r\nzNOTE=wind\r\n", 172800000, 2,
                            "A=PCM,F=48000,W=24,M=multichannel,T=Recorder\r\n");
    BextRewrite rewrite;
    rewrite.tracks = {3};
    rewrite.markLoudnessUnknown = true;
    rewrite.history = CodingHistoryLine({.channels = 1, .sampleRate = 48000, .bitsPerSample = 24}, "stereorip 1.1.0",
                                        "channel 3 of T01.WAV");
    const Bytes out = RewriteBext(body, rewrite);
    EXPECT_EQ(Description(out), "sTRK1=Lav2\r\nzNOTE=wind\r\n");
    EXPECT_EQ(BextTimeReference(out), 172800000u);
    // Originator to UMID are untouched; the loudness says "not computed".
    EXPECT_TRUE(std::equal(body.begin() + 256, body.begin() + 412, out.begin() + 256));
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(Le(out, 412 + 2 * i, 2), 0x7FFFu);
    EXPECT_EQ(History(out),
              "A=PCM,F=48000,W=24,M=multichannel,T=Recorder\r\n"
              "A=PCM,F=48000,W=24,M=mono,T=stereorip 1.1.0; channel 3 of T01.WAV\r\n");
}

TEST(RewriteBext, EdgeCases) {
    // Version 1 has no loudness fields: those bytes are reserved and stay.
    const Bytes versionOne = Bext("", 0, 1, "");
    BextRewrite mark;
    mark.markLoudnessUnknown = true;
    EXPECT_TRUE(std::equal(versionOne.begin(), versionOne.end(), RewriteBext(versionOne, mark).begin()));
    // A history without its last CR LF, padded with NULs, gets one before the new line.
    std::string padded = "A=PCM,F=44100";
    padded.append(6, '\0');
    BextRewrite line;
    line.history = "T=x";
    EXPECT_EQ(History(RewriteBext(Bext("", 0, 0, padded), line)), "A=PCM,F=44100\r\nT=x\r\n");
    // A join adds the other inputs' names behind the first one's line.
    BextRewrite join;
    join.tracks = {1};
    join.addedNames = {{2, "Lav1"}};
    EXPECT_EQ(Description(RewriteBext(Bext("sTRK1=Boom\nscene 4", 0, 0, ""), join)), "sTRK1=Boom\nsTRK2=Lav1\nscene 4");
    // A body shorter than its fixed fields is not read as one.
    const Bytes shortBody(100, 'x');
    EXPECT_EQ(RewriteBext(shortBody, line), shortBody);
    EXPECT_FALSE(BextTimeReference(shortBody));
}

TEST(DescribeStartTime, GivesHoursMinutesSecondsAndFrames) {
    EXPECT_EQ(DescribeStartTime(uint64_t{36000} * 48000 + 24000, 48000), "10:00:00 and 24000 frames");
    EXPECT_EQ(DescribeStartTime(61 * 44100 + 1, 44100), "00:01:01 and 1 frames");
}

TEST(PeakEntries, EachOutputGetsItsOwnChannelsAndAJoinAllOfThem) {
    Bytes stereo(8 + 16);
    PutLe(stereo, 0, 1, 4);
    PutLe(stereo, 4, 99, 4);
    for (std::size_t i = 0; i < 16; ++i) stereo[8 + i] = static_cast<uint8_t>(0xA0 + i);
    const auto right = SelectPeakEntries(stereo, 2, {1});
    ASSERT_TRUE(right);
    Bytes expected(stereo.begin(), stereo.begin() + 8);
    expected.insert(expected.end(), stereo.begin() + 16, stereo.end());
    EXPECT_EQ(*right, expected);
    const auto left = SelectPeakEntries(stereo, 2, {0});
    ASSERT_TRUE(left);
    EXPECT_EQ(JoinPeakEntries({*left, *right}), stereo);
    // A PEAK of another channel count matches no output: left out.
    EXPECT_FALSE(SelectPeakEntries(stereo, 3, {0}));
    EXPECT_FALSE(JoinPeakEntries({*left, stereo}));
}

TEST(ChnaTracks, KeepsTheOutputsTracksRenumbered) {
    // Three tracks, track 2 with two entries, and an unused slot.
    Bytes body(4 + 5 * 40, 0);
    PutLe(body, 0, 3, 2);
    PutLe(body, 2, 4, 2);
    const unsigned tracks[] = {1, 2, 2, 3};
    for (std::size_t e = 0; e < 4; ++e) {
        PutLe(body, 4 + 40 * e, tracks[e], 2);
        body[4 + 40 * e + 2] = static_cast<uint8_t>('a' + e);
    }
    const auto second = SelectChnaTracks(body, {1});
    ASSERT_TRUE(second);
    ASSERT_EQ(second->size(), 4u + 2 * 40);
    EXPECT_EQ(Le(*second, 0, 2), 1u);
    EXPECT_EQ(Le(*second, 2, 2), 2u);
    EXPECT_EQ(Le(*second, 4, 2), 1u);
    EXPECT_EQ((*second)[6], 'b');
    EXPECT_EQ(Le(*second, 44, 2), 1u);
    EXPECT_EQ((*second)[46], 'c');
    const auto third = SelectChnaTracks(body, {2});
    ASSERT_TRUE(third);
    const auto joined = JoinChnaTracks({*second, *third});
    ASSERT_TRUE(joined);
    EXPECT_EQ(Le(*joined, 0, 2), 2u);
    EXPECT_EQ(Le(*joined, 2, 2), 3u);
    EXPECT_EQ(Le(*joined, 4 + 80, 2), 2u);
    // More entries than the body holds: not a chna to trust.
    Bytes cut(body.begin(), body.begin() + 4 + 40);
    EXPECT_FALSE(SelectChnaTracks(cut, {0}));
}

const char kPolyIxml[] =
    "<?xml version=\"1.0\"?>\n<BWFXML><PROJECT>Harbour</PROJECT><FILE_UID>IN01</FILE_UID>"
    "<TRACK_LIST><TRACK_COUNT>4</TRACK_COUNT>"
    "<TRACK><CHANNEL_INDEX>1</CHANNEL_INDEX><INTERLEAVE_INDEX>1</INTERLEAVE_INDEX><NAME>Mix L</NAME></TRACK>"
    "<TRACK><CHANNEL_INDEX>2</CHANNEL_INDEX><INTERLEAVE_INDEX>2</INTERLEAVE_INDEX><NAME>Mix R</NAME></TRACK>"
    "<TRACK><CHANNEL_INDEX>3</CHANNEL_INDEX><INTERLEAVE_INDEX>3</INTERLEAVE_INDEX><NAME>Boom</NAME>"
    "<FUNCTION>M</FUNCTION></TRACK>"
    "<TRACK><CHANNEL_INDEX>4</CHANNEL_INDEX><INTERLEAVE_INDEX>4</INTERLEAVE_INDEX><NAME>Lav1</NAME></TRACK>"
    "</TRACK_LIST><!-- recorder note --></BWFXML>\n";

pugi::xml_node Root(pugi::xml_document& document, const Bytes& body) {
    EXPECT_TRUE(document.load_buffer(body.data(), body.size(), pugi::parse_full));
    return document.child("BWFXML");
}

TEST(RewriteIxmlForSplit, HoldsTheOutputsTrackAndItsPlaceInTheFileSet) {
    const Bytes input = BytesOf(kPolyIxml);
    const IxmlSplitOutput output{{2}, 2, 4, IxmlFamilyUid(input), "NEW3", "T01.WAV"};
    EXPECT_EQ(output.familyUid, "IN01");  // no FAMILY_UID: the input's FILE_UID
    const auto body = RewriteIxmlForSplit(input, output);
    ASSERT_TRUE(body);
    pugi::xml_document document;
    const pugi::xml_node root = Root(document, *body);
    EXPECT_STREQ(root.child_value("PROJECT"), "Harbour");
    EXPECT_STREQ(root.child_value("FILE_UID"), "NEW3");
    const pugi::xml_node list = root.child("TRACK_LIST");
    EXPECT_STREQ(list.child_value("TRACK_COUNT"), "1");
    std::vector<std::string> names;
    for (const pugi::xml_node track : list.children("TRACK")) names.push_back(track.child_value("NAME"));
    EXPECT_EQ(names, std::vector<std::string>{"Boom"});
    const pugi::xml_node track = list.child("TRACK");
    EXPECT_STREQ(track.child_value("CHANNEL_INDEX"), "3");
    EXPECT_STREQ(track.child_value("INTERLEAVE_INDEX"), "1");
    EXPECT_STREQ(track.child_value("FUNCTION"), "M");
    EXPECT_STREQ(root.child("FILE_SET").child_value("TOTAL_FILES"), "4");
    EXPECT_STREQ(root.child("FILE_SET").child_value("FILE_SET_INDEX"), "3");
    EXPECT_STREQ(root.child("FILE_SET").child_value("FAMILY_UID"), "IN01");
    EXPECT_STREQ(root.child("HISTORY").child_value("PARENT_FILENAME"), "T01.WAV");
    EXPECT_STREQ(root.child("HISTORY").child_value("PARENT_UID"), "IN01");
    // What the rewrite does not name stays, comments too, and the line breaks
    // after the declaration and the root element.
    bool commentKept = false;
    for (const pugi::xml_node node : root.children()) commentKept |= node.type() == pugi::node_comment;
    EXPECT_TRUE(commentKept);
    const std::string text(body->begin(), body->end());
    EXPECT_TRUE(text.starts_with("<?xml version=\"1.0\"?>\n<BWFXML>")) << text;
    EXPECT_TRUE(text.ends_with("</BWFXML>\n")) << text;
}

TEST(RewriteIxmlForSplit, EdgeCases) {
    // Tracks without INTERLEAVE_INDEX stand at their place in the list.
    const Bytes unnumbered = BytesOf(
        "<BWFXML><TRACK_LIST><TRACK><NAME>a</NAME></TRACK><TRACK><NAME>b</NAME></TRACK>"
        "</TRACK_LIST></BWFXML>");
    const auto names = IxmlTrackNames(unnumbered);
    ASSERT_TRUE(names);
    EXPECT_EQ(names->at(2), "b");
    const auto second = RewriteIxmlForSplit(unnumbered, {{1}, 1, 2, "F", "U", "x.wav"});
    ASSERT_TRUE(second);
    pugi::xml_document document;
    const pugi::xml_node track = Root(document, *second).child("TRACK_LIST").child("TRACK");
    EXPECT_STREQ(track.child_value("NAME"), "b");
    EXPECT_STREQ(track.child_value("INTERLEAVE_INDEX"), "1");
    EXPECT_FALSE(track.next_sibling("TRACK"));
    // Letters count the files where the input counted with letters.
    const Bytes lettered = BytesOf("<BWFXML><FILE_SET><FILE_SET_INDEX>A</FILE_SET_INDEX></FILE_SET></BWFXML>");
    pugi::xml_document letters;
    const auto fourth = RewriteIxmlForSplit(lettered, {{3}, 3, 4, "F", "U", "x.wav"});
    ASSERT_TRUE(fourth);
    EXPECT_STREQ(Root(letters, *fourth).child("FILE_SET").child_value("FILE_SET_INDEX"), "D");
    // Not XML, or XML of another kind: none.
    EXPECT_FALSE(RewriteIxmlForSplit(BytesOf("<BWFXML><TRACK_LIST>"), {{0}, 0, 1, "F", "U", "x"}));
    EXPECT_FALSE(RewriteIxmlForSplit(BytesOf("<other/>"), {{0}, 0, 1, "F", "U", "x"}));
}

TEST(RewriteIxmlForJoin, ListsOneTrackPerInputInOrder) {
    const Bytes first = BytesOf(
        "<BWFXML><FILE_UID>A1</FILE_UID><TRACK_LIST><TRACK_COUNT>1</TRACK_COUNT><TRACK>"
        "<CHANNEL_INDEX>3</CHANNEL_INDEX><INTERLEAVE_INDEX>1</INTERLEAVE_INDEX>"
        "<NAME>Boom</NAME></TRACK></TRACK_LIST><FILE_SET><TOTAL_FILES>4</TOTAL_FILES>"
        "<FAMILY_UID>FAM</FAMILY_UID><FILE_SET_INDEX>3</FILE_SET_INDEX></FILE_SET></BWFXML>");
    const auto body = RewriteIxmlForJoin({{first, "T01_3.wav"}, {std::nullopt, "T01_4.wav"}}, "JOINED");
    ASSERT_TRUE(body);
    pugi::xml_document document;
    const pugi::xml_node root = Root(document, *body);
    std::vector<std::string> tracks;
    for (const pugi::xml_node track : root.child("TRACK_LIST").children("TRACK")) {
        tracks.push_back(std::string(track.child_value("NAME")) + "/" + track.child_value("CHANNEL_INDEX") + "/" +
                         track.child_value("INTERLEAVE_INDEX"));
    }
    EXPECT_EQ(tracks, (std::vector<std::string>{"Boom/3/1", "T01_4/2/2"}));
    EXPECT_STREQ(root.child("TRACK_LIST").child_value("TRACK_COUNT"), "2");
    EXPECT_STREQ(root.child("FILE_SET").child_value("TOTAL_FILES"), "1");
    EXPECT_STREQ(root.child("FILE_SET").child_value("FAMILY_UID"), "FAM");
    EXPECT_STREQ(root.child_value("FILE_UID"), "JOINED");
    EXPECT_STREQ(root.child("HISTORY").child_value("PARENT_UID"), "A1");
    EXPECT_FALSE(RewriteIxmlForJoin({{std::nullopt, "a.wav"}, {first, "b.wav"}}, "J"));
}

// A four-channel recording's metadata, as LoadRewrittenBodies leaves it.
MetadataSource PolySource() {
    MetadataSource source;
    source.name = "take/T01.WAV";
    source.info.channels = 4;
    source.info.sampleRate = 48000;
    source.info.bitsPerSample = 24;
    const auto held = [](const char* id, Bytes body) {
        WaveChunk chunk{id, 0, static_cast<uint32_t>(body.size())};
        chunk.held = true;
        chunk.body = std::move(body);
        return chunk;
    };
    source.metadata.beforeData = {held("bext", Bext("sTRK1=MixL\nsTRK4=Lav\n", 480000, 2, "")),
                                  held("iXML", BytesOf("<BWFXML><TRACK_LIST><TRACK><INTERLEAVE_INDEX>3"
                                                       "</INTERLEAVE_INDEX><NAME>Boom</NAME></TRACK></TRACK_LIST>"
                                                       "</BWFXML>")),
                                  {"levl", 1000, 20}};
    source.metadata.beforeFmt = 0;
    source.metadata.afterData = {held("PEAK", Bytes(8 + 4 * 8, 1)), {"cue ", 2000, 28}};
    return source;
}

TEST(ChannelTrackNames, TakesIxmlThenBextAndLeavesTheRestUnnamed) {
    WaveChunk bext{"bext", 0, 0};
    bext.held = true;
    bext.body = Bext("sTRK1=MixL\nsTRK2=Boom2\n", 0, 1, "");
    WaveChunk ixml{"iXML", 0, 0};
    ixml.held = true;
    // An empty iXML NAME names nothing: the bext line stands.
    ixml.body = BytesOf(
        "<BWFXML><TRACK_LIST><TRACK><INTERLEAVE_INDEX>1</INTERLEAVE_INDEX><NAME></NAME></TRACK>"
        "<TRACK><INTERLEAVE_INDEX>2</INTERLEAVE_INDEX><NAME>Boom</NAME></TRACK></TRACK_LIST></BWFXML>");
    WaveMetadata metadata;
    metadata.beforeData = {bext, ixml};
    EXPECT_EQ(ChannelTrackNames(metadata, 3), (std::vector<std::string>{"MixL", "Boom", ""}));
    // Bodies not held (too large to read) give no names.
    metadata.beforeData[0].held = metadata.beforeData[1].held = false;
    EXPECT_EQ(ChannelTrackNames(metadata, 2), (std::vector<std::string>{"", ""}));
}

TEST(ShapeSplitMetadata, GivesEachOutputItsChunksNamesAndStart) {
    WaveFormatInfo mono;
    mono.channels = 1;
    mono.sampleRate = 48000;
    mono.bitsPerSample = 24;
    int uids = 0;
    const MetadataStep step{"stereorip 1.1.0", [&] { return "UID" + std::to_string(++uids); }};
    const std::vector<OutputMetadata> outputs = ShapeSplitMetadata(PolySource(), {0, 2, 3}, {mono, mono, mono}, step);
    ASSERT_EQ(outputs.size(), 3u);
    // Names: iXML's, else the bext line's, else the channel's number.
    EXPECT_EQ(outputs[0].trackNames, std::vector<std::string>{"MixL"});
    EXPECT_EQ(outputs[1].trackNames, std::vector<std::string>{"Boom"});
    EXPECT_EQ(outputs[2].trackNames, std::vector<std::string>{"Lav"});
    for (const OutputMetadata& output : outputs) {
        EXPECT_EQ(output.timeReference, 480000u);
        EXPECT_EQ(output.carried, std::vector<std::string>{"cue "});
        EXPECT_EQ(output.rewritten, (std::vector<std::string>{"bext", "iXML", "PEAK"}));
        EXPECT_EQ(output.dropped, std::vector<std::string>{"levl"});
        ASSERT_EQ(output.metadata.beforeData.size(), 2u);
        EXPECT_EQ(output.metadata.afterData.back(), (WaveChunk{"cue ", 2000, 28}));
        EXPECT_EQ(output.metadata.afterData.front().size, 16u);
        EXPECT_EQ(output.notes.size(), 1u);
    }
    EXPECT_EQ(Description(outputs[2].metadata.beforeData[0].body), "sTRK1=Lav\n");
    EXPECT_NE(History(outputs[1].metadata.beforeData[0].body).find("channel 3 of T01.WAV"), std::string::npos);
}

}  // namespace
}  // namespace stereotools
