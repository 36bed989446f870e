#include "compare.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

// The two sides are kept at the same place in their streams of visible bytes. From there, the
// raw bytes are compared a vector at a time and equal spans are skipped whole: equal raw bytes
// hold equal visible bytes. Where the raw bytes differ (line-end conventions, trailing blanks,
// other separators), each side moves to its next visible byte, those two must be equal, and the
// raw comparison resumes after them.

namespace {

constexpr size_t block_size = size_t{256} << 10;

alignas(64) uint8_t out_block[block_size];
alignas(64) uint8_t ans_block[block_size];

struct Side {
    int fd;
    uint8_t* block;
    const uint8_t* pos = nullptr;
    const uint8_t* end = nullptr;
    bool ended = false;   // read() met the end of the file; never read again
    bool failed = false;  // read() failed with something other than EINTR

    size_t available() const { return static_cast<size_t>(end - pos); }

    // True when a byte is at pos, after reading the next block if needed. A read returns what
    // has arrived, so a pipe is judged as its bytes come in.
    bool has_data() {
        if (pos != end) return true;
        while (!ended && !failed) {
            const ssize_t got = read(fd, block, block_size);
            if (got > 0) {
                pos = block;
                end = block + got;
                return true;
            }
            if (got == 0)
                ended = true;
            else if (errno != EINTR)
                failed = true;
        }
        return false;
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

}  // namespace

Comparison compare_visible(int out_fd, int ans_fd, const KernelSet& kernels) {
    Side out{out_fd, out_block};
    Side ans{ans_fd, ans_block};
    for (;;) {
        // The player's output is always read before the standard answer.
        const bool out_has = out.has_data();
        if (out.failed) return Comparison::out_unreadable;
        const bool ans_has = ans.has_data();
        if (ans.failed) return Comparison::ans_unreadable;
        if (out_has && ans_has) {
            const size_t span = std::min(out.available(), ans.available());
            const size_t equal = kernels.mismatch(out.pos, ans.pos, span);
            out.pos += equal;
            ans.pos += equal;
            if (equal == span) continue;
        }
        // The raw bytes differ here, or a side has ended: the next visible bytes decide.
        const bool out_visible = out.seek_visible(kernels);
        if (out.failed) return Comparison::out_unreadable;
        const bool ans_visible = ans.seek_visible(kernels);
        if (ans.failed) return Comparison::ans_unreadable;
        if (!out_visible || !ans_visible) return out_visible == ans_visible ? Comparison::same : Comparison::differ;
        if (*out.pos != *ans.pos) return Comparison::differ;
        ++out.pos;
        ++ans.pos;
    }
}
