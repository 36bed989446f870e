// Files made afresh where others may write: the checker's record in /tmp, the output validator's
// messages in the judge's feedback directory.
#pragma once

#include <cstddef>

// Makes the entry name in the directory dir (a descriptor, or AT_FDCWD) afresh: a file of this
// process's own, created exclusively under a random name beside it (name.XXXXXXXXXXXXXXXX), is
// renamed over the entry. Whatever stood there (an earlier file, a symbolic link, a FIFO, a
// device, another user's file) is replaced in one step without being opened or followed, and
// nobody else holds a descriptor to the new file. Its mode is 0644 less the umask.
// Returns its descriptor, never 0, 1 or 2 (they would receive what is meant for standard error),
// or -1 with errno set, having removed the private file.
int make_afresh(int dir, const char* name);

// fd itself, or, where it is 0, 1 or 2 (a file there would receive what is meant for a standard
// stream), a duplicate above them, fd closed; -1 with errno set when none can be made.
int above_standard(int fd);

// Writes all of text[0, length) to fd, retrying short and interrupted writes; false when a write
// fails (errno set) or writes nothing.
bool write_all(int fd, const char* text, size_t length);

// Makes the file at path (UTF-8) afresh, as make_afresh does in its directory, and writes text
// into it; on Windows, where no such replacement is to be had, creates or empties it. False with
// errno set on failure.
bool write_file_afresh(const char* path, const char* text);
