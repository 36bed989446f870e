// Opening the two files to compare, for the commands other than the judge's checker.
#pragma once

// A descriptor to read path from, or -1 with errno set. A directory opens on Linux and fails
// only when read: it is refused here with EISDIR.
int open_input(const char* path);

// Whether two descriptors are the same file (device and inode). An output that is the answer
// file is refused as a judge error, for this reason:
bool same_file(int a, int b);
inline constexpr char same_file_reason[] = "an answer compared with itself is always right";
