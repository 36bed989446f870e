/* filterspace: compare two files, or two buffers, by their visible bytes only (0x21 to 0x7E),
 * as the filterspace_e answer checker does, without starting a process.
 *
 * Every byte outside 0x21..0x7E is ignored wherever it stands, and what is left of the two inputs
 * is compared byte for byte. Usable from C and C++; reentrant and thread-safe: any number of
 * threads compare at once, each with a state of its own. See filterspace(3).
 *
 * Three calls do everything: filterspace_compare_fds_with() (two descriptors),
 * filterspace_compare_buffers_with() (two buffers) and filterspace_stream_begin_with() (the output
 * handed over as it arrives), each told what to give besides the result by one options structure.
 * The calls of earlier versions, at the end, are each one of these with fixed options. */
#ifndef FILTERSPACE_FILTERSPACE_H
#define FILTERSPACE_FILTERSPACE_H

#include <stddef.h>
#include <stdint.h>

#define FILTERSPACE_VERSION_MAJOR 1
#define FILTERSPACE_VERSION_MINOR 4
#define FILTERSPACE_VERSION_PATCH 0
#define FILTERSPACE_VERSION "1.4.0"

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
    FILTERSPACE_ANSWER_UNREADABLE = 3, /* a read of the answer failed (errno in answer.error); also a
                                          call out of turn or options the library cannot read (EINVAL) */
    FILTERSPACE_STOPPED = 4            /* the caller's stop function ended the comparison */
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

/* Asked by a comparison that reads before each read (so at most a block of 256 KiB apart), and
 * again after a read or a wait for data that a signal interrupted (errno EINTR; without a stop
 * function such a read is retried): nonzero ends the comparison at once with FILTERSPACE_STOPPED,
 * errno EINTR, the descriptors wherever reading had taken them, and EINTR in the error of the side
 * that was about to be read. A signal handler installed without SA_RESTART makes a blocked read
 * return, so that a stop function that reads a flag the handler sets ends a comparison waiting on
 * a pipe. */
typedef int (*filterspace_stop_function)(void* context);

/* The notes: what the rule ignored, told for the jury as data, on request. A token is a maximal
 * run of visible bytes. A comparison that finds a difference covers the output up to its place
 * and the answer up to its place, or to its end where the answer is a buffer or a regular file
 * (read on for this, never a pipe). Counting costs about one more pass over the bytes covered. On
 * an unreadable or stopped result the notes are unspecified. */

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

/* When a comparison tells where each side stopped (the places argument, when not null). */
typedef enum filterspace_places_wanted {
    /* For a difference only, at next to no cost when there is none: on any other result the
     * places are zeros, but for the error of an unreadable side. Where both descriptors are
     * regular files they are compared without counting lines and, on a difference, again from the
     * offsets they had when called (lseek); where either is not (a pipe), or where notes are asked
     * for, lines are counted as the bytes go by. */
    FILTERSPACE_PLACES_ON_DIFFERENCE = 0,
    /* For every result (the ends, where the same): counting lines costs a pass over every byte. */
    FILTERSPACE_PLACES_ALWAYS = 1,
    /* Never: zeros, but for the error of an unreadable side. */
    FILTERSPACE_PLACES_NEVER = 2
} filterspace_places_wanted;

/* What a comparison gives besides its result. Its first member is its own size, so that fields a
 * later version adds keep the interface: the library reads what the size covers and takes the
 * rest as zeros, which are the defaults. Set what you need after FILTERSPACE_OPTIONS_INIT. A null
 * options pointer is the defaults. */
typedef struct filterspace_options {
    size_t size;                      /* sizeof(filterspace_options) */
    filterspace_places_wanted places; /* FILTERSPACE_PLACES_ON_DIFFERENCE by default */
    filterspace_notes* notes;         /* filled when not null (not for streams) */
    filterspace_stop_function stop;   /* asked before each read, when not null (not for buffers) */
    void* stop_context;               /* stop's argument */
} filterspace_options;
#define FILTERSPACE_OPTIONS_INIT \
    { sizeof(filterspace_options), FILTERSPACE_PLACES_ON_DIFFERENCE, NULL, NULL, NULL }

/* Compares two open descriptors (files or pipes), each read from its current offset and streamed:
 * a pipe is judged as its bytes arrive, and reading stops at the first difference. A non-blocking
 * descriptor with no data yet is waited for (poll), never taken for an unreadable one. A negative
 * descriptor (an open that failed, unchecked) is an unreadable side at once, errno EBADF, before
 * anything is read; where both are, the output is the one told. Each descriptor is left past the
 * last block it read (256 KiB at most past the place on a difference; at its end when the result
 * is FILTERSPACE_SAME). On an unreadable result errno is the failed read's error (also in the
 * places' error). Options the library cannot read (a size smaller than a size_t, an unknown places
 * value) give FILTERSPACE_ANSWER_UNREADABLE with errno EINVAL. */
FILTERSPACE_API filterspace_result filterspace_compare_fds_with(filterspace_state* state, int output_fd, int answer_fd,
                                                                filterspace_places* places,
                                                                const filterspace_options* options);

/* Compares two buffers in memory where they stand (the stop function is not asked). Each is read
 * only within [p, p + size), whatever its bytes: a caller that rewrites a buffer while it is
 * compared gets an unspecified result, and nothing worse (no read outside either buffer, no crash,
 * no endless loop). */
FILTERSPACE_API filterspace_result filterspace_compare_buffers_with(filterspace_state* state, const void* output,
                                                                    size_t output_size, const void* answer,
                                                                    size_t answer_size, filterspace_places* places,
                                                                    const filterspace_options* options);

