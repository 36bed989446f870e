// One side of a comparison: where its bytes come from, the block of them at hand, and, for a caller
// that asks where the sides stopped, the place counted as the bytes go by. The comparison
// (compare.cpp) and the notes' surveys (survey.cpp) work on sides. Inline where a tiny
// comparison's cost is mostly calls.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "compare.h"
#include "read_ahead.h"

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

inline Source descriptor_source(int fd) { return Source{Source::descriptor, fd}; }
inline Source reader_source(const Reader& reader) { return Source{Source::reader, -1, &reader}; }

// What read_next returns when the caller's stop function ended the comparison (its error EINTR).
constexpr long read_stopped = -2;

// What has arrived of a source, up to engine_block_size bytes, read into `into`, or where the
// threads reading ahead hold it (then `into` is pointed there): 0 at its end, -1 with `error` set
// when the read failed, read_stopped when stop ended it. A non-blocking descriptor with nothing
// yet is waited for, as a blocking one is; an interrupted read is retried.
long read_next(const Source& source, uint8_t*& into, const StopCheck* stop, int& error);

// Counts n bytes passed into a place: lines, columns, visible bytes, and the latest bytes of the
// current line.
void tally(Place& place, const uint8_t* p, size_t n);
// Keeps the bytes from `at` on, up to the excerpt's size and cut at a newline, as the place's
// excerpt after it.
void keep_after(Place& place, const uint8_t* at, const uint8_t* end);

// The excerpt's size as a constant, which std::min may bind to a reference (as C++14 takes it, a
// static member bound so needs a definition of its own).
constexpr size_t excerpt_size = Place::excerpt_size;

// Index of the k-th visible byte (from 0) of p[0, n), or n where it holds no more than k. The
// bytes were counted once already, but a buffer that its caller rewrites meanwhile may hold fewer
// now: the scan is bounded by n, never by that count.
inline size_t nth_visible(const uint8_t* p, size_t n, size_t k) {
    for (size_t i = 0; i < n; ++i)
        if (is_visible(p[i]) && k-- == 0) return i;
    return n;
}

struct Side;
// A side's survey for the notes (survey.h), where the notes are asked for: told of the bytes a
// side takes, and of the next read, before which the bytes at hand are surveyed.
struct SideSurvey;
void survey_took(SideSurvey& survey, const uint8_t* bytes, const uint8_t* end);
void survey_before_read(SideSurvey& survey, Side& side);

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
    bool stopped = false;             // the stop function ended the comparison at this side's read
    int error = 0;                    // errno of the read that failed (EINTR where stopped)
    uint64_t read_total = 0;
    // The notes' survey of this side, only where notes are asked for: a plain comparison sets up
    // nothing for them.
    SideSurvey* noted = nullptr;

    bool failed() const { return error != 0; }
    size_t available() const { return static_cast<size_t>(end - pos); }

    // Bytes that have arrived: they are at hand from now on.
    void take(const uint8_t* bytes, size_t size) {
        block = const_cast<uint8_t*>(bytes);  // never written: the engine only reads its blocks
        pos = bytes;
        end = bytes + size;
        if (noted != nullptr) survey_took(*noted, pos, end);
        read_total += size;
    }

    // What a read of this side's source returned, told to the side.
    void took_read(long got) {
        if (got > 0) take(block, static_cast<size_t>(got));
        if (got == 0) ended = true;
        stopped = got == read_stopped;
    }

    // True when a byte is at pos, after reading the next block if needed.
    bool has_data() {
        if (pos != end) return true;
        if (place != nullptr && end != nullptr) tally(*place, block, static_cast<size_t>(end - block));
        if (noted != nullptr && end != nullptr) survey_before_read(*noted, *this);
        if (source.reads() && !ended && !failed()) {
            const long got = read_next(source, block, stop, error);
            took_read(got);
            if (got > 0) return true;
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

// A side whose bytes its caller hands over, chunk by chunk (take).
inline Side handed_side(uint8_t* visible, Place* place) { return Side{Source{}, nullptr, visible, place}; }

// A side read from its source, into the block. A caller's unchecked failed open() (a descriptor
// of -1) is unreadable before anything is read.
// NOLINTNEXTLINE(readability-non-const-parameter): both are written, through the side
inline Side reading_side(Source source, uint8_t* block, uint8_t* visible, Place* place, const StopCheck* stop) {
    Side side{source, block, visible, place};
    side.stop = stop;
    if (source.kind == Source::descriptor && source.fd < 0) side.error = EBADF;
    return side;
}

// A buffer in memory as a side whose one block has been read and whose end has been met. (The
// compacted comparison writes the visible bytes, so they are not const.)
// NOLINTNEXTLINE(readability-non-const-parameter)
inline Side memory_side(const uint8_t* bytes, size_t size, uint8_t* visible, Place* place) {
    Side side{Source{}, nullptr, visible, place};
    side.take(bytes, size);
    side.ended = true;
    return side;
}
