// The comparison: its core (resync, compare_chunk, advance, compare_sides), which is handed the
// output a block or a chunk at a time, and its drivers (descriptors, buffers, streams).
#include "compare.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "read_ahead.h"
#include "side.h"
#include "survey.h"

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

// After a compacted chunk, how far the advance kernel looks to tell whether density goes on.
constexpr size_t dense_probe = 512;

// The commands' workspace: static, so that a call allocates nothing.
Workspace own_workspace;

// wanting_output: the output's bytes at hand are passed, and more are needed to go on.
enum class Step { go_on, differ, out_unreadable, ans_unreadable, stopped, wanting_output };

// The output is read first: its failure is the one told where both sides failed.
Step after_failure(const Side& out, const Side& ans) {
    if (out.failed()) return out.stopped ? Step::stopped : Step::out_unreadable;
    if (ans.failed()) return ans.stopped ? Step::stopped : Step::ans_unreadable;
    return Step::go_on;
}

// From a common place: both sides move to their next visible bytes, across reads, and those
// must match. Also decides the end: two sides without visible bytes left go on to it.
Step resync(Side& out, Side& ans, const KernelSet& kernels) {
    const bool out_visible = out.seek_visible(kernels);
    // Still at a common place: the output's bytes passed were invisible, the answer is untouched.
    if (!out_visible && out.starving()) return Step::wanting_output;
    const bool ans_visible = !out.failed() && ans.seek_visible(kernels);
    const Step failure = after_failure(out, ans);
    if (failure != Step::go_on) return failure;
    if (!out_visible || !ans_visible) return out_visible == ans_visible ? Step::go_on : Step::differ;
    if (*out.pos != *ans.pos) return Step::differ;
    ++out.pos;
    ++ans.pos;
    return Step::go_on;
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
            if (ans.failed()) return after_failure(out, ans);
            out.pos = out_start + nth_visible(out_start, raw, matched);
            return Step::differ;
        }
        const uint8_t* const ans_start = ans.pos;
        const Compacted got =
            kernels.compact_visible(ans_visible + matched, ans.pos, ans.available(), wanted - matched);
        ans.pos += got.consumed;
        // Compared as they come, so that a difference is not held back by a slow answer.
        const size_t k = kernels.first_mismatch(out_visible + matched, ans_visible + matched, got.written);
        if (k != got.written) {
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

}  // namespace

// The comparison's state between the chunks of output it is handed: it keeps its place in both
// sides, never the output's bytes.
struct ComparisonCore {
    Side out, ans;
    const KernelSet* kernels;           // the set to use, or null to choose it as the inputs show their size
    Places* where;                      // where the caller wants to know where the sides stopped
    const KernelSet* active = nullptr;  // the set that made the last step
    Mode mode = Mode::advancing;
    bool place_same = true;  // also tell the places (the ends) when the sides are the same
};

