#include "OpenFileLimit.h"

#include <dirent.h>
#include <sys/resource.h>

namespace stereotools {

std::size_t CountOpenFiles() {
    DIR* folder = ::opendir("/proc/self/fd");
    if (folder == nullptr) return 0;
    std::size_t count = 0;
    while (const dirent* entry = ::readdir(folder)) {
        if (entry->d_name[0] != '.') ++count;
    }
    ::closedir(folder);
    // The folder's own descriptor was among them.
    return count > 0 ? count - 1 : 0;
}

OpenFileRoom MakeRoomForOpenFiles(std::size_t more) {
    OpenFileRoom room;
    room.needed = CountOpenFiles() + more;
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        // Unknown: the opens themselves will say when there is no room.
        room.limit = room.needed;
        return room;
    }
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < room.needed && limit.rlim_cur < limit.rlim_max) {
        const rlim_t soft = limit.rlim_cur;
        limit.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) limit.rlim_cur = soft;
    }
    room.limit = limit.rlim_cur == RLIM_INFINITY ? room.needed : limit.rlim_cur;
    room.enough = limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= room.needed;
    return room;
}

}  // namespace stereotools
