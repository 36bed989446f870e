#include "compare.h"

#ifdef _WIN32
#include <io.h>
#else
#include <poll.h>
#include <unistd.h>
#endif
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "read_ahead.h"

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

// The excerpt's size as a constant of this file, which std::min may bind to a reference (as
// C++14 takes it, a static member bound so needs a definition of its own).
constexpr size_t excerpt_size = Place::excerpt_size;

// After a compacted chunk, how far the advance kernel looks to tell whether density goes on.
constexpr size_t dense_probe = 512;

// The commands' workspace: static, so that a call allocates nothing.
Workspace own_workspace;

// Counts n bytes passed into a place: lines, columns, visible bytes, and the latest bytes of the
// current line. Only callers that ask where the sides stopped pay for it.
void tally(Place& place, const uint8_t* p, size_t n) {
    place.offset += n;
    // Counted by the fastest kernels where the bytes are as many as the comparison probes the
    // processor for (then the probe is nothing beside them); the last line's start is then found
    // from the end.
    const KernelSet& kernels = n > probe_after ? best_kernel_set() : all_kernel_sets().front();
    const LineCount counted = kernels.count_lines(p, n);
    const uint64_t newlines = counted.newlines;
    place.visible += counted.visible;
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
    const size_t keep_old = std::min(place.before_size, excerpt_size - std::min(tail, excerpt_size));
    const size_t keep_new = std::min(tail, excerpt_size);
    place.before_cut = place.before_cut || keep_old < place.before_size || keep_new < tail;
    memmove(place.before, place.before + place.before_size - keep_old, keep_old);
    memcpy(place.before + keep_old, p + n - keep_new, keep_new);
    place.before_size = keep_old + keep_new;
}

// Keeps the bytes from `at` on, up to the excerpt's size and cut at a newline, as the place's
// excerpt after it.
void keep_after(Place& place, const uint8_t* at, const uint8_t* end) {
    const size_t rest = std::min(static_cast<size_t>(end - at), excerpt_size);
    const auto* newline = static_cast<const uint8_t*>(memchr(at, '\n', rest));
    place.after_size = newline != nullptr ? static_cast<size_t>(newline - at) : rest;
    memcpy(place.after, at, place.after_size);
}

struct Side;

// The notes' view of a comparison: both sides, and the kernel set the comparison was given.
struct Noting {
    Notes* notes;
    Side* out;
    Side* ans;
    const KernelSet* given;  // null: chosen as the comparison chooses, by the bytes read
    const KernelSet& kernels() const;
};

void before_reading(Noting& noting, Side& side);

// One side's survey for the notes.
struct SideSurvey {
    Noting* noting = nullptr;  // both sides' view, where there is another side
    // What of the block has been surveyed, and where its bytes end (kept once the side has ended,
    // so that the last block can still be surveyed).
    const uint8_t* surveyed = nullptr;
    const uint8_t* filled_end = nullptr;
    Survey survey;  // its token_starts: this side's bit string in the workspace
    // Where this step of the notes began: its first byte and the survey there.
    const uint8_t* step_start = nullptr;
    Survey at_step_start;
    unsigned held = 0;  // the file's first bytes, held while they may begin a byte-order mark
    uint8_t head[2] = {};
    unsigned byte_order_mark = 0;
};

// Where a side's bytes come from: handed to it by the comparison's caller (or all in memory), or
// read by the side itself from a descriptor, from the caller's function, or from a descriptor's
// side of the threads reading ahead, once they run. Which, is told by kind alone: a descriptor of
// -1 is a descriptor that cannot be read, never a side waiting to be handed bytes.
struct Source {
    enum Kind { handed, descriptor, reader } kind = handed;
    int fd = -1;
    const Reader* read_by = nullptr;
    ReadingAhead* ahead = nullptr;
    unsigned lane = 0;  // the side in ahead
    bool reads() const { return kind != handed; }
};

