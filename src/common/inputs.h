// Opening the two files to compare, for the commands other than the judge's checker, and the
// signals none of them may die of.
#pragma once

#include <sys/stat.h>

// A descriptor to read path from, with its status, or -1 with errno set. A directory opens on
// Linux and fails only when read: it is refused here with EISDIR. A file whose status cannot be
// read is refused too: what it is (a directory, the answer itself) would be unknown.
int open_readable_file(const char* path, struct stat* status);

// Whether two statuses are of one file (device and inode). A compared with itself is always
// right, so the front-ends refuse an output that is the answer under another name:
bool same_file(const struct stat& a, const struct stat& b);
inline constexpr char same_file_reason[] = "an answer compared with itself is always right";

// A closed standard error, a closed result pipe or a file-size limit must fail a write, never
// end the run before its outcome: the judge would see a crash.
void ignore_write_signals();
