#include "inputs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

int open_readable_file(const char* path, struct stat* status) {
    const int fd = open(path, O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    const bool status_known = fstat(fd, status) == 0;
    if (status_known && !S_ISDIR(status->st_mode)) return fd;
    const int error = status_known ? EISDIR : errno;
    close(fd);
    errno = error;
    return -1;
}

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

void ignore_write_signals() {
    (void)signal(SIGPIPE, SIG_IGN);
    (void)signal(SIGXFSZ, SIG_IGN);
}
