// Prints the kernel set that made the engine's last step on inputs large enough for it to
// choose: run under an emulated processor, it tells which set that processor gets, from the
// engine's own report.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "compare.h"

namespace {

int memory_file(const std::string& bytes) {
    const int fd = memfd_create("probe", MFD_CLOEXEC);
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) return -1;
    return lseek(fd, 0, SEEK_SET) == 0 ? fd : -1;
}

}  // namespace

int main() {
    std::string out, ans;
    for (int k = 0; out.size() < (size_t{1} << 20); ++k) {
        out += std::to_string(k) + "\r\n";
        ans += std::to_string(k) + "\n";
    }
    const int out_fd = memory_file(out), ans_fd = memory_file(ans);
    if (out_fd < 0 || ans_fd < 0) return 2;
    Places where;
    if (compare_visible(out_fd, ans_fd, &where) != Comparison::same) return 1;
    return puts(where.kernel_set) < 0 ? 2 : 0;
}