Source descriptor_source(int fd) { return Source{Source::descriptor, fd}; }
Source reader_source(const Reader& reader) { return Source{Source::reader, -1, &reader}; }

// What has arrived of a source, up to engine_block_size bytes, read into `into`, or where the
// threads reading ahead hold it (then `into` is pointed there): 0 at its end, -1 with `error` set
// when the read failed (EINTR when stop ended it). A non-blocking descriptor with nothing yet is
// waited for, as a blocking one is; an interrupted read is retried.
long read_next(const Source& source, uint8_t*& into, const StopCheck* stop, int& error) {
    for (;;) {
        if (stop != nullptr && stop->should_stop(stop->context) != 0) {
            error = errno = EINTR;  // stopped by the caller: an interrupted read of this side
            return -1;
        }
        if (source.ahead != nullptr) return source.ahead->next(source.lane, into, error);
        const long got = source.kind == Source::reader
                             ? source.read_by->read(source.read_by->context, into, engine_block_size)
                             : read_some(source.fd, into, engine_block_size);
        // A caller's reader that says it gave more than it was asked for is not to be believed.
        if (got > static_cast<long>(engine_block_size)) {
            errno = EIO;
            break;
        }
        if (got >= 0) return got;
        if ((errno == EAGAIN || errno == EWOULDBLOCK) && source.kind == Source::descriptor) {
            if (!wait_readable(source.fd) && errno != EINTR) break;
        } else if (errno != EINTR) {
            break;
        }
    }
    error = errno != 0 ? errno : EIO;
    return -1;
}

// One side of the comparison. Its bytes are read by the side itself from its source, into its
// block; or handed to it, a chunk at a time (take), by the comparison's caller; or are a buffer
// in memory, all there from the start.
struct Side {
    Source source;
    uint8_t* block;          // where the bytes at hand are, from its start to end
    uint8_t* visible;        // the visible bytes of the compacted comparison
    Place* place = nullptr;  // where the caller wants to know where this side stopped
    const uint8_t* pos = nullptr;
    const uint8_t* end = nullptr;
    const StopCheck* stop = nullptr;  // asked before each read and after each interruption
    bool ended = false;               // no bytes will follow those at hand
    int error = 0;                    // errno of a read that failed with something other than EINTR

    bool failed() const { return error != 0; }
    uint64_t read_total = 0;

    // The notes' survey of this side, only where notes are asked for: a plain comparison sets up
    // nothing for them.
    SideSurvey* noted = nullptr;

    size_t available() const { return static_cast<size_t>(end - pos); }

    // Bytes that have arrived: they are at hand from now on.
    void take(const uint8_t* bytes, size_t size) {
        block = const_cast<uint8_t*>(bytes);  // never written: the engine only reads its blocks
        pos = bytes;
        end = bytes + size;
        if (noted != nullptr) {
            noted->surveyed = pos;
            noted->filled_end = end;
        }
        read_total += size;
    }

    // True when a byte is at pos, after reading the next block if needed.
    bool has_data() {
        if (pos != end) return true;
        if (place != nullptr && end != nullptr) tally(*place, block, static_cast<size_t>(end - block));
        if (noted != nullptr && noted->noting != nullptr && end != nullptr) before_reading(*noted->noting, *this);
        if (source.reads() && !ended && !failed()) {
            const long got = read_next(source, block, stop, error);
            if (got > 0) {
                take(block, static_cast<size_t>(got));
                return true;
            }
            if (got == 0) ended = true;
        }
        pos = end = nullptr;  // the last block is tallied
        return false;
    }

    // A side whose bytes are handed to it, out of them, waiting for more.
    bool starving() const { return pos == end && !source.reads() && !ended && !failed(); }

