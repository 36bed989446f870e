/* filterspace: compare two files, or two buffers, by their visible bytes only (0x21 to 0x7E),
 * as the filterspace_e answer checker does, without starting a process.
 *
 * Every byte outside 0x21..0x7E is ignored wherever it stands, and what is left of the two inputs
 * is compared byte for byte. Usable from C and C++; reentrant and thread-safe: any number of
 * threads compare at once, each with a state of its own. See filterspace(3). */
#ifndef FILTERSPACE_FILTERSPACE_H
#define FILTERSPACE_FILTERSPACE_H

#include <stddef.h>
#include <stdint.h>

#define FILTERSPACE_VERSION_MAJOR 1
#define FILTERSPACE_VERSION_MINOR 3
#define FILTERSPACE_VERSION_PATCH 0
#define FILTERSPACE_VERSION "1.3.0"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define FILTERSPACE_API __attribute__((visibility("default")))
#else
#define FILTERSPACE_API
#endif

typedef enum filterspace_result {
    FILTERSPACE_SAME = 0,              /* the visible bytes are the same */
    FILTERSPACE_DIFFER = 1,            /* the first difference was met */
    FILTERSPACE_OUTPUT_UNREADABLE = 2, /* a read of the output failed (errno in output.error) */
    FILTERSPACE_ANSWER_UNREADABLE = 3, /* a read of the answer failed (errno in answer.error) */
    FILTERSPACE_STOPPED = 4            /* the caller's stop function ended the comparison; only
                                          from filterspace_compare_fds_stoppable() */
} filterspace_result;

/* Where one side stopped: at its first visible byte that differs from the other side's, or at its
 * end. Counted as filterspace_cmp prints them. */
typedef struct filterspace_place {
    uint64_t visible_byte; /* from 1: the index of the first differing visible byte (for a side
                              that ended: its visible bytes plus one) */
    uint64_t offset;       /* bytes before the place, from the start of the comparison */
    uint64_t line;         /* from 1 */
    uint64_t column;       /* from 1, in bytes */
    int at_end;            /* 1 when the side ended there */
    int error;             /* errno of the read that failed, else 0 */
} filterspace_place;

typedef struct filterspace_places {
    filterspace_place output;
    filterspace_place answer;
} filterspace_places;

/* A comparison's working memory (some hundreds of KiB: doc/library.md gives the figure), one
 * comparison at a time each. Made once and reused; null when it cannot be allocated. */
typedef struct filterspace_state filterspace_state;
FILTERSPACE_API filterspace_state* filterspace_state_new(void);
FILTERSPACE_API void filterspace_state_free(filterspace_state* state);

/* Compares two open descriptors (files or pipes), each read from its current offset and streamed:
 * a pipe is judged as its bytes arrive, and reading stops at the first difference. A non-blocking
 * descriptor with no data yet is waited for (poll), never taken for an unreadable one. places, when
 * not null, receives where each side stopped; counting lines then costs a pass over every byte
 * read, so a caller that needs the places only for a difference may compare again, from the same
 * offsets, with places, once the first comparison has found one. On an unreadable result errno
 * is the failed read's error (also in the places' error). */
FILTERSPACE_API filterspace_result filterspace_compare_fds(filterspace_state* state, int output_fd, int answer_fd,
                                                           filterspace_places* places);

/* The same, but stoppable between blocks: stop(context) is called before each read of either
 * descriptor (so at most a block of 256 KiB apart), and again after a read or a wait for data
 * that a signal interrupted (EINTR; filterspace_compare_fds retries those). When it returns
 * nonzero the comparison ends at once with FILTERSPACE_STOPPED, errno EINTR, and the descriptors
 * at wherever reading had taken them; places, when not null, then hold EINTR in the error of the
 * side that was about to be read. A signal handler installed without SA_RESTART makes a blocked
 * read return, so that a stop function that reads a flag the handler sets ends a comparison
 * waiting on a pipe. stop may be null: then this is filterspace_compare_fds. */
typedef int (*filterspace_stop_function)(void* context);
FILTERSPACE_API filterspace_result filterspace_compare_fds_stoppable(filterspace_state* state, int output_fd,
                                                                     int answer_fd, filterspace_places* places,
                                                                     filterspace_stop_function stop, void* context);

