#pragma once

#include "system/Text.h"

#include <initializer_list>
#include <string>
#include <string_view>

namespace stereotools {

// The texts the command line prints of its own, besides those it shares
// with the dialogue. Each "{}" in a text stands for a value filled in.
enum class CliMessage {
    FileNotFound,     // an input that cannot be opened, and the system's reason
    OutputExists,     // an output that exists, without --force
    OutputTwice,      // an output an earlier input of the run writes too
    OutputFolder,     // an -o folder that cannot be used, and why
    NotAFolder,       // the reason for an -o name that is no folder
    Wrote,            // one output written
    WroteTwo,         // both outputs of a split written
    WouldWrite,       // what a dry run would write: one output
    WouldWriteTwo,    // both outputs of a split
    Facts,            // a dry run's facts of one input
    Progress,         // the progress line on a terminal
    UsageHint,        // the line after a usage error
    OutputFailed,     // standard output could not be written (the last: tests walk up to it)
};

// Returns the text of `message` with its "{}" replaced by `values` in order.
[[nodiscard]] std::string CliText(CliMessage message, std::initializer_list<std::string_view> values = {});


}  // namespace stereotools
