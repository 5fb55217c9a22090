#pragma once

#include <string>

#include <sys/stat.h>

namespace stereotools {

// Returns the folder part of `path`: "." when it has none, "/" for a name
// in the root.
[[nodiscard]] std::string FolderOf(const std::string& path);
// Returns the part of `path` after its last "/" (all of it when there is none).
[[nodiscard]] std::string BaseNameOf(const std::string& path);
// Returns whether `a` and `b` are the status of one file.
[[nodiscard]] bool SameFile(const struct stat& a, const struct stat& b);
// Returns whether `path`, its links followed, names the file `file` is the status of.
[[nodiscard]] bool PathNamesFile(const std::string& path, const struct stat& file);

}  // namespace stereotools
