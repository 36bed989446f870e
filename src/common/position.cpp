#include "position.h"

#include <cinttypes>
#include <cstdio>

namespace {

const char* bytes_word(uint64_t count) { return count == 1 ? "byte" : "bytes"; }

}  // namespace

const char* describe_position(char* text, size_t size, const Places& where) {
    const Place& out = where.out;
    const Place& ans = where.ans;
    const uint64_t index = out.visible + 1;
    if (out.at_end) {
        (void)snprintf(text, size,
                       "the output ended after %" PRIu64 " visible %s, at line %" PRIu64 ", column %" PRIu64
                       "; the answer goes on at line %" PRIu64 ", column %" PRIu64,
                       out.visible, bytes_word(out.visible), out.line, out.column, ans.line, ans.column);
    } else if (ans.at_end) {
        (void)snprintf(text, size,
                       "the output goes on past the answer's %" PRIu64 " visible %s, at line %" PRIu64
                       ", column %" PRIu64 "; the answer ended at line %" PRIu64 ", column %" PRIu64,
                       ans.visible, bytes_word(ans.visible), out.line, out.column, ans.line, ans.column);
    } else {
        (void)snprintf(text, size,
                       "first difference at visible byte %" PRIu64 ": line %" PRIu64 ", column %" PRIu64
                       " of the output; line %" PRIu64 ", column %" PRIu64 " of the answer",
                       index, out.line, out.column, ans.line, ans.column);
    }
    return text;
}
