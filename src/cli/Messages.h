#pragma once

#include "system/FileIo.h"
#include "system/Text.h"

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace stereotools {

// The texts the command line prints of its own, besides those it shares
// with the dialogue. Each "{}" in a text stands for a value filled in.
enum class CliMessage {
    FileNotFound,       // an input that does not exist, and the system's reason
    CannotRead,         // an input that exists but cannot be read, and why
    InputIsFolder,      // an input that names a folder
    InputIsPipe,        // an input that names a named pipe
    InputIsDevice,      // an input that names a device
    InputIsSocket,      // an input that names a socket
    ZeroFilled,         // an input whose header declares more samples than the file holds
    Incompatible,       // the dialogue's incompatibility text and the two values
    IncompatibleFiles,  // which file of a join of many the first is incompatible with
    NoSuchChannel,      // a channel chosen that the file lacks: its channels and the number
    MaskMismatch,       // a take of other than as many files as the channel mask names speakers
    OutputTwiceInItem,  // two outputs of one input under one name
    OutputExists,       // an output that exists, without --force
    OutputTwice,        // an output an earlier input of the run writes too
    OutputFolder,       // an -o folder that cannot be used, and why
    NotAFolder,         // the reason for an -o name that is no folder
    Wrote,              // the outputs written, as a list (NameList)
    WouldWrite,         // what a dry run would write
    LeftOutSilent,      // the line of the outputs written, then "channel 2" or "channels 2 and 4" left out
    LeftOutSilentOnly,  // a split whose every channel chosen was silent: "channel 2" or "channels ..."
    Facts,              // a dry run's facts of one input
    MetadataListing,    // a dry run's metadata of one output, with --keep-metadata
    StartsAt,           // an output's start time, from its bext
    NoStartTime,        // an output without a bext start time
    Progress,           // the progress line on a terminal
    UsageHint,          // the line after a usage error
    OutputFailed,       // standard output could not be written (the last: tests walk up to it)
};

// Returns the text of `message` with its "{}" replaced by `values` in order.
[[nodiscard]] std::string CliText(CliMessage message, std::initializer_list<std::string_view> values = {});

// Returns the quoted `names` as a list: "'a'", "'a' and 'b'", "'a', 'b' and 'c'".
[[nodiscard]] std::string NameList(const std::vector<std::string>& names);

// Returns `numbers` as a list: "2", "2 and 4", "1, 2 and 4".
[[nodiscard]] std::string NumberList(const std::vector<unsigned>& numbers);

// Returns `name` as one shell word that stands for it, as `ls
// --quoting-style=shell-escape-always` prints it: in single quotes, a quote
// as '\'', and control characters, bytes of no UTF-8 character and C1
// controls as $'\n' or $'\033', e.g. 'new'$'\n''line'. Nothing in it moves
// a terminal's cursor or starts an escape sequence.
[[nodiscard]] std::string QuotedName(std::string_view name);

// Returns `name` as it stands where a line starts with it ("NAME: text"):
// unchanged when it holds nothing QuotedName escapes, else QuotedName.
[[nodiscard]] std::string NameForLine(std::string_view name);

// Returns the message of `error` as a line prints it: without the blanks
// around it, its file name quoted as QuotedName quotes it.
[[nodiscard]] std::string DescribeForLine(const IoError& error);

}  // namespace stereotools
