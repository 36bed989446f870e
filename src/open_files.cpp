#include "open_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "verdict.h"

FILE* fpout = nullptr;
FILE* fpans = nullptr;

namespace {

// Identity of the open record, so that neither input can be the record itself.
struct stat record_identity{};

// The record lives in a world-writable directory and the checker often runs as root: a link
// planted there is never followed, and only a regular file with no other name is emptied.
// O_NONBLOCK keeps a FIFO planted there from blocking the open.
FILE* open_record(const char* path) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    struct stat st{};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 || ftruncate(fd, 0) != 0) {
        close(fd);
        return nullptr;
    }
    FILE* stream = fdopen(fd, "w");
    if (stream == nullptr) {
        close(fd);
        return nullptr;
    }
    record_identity = st;
    return stream;
}

// A directory opens on Linux and fails only when read, and an input that is the record was
// emptied a moment ago: both count as files that cannot be opened.
FILE* open_input(const char* path) {
    const int fd = open(path, O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st{};
    const bool usable = fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode) &&
                        !(st.st_dev == record_identity.st_dev && st.st_ino == record_identity.st_ino);
    FILE* stream = usable ? fdopen(fd, "r") : nullptr;
    if (stream == nullptr) close(fd);
    return stream;
}

}  // namespace

void open_files(const char* out_path, const char* ans_path, const char* eval_path) {
    fpeval = open_record(eval_path);
    if (fpeval == nullptr) {
        fprintf(stderr, "Can not open %s!\n", eval_path);
        output(record_unopenable, 0);
    }
    fpout = open_input(out_path);
    if (fpout == nullptr) {
        fprintf(stderr, "Can not open %s!\n", out_path);
        output(output_unopenable, 0);
    }
    fpans = open_input(ans_path);
    if (fpans == nullptr) {
        fprintf(stderr, "Can not open %s!\n", ans_path);
        output(answer_unopenable, 0);
    }
}
