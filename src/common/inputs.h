// Opening the two files to compare, for the commands other than the judge's checker.
#pragma once

// A descriptor to read path from, or -1 with errno set. A directory opens on Linux and fails
// only when read: it is refused here with EISDIR.
int open_input(const char* path);

// Whether two descriptors are the same file (device and inode).
bool same_file(int a, int b);
