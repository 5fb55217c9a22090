#pragma once

#include <cstddef>
#include <string_view>

namespace stereotools {

// The temporary files of outputs being written, kept where the handler of a
// signal that ends the program can remove them: fixed slots of a folder
// descriptor and a name, taken and given back with atomic operations, so any
// thread may add or drop one while a handler walks them.

// Most outputs recorded at once; an output past it is written as usual but
// left behind by a crash, as after SIGKILL.
constexpr std::size_t kMaxUnfinishedOutputs = 256;

// Records that file `name` in the folder open as `folder` is unfinished;
// `folder` must stay open until the record is released. Returns the slot to
// release, or -1 when every slot is taken or `name` cannot be a file's name
// in a folder (empty, too long, or with a slash or a NUL).
[[nodiscard]] int RecordUnfinishedOutput(int folder, std::string_view name);

// Drops the record in `slot` (-1 does nothing). Returns once no handler is
// removing its file any more, so the caller may then close the folder.
void ReleaseUnfinishedOutput(int slot);

// Removes the file of every record not yet released. Async-signal-safe and
// safe against threads that record and release meanwhile.
void RemoveUnfinishedOutputs();

}  // namespace stereotools
