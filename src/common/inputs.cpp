#include "inputs.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdlib>

namespace {

// A path in UTF-8 as the system's wide characters; false (errno set) when it cannot be.
bool widen(const char* path, wchar_t* wide, int size) {
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide, size) != 0) return true;
    errno = GetLastError() == ERROR_INSUFFICIENT_BUFFER ? ENAMETOOLONG : ENOENT;
    return false;
}

wchar_t wide_path[32768];  // the longest path Windows takes

}  // namespace

int open_readable_file(const char* path, FileIdentity* identity) {
    if (!widen(path, wide_path, 32768)) return -1;
    // Binary: as text, CR LF would be read as LF, and a byte 0x1A as the end of the file.
    const int fd = _wopen(wide_path, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) {
        const DWORD attributes = GetFileAttributesW(wide_path);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) errno = EISDIR;
        return -1;
    }
    BY_HANDLE_FILE_INFORMATION information;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    const bool known = GetFileInformationByHandle(handle, &information) != 0;
    if (!known || (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        _close(fd);
        errno = known ? EISDIR : EIO;
        return -1;
    }
    identity->volume = information.dwVolumeSerialNumber;
    identity->index = uint64_t{information.nFileIndexHigh} << 32 | information.nFileIndexLow;
    return fd;
}

unsigned hold_standard_descriptors() { return 0; }

bool remove_entry(const char* path) { return widen(path, wide_path, 32768) && _wremove(wide_path) == 0; }

FILE* create_text_file(const char* path) { return widen(path, wide_path, 32768) ? _wfopen(wide_path, L"w") : nullptr; }

char** arguments_in_utf8(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr || count != argc) return argv;
    auto** converted = static_cast<char**>(calloc(static_cast<size_t>(count) + 1, sizeof(char*)));
    for (int i = 0; converted != nullptr && i < count; ++i) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        converted[i] = size > 0 ? static_cast<char*>(malloc(static_cast<size_t>(size))) : nullptr;
        if (converted[i] == nullptr ||
            WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, converted[i], size, nullptr, nullptr) == 0)
            return argv;
    }
    return converted != nullptr ? converted : argv;  // kept for the whole run
}

#else
#include <unistd.h>

namespace {

FileIdentity identity_of(const struct stat& status) {
    return {static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
}

// The placeholders' pipes, once there are some: no input may be one (reading the pipe that holds
// standard output, which this process itself keeps open for writing, would wait for ever).
FileIdentity placeholders[2];
int placeholder_count = 0;

void remember_placeholder(int fd) {
    struct stat status = {};
    if (fstat(fd, &status) == 0) placeholders[placeholder_count++] = identity_of(status);
}

bool is_placeholder(const FileIdentity& identity) {
    for (int k = 0; k < placeholder_count; ++k)
        if (same_file(identity, placeholders[k])) return true;
    return false;
}

}  // namespace

bool identity_of_descriptor(int fd, FileIdentity* identity) {
    struct stat status = {};
    if (fstat(fd, &status) != 0) return false;
    *identity = identity_of(status);
    return true;
}

// Pipes, which need no file system (a bare chroot has no /dev/null): standard input's with its
// writing end closed, so that it reads as empty at once; the others' with a reading end kept open
// above 2 and neither end blocking, so that a write neither waits nor raises SIGPIPE.
unsigned hold_standard_descriptors() {
    unsigned closed = 0;
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) == -1) closed |= 1u << fd;
    if ((closed & standard_input_closed) != 0) {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) == 0) {  // 0 is closed: ends[0] is 0 itself, or lands there
            if (ends[0] != STDIN_FILENO) (void)dup2(ends[0], STDIN_FILENO);
            for (const int end : ends)
                if (end != STDIN_FILENO) close(end);
            remember_placeholder(STDIN_FILENO);
        }
    }
    int ends[2];
    if ((closed & 6u) != 0 && pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
        // Both ends above 2 first, where the copies onto 1 and 2 cannot overwrite them; the
        // reading end stays open there for the process's life.
        for (int& end : ends) {
            if (end > 2) continue;
            const int above = fcntl(end, F_DUPFD_CLOEXEC, 3);
            close(end);
            end = above;
        }
        for (int fd = 1; fd <= 2; ++fd)
            if ((closed & 1u << fd) != 0 && ends[1] >= 0) (void)dup2(ends[1], fd);
        if (ends[0] >= 0) remember_placeholder(ends[0]);
        if (ends[1] >= 0) close(ends[1]);
    }
    return closed;
}

int open_readable_file(const char* path, FileIdentity* identity) {
    const int fd = open(path, O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat status = {};
    const bool status_known = fstat(fd, &status) == 0;
    const bool placeholder = status_known && is_placeholder(identity_of(status));
    if (status_known && !S_ISDIR(status.st_mode) && !placeholder) {
        *identity = identity_of(status);
        return fd;
    }
    const int error = !status_known ? errno : placeholder ? EBADF : EISDIR;
    close(fd);
    errno = error;
    return -1;
}

FILE* create_text_file(const char* path) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    FILE* file = fcntl(fd, F_SETFL, 0) == 0 ? fdopen(fd, "w") : nullptr;
    if (file == nullptr) close(fd);
    return file;
}

char** arguments_in_utf8(int, char** argv) { return argv; }
#endif
