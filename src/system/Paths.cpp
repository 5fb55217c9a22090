#include "Paths.h"

namespace stereotools {

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

bool PathNamesFile(const std::string& path, const struct stat& file) {
    struct stat named {};
    return ::stat(path.c_str(), &named) == 0 && SameFile(named, file);
}

}  // namespace stereotools
