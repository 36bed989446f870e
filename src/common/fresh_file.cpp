#include "fresh_file.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include "inputs.h"

bool write_judge_file(const char* path, const char* text) {
    FILE* file = create_text_file(path);
    if (file == nullptr) return false;
    const bool written = fputs(text, file) >= 0;
    return fclose(file) == 0 && written;
}

Left clear_judge_file(const char* path) { return remove_entry(path) || errno == ENOENT ? Left::nothing : Left::stale; }

#else
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

int above_standard(int fd) {
    if (fd < 0 || fd > 2) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    const int error = errno;
    close(fd);
    errno = error;
    return moved;
}

namespace {

// Created exclusively: never a name that exists, never through a link. Without random bytes the
// name is still unique to this process, and a name planted there only moves on to the next one.
int create_private_file(int dir, const char* name, char* private_name, size_t size) {
    for (unsigned attempt = 0; attempt < 8; ++attempt) {
        uint64_t random = 0;
        if (getrandom(&random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random))
            random ^= uint64_t{static_cast<uint32_t>(getpid())} << 32 | attempt;
        const int length = snprintf(private_name, size, "%s.%016llx", name, static_cast<unsigned long long>(random));
        if (length < 0 || static_cast<size_t>(length) >= size) {
            errno = ENAMETOOLONG;
            return -1;
        }
        const int fd = openat(dir, private_name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0644);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) return -1;
        const int kept = above_standard(fd);
        if (kept < 0) {
            const int error = errno;
            unlinkat(dir, private_name, 0);
            errno = error;
        }
        return kept;
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

int make_afresh(int dir, const char* name) {
    char private_name[256];  // the entry's name and a suffix; small, to keep the stack in one page
    const int fd = create_private_file(dir, name, private_name, sizeof private_name);
    if (fd < 0 || renameat(dir, private_name, dir, name) == 0) return fd;
    const int error = errno;
    unlinkat(dir, private_name, 0);
    close(fd);
    errno = error;
    return -1;
}

bool write_all(int fd, const char* text, size_t length) {
    while (length > 0) {
        const ssize_t put = write(fd, text, length);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        text += put;
        length -= static_cast<size_t>(put);
    }
    return true;
}

namespace {

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

bool is_device(const struct stat& status) { return S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode); }

// Opened where it stands, for writing, without creating anything (O_NONBLOCK: a FIFO put there
// meanwhile must not block the open), then made blocking, as a judge's device may expect. The
// judge's own (a device, or a link to one) is taken as it is; a stale file must be a regular file
// of one name, not a link, and is emptied.
int open_in_place(int dir, const char* name, bool judges_own) {
    const int flags = O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (judges_own ? 0 : O_NOFOLLOW);
    const int fd = above_standard(openat(dir, name, flags));
    if (fd < 0) return -1;
    struct stat status {};
    bool usable = fstat(fd, &status) == 0 && fcntl(fd, F_SETFL, 0) == 0;
    if (usable && !judges_own && !(S_ISREG(status.st_mode) && status.st_nlink == 1)) {
        usable = false;
        errno = EPERM;
    }
    if (usable && (judges_own || ftruncate(fd, 0) == 0)) return fd;
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
}

// The directory of path, opened, and the entry's name in it; -1 with errno set.
int open_directory_of(const char* path, const char** name) {
    char directory[PATH_MAX];
    const char* slash = strrchr(path, '/');
    *name = slash != nullptr ? slash + 1 : path;
    const size_t directory_length = slash == nullptr ? 0 : slash == path ? 1 : static_cast<size_t>(slash - path);
    if (directory_length >= sizeof directory) {
        errno = ENAMETOOLONG;
        return -1;
    }
    if (**name == '\0') {
        errno = EISDIR;
        return -1;
    }
    memcpy(directory, path, directory_length);
    directory[directory_length] = '\0';
    return open(directory_length == 0 ? "." : directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// What the entry names, for the rule of written_in_place: a device (or a link to one), the
// standard stream 0, 1 or 2 whose file a link leads to, or neither.
constexpr int not_in_place = -1, a_device = 3;
int judges_own(int dir, const char* name) {
    struct stat entry {};
    if (fstatat(dir, name, &entry, AT_SYMLINK_NOFOLLOW) != 0) return not_in_place;
    if (is_device(entry)) return a_device;
    // Another user's link is never followed: it may lead to a file that no judge would write.
    if (!S_ISLNK(entry.st_mode) || (entry.st_uid != 0 && entry.st_uid != geteuid())) return not_in_place;
    struct stat target {};
    if (fstatat(dir, name, &target, 0) != 0) return not_in_place;
    if (is_device(target)) return a_device;
    for (int standard = 0; standard <= 2; ++standard) {
        struct stat stream {};
        if (fstat(standard, &stream) == 0 && same_file(stream, target)) return standard;
    }
    return not_in_place;
}

}  // namespace

bool written_in_place(int dir, const char* name) { return judges_own(dir, name) != not_in_place; }

// A standard stream is written through its own descriptor, where it stands (after what this
// process wrote there already), never opened anew from its start or emptied.
int open_judge_file(int dir, const char* name) {
    const int own = judges_own(dir, name);
    if (own == not_in_place) return make_afresh(dir, name);
    if (own == a_device) return open_in_place(dir, name, true);
    return fcntl(own, F_DUPFD_CLOEXEC, 3);
}

bool write_judge_file(const char* path, const char* text) {
    const char* name = nullptr;
    const int dir = open_directory_of(path, &name);
    if (dir < 0) return false;
    const int fd = open_judge_file(dir, name);
    const int error = errno;
    close(dir);
    if (fd < 0) {
        errno = error;
        return false;
    }
    const bool written = write_all(fd, text, strlen(text));
    const int write_error = errno;
    if (close(fd) != 0 && written) return false;
    errno = write_error;
    return written;
}

Left clear_judge_file(const char* path) {
    const char* name = nullptr;
    const int dir = open_directory_of(path, &name);
    if (dir < 0) return Left::nothing;  // no directory there, or no name: no file either
    Left left = Left::nothing;
    struct stat entry {};
    if (!written_in_place(dir, name) && unlinkat(dir, name, 0) != 0 && errno != ENOENT &&
        fstatat(dir, name, &entry, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(entry.st_mode)) {
        // Where it cannot be removed (a read-only directory; another user's file in a sticky one),
        // it is emptied where it stands, as long as it is a regular file of one name.
        const int fd = open_in_place(dir, name, false);
        left = fd >= 0 ? Left::emptied : Left::stale;
        if (fd >= 0) close(fd);
    }
    const int error = errno;
    close(dir);
    errno = error;
    return left;
}
#endif
