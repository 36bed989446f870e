#include "compare.h"

#ifdef _WIN32
#include <io.h>
#else
#include <poll.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>

// The two sides are kept at a common place: as many visible bytes passed on either side, all
// equal. From there the advance kernel passes both sides a vector at a time: equal raw bytes, or
// invisible bytes on both sides, hold the same visible bytes; where the sides stop matching that
// way (line-end conventions, trailing blanks, other separators), each side moves to its next
// visible byte, and those must be equal. Where such differences come closer than dense_gap
// bytes apart on average, compacting both sides to their visible bytes and comparing those is
// cheaper, and the next chunk is compared that way.
// Each read returns what has arrived, so a pipe is judged as its bytes come in, and nothing
// waits for more input than the next comparison needs.

namespace {

// What has arrived of a descriptor, up to size bytes: 0 at its end, -1 with errno on failure.
// (On Windows the C library's descriptors, which the caller opens in binary mode.)
long read_some(int fd, uint8_t* buffer, size_t size) {
#ifdef _WIN32
    return _read(fd, buffer, static_cast<unsigned>(size));
#else
    return read(fd, buffer, size);
#endif
}

// Waits until fd has something to read (a non-blocking descriptor that had nothing); false with
// errno set when the wait fails or a signal interrupts it.
bool wait_readable(int fd) {
#ifdef _WIN32
    (void)fd;
    errno = EAGAIN;
    return false;
#else
    pollfd ready{fd, POLLIN, 0};
    return poll(&ready, 1, -1) >= 0;
#endif
}

// After a compacted chunk, how far the advance kernel looks to tell whether density goes on.
constexpr size_t dense_probe = 512;

// The commands' workspace: static, so that a call allocates nothing.
Workspace own_workspace;

// Counts n bytes passed into a place: lines, columns, visible bytes, and the latest bytes of the
// current line. Only callers that ask where the sides stopped pay for it.
void tally(Place& place, const uint8_t* p, size_t n) {
    place.offset += n;
    // Counted without a branch, which the compiler turns into vector code; the last line's start
    // is then found from the end.
    uint64_t visible = 0, newlines = 0;
    for (size_t i = 0; i < n; ++i) {
        visible += is_visible(p[i]) ? 1 : 0;
        newlines += p[i] == '\n' ? 1 : 0;
    }
    place.visible += visible;
    place.line += newlines;
    // Found from the end, bounded by n: a buffer that a racing caller rewrites may no longer hold
    // the newline counted above.
    size_t line_start = 0;
    if (newlines > 0) {
        line_start = n;
        while (line_start > 0 && p[line_start - 1] != '\n') --line_start;
    }
    if (line_start > 0) {
        place.column = 1;
        place.before_size = 0;
        place.before_cut = false;
    }
    const size_t tail = n - line_start;
    place.column += tail;
    // Keep the latest excerpt_size bytes of the line.
    const size_t keep_old = std::min(place.before_size, Place::excerpt_size - std::min(tail, Place::excerpt_size));
    const size_t keep_new = std::min(tail, Place::excerpt_size);
    place.before_cut = place.before_cut || keep_old < place.before_size || keep_new < tail;
    memmove(place.before, place.before + place.before_size - keep_old, keep_old);
    memcpy(place.before + keep_old, p + n - keep_new, keep_new);
    place.before_size = keep_old + keep_new;
}

struct Side {
    int fd;                  // -1 for a buffer in memory, which is all in block from the start
    uint8_t* block;          // where the bytes read are, from its start to end
    uint8_t* visible;        // the visible bytes of the compacted comparison
    Place* place = nullptr;  // where the caller wants to know where this side stopped
    const uint8_t* pos = nullptr;
    const uint8_t* end = nullptr;
    const StopCheck* stop = nullptr;  // asked before each read and after each interruption
    bool ended = false;               // read() met the end of the file; never read again
    int error = 0;                    // errno of a read() that failed with something other than EINTR

    bool failed() const { return error != 0; }
    uint64_t read_total = 0;

    size_t available() const { return static_cast<size_t>(end - pos); }

