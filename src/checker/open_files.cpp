#include "open_files.h"

#include <fcntl.h>
#include <linux/stat.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "fresh_file.h"
#include "inputs.h"
#include "verdict.h"

int fpout = -1;
int fpans = -1;

namespace {

using FileStatus = struct stat;

// The record, which was just made empty: no input may be it.
FileIdentity record_identity;

// Whether path is the root of a mount: a file that a sandbox bound onto the record path on purpose.
bool is_mount_root(const char* path) {
    struct statx status = {};
    return syscall(SYS_statx, AT_FDCWD, path, AT_SYMLINK_NOFOLLOW, 0, &status) == 0 &&
           (status.stx_attributes_mask & status.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
}

// A mount point cannot be replaced: it is opened where it stands, never through a link (a FIFO
// there must not block the open), used only when it is a regular file with no other name, and
// emptied.
int open_in_place(const char* path) {
    const int fd = above_standard(open(path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    FileStatus st{};
    if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 && ftruncate(fd, 0) == 0) return fd;
    if (fd >= 0) close(fd);
    return -1;
}

// The record is made afresh on every run (see make_afresh). Another user's entry in a sticky
// /tmp, or a directory, cannot be replaced: the record then cannot be opened. Nor can it when
// the private file cannot be made (no descriptor or inode left, a failed rename): the old entry
// is then removed, which needs neither, so that no earlier verdict stands in for this run's.
int open_record_descriptor(const char* path) {
    const int fd = make_afresh(AT_FDCWD, path);
    if (fd >= 0) return fd;
    if (is_mount_root(path)) return open_in_place(path);
    (void)unlink(path);
    return -1;
}

int open_record(const char* path) {
    const int fd = open_record_descriptor(path);
    if (fd < 0 || !identity_of_descriptor(fd, &record_identity)) {
        if (fd >= 0) close(fd);
        return -1;
    }
    return fd;
}

// A directory, or the placeholder pipe of a closed standard input, is refused as it opens
// (inputs.h); the record would be read as empty: each counts as a file that cannot be opened.
int open_compared_file(const char* path, FileIdentity& identity) {
    const int fd = open_readable_file(path, &identity);
    if (fd < 0 || !same_file(identity, record_identity)) return fd;
    close(fd);
    return -1;
}

[[noreturn]] void cannot_open(const char* path, const char* verdict) {
    (void)fprintf(stderr, "Can not open %s!\n", path);
    output(verdict, 0);
}

}  // namespace

void open_files(const char* out_path, const char* ans_path, const char* eval_path) {
    fpeval = open_record(eval_path);
    if (fpeval < 0) cannot_open(eval_path, record_unopenable);
    FileIdentity out_identity, ans_identity;
    fpout = open_compared_file(out_path, out_identity);
    if (fpout < 0) cannot_open(out_path, output_unopenable);
    fpans = open_compared_file(ans_path, ans_identity);
    if (fpans < 0) cannot_open(ans_path, answer_unopenable);
    // The answer compared with itself is always right. A player who may write beside their
    // output can replace it with a link to the answer, which a checker running as root can read:
    // an output that is the answer (by any path) is an output that cannot be opened.
    if (same_file(ans_identity, out_identity)) cannot_open(out_path, output_unopenable);
}