namespace {

// A comparison's result, once it has one; none while more output is wanted.
struct Found {
    bool decided;
    Comparison result;
};
constexpr Found wanting_more{false, Comparison::same};
Found decided(Comparison result) { return {true, result}; }

// Compares as far as the output at hand allows: the result once there is one, nothing while more
// output is wanted.
Found compare_sides(ComparisonCore& core) {
    Side& out = core.out;
    Side& ans = core.ans;
    const KernelSet& scalar = all_kernel_sets().front();
    for (;;) {
        // The player's output is always read before the standard answer.
        const bool out_has_data = out.has_data();
        if (!out_has_data && out.starving() && !ans.failed()) return wanting_more;
        const bool both_have_data = out_has_data && ans.has_data();
        if (core.kernels == nullptr && out.read_total + ans.read_total > probe_after) core.kernels = &best_kernel_set();
        const KernelSet& active = core.kernels != nullptr ? *core.kernels : scalar;
        core.active = &active;
        Step step = after_failure(out, ans);
        if (step == Step::go_on) {
            if (both_have_data) {
                step = advance(out, ans, active, core.mode);
            } else {
                // A side has ended: the other must hold no more visible bytes.
                step = resync(out, ans, active);
                if (step == Step::go_on && out.ended && ans.ended) return decided(Comparison::same);
            }
        }
        switch (step) {
            case Step::go_on:
                break;
            case Step::wanting_output:
                return wanting_more;
            case Step::differ:
                return decided(Comparison::differ);
            case Step::out_unreadable:
                return decided(Comparison::out_unreadable);
            case Step::ans_unreadable:
                return decided(Comparison::ans_unreadable);
            case Step::stopped:
                return decided(Comparison::stopped);
        }
    }
}

// The same, telling the places with the result. Inlined in its callers: a tiny comparison's cost
// is mostly calls.
inline __attribute__((always_inline)) Found run(ComparisonCore& core) {
    const Found found = compare_sides(core);
    if (found.decided && core.where != nullptr && (core.place_same || found.result != Comparison::same)) {
        core.out.tell_place();
        core.ans.tell_place();
        core.where->kernel_set = core.active->name;
    }
    return found;
}

// An unreadable side's error in errno (EINTR for a stop), whatever ran since its read failed (or
// since it was found unreadable before any read).
Comparison told_unreadable(const ComparisonCore& core, Comparison result) {
    if (result == Comparison::out_unreadable || (result == Comparison::stopped && core.out.stopped))
        errno = core.out.error;
    if (result == Comparison::ans_unreadable || (result == Comparison::stopped && core.ans.stopped))
        errno = core.ans.error;
    return result;
}

// Starts reading both descriptors ahead, where the mode asks for it, from the sides' next reads on.
void start_reading_ahead(ReadingAhead& ahead, ReadAhead mode, Source& out, Source& ans) {
    if (!ahead.start(out.fd, ans.fd, mode)) return;
    out.ahead = ans.ahead = &ahead;
    out.lane = 0;
    ans.lane = 1;
}

// The pull driver: reads the output's blocks into the workspace and hands each to the core.
// Reading ahead is considered once: after the output's first read, and only where it filled a
// block (a smaller input is not worth a thread, and costs nothing more); before it when forced.
Comparison run_reading_output(ComparisonCore& core, int out_fd, uint8_t* block, const StopCheck* stop, ReadAhead mode,
                              ReadingAhead& ahead) {
    Source out = descriptor_source(out_fd);
    if (out_fd < 0) core.out.error = EBADF;  // told before the answer's, as the output is read first
    if (mode == ReadAhead::always) start_reading_ahead(ahead, mode, out, core.ans.source);
    for (;;) {
        const Found found = run(core);
        if (found.decided) return found.result;
        core.out.block = block;
        const long got = read_next(out, core.out.block, stop, core.out.error);
        core.out.took_read(got);  // a failed read is in the side's error, which the core tells
        if (mode == ReadAhead::when_worth_it && core.out.read_total == engine_block_size &&
            got == static_cast<long>(engine_block_size))  // the first read, and it filled a block
            start_reading_ahead(ahead, mode, out, core.ans.source);
    }
}

// Runs the comparison (compare: the core to a result) with the notes, when asked for.
template <class Compare>
inline __attribute__((always_inline)) Comparison compare_noting(ComparisonCore& core, Notes* notes,
                                                                Workspace& workspace, Compare compare) {
    if (notes == nullptr) return compare(core);
    Surveys surveys(*notes, core.out, core.ans, core.kernels, workspace);
    const Comparison result = compare(core);
    surveys.finish(result);  // after the places: the rest of the answer is read into its block
    return result;
}

Comparison compare_descriptors(Workspace& workspace, int out_fd, int ans_fd, const KernelSet* kernels, Places* where,
                               const StopCheck* stop, Notes* notes, ReadAhead read_ahead) {
    ComparisonCore core{handed_side(workspace.out_visible, where != nullptr ? &where->out : nullptr),
                        reading_side(descriptor_source(ans_fd), workspace.ans_block, workspace.ans_visible,
                                     where != nullptr ? &where->ans : nullptr, stop),
                        kernels, where};
    ReadingAhead ahead;
    const Comparison result = compare_noting(core, notes, workspace, [&](ComparisonCore& c) {
        return run_reading_output(c, out_fd, workspace.out_block, stop, read_ahead, ahead);
    });
    ahead.stop();  // after the notes, which may read the rest of the answer
    return told_unreadable(core, result);
}

// A comparison whose output has all been handed over ends with a result.
Comparison ended(Found found) { return found.decided ? found.result : Comparison::out_unreadable; }

}  // namespace

