#include "excerpt.h"

#include <cinttypes>

namespace {

// Writes bytes as they are, except that control bytes and bytes from 0x80 up are escaped, so
// that the excerpt shows what the rule ignores and never moves the terminal. Returns the
// number of characters written, or -1.
int put_escaped(FILE* to, const uint8_t* bytes, size_t count) {
    int width = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t byte = bytes[i];
        int put = 0;
        if (byte >= 0x20 && byte < 0x7F)
            put = fputc(byte, to) == EOF ? -1 : 1;
        else if (byte == '\t')
            put = fputs("\\t", to) < 0 ? -1 : 2;
        else if (byte == '\r')
            put = fputs("\\r", to) < 0 ? -1 : 2;
        else
            put = fprintf(to, "\\x%02X", byte);
        if (put < 0) return -1;
        width += put;
    }
    return width;
}

// "  NAME:LINE:COLUMN: excerpt", then a line with a caret under the place.
bool describe(FILE* to, const char* name, const Place& place) {
    const int heading =
        fprintf(to, "  %s:%" PRIu64 ":%" PRIu64 ": %s", name, place.line, place.column, place.before_cut ? "..." : "");
    const int before = put_escaped(to, place.before, place.before_size);
    if (heading < 0 || before < 0 || put_escaped(to, place.after, place.after_size) < 0) return false;
    const char* cut = place.after_size == Place::excerpt_size ? "..." : "";
    return fprintf(to, "%s\n%*s%s\n", cut, heading + before, "", place.at_end ? "^ end of file" : "^") > 0;
}

}  // namespace

bool print_places(FILE* to, const char* out_name, const char* ans_name, const Place& out, const Place& ans) {
    return describe(to, out_name, out) && describe(to, ans_name, ans);
}

bool print_difference(FILE* to, const char* out_name, const char* ans_name, const Places& where) {
    return fprintf(to, "%s %s differ: visible byte %" PRIu64 "\n", out_name, ans_name, where.out.visible + 1) > 0 &&
           print_places(to, out_name, ans_name, where.out, where.ans);
}
