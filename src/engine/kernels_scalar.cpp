#include "kernels_scalar.h"

namespace kernels {
namespace scalar {

namespace {

// The kind of an ignored byte that is not white space; ignored_kinds for every other byte.
constexpr unsigned kind_of(uint8_t byte) {
    if (byte >= 0x80) return kind_high;
    if (byte == 0) return kind_nul;
    if (byte == 0x7F) return kind_del;
    if (byte < 0x20 && (byte < 0x09 || byte > 0x0D)) return kind_control;
    return ignored_kinds;
}

}  // namespace

LineCount count_lines(const uint8_t* p, size_t n) {
    // Without a branch: the compiler makes vector code of it for the processor the build targets.
    uint64_t visible = 0, newlines = 0;
    for (size_t i = 0; i < n; ++i) {
        visible += is_visible(p[i]) ? 1 : 0;
        newlines += p[i] == '\n' ? 1 : 0;
    }
    return {visible, newlines};
}

size_t find_visible(const uint8_t* p, size_t n) {
    size_t i = 0;
    while (i < n && !is_visible(p[i])) ++i;
    return i;
}

Advanced advance_common(const uint8_t* a, size_t na, const uint8_t* b, size_t nb) {
    size_t i = 0;
    size_t j = 0;
    size_t resyncs = 0;
    while (i < na && j < nb) {
        if (a[i] == b[j] || (!is_visible(a[i]) && !is_visible(b[j]))) {
            ++i, ++j;
            continue;
        }
        const size_t next_a = i + find_visible(a + i, na - i);
        const size_t next_b = j + find_visible(b + j, nb - j);
        if (next_a == na || next_b == nb || a[next_a] != b[next_b]) break;
        i = next_a + 1;
        j = next_b + 1;
        ++resyncs;
    }
    return {i, j, resyncs};
}

Compacted compact_visible(uint8_t* dst, const uint8_t* src, size_t n, size_t limit) {
    size_t written = 0;
    size_t i = 0;
    for (; i < n && written < limit; ++i)
        if (is_visible(src[i])) dst[written++] = src[i];
    return {i, written};
}

size_t first_mismatch(const uint8_t* a, const uint8_t* b, size_t n) {
    size_t i = 0;
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

size_t survey(Survey& s, const uint8_t* p, size_t n, uint64_t visible_limit) {
    uint64_t taken = 0;
    size_t i = 0;
    for (; i < n && taken < visible_limit; ++i) {
        const uint8_t byte = p[i];
        const uint64_t at = s.offset + i;
        if (is_visible(byte)) {
            if (s.token_starts != nullptr && s.gap) put_bits(s.token_starts, s.visible - s.gap_base, 1, 1);
            ++s.visible;
            ++taken;
            s.gap = false;
            continue;
        }
        s.gap = s.visible > 0;
        const unsigned kind = kind_of(byte);
        if (kind != ignored_kinds) {
            ++s.count[kind];
            if (s.first[kind].line == 0) s.first[kind] = {at, s.line, at - s.line_start + 1};
        }
        if (byte == '\n') {
            ++s.line;
            s.line_start = at + 1;
        }
    }
    s.offset += i;
    return i;
}

}  // namespace scalar
}  // namespace kernels
