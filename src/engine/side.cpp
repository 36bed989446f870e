#include "side.h"

#ifdef _WIN32
#include <io.h>
#else
#include <poll.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>

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

}  // namespace

long read_next(const Source& source, uint8_t*& into, const StopCheck* stop, int& error) {
    for (;;) {
        if (stop != nullptr && stop->should_stop(stop->context) != 0) {
            error = errno = EINTR;  // as an interrupted read of this side, for its place
            return read_stopped;
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
