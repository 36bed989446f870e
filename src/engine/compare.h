// The comparison engine: reads two descriptors side by side and decides whether their visible
// bytes match. It never prints and never ends the process; the driver turns its result into a
// verdict.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernels.h"
#include "read_ahead.h"

// How much the engine asks of each read(), and how much of the output the compacted comparison
// takes at once: tests cut inputs around both.
constexpr size_t engine_block_size = size_t{256} << 10;
constexpr size_t chunk_size = size_t{16} << 10;

enum class Comparison {
    same,            // both ended with the same visible bytes
    differ,          // the first difference was met
    out_unreadable,  // a read of the player's output failed
    ans_unreadable,  // a read of the standard answer failed
    stopped,         // the caller's stop function ended it (StopCheck), before a read
};

// Where one side stopped: at its first visible byte that differs from the other side's, at its
// end when it has no visible byte left there, or at its end when both sides are the same.
struct Place {
    uint64_t offset = 0;   // bytes read before the place
    uint64_t visible = 0;  // visible bytes before it
    uint64_t line = 1;     // counted from 1: newlines before it, plus one
    uint64_t column = 1;   // counted from 1: bytes since the last newline, plus one
    bool at_end = false;   // no byte at the place: the side ended there
    int error = 0;         // errno of the read that failed, for an unreadable side
    // The place's line around it: up to excerpt_size bytes before the place (the latest ones)
    // and from the place on, each cut at a newline.
    static constexpr size_t excerpt_size = 40;
    uint8_t before[excerpt_size] = {};
    size_t before_size = 0;
    bool before_cut = false;  // the line starts earlier than the bytes kept
    uint8_t after[excerpt_size] = {};
    size_t after_size = 0;
};

struct Places {
    Place out, ans;
    const char* kernel_set = nullptr;  // the name of the kernel set that made the last step
};

// What the rule ignored in one file, for the jury: counted over the bytes the notes cover, from
// the file's start.
struct FileNotes {
    uint64_t bytes = 0;                  // bytes covered
    uint64_t visible = 0;                // visible bytes among them
    bool complete = false;               // covered to the file's end
    unsigned byte_order_mark = 0;        // the length of one at the start (UTF-8's 3, UTF-16's 2), or 0
    uint64_t count[ignored_kinds] = {};  // ignored bytes of each kind, a byte-order mark's not among them
    Spot first[ignored_kinds] = {};      // the first of each kind (line 0: none)
};

// The notes on a comparison. A wrong run's notes cover the output up to its place and the
// answer up to its place, or to its end where the answer is a regular file or a buffer.
struct Notes {
    FileNotes out, ans;
    // Visible bytes (of those both files' notes cover) that start a token after an earlier token
    // in one file and not in the other: "1 2" against "12" has one.
    uint64_t token_starts_differ = 0;
    Place token_out, token_ans;  // the first such visible byte in each file, as places tell it
};

// How many bytes of each side the notes survey before the two sides' token starts are compared.
constexpr size_t survey_piece = size_t{64} << 10;

// The engine's working memory: the block each side is read into, the visible bytes of each side
// in the compacted comparison, and each side's token starts for the notes (doc/library.md states its
// size, and a test holds it to this).
// One comparison at a time uses a workspace, and any number of workspaces may compare at once, on
// as many threads. Allocate one once (it is far too large for a thread's stack) and reuse it.
struct Workspace {
    alignas(64) uint8_t out_block[engine_block_size];
    alignas(64) uint8_t ans_block[engine_block_size];
    alignas(64) uint8_t out_visible[chunk_size + compact_slack];
    alignas(64) uint8_t ans_visible[chunk_size + compact_slack];
    uint64_t out_token_starts[survey_piece / 64 + 2];
    uint64_t ans_token_starts[survey_piece / 64 + 2];
};

// Asked by a comparison of descriptors before each read, so after a read or a wait for data that
// a signal interrupted too: nonzero ends the comparison, Comparison::stopped (errno EINTR, and EINTR
// in the place of the side about to be read). Without it an interrupted read is simply retried.
struct StopCheck {
    int (*should_stop)(void* context);  // nonzero: stop
    void* context;
};

// Reads each descriptor in blocks, as its bytes arrive (a non-blocking one is waited for), and
// stops at the first difference.
// Memory is the workspace, whatever the inputs' sizes. Given where, also tells
// where each side stopped, counting lines on the way (a pass over every block read); the
// checker passes nothing and pays nothing for it. Given notes, also tells the jury what the rule
// ignored (a pass over the bytes the notes cover, and over the rest of a regular answer on a
// difference).
// The kernels are the scalar ones until the inputs have shown themselves larger than
// probe_after bytes, and the best set this processor runs from then on: probing the processor
// costs more than it saves on small inputs (CPUID traps to the hypervisor on a virtual machine).
// Two large regular files are read ahead on threads of their own (read_ahead.h), which end
// before it returns; the result, the places, the notes and where each descriptor is left are the
// same either way.
Comparison compare_visible(Workspace& workspace, int out_fd, int ans_fd, Places* where = nullptr,
                           const StopCheck* stop = nullptr, Notes* notes = nullptr,
                           ReadAhead read_ahead = ReadAhead::when_worth_it);