/* Compares two buffers in memory where they stand. Each is read only within [p, p + size), whatever
 * its bytes: a caller that rewrites a buffer while it is compared gets an unspecified result, and
 * nothing worse (no read outside either buffer, no crash, no endless loop). */
FILTERSPACE_API filterspace_result filterspace_compare_buffers(filterspace_state* state, const void* output,
                                                               size_t output_size, const void* answer,
                                                               size_t answer_size, filterspace_places* places);

/* The notes: what the rule ignored, told for the jury as data, on request (the *_noted calls). A
 * token is a maximal run of visible bytes. A comparison that finds a difference covers the output
 * up to its place and the answer up to its place, or to its end where the answer is a buffer or a
 * regular file (read on for this, never a pipe). Counting costs about one more pass over the bytes
 * covered. */

/* Where a byte stands in its file: offset from 0, line and column from 1; line 0 where none. */
typedef struct filterspace_spot {
    uint64_t offset;
    uint64_t line;
    uint64_t column;
} filterspace_spot;

/* What one file held besides its visible bytes, over the bytes covered, from its start. */
typedef struct filterspace_file_notes {
    uint64_t bytes;      /* bytes covered */
    uint64_t visible;    /* visible bytes among them */
    int complete;        /* 1 when covered to the file's end */
    int byte_order_mark; /* the length of one at the start (3: UTF-8, 2: UTF-16), or 0 */
    uint64_t high;       /* bytes from 0x80 up, a byte-order mark's not among them */
    uint64_t nul;        /* NUL bytes */
    uint64_t control;    /* control bytes other than white space (tab, LF, VT, FF, CR) */
    uint64_t del;        /* DEL bytes (0x7F) */
    filterspace_spot first_high, first_nul, first_control, first_del; /* the first of each */
} filterspace_file_notes;

typedef struct filterspace_notes {
    filterspace_file_notes output;
    filterspace_file_notes answer;
    /* Visible bytes (of those both sides cover) that start a token after an earlier one in one
     * file and not in the other: "1 2" against "12" has one. */
    uint64_t token_starts_differ;
    /* Where the first of them stands in each file (at_end 0, error 0); zeros when there is none. */
    filterspace_place first_token_output;
    filterspace_place first_token_answer;
} filterspace_notes;

/* filterspace_compare_fds_stoppable (stop may be null) and filterspace_compare_buffers, with the
 * notes filled in when notes is not null; with notes null, exactly those calls. On an unreadable
 * or stopped result the notes are unspecified. */
FILTERSPACE_API filterspace_result filterspace_compare_fds_noted(filterspace_state* state, int output_fd, int answer_fd,
                                                                 filterspace_places* places, filterspace_notes* notes,
                                                                 filterspace_stop_function stop, void* context);
FILTERSPACE_API filterspace_result filterspace_compare_buffers_noted(filterspace_state* state, const void* output,
                                                                     size_t output_size, const void* answer,
                                                                     size_t answer_size, filterspace_places* places,
                                                                     filterspace_notes* notes);

/* The places in one call: filterspace_compare_fds_stoppable (stop may be null) and
 * filterspace_compare_buffers, which fill places, when not null, only on FILTERSPACE_DIFFER, and cost
 * next to nothing more than a comparison without places when there is no difference. On any other
 * result places are zeros, but for the error of an unreadable side (output.error or answer.error).
 * Where both descriptors are regular files, they are compared without counting lines and, on a
 * difference, again from the offsets they had when called (lseek), with the places; the second
 * comparison's result is returned. Where either is not (a pipe), the places are counted as the bytes
 * go by, which costs a pass over every byte read (about as much as the comparison). Each descriptor
 * is left where filterspace_compare_fds leaves it: past the last block it read (256 KiB at most past
 * the place on a difference; at its end when the result is FILTERSPACE_SAME). */
FILTERSPACE_API filterspace_result filterspace_compare_fds_placed(filterspace_state* state, int output_fd,
                                                                  int answer_fd, filterspace_places* places,
                                                                  filterspace_stop_function stop, void* context);