    // True when a byte is at pos, after reading the next block if needed.
    bool has_data() {
        if (pos != end) return true;
        if (place != nullptr && end != nullptr) tally(*place, block, static_cast<size_t>(end - block));
        while (!ended && !failed()) {
            if (stop != nullptr && stop->should_stop(stop->context) != 0) {
                error = errno = EINTR;  // stopped by the caller: an interrupted read of this side
                break;
            }
            const long got = read_some(fd, block, engine_block_size);
            if (got > 0) {
                pos = block;
                end = block + got;
                read_total += static_cast<uint64_t>(got);
                return true;
            }
            if (got == 0) {
                ended = true;
            } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
                // A non-blocking descriptor with nothing yet: its bytes are waited for, as a
                // blocking one's are.
                if (!wait_readable(fd) && errno != EINTR) error = errno;
            } else if (errno != EINTR) {
                error = errno;
            }
        }
        pos = end = nullptr;  // the last block is tallied
        return false;
    }

    // Fills the place where this side stopped: at pos.
    void tell_place() const {
        if (pos != nullptr) tally(*place, block, static_cast<size_t>(pos - block));
        place->at_end = pos == end;
        place->error = error;
        if (pos == nullptr) return;  // ended: nothing after the place
        const size_t rest = std::min(available(), Place::excerpt_size);
        const auto* newline = static_cast<const uint8_t*>(memchr(pos, '\n', rest));
        place->after_size = newline != nullptr ? static_cast<size_t>(newline - pos) : rest;
        memcpy(place->after, pos, place->after_size);
    }

    // Moves pos to the next visible byte; false when the side ended or failed first.
    bool seek_visible(const KernelSet& kernels) {
        while (has_data()) {
            pos += kernels.find_visible(pos, available());
            if (pos != end) return true;
        }
        return false;
    }
};

enum class Step { go_on, differ, out_unreadable, ans_unreadable };

Step after_failure(const Side& out, const Side& ans) {
    if (out.failed()) return Step::out_unreadable;
    if (ans.failed()) return Step::ans_unreadable;
    return Step::go_on;
}

// From a common place: both sides move to their next visible bytes, across reads, and those
// must match. Also decides the end: two sides without visible bytes left go on to it.
Step resync(Side& out, Side& ans, const KernelSet& kernels) {
    const bool out_visible = out.seek_visible(kernels);
    const bool ans_visible = !out.failed() && ans.seek_visible(kernels);
    if (const Step failure = after_failure(out, ans); failure != Step::go_on) return failure;
    if (!out_visible || !ans_visible) return out_visible == ans_visible ? Step::go_on : Step::differ;
    if (*out.pos != *ans.pos) return Step::differ;
    ++out.pos;
    ++ans.pos;
    return Step::go_on;
}

// Index of the k-th visible byte (from 0) of p[0, n), or n where it holds no more than k. The
// bytes were counted once already, but a buffer that its caller rewrites meanwhile may hold fewer
// now: the scan is bounded by n, never by that count.
size_t nth_visible(const uint8_t* p, size_t n, size_t k) {
    for (size_t i = 0; i < n; ++i)
        if (is_visible(p[i]) && k-- == 0) return i;
    return n;
}

// From a common place, both sides holding bytes: the visible bytes of up to chunk_size bytes of
// the player's output against as many of the answer's, read as far as needed. At a difference,
// each side is moved back to its first differing visible byte, or left at its end.
Step compare_chunk(Side& out, Side& ans, const KernelSet& kernels) {
    uint8_t* const out_visible = out.visible;
    uint8_t* const ans_visible = ans.visible;
    const uint8_t* const out_start = out.pos;
    const size_t raw = std::min(out.available(), chunk_size);
    const size_t wanted = kernels.compact_visible(out_visible, out.pos, raw, raw).written;
    out.pos += raw;
    for (size_t matched = 0; matched < wanted;) {
        if (!ans.has_data()) {
            if (ans.failed()) return Step::ans_unreadable;
            out.pos = out_start + nth_visible(out_start, raw, matched);
            return Step::differ;
        }
        const uint8_t* const ans_start = ans.pos;
        const Compacted got =
            kernels.compact_visible(ans_visible + matched, ans.pos, ans.available(), wanted - matched);
        ans.pos += got.consumed;
        // Compared as they come, so that a difference is not held back by a slow answer.
        if (const size_t k = kernels.first_mismatch(out_visible + matched, ans_visible + matched, got.written);
            k != got.written) {
            out.pos = out_start + nth_visible(out_start, raw, matched + k);
            ans.pos = ans_start + nth_visible(ans_start, got.consumed, k);
            return Step::differ;
        }
        matched += got.written;
    }
    return Step::go_on;
}

enum class Mode { advancing, compacting, probing };