// The same in a workspace of the process's own, for the commands, which compare once a process.
Comparison compare_visible(int out_fd, int ans_fd, Places* where = nullptr, Notes* notes = nullptr);

// The same with the given kernel set throughout (the tests, the benchmark, the fuzzer), in the
// process's own workspace, reading ahead as asked.
Comparison compare_visible_with(int out_fd, int ans_fd, const KernelSet& kernels, Places* where = nullptr,
                                Notes* notes = nullptr, ReadAhead read_ahead = ReadAhead::when_worth_it);

// Two buffers in memory, compared where they stand (nothing is copied but the visible bytes of
// the compacted comparison, into the workspace), as if each were a file holding them.
Comparison compare_buffers(Workspace& workspace, const uint8_t* out, size_t out_size, const uint8_t* ans,
                           size_t ans_size, Places* where = nullptr, Notes* notes = nullptr);

// A source of the answer's bytes that the caller reads: as read() does, up to size bytes into
// `into`, 0 at the end, -1 with errno set when the read failed.
struct Reader {
    long (*read)(void* context, void* into, size_t size);
    void* context;
};

struct ComparisonCore;

// What a stream is doing: the one record of it, which the library and the module read.
enum class ComparisonState {
    comparing,  // no result yet: the output handed so far is passed. feed() takes more (and may
                // decide), finish() ends it (finished).
    decided,    // a result came before the output's end (a difference, an answer that could not
                // be read); it stays: later chunks are only counted. finish() -> finished.
    finished,   // the output has ended and the result is final; it stays.
};

// A comparison to which its caller hands the player's output, a chunk of any size at a time, as
// the output arrives (read from a child process's pipe, say); the answer, a descriptor, the
// caller's reader or a buffer, is read only as far as the output needs. It is the comparison
// compare_visible makes, which hands it each block it reads. Between chunks it keeps its place in
// both sides, never the output's bytes: a chunk is not read after feed returns.
// It uses the workspace's answer block and visible bytes until it ends: one at a time each.
class OutputStream {
public:
    // where, when not null, receives where each side stopped on a difference or an unreadable
    // answer (counting lines on the way, a pass over every byte); nothing when the sides are the
    // same. stop is asked before each read of the answer. The reader must outlive the stream.
    OutputStream(Workspace& workspace, int ans_fd, Places* where = nullptr, const StopCheck* stop = nullptr,
                 const KernelSet* kernels = nullptr);
    OutputStream(Workspace& workspace, const Reader& ans, Places* where = nullptr, const StopCheck* stop = nullptr);
    OutputStream(Workspace& workspace, const uint8_t* ans, size_t ans_size, Places* where = nullptr,
                 const KernelSet* kernels = nullptr);
    ~OutputStream();
    OutputStream(const OutputStream&) = delete;
    OutputStream& operator=(const OutputStream&) = delete;

    // Compares the chunk as far as it goes; the state after it. The result, once there is one
    // (the first difference, or an answer that could not be read), is kept.
    ComparisonState feed(const uint8_t* chunk, size_t size);
    // The output has ended: the result, the answer read on as far as it takes.
    Comparison finish();

    ComparisonState state() const { return state_; }
    Comparison result() const { return result_; }  // once decided or finished
    int error() const;                             // errno of an unreadable (or stopped) answer's read
    uint64_t fed() const { return fed_; }          // bytes handed over, all chunks together
    // Whether where (when given) is told also when the sides are the same (their ends): by default
    // only for a difference, since the ends would cost a pass over a buffered answer.
    void tell_places_when_same(bool tell);

private:
    alignas(8) unsigned char storage_[416];  // the core, defined with the engine (which checks the room)
    ComparisonCore* core_;
    ComparisonState state_ = ComparisonState::comparing;
    Comparison result_ = Comparison::same;
    uint64_t fed_ = 0;
};

// The notes on one file alone (no token starts: there is nothing to compare them with), read to
// its end. False when a read failed (errno set) or stop ended it (EINTR); the notes then cover
// what was read.
bool survey_file(Workspace& workspace, int fd, FileNotes& notes, const StopCheck* stop = nullptr);
bool survey_file(int fd, FileNotes& notes);

// Bytes read, both sides together, before the processor is probed.
constexpr uint64_t probe_after = uint64_t{32} << 10;
