// Opening the two files to compare, for the commands other than the judge's checker, and the
// arguments as text. Written for Linux and, for the drop-ins, for Windows (MinGW-w64).
#pragma once

#include <cstdint>
#include <cstdio>

#include "write_signals.h"

// What identifies a file: its device and inode on Linux; on Windows, where the C library's inode
// is always 0, its volume serial number and file index.
struct FileIdentity {
    uint64_t volume = 0;
    uint64_t index = 0;
};

// Puts a placeholder on each of descriptors 0, 1 and 2 that is closed, before anything is opened:
// a file opened later would otherwise take that number and be read or written as a standard
// stream. Standard input's placeholder reads as empty; standard output's and error's take what is
// written and discard it; neither is ever opened as an input. Returns which were closed: bit k for
// descriptor k. (Windows: nothing is done, and 0 is returned.)
unsigned hold_standard_descriptors();
constexpr unsigned standard_input_closed = 1;

#ifndef _WIN32
// The identity of an open descriptor's file; false (errno set) where it cannot be read.
bool identity_of_descriptor(int fd, FileIdentity* identity);
#endif

// A descriptor to read path (UTF-8) from, as bytes, with the file's identity, or -1 with errno
// set. A directory is refused with EISDIR (Linux opens one and fails only when it is read;
// Windows refuses to open it at all). A file whose identity cannot be read is refused too: what
// it is (a directory, the answer itself) would be unknown. A placeholder of a closed standard
// descriptor is refused with EBADF, as the closed descriptor it stands for.
int open_readable_file(const char* path, FileIdentity* identity);

// An answer compared with itself is always right, so the front-ends refuse an output that is the
// answer under another name:
inline bool same_file(const FileIdentity& a, const FileIdentity& b) {
    return a.volume == b.volume && a.index == b.index;
}

// Creates or empties path (UTF-8) and opens it for writing text, as fopen(path, "w") does (on
// Windows each newline is then written as CR LF), following the judge's path; except that on
// Linux a FIFO without a reader fails instead of blocking. Null with errno set on failure.
FILE* create_text_file(const char* path);

#ifdef _WIN32
// Removes the entry at path (UTF-8). False with errno set.
bool remove_entry(const char* path);
#endif

// The arguments in UTF-8: argv itself on Linux; on Windows, the wide command line converted, so
// that a path outside the system's code page arrives whole.
char** arguments_in_utf8(int argc, char** argv);