FILTERSPACE_API filterspace_result filterspace_compare_buffers_placed(filterspace_state* state, const void* output,
                                                                      size_t output_size, const void* answer,
                                                                      size_t answer_size, filterspace_places* places);

/* Streams: the output handed over, a chunk of any size at a time, as it arrives (from the pipe of
 * a program the caller runs, say), against an answer that the library reads only as far as the
 * output needs; memory is the state's, whatever the output's size. The result, and the places of a
 * difference, are those of filterspace_compare_fds on the same bytes. A chunk is read only during
 * the call that hands it over: the caller may reuse its buffer at once. A chunk that another
 * thread rewrites while it is compared gives an unspecified result, never a read outside it.
 *
 * One stream per state at a time, begun by one of the filterspace_stream_begin_* calls (which end any
 * stream the state had), ended by filterspace_stream_finish or by any comparison made with the state.
 * The begin calls return 0, or -1 with errno EINVAL for a flag they do not know. */
#define FILTERSPACE_STREAM_PLACES 1 /* count the places as the bytes go by (a pass over each byte) */

/* The answer read from its descriptor, from its offset; stop, when not null, as for
 * filterspace_compare_fds_stoppable, asked before each read of the answer. */
FILTERSPACE_API int filterspace_stream_begin_fd(filterspace_state* state, int answer_fd, int flags,
                                                filterspace_stop_function stop, void* context);
/* The answer in a buffer, read where it stands, which must stay there until the stream ends. */
FILTERSPACE_API int filterspace_stream_begin_buffer(filterspace_state* state, const void* answer, size_t answer_size,
                                                    int flags);
/* The answer read by the caller's function, as read() reads: up to size bytes into `into`, the
 * count, 0 at the end, -1 with errno set on failure. */
typedef long (*filterspace_read_function)(void* context, void* into, size_t size);
FILTERSPACE_API int filterspace_stream_begin_reader(filterspace_state* state, filterspace_read_function read,
                                                    void* context, int flags);

/* Hands over the next chunk of output and compares it as far as it goes: FILTERSPACE_SAME while no
 * difference has been found so far; FILTERSPACE_DIFFER once one has; FILTERSPACE_ANSWER_UNREADABLE
 * (errno set) when a read of the answer that this chunk needed failed; FILTERSPACE_STOPPED when the
 * stop function ended it. Such a result is kept: later chunks are counted and never compared, so
 * that a judge may drain its program's output at little cost. Without a stream begun:
 * FILTERSPACE_ANSWER_UNREADABLE, errno EINVAL. */
FILTERSPACE_API filterspace_result filterspace_stream_feed(filterspace_state* state, const void* chunk, size_t size);
/* 1 when a difference has been found so far, else 0; -1 (errno EINVAL) without a stream. */
FILTERSPACE_API int filterspace_stream_differs(const filterspace_state* state);
/* Bytes handed over, all chunks together (those after a kept result included); 0 without a stream. */
FILTERSPACE_API uint64_t filterspace_stream_fed(const filterspace_state* state);
/* The output has ended: the result, as filterspace_compare_fds gives it (reading the answer on to
 * its end where no difference was found), and the places, when not null: on FILTERSPACE_DIFFER, as
 * it gives them, where the stream was begun with FILTERSPACE_STREAM_PLACES; otherwise zeros, but for
 * an unreadable answer's error. Ends the stream. */
FILTERSPACE_API filterspace_result filterspace_stream_finish(filterspace_state* state, filterspace_places* places);

/* Whether two descriptors are one file (the same device and inode): 1 when they are, 0 when not,
 * -1 with errno set when either cannot be told. An output that is the answer is always the same:
 * a caller whose contestant may replace its output with a link to the answer checks this first,
 * as filterspace_e does. */
FILTERSPACE_API int filterspace_same_file(int fd_a, int fd_b);

/* The library's version, "MAJOR.MINOR.PATCH": that of the shared library loaded, which may be
 * newer than the header's FILTERSPACE_VERSION. */
FILTERSPACE_API const char* filterspace_version(void);

#ifdef __cplusplus
}
#endif

#endif
