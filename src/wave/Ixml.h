#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace stereotools {

// What the iXML chunk of a recording says of its tracks and its file set,
// and how it is made anew for a file of some of its tracks. Everything the
// rewrite does not name is kept as it was. A body that does not parse as
// XML gives none.

// Returns the track names of an iXML body by the channel they are
// interleaved at (from 1); a TRACK without INTERLEAVE_INDEX stands at its
// place in TRACK_LIST.
[[nodiscard]] std::optional<std::map<unsigned, std::string>> IxmlTrackNames(std::span<const uint8_t> body);

// Returns the FAMILY_UID that the outputs of a split share: the input's,
// else its FILE_UID; "" when it has neither or does not parse.
[[nodiscard]] std::string IxmlFamilyUid(std::span<const uint8_t> body);

// One output of a split, for its iXML.
struct IxmlSplitOutput {
    std::vector<unsigned> channels;  // the input's channels it holds, counted from 0, in order
    unsigned fileIndex = 0;          // its place among the split's outputs, from 0
    unsigned totalFiles = 1;         // the split's outputs
    std::string familyUid;           // shared by the split's outputs
    std::string fileUid;             // its own, new
    std::string parentName;          // the input's file name
};

// Returns the iXML of one output of a split of `body`: TRACK_LIST holds the
// output's tracks alone (INTERLEAVE_INDEX renumbered from 1; CHANNEL_INDEX,
// NAME and FUNCTION kept) and TRACK_COUNT matches; FILE_SET says the file's
// place in the split; FILE_UID is the output's; HISTORY names the input as
// parent (PARENT_FILENAME, PARENT_UID when the input has a FILE_UID).
[[nodiscard]] std::optional<std::vector<uint8_t>> RewriteIxmlForSplit(std::span<const uint8_t> body,
                                                                      const IxmlSplitOutput& output);

// One input of a join, for the output's iXML.
struct IxmlJoinInput {
    std::optional<std::span<const uint8_t>> body;  // its iXML, if it has one
    std::string fileName;                          // its file name, less the folder
};

// Returns the iXML of a join: the first input's, its TRACK_LIST made of one
// TRACK per input in order (the input's first TRACK, or one named after its
// file), INTERLEAVE_INDEX from 1, TRACK_COUNT to match, FILE_SET of one
// file, a new FILE_UID, HISTORY naming the first input as parent. None when
// the first input's iXML does not parse; an input's iXML that does not
// parse counts as none.
[[nodiscard]] std::optional<std::vector<uint8_t>> RewriteIxmlForJoin(const std::vector<IxmlJoinInput>& inputs,
                                                                     const std::string& fileUid);

}  // namespace stereotools
