#include "inputs.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>

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

void ignore_write_signals() {}

#else
#include <unistd.h>

int open_readable_file(const char* path, FileIdentity* identity) {
    const int fd = open(path, O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat status = {};
    const bool status_known = fstat(fd, &status) == 0;
    if (status_known && !S_ISDIR(status.st_mode)) {
        *identity = {static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
        return fd;
    }
    const int error = status_known ? EISDIR : errno;
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

void ignore_write_signals() {
    (void)signal(SIGPIPE, SIG_IGN);
    (void)signal(SIGXFSZ, SIG_IGN);
}
#endif
