// The floor of a split, for bench/jobs.py: reads FILE in blocks of 1 MiB,
// copies each block once in memory (a split moves every byte once between
// its read and its writes), and writes the first half of every block to
// OUT.a and the second to OUT.b, whose space is reserved first, as the
// jobs reserve theirs. Nothing is rearranged or checked.
//
//     one_pass FILE OUT
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::size_t kBlock = std::size_t{1} << 20;

bool WriteAll(int fd, const char* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t wrote = ::write(fd, bytes, count);
        if (wrote <= 0) return false;
        bytes += wrote;
        count -= static_cast<std::size_t>(wrote);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: one_pass FILE OUT\n");
        return 2;
    }
    const int in = ::open(argv[1], O_RDONLY);
    const std::string out = argv[2];
    const int a = ::open((out + ".a").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    const int b = ::open((out + ".b").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (in < 0 || a < 0 || b < 0) {
        std::perror("one_pass");
        return 1;
    }
    const off_t size = ::lseek(in, 0, SEEK_END);
    ::lseek(in, 0, SEEK_SET);
    (void)::posix_fallocate(a, 0, size / 2 + 1);
    (void)::posix_fallocate(b, 0, size / 2 + 1);
    std::vector<char> block(kBlock);
    std::vector<char> copy(kBlock);
    off_t written = 0;
    for (;;) {
        const ssize_t got = ::read(in, block.data(), kBlock);
        if (got < 0) {
            std::perror("one_pass");
            return 1;
        }
        if (got == 0) break;
        const auto count = static_cast<std::size_t>(got);
        std::memcpy(copy.data(), block.data(), count);
        if (!WriteAll(a, copy.data(), count / 2) || !WriteAll(b, copy.data() + count / 2, count - count / 2)) {
            std::perror("one_pass");
            return 1;
        }
        written += got;
    }
    // The reserved space the bytes did not use goes, as the jobs drop theirs.
    if (::ftruncate(a, ::lseek(a, 0, SEEK_CUR)) != 0 || ::ftruncate(b, ::lseek(b, 0, SEEK_CUR)) != 0) return 1;
    return ::close(a) == 0 && ::close(b) == 0 && written == size ? 0 : 1;
}
