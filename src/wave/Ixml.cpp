#include "Ixml.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string_view>

namespace stereotools {
namespace {

// Comments, the declaration and blanks between elements are kept, so that
// an edited body differs from the input only where it was edited.
constexpr unsigned kParseOptions = pugi::parse_full | pugi::parse_ws_pcdata;

// Returns the text of `body`, less the NUL bytes that pad many iXML chunks.
std::string_view Unpadded(std::span<const uint8_t> body) {
    std::size_t length = body.size();
    while (length > 0 && body[length - 1] == 0) --length;
    return {reinterpret_cast<const char*>(body.data()), length};
}

// Parses `body`. Returns false when it is not XML or has no BWFXML root.
bool Parse(std::span<const uint8_t> body, pugi::xml_document& document) {
    const std::string_view text = Unpadded(body);
    const pugi::xml_parse_result parsed = document.load_buffer(text.data(), text.size(), kParseOptions);
    return parsed && document.child("BWFXML");
}

// Returns `document` as text, with the blanks that stood after the
// declaration and after the root element in `body`, the text it was parsed
// from: the parser keeps no node for them.
std::vector<uint8_t> Save(const pugi::xml_document& document, std::span<const uint8_t> body) {
    constexpr const char* kBlanks = " \t\r\n";
    std::ostringstream out;
    document.save(out, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    std::string text = out.str();
    const std::string_view source = Unpadded(body);
    if (source.starts_with("<?xml") && text.starts_with("<?xml")) {
        const std::size_t end = source.find("?>");
        const std::size_t saved = text.find("?>");
        if (end != std::string_view::npos && saved != std::string::npos) {
            const std::size_t next = std::min(source.find_first_not_of(kBlanks, end + 2), source.size());
            text.insert(saved + 2, source.substr(end + 2, next - (end + 2)));
        }
    }
    if (const std::size_t last = source.find_last_not_of(kBlanks); last != std::string_view::npos) {
        text += source.substr(last + 1);
    }
    return {text.begin(), text.end()};
}

// Returns the child `name` of `parent`, added at its end when missing.
pugi::xml_node Child(pugi::xml_node parent, const char* name) {
    pugi::xml_node child = parent.child(name);
    return child ? child : parent.append_child(name);
}

void SetText(pugi::xml_node parent, const char* name, const std::string& value) {
    Child(parent, name).text().set(value.c_str());
}

unsigned NumberIn(pugi::xml_node node) {
    const char* text = node.text().as_string();
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    return end != text && value <= 0xFFFFu ? static_cast<unsigned>(value) : 0;
}

// Returns the channel a TRACK is interleaved at (from 1): its
// INTERLEAVE_INDEX, else its `place` in TRACK_LIST.
unsigned InterleaveIndex(pugi::xml_node track, unsigned place) {
    const pugi::xml_node index = track.child("INTERLEAVE_INDEX");
    const unsigned number = index ? NumberIn(index) : 0;
    return number != 0 ? number : place;
}

std::vector<pugi::xml_node> Tracks(pugi::xml_node root) {
    std::vector<pugi::xml_node> tracks;
    for (pugi::xml_node track : root.child("TRACK_LIST").children("TRACK")) tracks.push_back(track);
    return tracks;
}

// Returns the FILE_SET_INDEX of file `index` (from 0): a letter where the
// input counted its files with letters, else a number from 1.
std::string FileSetIndex(pugi::xml_node fileSet, unsigned index) {
    const std::string given = fileSet.child("FILE_SET_INDEX").text().as_string();
    if (given.size() == 1 && given[0] >= 'A' && given[0] <= 'Z' && index < 26) {
        return std::string(1, static_cast<char>('A' + index));
    }
    return std::to_string(index + 1);
}

void SetHistory(pugi::xml_node root, const std::string& parentName, const std::string& parentUid) {
    pugi::xml_node history = Child(root, "HISTORY");
    SetText(history, "PARENT_FILENAME", parentName);
    if (!parentUid.empty()) {
        SetText(history, "PARENT_UID", parentUid);
    } else {
        history.remove_child("PARENT_UID");
    }
}

void SetFileSet(pugi::xml_node root, unsigned index, unsigned total, const std::string& familyUid) {
    pugi::xml_node fileSet = Child(root, "FILE_SET");
    const std::string setIndex = FileSetIndex(fileSet, index);
    SetText(fileSet, "TOTAL_FILES", std::to_string(total));
    if (!familyUid.empty()) SetText(fileSet, "FAMILY_UID", familyUid);
    SetText(fileSet, "FILE_SET_INDEX", setIndex);
}

}  // namespace

std::optional<std::map<unsigned, std::string>> IxmlTrackNames(std::span<const uint8_t> body) {
    pugi::xml_document document;
    if (!Parse(body, document)) return std::nullopt;
    std::map<unsigned, std::string> names;
    unsigned place = 0;
    for (pugi::xml_node track : Tracks(document.child("BWFXML"))) {
        ++place;
        const pugi::xml_node name = track.child("NAME");
        if (name) names.emplace(InterleaveIndex(track, place), name.text().as_string());
    }
    return names;
}

std::string IxmlFamilyUid(std::span<const uint8_t> body) {
    pugi::xml_document document;
    if (!Parse(body, document)) return {};
    const pugi::xml_node root = document.child("BWFXML");
    const std::string family = root.child("FILE_SET").child("FAMILY_UID").text().as_string();
    return family.empty() ? root.child("FILE_UID").text().as_string() : family;
}

std::optional<std::vector<uint8_t>> RewriteIxmlForSplit(std::span<const uint8_t> body, const IxmlSplitOutput& output) {
    pugi::xml_document document;
    if (!Parse(body, document)) return std::nullopt;
    pugi::xml_node root = document.child("BWFXML");
    const std::string parentUid = root.child("FILE_UID").text().as_string();

    if (pugi::xml_node list = root.child("TRACK_LIST")) {
        const std::vector<pugi::xml_node> tracks = Tracks(root);
        std::vector<pugi::xml_node> kept(output.channels.size());
        for (std::size_t place = 0; place < tracks.size(); ++place) {
            const unsigned channel = InterleaveIndex(tracks[place], static_cast<unsigned>(place + 1));
            const auto at = std::find(output.channels.begin(), output.channels.end(), channel - 1);
            if (at == output.channels.end() || kept[static_cast<std::size_t>(at - output.channels.begin())]) {
                list.remove_child(tracks[place]);
                continue;
            }
            kept[static_cast<std::size_t>(at - output.channels.begin())] = tracks[place];
        }
        // The kept tracks stand in the output's order, numbered as in it.
        unsigned count = 0;
        for (std::size_t k = 0; k < kept.size(); ++k) {
            if (!kept[k]) continue;
            list.append_move(kept[k]);
            SetText(kept[k], "INTERLEAVE_INDEX", std::to_string(k + 1));
            ++count;
        }
        if (pugi::xml_node trackCount = list.child("TRACK_COUNT")) {
            trackCount.text().set(std::to_string(count).c_str());
        } else {
            list.prepend_child("TRACK_COUNT").text().set(std::to_string(count).c_str());
        }
    }
    SetFileSet(root, output.fileIndex, output.totalFiles, output.familyUid);
    SetText(root, "FILE_UID", output.fileUid);
    SetHistory(root, output.parentName, parentUid);
    return Save(document, body);
}

std::optional<std::vector<uint8_t>> RewriteIxmlForJoin(const std::vector<IxmlJoinInput>& inputs,
                                                       const std::string& fileUid) {
    if (inputs.empty() || !inputs[0].body) return std::nullopt;
    pugi::xml_document document;
    if (!Parse(*inputs[0].body, document)) return std::nullopt;
    pugi::xml_node root = document.child("BWFXML");
    const std::string parentUid = root.child("FILE_UID").text().as_string();

    // The first input's TRACK_LIST keeps its place; its tracks are replaced.
    pugi::xml_node list = Child(root, "TRACK_LIST");
    for (pugi::xml_node track : Tracks(root)) list.remove_child(track);
    if (!list.child("TRACK_COUNT")) list.prepend_child("TRACK_COUNT");
    list.child("TRACK_COUNT").text().set(std::to_string(inputs.size()).c_str());
    for (std::size_t k = 0; k < inputs.size(); ++k) {
        pugi::xml_document other;
        pugi::xml_node given;
        if (k == 0) {
            // Parsed again: the first document's own tracks are gone.
            if (Parse(*inputs[0].body, other)) given = other.child("BWFXML").child("TRACK_LIST").child("TRACK");
        } else if (inputs[k].body && Parse(*inputs[k].body, other)) {
            given = other.child("BWFXML").child("TRACK_LIST").child("TRACK");
        }
        pugi::xml_node track = given ? list.append_copy(given) : list.append_child("TRACK");
        if (!given) {
            SetText(track, "CHANNEL_INDEX", std::to_string(k + 1));
            std::string name = inputs[k].fileName;
            if (const std::size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0) name.erase(dot);
            SetText(track, "NAME", name);
        }
        SetText(track, "INTERLEAVE_INDEX", std::to_string(k + 1));
    }
    SetFileSet(root, 0, 1, {});
    SetText(root, "FILE_UID", fileUid);
    SetHistory(root, inputs[0].fileName, parentUid);
    return Save(document, *inputs[0].body);
}

}  // namespace stereotools
