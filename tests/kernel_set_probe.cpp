// Prints the kernel set that made the engine's last step, from the engine's own report:
//   kernel_set_probe [OUT ANS]
// compares the two files, or, without them (Linux), a megabyte of numbers with CRLF line ends
// against the same with LF, large enough for the engine to choose a set. Run under an emulated
// processor it tells which set that processor gets; built for Windows, which set the engine
// chooses there.
#include <fcntl.h>

#include <cstdio>
#include <string>

#include "compare.h"

#ifdef _WIN32
#include <io.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

int open_file(const char* path) {
#ifdef _WIN32
    return _open(path, _O_RDONLY | _O_BINARY);
#else
    return open(path, O_RDONLY | O_CLOEXEC);
#endif
}

#ifndef _WIN32
int memory_file(const std::string& bytes) {
    const int fd = memfd_create("probe", MFD_CLOEXEC);
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) return -1;
    return lseek(fd, 0, SEEK_SET) == 0 ? fd : -1;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    int out_fd = -1, ans_fd = -1;
    if (argc == 3) {
        out_fd = open_file(argv[1]);
        ans_fd = open_file(argv[2]);
    } else {
#ifndef _WIN32
        std::string out, ans;
        for (int k = 0; out.size() < (size_t{1} << 20); ++k) {
            out += std::to_string(k) + "\r\n";
            ans += std::to_string(k) + "\n";
        }
        out_fd = memory_file(out);
        ans_fd = memory_file(ans);
#endif
    }
    if (out_fd < 0 || ans_fd < 0) return 2;
    Places where;
    if (compare_visible(out_fd, ans_fd, &where) != Comparison::same) return 1;
    return puts(where.kernel_set) < 0 ? 2 : 0;
}
