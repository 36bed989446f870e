// Byte kernels of the comparison: pure functions over buffers, one scalar version that defines
// the truth and vector versions chosen at run time. None reads past the n bytes it is given.
// Written in C++14, as the drop-ins that judges compile are.
#pragma once

#include <cstddef>
#include <cstdint>

// The only bytes the comparison looks at: 0x21 '!' to 0x7E '~'.
constexpr bool is_visible(uint8_t byte) { return static_cast<uint8_t>(byte - 0x21) < 0x5E; }

struct Advanced {
    size_t a;        // bytes of a passed
    size_t b;        // bytes of b passed
    size_t resyncs;  // differences in invisible bytes passed on the way
    bool operator==(const Advanced& other) const { return a == other.a && b == other.b && resyncs == other.resyncs; }
};

// The bytes of a span that place a byte in its file: visible ones, and newlines.
struct LineCount {
    uint64_t visible;
    uint64_t newlines;
    bool operator==(const LineCount& other) const { return visible == other.visible && newlines == other.newlines; }
};

struct Compacted {
    size_t consumed;  // input bytes used
    size_t written;   // visible bytes written
};

// The kinds of ignored byte that are not white space (space, tab, CR, LF, VT, FF), which the
// jury's notes count: bytes from 0x80 up, NUL, the other control bytes, DEL.
enum IgnoredKind : unsigned { kind_high, kind_nul, kind_control, kind_del, ignored_kinds };

// Where a byte stands in its file: offset from 0, line and column from 1 (line 0: no such byte).
struct Spot {
    uint64_t offset = 0;
    uint64_t line = 0;
    uint64_t column = 0;
};

// One file's running survey for the notes: what the bytes surveyed so far hold besides their
// visible bytes. A token is a maximal run of visible bytes; a visible byte that starts a token
// after an earlier one (an invisible byte stands between them) is a token start.
struct Survey {
    uint64_t offset = 0;      // bytes surveyed
    uint64_t visible = 0;     // visible bytes among them
    uint64_t line = 1;        // newlines among them, plus one
    uint64_t line_start = 0;  // offset just after the last newline
    bool gap = false;         // an invisible byte follows the last visible one
    uint64_t count[ignored_kinds] = {};
    Spot first[ignored_kinds] = {};
    // Where the token starts go, one bit a visible byte: bit k for the visible byte numbered
    // gap_base + k (from 0), ORed into words the caller has zeroed. Null: not kept.
    uint64_t* token_starts = nullptr;
    uint64_t gap_base = 0;
};

// ORs the low `count` bits of `bits` into the bit string at bit `at`.
inline void put_bits(uint64_t* words, uint64_t at, uint64_t bits, unsigned count) {
    if (count == 0) return;
    const unsigned shift = static_cast<unsigned>(at % 64);
    words[at / 64] |= bits << shift;
    if (shift != 0 && count > 64 - shift) words[at / 64 + 1] |= bits >> (64 - shift);
}

// The bits of `bits` where `mask` has its set bits, packed from bit 0 up (BMI2's pext): a step a
// set bit of `bits`, which are token starts, a few a window.
inline uint64_t gather_bits(uint64_t bits, uint64_t mask) {
    uint64_t packed = 0;
    for (uint64_t rest = bits & mask; rest != 0; rest &= rest - 1)
        packed |= uint64_t{1} << __builtin_popcountll(mask & ((rest & (0 - rest)) - 1));
    return packed;
}

// Room a compacting kernel may write past its last visible byte.
constexpr size_t compact_slack = 64;

struct KernelSet {
    const char* name;
    bool (*supported)();  // whether this processor and operating system can run the set

    // From a common place (as many visible bytes passed on either side), passes a[0, na) and
    // b[0, nb) together while their visible bytes match, and returns the next common place:
    // either a side's end, or bytes a[i] and b[j] that differ, are not both invisible, and whose
    // next visible bytes differ or lie beyond a side's end. Step by step: equal bytes, or two
    // invisible ones, pass together; otherwise each side moves to its next visible byte and,
    // when both exist and are equal, both pass it (one resync).
    Advanced (*advance_common)(const uint8_t* a, size_t na, const uint8_t* b, size_t nb);

    // Index of the first visible byte of p[0, n), or n.
    size_t (*find_visible)(const uint8_t* p, size_t n);

    // Copies the visible bytes of src[0, n) to dst in order, stopping once limit are written;
    // consumed then ends just after the last one written. dst has room for limit plus
    // compact_slack bytes.
    Compacted (*compact_visible)(uint8_t* dst, const uint8_t* src, size_t n, size_t limit);

    // Index of the first byte where a[0, n) and b[0, n) differ, or n.
    size_t (*first_mismatch)(const uint8_t* a, const uint8_t* b, size_t n);

    // Surveys p[0, n) into s, stopping just after the visible_limit-th visible byte (or at n);
    // returns the bytes surveyed.
    size_t (*survey)(Survey& s, const uint8_t* p, size_t n, uint64_t visible_limit);
    // The visible bytes and the newlines of p[0, n).
    LineCount (*count_lines)(const uint8_t* p, size_t n);

    // Where differences in invisible bytes come closer than this many bytes apart on average,
    // compacting both sides to their visible bytes beats resyncing after each: a property of the
    // set and of the processors it runs on, measured by the benchmark. 0: never compact.
    size_t dense_gap;
};

// A set's entry: its name, whether it runs here, the functions of its namespace kernels::set
// (kernels_functions.h), and its crossover to compaction.
#define KERNEL_SET_ENTRY(set, supported, dense_gap)                                                               \
    KernelSet {                                                                                                   \
#set, supported, kernels::set::advance_common, kernels::set::find_visible, kernels::set::compact_visible, \
            kernels::set::first_mismatch, kernels::set::survey, kernels::set::count_lines, dense_gap              \
    }

// A run of kernel sets, never empty (what std::span would be, in C++20).
struct KernelSets {
    const KernelSet* first;
    size_t count;
    const KernelSet* begin() const { return first; }
    const KernelSet* end() const { return first + count; }
    size_t size() const { return count; }
    const KernelSet& front() const { return *first; }
    const KernelSet& operator[](size_t i) const { return first[i]; }
};

// Every set built into this binary, the scalar reference first.
KernelSets all_kernel_sets();
// The choice among sets listed from the slowest to the fastest, the first one the reference
// that runs everywhere: the fastest supported one, else the first.
const KernelSet& choose_kernel_set(KernelSets sets);
// The choice among all_kernel_sets(), made on first use and kept.
const KernelSet& best_kernel_set();