Step advance(Side& out, Side& ans, const KernelSet& kernels, Mode& mode) {
    if (mode == Mode::compacting) {
        mode = Mode::probing;  // a short advance tells whether density goes on
        return compare_chunk(out, ans, kernels);
    }
    // Spans of a chunk at most, so that density is noticed soon.
    const size_t limit = mode == Mode::probing ? dense_probe : chunk_size;
    const size_t out_span = std::min(out.available(), limit);
    const size_t ans_span = std::min(ans.available(), limit);
    const Advanced passed = kernels.advance_common(out.pos, out_span, ans.pos, ans_span);
    out.pos += passed.a;
    ans.pos += passed.b;
    mode = passed.resyncs * kernels.dense_gap > passed.a ? Mode::compacting : Mode::advancing;
    if (passed.a == out_span || passed.b == ans_span) return Step::go_on;
    // A difference, or a run of invisible bytes that goes on past what is in memory.
    return resync(out, ans, kernels);
}

// kernels: the set to use, or null to choose it as the inputs show their size; active is left at
// the set that made the last step.
Comparison compare_sides(Side& out, Side& ans, const KernelSet* kernels, const KernelSet*& active_set) {
    const KernelSet& scalar = all_kernel_sets().front();
    Mode mode = Mode::advancing;
    for (;;) {
        // The player's output is always read before the standard answer.
        const bool both_have_data = out.has_data() && ans.has_data();
        if (kernels == nullptr && out.read_total + ans.read_total > probe_after) kernels = &best_kernel_set();
        const KernelSet& active = kernels != nullptr ? *kernels : scalar;
        active_set = &active;
        Step step = after_failure(out, ans);
        if (step == Step::go_on) {
            if (both_have_data) {
                step = advance(out, ans, active, mode);
            } else {
                // A side has ended: the other must hold no more visible bytes.
                step = resync(out, ans, active);
                if (step == Step::go_on && out.ended && ans.ended) return Comparison::same;
            }
        }
        switch (step) {
            case Step::go_on:
                break;
            case Step::differ:
                return Comparison::differ;
            case Step::out_unreadable:
                return Comparison::out_unreadable;
            case Step::ans_unreadable:
                return Comparison::ans_unreadable;
        }
    }
}

Comparison compare_telling(Side& out, Side& ans, const KernelSet* kernels, Places* where) {
    const KernelSet* active = nullptr;
    const Comparison result = compare_sides(out, ans, kernels, active);
    if (where != nullptr) {
        out.tell_place();
        ans.tell_place();
        where->kernel_set = active->name;
    }
    return result;
}

Comparison compare_descriptors(Workspace& workspace, int out_fd, int ans_fd, const KernelSet* kernels, Places* where,
                               const StopCheck* stop = nullptr) {
    Side out{out_fd, workspace.out_block, workspace.out_visible, where != nullptr ? &where->out : nullptr};
    Side ans{ans_fd, workspace.ans_block, workspace.ans_visible, where != nullptr ? &where->ans : nullptr};
    out.stop = ans.stop = stop;
    return compare_telling(out, ans, kernels, where);
}

// A buffer in memory as a side whose one block has been read and whose end has been met. (The
// compacted comparison writes the visible bytes, so they are not const.)
// NOLINTNEXTLINE(readability-non-const-parameter)
Side memory_side(const uint8_t* bytes, size_t size, uint8_t* visible, Place* place) {
    auto* start = const_cast<uint8_t*>(bytes);  // never written: the engine only reads its blocks
    Side side{-1, start, visible, place};
    side.pos = start;
    side.end = start + size;
    side.ended = true;
    side.read_total = size;
    return side;
}

}  // namespace

Comparison compare_visible(Workspace& workspace, int out_fd, int ans_fd, Places* where, const StopCheck* stop) {
    return compare_descriptors(workspace, out_fd, ans_fd, nullptr, where, stop);
}

Comparison compare_visible(int out_fd, int ans_fd, Places* where) {
    return compare_descriptors(own_workspace, out_fd, ans_fd, nullptr, where);
}

Comparison compare_visible_with(int out_fd, int ans_fd, const KernelSet& kernels, Places* where) {
    return compare_descriptors(own_workspace, out_fd, ans_fd, &kernels, where);
}

Comparison compare_buffers(Workspace& workspace, const uint8_t* out, size_t out_size, const uint8_t* ans,
                           size_t ans_size, Places* where) {
    Side out_side = memory_side(out, out_size, workspace.out_visible, where != nullptr ? &where->out : nullptr);
    Side ans_side = memory_side(ans, ans_size, workspace.ans_visible, where != nullptr ? &where->ans : nullptr);
    return compare_telling(out_side, ans_side, nullptr, where);
}