/* Streams: the output handed over, a chunk of any size at a time, as it arrives (from the pipe of
 * a program the caller runs, say), against an answer that the library reads only as far as the
 * output needs; memory is the state's, whatever the output's size. The result, and the places of a
 * difference, are those of filterspace_compare_fds_with on the same bytes. A chunk is read only
 * during the call that hands it over: the caller may reuse its buffer at once. A chunk that another
 * thread rewrites while it is compared gives an unspecified result, never a read outside it.
 *
 * One stream per state at a time, begun by filterspace_stream_begin_with (or an earlier begin
 * call), which ends any stream the state had, and ended by filterspace_stream_finish or by any
 * comparison made with the state. */

/* The reader of a stream's answer: as read() reads, up to size bytes into `into`, the count, 0 at
 * the end, -1 with errno set on failure. A count past size is taken for a failure (EIO). */
typedef long (*filterspace_read_function)(void* context, void* into, size_t size);

/* Where a stream's answer is. */
typedef enum filterspace_answer_kind {
    FILTERSPACE_ANSWER_FD = 0,     /* fd, read from its offset (a negative one is unreadable) */
    FILTERSPACE_ANSWER_BUFFER = 1, /* buffer and size, read where it stands until the stream ends */
    FILTERSPACE_ANSWER_READER = 2  /* read(read_context, ...) */
} filterspace_answer_kind;

typedef struct filterspace_answer {
    filterspace_answer_kind kind;
    int fd;
    const void* buffer;
    size_t size;
    filterspace_read_function read;
    void* read_context;
} filterspace_answer;

/* Begins a stream against the answer: 0, or -1 with errno EINVAL for an answer or options it
 * cannot take (an unknown kind, a null reader or buffer, notes). The places come with
 * filterspace_stream_finish as options->places says (counted as the chunks go by: about two thirds
 * of a comparison's time more, unless FILTERSPACE_PLACES_NEVER); the stop function, when not null,
 * is asked before each read of a descriptor's or a reader's answer. */
FILTERSPACE_API int filterspace_stream_begin_with(filterspace_state* state, const filterspace_answer* answer,
                                                  const filterspace_options* options);

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
/* The output has ended: the result, as filterspace_compare_fds_with gives it (reading the answer on
 * to its end where no difference was found), and the places, when not null, as the stream's options
 * asked (zeros otherwise, but for an unreadable answer's error). Ends the stream. */
FILTERSPACE_API filterspace_result filterspace_stream_finish(filterspace_state* state, filterspace_places* places);

/* Whether two descriptors are one file (the same device and inode): 1 when they are, 0 when not,
 * -1 with errno set when either cannot be told. An output that is the answer is always the same:
 * a caller whose contestant may replace its output with a link to the answer checks this first,
 * as filterspace_e does. */
FILTERSPACE_API int filterspace_same_file(int fd_a, int fd_b);

/* The library's version, "MAJOR.MINOR.PATCH": that of the shared library loaded, which may be
 * newer than the header's FILTERSPACE_VERSION. */
FILTERSPACE_API const char* filterspace_version(void);

/* ---- The calls of earlier versions, each the call above with fixed options (unchanged). ---- */

/* filterspace_compare_fds_with, places ALWAYS. */
FILTERSPACE_API filterspace_result filterspace_compare_fds(filterspace_state* state, int output_fd, int answer_fd,
                                                           filterspace_places* places);
/* The same with a stop function (may be null). */
FILTERSPACE_API filterspace_result filterspace_compare_fds_stoppable(filterspace_state* state, int output_fd,
                                                                     int answer_fd, filterspace_places* places,
                                                                     filterspace_stop_function stop, void* context);
/* The same with the notes (may be null). */
FILTERSPACE_API filterspace_result filterspace_compare_fds_noted(filterspace_state* state, int output_fd, int answer_fd,
                                                                 filterspace_places* places, filterspace_notes* notes,
                                                                 filterspace_stop_function stop, void* context);
/* filterspace_compare_fds_with, places ON_DIFFERENCE, a stop function (may be null). */
FILTERSPACE_API filterspace_result filterspace_compare_fds_placed(filterspace_state* state, int output_fd,
                                                                  int answer_fd, filterspace_places* places,
                                                                  filterspace_stop_function stop, void* context);
/* filterspace_compare_buffers_with, places ALWAYS; with the notes (may be null); places ON_DIFFERENCE. */
FILTERSPACE_API filterspace_result filterspace_compare_buffers(filterspace_state* state, const void* output,
                                                               size_t output_size, const void* answer,
                                                               size_t answer_size, filterspace_places* places);
FILTERSPACE_API filterspace_result filterspace_compare_buffers_noted(filterspace_state* state, const void* output,
                                                                     size_t output_size, const void* answer,
                                                                     size_t answer_size, filterspace_places* places,
                                                                     filterspace_notes* notes);
FILTERSPACE_API filterspace_result filterspace_compare_buffers_placed(filterspace_state* state, const void* output,
                                                                      size_t output_size, const void* answer,
                                                                      size_t answer_size, filterspace_places* places);

/* filterspace_stream_begin_with with the answer of each kind: places ON_DIFFERENCE with
 * FILTERSPACE_STREAM_PLACES in flags, else NEVER; -1 with errno EINVAL for another flag. */
#define FILTERSPACE_STREAM_PLACES 1
FILTERSPACE_API int filterspace_stream_begin_fd(filterspace_state* state, int answer_fd, int flags,
                                                filterspace_stop_function stop, void* context);
FILTERSPACE_API int filterspace_stream_begin_buffer(filterspace_state* state, const void* answer, size_t answer_size,
                                                    int flags);
FILTERSPACE_API int filterspace_stream_begin_reader(filterspace_state* state, filterspace_read_function read,
                                                    void* context, int flags);

#ifdef __cplusplus
}
#endif

#endif