Comparison compare_visible(Workspace& workspace, int out_fd, int ans_fd, Places* where, const StopCheck* stop,
                           Notes* notes, ReadAhead read_ahead) {
    return compare_descriptors(workspace, out_fd, ans_fd, nullptr, where, stop, notes, read_ahead);
}

Comparison compare_visible(int out_fd, int ans_fd, Places* where, Notes* notes) {
    return compare_descriptors(own_workspace, out_fd, ans_fd, nullptr, where, nullptr, notes, ReadAhead::when_worth_it);
}

Comparison compare_visible_with(int out_fd, int ans_fd, const KernelSet& kernels, Places* where, Notes* notes,
                                ReadAhead read_ahead) {
    return compare_descriptors(own_workspace, out_fd, ans_fd, &kernels, where, nullptr, notes, read_ahead);
}

Comparison compare_buffers(Workspace& workspace, const uint8_t* out, size_t out_size, const uint8_t* ans,
                           size_t ans_size, Places* where, Notes* notes) {
    ComparisonCore core{memory_side(out, out_size, workspace.out_visible, where != nullptr ? &where->out : nullptr),
                        memory_side(ans, ans_size, workspace.ans_visible, where != nullptr ? &where->ans : nullptr),
                        nullptr, where};
    return compare_noting(core, notes, workspace, [](ComparisonCore& c) { return ended(run(c)); });
}

bool survey_file(int fd, FileNotes& notes) { return survey_file(own_workspace, fd, notes); }

OutputStream::OutputStream(Workspace& workspace, int ans_fd, Places* where, const StopCheck* stop,
                           const KernelSet* kernels)
    : core_(new (storage_)
                ComparisonCore{handed_side(workspace.out_visible, where != nullptr ? &where->out : nullptr),
                               reading_side(descriptor_source(ans_fd), workspace.ans_block, workspace.ans_visible,
                                            where != nullptr ? &where->ans : nullptr, stop),
                               kernels, where}) {
    static_assert(sizeof(ComparisonCore) <= sizeof storage_ && alignof(ComparisonCore) <= 8, "the core's room");
    // A stream tells the places of a difference: the ends of sides that are the same would cost a
    // pass over a buffered answer that nobody reads.
    core_->place_same = false;
}

OutputStream::OutputStream(Workspace& workspace, const Reader& ans, Places* where, const StopCheck* stop)
    : core_(new (storage_) ComparisonCore{handed_side(workspace.out_visible, where != nullptr ? &where->out : nullptr),
                                          reading_side(reader_source(ans), workspace.ans_block, workspace.ans_visible,
                                                       where != nullptr ? &where->ans : nullptr, stop),
                                          nullptr, where}) {
    core_->place_same = false;
}

OutputStream::OutputStream(Workspace& workspace, const uint8_t* ans, size_t ans_size, Places* where,
                           const KernelSet* kernels)
    : core_(new (storage_) ComparisonCore{
          handed_side(workspace.out_visible, where != nullptr ? &where->out : nullptr),
          memory_side(ans, ans_size, workspace.ans_visible, where != nullptr ? &where->ans : nullptr), kernels,
          where}) {
    core_->place_same = false;
}

OutputStream::~OutputStream() { core_->~ComparisonCore(); }

int OutputStream::error() const { return core_->ans.error; }

void OutputStream::tell_places_when_same(bool tell) { core_->place_same = tell; }

ComparisonState OutputStream::feed(const uint8_t* chunk, size_t size) {
    fed_ += size;
    if (state_ != ComparisonState::comparing) return state_;
    if (size != 0) core_->out.take(chunk, size);
    const Found found = run(*core_);  // also for no bytes: an answer unreadable from the start is told at once
    if (found.decided) {
        state_ = ComparisonState::decided;
        result_ = told_unreadable(*core_, found.result);
    }
    return state_;
}

Comparison OutputStream::finish() {
    if (state_ == ComparisonState::comparing) {
        core_->out.ended = true;
        result_ = told_unreadable(*core_, ended(run(*core_)));
    }
    state_ = ComparisonState::finished;
    return result_;
}