    // Fills the place where this side stopped: at pos.
    void tell_place() const {
        if (pos != nullptr) tally(*place, block, static_cast<size_t>(pos - block));
        place->at_end = pos == end;
        place->error = error;
        if (pos != nullptr) keep_after(*place, pos, end);  // else ended: nothing after the place
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

// The notes. Each side is surveyed where the comparison has passed it, in steps: one side
// surveys up to survey_piece bytes, the other as many visible bytes, and the token starts of the
// two are compared. A side about to read its next block has passed every visible byte of its
// block, and the other side has passed as many: so both hold the step's bytes in memory, and a
// token start that differs can be placed in both files. No side is surveyed past its place.

// Set bits of a word, without the processor's instruction, which this code is not compiled for
// (and whose builtin calls a helper that a judge's Windows compiler would load from a DLL).
uint64_t bit_count(uint64_t word) {
    word -= (word >> 1) & 0x5555555555555555ull;
    word = (word & 0x3333333333333333ull) + ((word >> 2) & 0x3333333333333333ull);
    word = (word + (word >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return (word * 0x0101010101010101ull) >> 56;
}

// The offset in its file of a byte of the side's block.
uint64_t file_offset(const Side& side, const uint8_t* at) {
    return side.read_total - static_cast<uint64_t>(side.noted->filled_end - at);
}

// Index of the k-th visible byte (from 0) of p[0, n), or n where it holds no more than k. The
// bytes were counted once already, but a buffer that its caller rewrites meanwhile may hold fewer
// now: the scan is bounded by n, never by that count.
size_t nth_visible(const uint8_t* p, size_t n, size_t k) {
    for (size_t i = 0; i < n; ++i)
        if (is_visible(p[i]) && k-- == 0) return i;
    return n;
}

// The length of the byte-order mark that bytes begin with (UTF-8's EF BB BF, UTF-16's FF FE or
// FE FF); 0 when they cannot begin one; -1 when they may, but are too few to tell.
int byte_order_mark_in(const uint8_t* p, size_t n) {
    if (n >= 1 && (p[0] == 0xFF || p[0] == 0xFE)) {
        if (n < 2) return -1;
        return p[1] == (p[0] ^ 0x01) ? 2 : 0;
    }
    static constexpr uint8_t utf8[] = {0xEF, 0xBB, 0xBF};
    for (size_t i = 0; i < sizeof utf8; ++i) {
        if (i == n) return -1;
        if (p[i] != utf8[i]) return 0;
    }
    return 3;
}

// Surveys the side from where its survey stands to `to`, stopping just after `limit` visible
// bytes. A file's first bytes are held while they may begin a byte-order mark (a pipe may bring
// one a byte at a time), which is counted as a mark, not as bytes from 0x80 up.
void survey_bytes(const KernelSet& kernels, Side& side, const uint8_t* to, uint64_t limit) {
    SideSurvey& noted = *side.noted;
    if (noted.surveyed == nullptr || to <= noted.surveyed) return;
    if (noted.survey.offset == 0 && noted.byte_order_mark == 0) {
        uint8_t look[3] = {noted.head[0], noted.head[1]};
        const size_t more = std::min<size_t>(static_cast<size_t>(to - noted.surveyed), 3 - noted.held);
        memcpy(look + noted.held, noted.surveyed, more);
        const int mark = byte_order_mark_in(look, noted.held + more);
        if (mark < 0) {  // every byte here begins a mark, and there are not enough of them yet
            memcpy(noted.head + noted.held, noted.surveyed, more);
            noted.held += static_cast<unsigned>(more);
            noted.surveyed += more;
            return;
        }
        if (mark > 0) {
            noted.byte_order_mark = static_cast<unsigned>(mark);
            noted.survey.offset = noted.byte_order_mark;
            noted.surveyed += noted.byte_order_mark - noted.held;
            noted.held = 0;
        } else if (noted.held > 0) {
            (void)kernels.survey(noted.survey, noted.head, noted.held, limit);
            noted.held = 0;
        }
    }
    noted.surveyed += kernels.survey(noted.survey, noted.surveyed, static_cast<size_t>(to - noted.surveyed), limit);
}

// A side that ended with too few bytes to tell: what it held was no mark.
void release_held(const KernelSet& kernels, Side& side) {
    SideSurvey& noted = *side.noted;
    if (noted.held == 0) return;
    (void)kernels.survey(noted.survey, noted.head, noted.held, ~uint64_t{0});
    noted.held = 0;
}

void start_step(Side& side) {
    SideSurvey& noted = *side.noted;
    noted.step_start = noted.surveyed;
    noted.at_step_start = noted.survey;
    noted.survey.gap_base = noted.survey.visible;
}

// The place of a visible byte of this step's bytes (k visible bytes after the step's start), as
// tell_place would give it; the excerpt before it reaches back no further than the block.
Place place_in_step(const Side& side, uint64_t k) {
    const SideSurvey& noted = *side.noted;
    const uint8_t* const start = noted.step_start;
    const uint8_t* const at = start + nth_visible(start, static_cast<size_t>(noted.surveyed - start), k);
    Place place;
    place.offset = file_offset(side, at);
    place.visible = noted.at_step_start.visible + k;
    place.line = noted.at_step_start.line;
    uint64_t line_start = noted.at_step_start.line_start;
    for (const uint8_t* p = start; p < at; ++p) {
        if (*p != '\n') continue;
        ++place.line;
        line_start = file_offset(side, p) + 1;
    }
    place.column = place.offset - line_start + 1;
    const uint64_t block_offset = file_offset(side, side.block);
    const uint64_t from =
        std::max({line_start, block_offset, place.offset - std::min<uint64_t>(place.offset, excerpt_size)});
    place.before_size = static_cast<size_t>(place.offset - from);
    memcpy(place.before, at - place.before_size, place.before_size);
    place.before_cut = line_start < from;
    keep_after(place, at, noted.filled_end);
    return place;
}

// Compares the token starts of this step's visible bytes that both sides surveyed, and clears
// them for the next step.
void compare_token_starts(Noting& noting) {
    const Side& out = *noting.out;
    const Side& ans = *noting.ans;
    const uint64_t base = out.noted->survey.gap_base;
    const uint64_t count =
        std::min(out.noted->survey.visible, ans.noted->survey.visible) - std::min(base, ans.noted->survey.visible);
    const uint64_t written = std::max(out.noted->survey.visible - out.noted->survey.gap_base,
                                      ans.noted->survey.visible - ans.noted->survey.gap_base);
    // Steps begin with both sides at as many visible bytes; a buffer that its caller rewrites
    // may leave them apart, and then nothing is compared.
    if (ans.noted->survey.gap_base == base) {
        for (uint64_t word = 0; word * 64 < count; ++word) {
            uint64_t differ = out.noted->survey.token_starts[word] ^ ans.noted->survey.token_starts[word];
            if (count - word * 64 < 64) differ &= (uint64_t{1} << (count - word * 64)) - 1;
            if (differ == 0) continue;
            if (noting.notes->token_starts_differ == 0) {
                const uint64_t k = word * 64 + static_cast<uint64_t>(__builtin_ctzll(differ));
                noting.notes->token_out = place_in_step(out, k);
                noting.notes->token_ans = place_in_step(ans, k);
            }
            noting.notes->token_starts_differ += bit_count(differ);
        }
    }
    const size_t words = std::min<size_t>(static_cast<size_t>(std::min<uint64_t>(written, survey_piece)) / 64 + 2,
                                          survey_piece / 64 + 2);
    memset(out.noted->survey.token_starts, 0, words * sizeof(uint64_t));
    memset(ans.noted->survey.token_starts, 0, words * sizeof(uint64_t));
}

// Surveys `lead` up to `lead_to` a piece at a time, `other` along with it up to as many visible
// bytes (within other_to), and compares their token starts after each piece.
void survey_in_step(Noting& noting, Side& lead, const uint8_t* lead_to, Side& other, const uint8_t* other_to) {
    const KernelSet& kernels = noting.kernels();
    while (lead.noted->surveyed != nullptr && lead.noted->surveyed < lead_to) {
        start_step(lead);
        start_step(other);
        const uint8_t* const piece_end = lead_to - lead.noted->surveyed > static_cast<ptrdiff_t>(survey_piece)
                                             ? lead.noted->surveyed + survey_piece
                                             : lead_to;
        survey_bytes(kernels, lead, piece_end, ~uint64_t{0});
        // As many visible bytes as the lead's piece held, never more: a buffer that its caller
        // rewrites may leave the sides apart, and then no more than a piece is caught up.
        const uint64_t behind =
            lead.noted->survey.visible - std::min(lead.noted->survey.visible, other.noted->survey.visible);
        if (behind != 0)
            survey_bytes(kernels, other, other_to,
                         std::min(behind, lead.noted->survey.visible - lead.noted->survey.gap_base));
        compare_token_starts(noting);
    }
}

const KernelSet& Noting::kernels() const {
    if (given != nullptr) return *given;
    return out->read_total + ans->read_total > probe_after ? best_kernel_set() : all_kernel_sets().front();
}

void before_reading(Noting& noting, Side& side) {
    Side& other = &side == noting.out ? *noting.ans : *noting.out;
    survey_in_step(noting, side, side.noted->filled_end, other, other.noted->filled_end);
}

// On a difference, the rest of an answer that is in memory or a regular file, for the answer's
// notes alone: a pipe is not waited for, nor is the caller's reader.
void survey_rest_of_answer(const KernelSet& kernels, Side& ans) {
    if (ans.source.kind == Source::reader) return;
    if (ans.source.kind == Source::descriptor) {
        struct stat status {};
        if (fstat(ans.source.fd, &status) != 0 || !S_ISREG(status.st_mode)) return;
    }
    ans.noted->survey.token_starts = nullptr;
    for (;;) {
        survey_bytes(kernels, ans, ans.noted->filled_end, ~uint64_t{0});
        if (ans.ended || ans.failed()) return;
        int error = 0;
        const long got = read_next(ans.source, ans.block, ans.stop, error);
        if (got < 0) return;
        if (got == 0) ans.ended = true;
        ans.take(ans.block, static_cast<size_t>(got));
    }
}

FileNotes notes_of(const Side& side) {
    const SideSurvey& noted = *side.noted;
    FileNotes notes;
    notes.bytes = noted.survey.offset;
    notes.visible = noted.survey.visible;
    notes.complete = side.ended && noted.surveyed == noted.filled_end && noted.held == 0;
    notes.byte_order_mark = noted.byte_order_mark;
    for (unsigned kind = 0; kind < ignored_kinds; ++kind) {
        notes.count[kind] = noted.survey.count[kind];
        notes.first[kind] = noted.survey.first[kind];
    }
    return notes;
}

// Surveys both sides up to where the comparison left them (their places, or their ends), and the
// rest of the answer on a difference.
void finish_notes(Noting& noting, Comparison result) {
    if (result == Comparison::out_unreadable || result == Comparison::ans_unreadable) return;
    Side& out = *noting.out;
    Side& ans = *noting.ans;
    const uint8_t* const out_to = out.pos != nullptr ? out.pos : out.noted->filled_end;
    const uint8_t* const ans_to = ans.pos != nullptr ? ans.pos : ans.noted->filled_end;
    survey_in_step(noting, out, out_to, ans, ans_to);
    survey_in_step(noting, ans, ans_to, out, out_to);
    if (result == Comparison::differ) survey_rest_of_answer(noting.kernels(), ans);
    for (Side* side : {&out, &ans}) release_held(noting.kernels(), *side);
    noting.notes->out = notes_of(out);
    noting.notes->ans = notes_of(ans);
}

// wanting_output: the output's bytes at hand are passed, and more are needed to go on.
enum class Step { go_on, differ, out_unreadable, ans_unreadable, wanting_output };

Step after_failure(const Side& out, const Side& ans) {
    if (out.failed()) return Step::out_unreadable;
    if (ans.failed()) return Step::ans_unreadable;
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
            if (ans.failed()) return Step::ans_unreadable;
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

// An unreadable side's error in errno, whatever ran since its read failed (or since it was found
// unreadable before any read).
Comparison told_unreadable(const ComparisonCore& core, Comparison result) {
    if (result == Comparison::out_unreadable) errno = core.out.error;
    if (result == Comparison::ans_unreadable) errno = core.ans.error;
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
        uint8_t* into = block;
        const long got = read_next(out, into, stop, core.out.error);
        if (got > 0) core.out.take(into, static_cast<size_t>(got));
        if (got == 0) core.out.ended = true;
        // A failed read is in the side's error, which the core tells.
        if (mode == ReadAhead::when_worth_it && core.out.read_total == engine_block_size &&
            got == static_cast<long>(engine_block_size))  // the first read, and it filled a block
            start_reading_ahead(ahead, mode, out, core.ans.source);
    }
}

void attach_survey(Side& side, SideSurvey& survey, Noting& noting) {
    survey.noting = &noting;
    survey.surveyed = side.pos;  // a buffer's bytes; nothing yet for a descriptor
    survey.filled_end = side.end;
    side.noted = &survey;
}

// Runs the comparison (compare: the core to a result) with the notes, when asked for.
template <class Compare>
inline __attribute__((always_inline)) Comparison compare_noting(ComparisonCore& core, Notes* notes,
                                                                Workspace& workspace, Compare compare) {
    if (notes == nullptr) return compare(core);
    *notes = Notes{};
    Noting noting{notes, &core.out, &core.ans, core.kernels};
    SideSurvey out_survey, ans_survey;
    memset(workspace.out_token_starts, 0, sizeof workspace.out_token_starts);
    memset(workspace.ans_token_starts, 0, sizeof workspace.ans_token_starts);
    out_survey.survey.token_starts = workspace.out_token_starts;
    ans_survey.survey.token_starts = workspace.ans_token_starts;
    attach_survey(core.out, out_survey, noting);
    attach_survey(core.ans, ans_survey, noting);
    const Comparison result = compare(core);
    // After the places: the rest of the answer is read into its block.
    finish_notes(noting, result);
    core.out.noted = core.ans.noted = nullptr;  // the surveys end here; the sides are the caller's
    return result;
}

// A side whose bytes its caller hands over, chunk by chunk (take).
Side handed_side(uint8_t* visible, Place* place) { return Side{Source{}, nullptr, visible, place}; }

// A side read from its source, into the block. (Both are written, through the side.)
// NOLINTNEXTLINE(readability-non-const-parameter)
Side reading_side(Source source, uint8_t* block, uint8_t* visible, Place* place, const StopCheck* stop) {
    Side side{source, block, visible, place};
    side.stop = stop;
    // A caller's unchecked failed open(): unreadable before anything is read, on either side.
    if (source.kind == Source::descriptor && source.fd < 0) side.error = EBADF;
    return side;
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

// A buffer in memory as a side whose one block has been read and whose end has been met. (The
// compacted comparison writes the visible bytes, so they are not const.)
// NOLINTNEXTLINE(readability-non-const-parameter)
Side memory_side(const uint8_t* bytes, size_t size, uint8_t* visible, Place* place) {
    Side side{Source{}, nullptr, visible, place};
    side.take(bytes, size);
    side.ended = true;
    return side;
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

bool survey_file(Workspace& workspace, int fd, FileNotes& notes, const StopCheck* stop) {
    Side side = reading_side(descriptor_source(fd), workspace.out_block, workspace.out_visible, nullptr, stop);
    SideSurvey survey;
    side.noted = &survey;
    const KernelSet* kernels = &all_kernel_sets().front();
    while (side.has_data()) {
        if (side.read_total > probe_after) kernels = &best_kernel_set();
        survey_bytes(*kernels, side, side.noted->filled_end, ~uint64_t{0});
        side.pos = side.end;
    }
    release_held(*kernels, side);
    notes = notes_of(side);
    if (side.failed()) errno = side.error;
    return !side.failed();
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
