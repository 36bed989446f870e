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

// The files a front-end writes at the paths a judge gives, decided by what the path names. A
// character or block device, or a link made by this user or by root that leads to one or to one
// of this process's standard streams (/dev/stdout, a link to /proc/self/fd/1), is the judge's way
// of sending the file somewhere (or nowhere): a device is opened where it stands, never created
// or emptied; a standard stream is written through its descriptor, after what it holds. Anything
// else is made afresh (make_afresh), so that a link, a FIFO or a file that someone else planted is
// replaced, never followed.
bool written_in_place(int dir, const char* name);
// The entry name in dir opened for writing by that rule: its descriptor, never 0, 1 or 2, or -1
// with errno set.
int open_judge_file(int dir, const char* name);

// Writes text to the file at path (UTF-8) by that rule; on Windows, where no such replacement is
// to be had, creates or empties it. False with errno set on failure.
bool write_judge_file(const char* path, const char* text);

// What an earlier run left at a judge's path once it is cleared away, so that no earlier words
// stand for this run's: nothing (removed, absent, or a device or stream the rule writes in place),
// an emptied file (one that cannot be removed, a regular file of one name, emptied where it
// stands, never through a link), or a stale one, which can be neither (errno set).
enum class Left { nothing, emptied, stale };
Left clear_judge_file(const char* path);
