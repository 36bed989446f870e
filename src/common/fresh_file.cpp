#include "fresh_file.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include "inputs.h"

bool write_file_afresh(const char* path, const char* text) {
    FILE* file = create_text_file(path);
    if (file == nullptr) return false;
    const bool written = fputs(text, file) >= 0;
    return fclose(file) == 0 && written;
}

#else
#include <fcntl.h>
#include <sys/random.h>
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

bool write_file_afresh(const char* path, const char* text) {
    // The directory and the entry's name in it.
    char directory[PATH_MAX];
    const char* slash = strrchr(path, '/');
    const char* name = slash != nullptr ? slash + 1 : path;
    const size_t directory_length = slash == nullptr ? 0 : slash == path ? 1 : static_cast<size_t>(slash - path);
    if (directory_length >= sizeof directory) {
        errno = ENAMETOOLONG;
        return false;
    }
    if (*name == '\0') {
        errno = EISDIR;
        return false;
    }
    memcpy(directory, path, directory_length);
    directory[directory_length] = '\0';
    const int dir = open(directory_length == 0 ? "." : directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return false;
    const int fd = make_afresh(dir, name);
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
#endif
