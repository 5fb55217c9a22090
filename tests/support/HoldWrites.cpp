// Preloaded (LD_PRELOAD) into a program under test, holds it at chosen writes
// of sample blocks, so that a test acts while a job is certainly under way,
// however loaded the machine is, instead of racing the job's end.
//
// STEREOTOOLS_HOLD_DIR names a folder for the markers; STEREOTOOLS_HOLD_AT
// lists the points, as in "1,3" (default "1"). A point N is the program's Nth
// write of kMinBlockBytes or more to a regular file (headers and terminal
// output stay under that). Such a write, and every later one, creates
// DIR/held.N and waits until DIR/release.N exists.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

constexpr size_t kMinBlockBytes = 4096;

std::atomic<unsigned> sampleWrites{0};

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

void HoldAt(const std::string& folder, unsigned point) {
    const std::string release = folder + "/release." + std::to_string(point);
    if (Exists(release)) return;
    const int marker = open((folder + "/held." + std::to_string(point)).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (marker >= 0) close(marker);
    const timespec pause{0, 1000000};
    // A signal cuts a pause short; the loop goes on until the release.
    while (!Exists(release)) nanosleep(&pause, nullptr);
}

void HoldIfAsked(int fd, size_t count) {
    // Small writes return at once: a signal handler's write to the terminal
    // must not reach getenv or the heap.
    if (count < kMinBlockBytes) return;
    const char* folder = std::getenv("STEREOTOOLS_HOLD_DIR");
    struct stat status {};
    if (folder == nullptr || fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return;
    const unsigned number = ++sampleWrites;
    const char* points = std::getenv("STEREOTOOLS_HOLD_AT");
    if (points == nullptr || *points == '\0') points = "1";
    for (const char* p = points; *p != '\0';) {
        char* end = nullptr;
        const unsigned long point = std::strtoul(p, &end, 10);
        if (end == p) break;
        if (point >= 1 && point <= number) HoldAt(folder, static_cast<unsigned>(point));
        p = *end == ',' ? end + 1 : end;
    }
}

template <typename Function>
Function Next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" ssize_t write(int fd, const void* data, size_t count) {
    static const auto next = Next<ssize_t (*)(int, const void*, size_t)>("write");
    HoldIfAsked(fd, count);
    return next(fd, data, count);
}

extern "C" ssize_t pwrite(int fd, const void* data, size_t count, off_t offset) {
    static const auto next = Next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
    HoldIfAsked(fd, count);
    return next(fd, data, count, offset);
}

extern "C" ssize_t pwrite64(int fd, const void* data, size_t count, off64_t offset) {
    static const auto next = Next<ssize_t (*)(int, const void*, size_t, off64_t)>("pwrite64");
    HoldIfAsked(fd, count);
    return next(fd, data, count, offset);
}
