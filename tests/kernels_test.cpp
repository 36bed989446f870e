// Every kernel against the scalar reference: edge bytes at every position, all alignments,
// random inputs from a fixed seed, and inputs that end on a guard page, so that a read past the
// end crashes the test.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "kernel_set_test.h"
#include "kernels_scalar.h"
#if defined(__x86_64__)
#include "kernels_x86.h"
#endif

void PrintTo(const Advanced& x, std::ostream* os) {
    *os << "{a " << x.a << ", b " << x.b << ", resyncs " << x.resyncs << "}";
}

namespace {

const uint8_t edge_bytes[] = {0x00, 0x09, 0x0A, 0x20, 0x21, 0x7E, 0x7F, 0x80, 0xFF};
const uint8_t invisible_bytes[] = {0x00, 0x09, 0x0A, 0x0D, 0x20, 0x7F, 0x80, 0xFF};
constexpr size_t largest = 2 * 64 + 40;  // two AVX-512 vectors and a tail

// Bytes placed so that the last one is followed by an inaccessible page.
class GuardedBytes {
public:
    explicit GuardedBytes(size_t capacity) {
        page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        mapped_ = (capacity + page_ - 1) / page_ * page_ + page_;
        base_ =
            static_cast<uint8_t*>(mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        EXPECT_NE(base_, MAP_FAILED);
        EXPECT_EQ(mprotect(base_ + mapped_ - page_, page_, PROT_NONE), 0);
    }
    ~GuardedBytes() { munmap(base_, mapped_); }
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;

    // A copy of bytes that ends right at the guard page.
    const uint8_t* place(const std::vector<uint8_t>& bytes) {
        uint8_t* at = base_ + mapped_ - page_ - bytes.size();
        if (!bytes.empty()) memcpy(at, bytes.data(), bytes.size());
        return at;
    }

private:
    size_t page_ = 0;
    size_t mapped_ = 0;
    uint8_t* base_ = nullptr;
};

std::vector<uint8_t> random_invisible(std::mt19937& rng, size_t n) {
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes) b = invisible_bytes[rng() % sizeof invisible_bytes];
    return bytes;
}

// Text-like bytes: mostly digits, with blanks, line ends and the odd high or control byte.
std::vector<uint8_t> random_text(std::mt19937& rng, size_t n) {
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes) {
        const unsigned roll = rng() % 16;
        b = roll < 10 ? static_cast<uint8_t>('0' + roll) : edge_bytes[rng() % sizeof edge_bytes];
    }
    return bytes;
}

class Kernel : public KernelSetTest {
protected:
    void expect_find_visible(const uint8_t* p, size_t n) {
        EXPECT_EQ(kernels().find_visible(p, n), kernels::scalar::find_visible(p, n)) << "n " << n;
    }

    void expect_advance(const uint8_t* a, size_t na, const uint8_t* b, size_t nb) {
        EXPECT_EQ(kernels().advance_common(a, na, b, nb), kernels::scalar::advance_common(a, na, b, nb))
            << na << " / " << nb;
    }

    // Compaction with every limit from 0 past the count of visible bytes, into a guarded buffer.
    void expect_compact(const uint8_t* src, size_t n) {
        const size_t visible = static_cast<size_t>(std::count_if(src, src + n, is_visible));
        for (size_t limit :
             {size_t{0}, size_t{1}, visible / 2, visible - (visible > 0), visible, visible + 1, SIZE_MAX}) {
            const size_t room = std::min(limit, n) + compact_slack;
            std::vector<uint8_t> want(room), got_bytes(room);
            GuardedBytes guarded(room);
            uint8_t* dst = const_cast<uint8_t*>(guarded.place(got_bytes));
            const Compacted expected = kernels::scalar::compact_visible(want.data(), src, n, limit);
            const Compacted got = kernels().compact_visible(dst, src, n, limit);
            EXPECT_EQ(got.consumed, expected.consumed) << "n " << n << " limit " << limit;
            ASSERT_EQ(got.written, expected.written) << "n " << n << " limit " << limit;
            EXPECT_EQ(memcmp(dst, want.data(), got.written), 0) << "n " << n << " limit " << limit;
        }
    }
};

TEST_P(Kernel, FindVisibleEdgeByteAtEveryPosition) {
    std::mt19937 rng(1);
    GuardedBytes guarded(largest);
    for (size_t n = 0; n <= largest; ++n) {
        auto bytes = random_invisible(rng, n);
        expect_find_visible(guarded.place(bytes), n);
        for (size_t at = 0; at < n; ++at)
            for (uint8_t edge : edge_bytes) {
                auto marked = bytes;
                marked[at] = edge;
                expect_find_visible(guarded.place(marked), n);
            }
    }
}

TEST_P(Kernel, AdvanceWithOneChangeAtEveryPosition) {
    // Equal sides but for one byte: the kernel passes up to it, or resyncs over it.
    std::mt19937 rng(2);
    GuardedBytes guarded_a(largest), guarded_b(largest);
    for (size_t n = 0; n <= largest; ++n) {
        const auto base = random_text(rng, n);
        const uint8_t* a = guarded_a.place(base);
        expect_advance(a, n, guarded_b.place(base), n);
        for (size_t at = 0; at < n; ++at)
            for (uint8_t edge : edge_bytes) {
                auto changed = base;
                changed[at] = edge;
                expect_advance(a, n, guarded_b.place(changed), n);
                expect_advance(guarded_b.place(changed), n, a, n);
            }
    }
}

TEST_P(Kernel, AdvanceOverDifferentSeparators) {
    // The same tokens with separators of different lengths: resyncs at every one, runs that
    // cross vectors and sides' ends, and an occasional real difference.
    std::mt19937 rng(3);
    const std::vector<std::vector<uint8_t>> separators = {
        {' '}, {'\n'}, {'\r', '\n'}, {' ', ' ', '\n'}, {}, std::vector<uint8_t>(70, ' '), {0x80, 0xFF}};
    GuardedBytes guarded_a(4096), guarded_b(4096);
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> a, b;
        while (a.size() < 1500 && b.size() < 1500) {
            const std::string token = std::to_string(rng() % 1000);
            a.insert(a.end(), token.begin(), token.end());
            b.insert(b.end(), token.begin(), token.end());
            const auto& sa = separators[rng() % separators.size()];
            const auto& sb = separators[rng() % separators.size()];
            a.insert(a.end(), sa.begin(), sa.end());
            b.insert(b.end(), sb.begin(), sb.end());
        }
        if (round % 4 == 0) b[rng() % b.size()] = static_cast<uint8_t>('0' + rng() % 10);
        a.resize(rng() % (a.size() + 1));
        b.resize(rng() % (b.size() + 1));
        expect_advance(guarded_a.place(a), a.size(), guarded_b.place(b), b.size());
        if (HasFailure()) return;
    }
}

TEST_P(Kernel, AllAlignments) {
    std::mt19937 rng(4);
    alignas(64) static uint8_t a[64 + 512], b[64 + 512];
    const auto text = random_text(rng, 512);
    for (size_t offset_a = 0; offset_a < 64; ++offset_a)
        for (size_t offset_b : {size_t{0}, size_t{1}, size_t{31}, size_t{33}, offset_a}) {
            memcpy(a + offset_a, text.data(), text.size());
            memcpy(b + offset_b, text.data(), text.size());
            b[offset_b + 300] = ' ';
            const size_t n = 512 - offset_a % 7;
            expect_find_visible(a + offset_a, n);
            expect_advance(a + offset_a, n, b + offset_b, 512);
            expect_compact(a + offset_a, n);
        }
}

TEST_P(Kernel, CompactEdgeByteAtEveryPosition) {
    std::mt19937 rng(5);
    GuardedBytes guarded(largest);
    for (size_t n = 0; n <= largest; n += (n < 70 ? 1 : 7)) {
        auto bytes = random_text(rng, n);
        expect_compact(guarded.place(bytes), n);
        for (size_t at = 0; at < n; at += 3) {
            const uint8_t kept = bytes[at];
            bytes[at] = edge_bytes[at % sizeof edge_bytes];
            expect_compact(guarded.place(bytes), n);
            bytes[at] = kept;
        }
        if (HasFailure()) return;
    }
}

TEST_P(Kernel, FirstMismatchAtEveryPosition) {
    std::mt19937 rng(4);
    GuardedBytes guarded_a(largest), guarded_b(largest);
    for (size_t n = 0; n <= largest; ++n) {
        const auto a = random_text(rng, n);
        auto b = a;
        const uint8_t* pa = guarded_a.place(a);
        EXPECT_EQ(kernels().first_mismatch(pa, guarded_b.place(b), n), n) << "n " << n;
        for (size_t at = 0; at < n; ++at) {
            b[at] ^= 0x80;  // a high byte: a comparison by sign or by visibility would miss it
            EXPECT_EQ(kernels().first_mismatch(pa, guarded_b.place(b), n), at) << "n " << n;
            b[at] ^= 0x80;
        }
        if (HasFailure()) return;
    }
}

// The survey from a random state, with every limit that cuts a window or none, against the
// scalar survey: the same bytes taken, counts, first places, lines and token starts.
void expect_same_survey(const Survey& got, const Survey& want, const std::vector<uint64_t>& got_starts,
                        const std::vector<uint64_t>& want_starts) {
    EXPECT_EQ(got.offset, want.offset);
    EXPECT_EQ(got.visible, want.visible);
    EXPECT_EQ(got.line, want.line);
    EXPECT_EQ(got.line_start, want.line_start);
    EXPECT_EQ(got.gap, want.gap);
    for (unsigned kind = 0; kind < ignored_kinds; ++kind) {
        EXPECT_EQ(got.count[kind], want.count[kind]) << "kind " << kind;
        EXPECT_EQ(got.first[kind].offset, want.first[kind].offset) << "kind " << kind;
        EXPECT_EQ(got.first[kind].line, want.first[kind].line) << "kind " << kind;
        EXPECT_EQ(got.first[kind].column, want.first[kind].column) << "kind " << kind;
    }
    EXPECT_EQ(got_starts, want_starts);
}

TEST_P(Kernel, SurveyAgreesWithTheScalarSurvey) {
    std::mt19937 rng(28);
    GuardedBytes guarded(4096);
    const uint8_t kinds[] = {0x00, 0x01, 0x09, 0x0A, 0x0B, 0x0D, 0x1F, 0x20, 0x21, 0x7E, 0x7F, 0x80, 0xEF, 0xFF};
    for (int round = 0; round < 400; ++round) {
        std::vector<uint8_t> bytes(rng() % 4096);
        const unsigned odd = 1 + rng() % 40;  // one byte in `odd` is not a digit
        for (auto& b : bytes)
            b = rng() % odd == 0 ? kinds[rng() % sizeof kinds] : static_cast<uint8_t>('0' + rng() % 10);
        const uint8_t* p = guarded.place(bytes);
        const auto visible = static_cast<uint64_t>(std::count_if(bytes.begin(), bytes.end(), is_visible));
        Survey start;
        start.offset = rng() % 3 == 0 ? 0 : rng() % 100000;
        start.visible = start.offset == 0 ? 0 : rng() % (start.offset + 1);
        start.line = 1 + rng() % 50;
        start.line_start = start.offset == 0 ? 0 : rng() % start.offset;
        start.gap = start.visible > 0 && rng() % 2 == 0;
        start.gap_base = start.visible - (start.visible > 0 ? rng() % std::min<uint64_t>(start.visible, 200) : 0);
        for (auto& first : start.first)
            if (rng() % 2 == 0) first = {1, 1, 2};
        for (uint64_t limit : {~uint64_t{0}, visible, visible / 2, uint64_t{1}, uint64_t{0}}) {
            std::vector<uint64_t> got_starts(4096 / 64 + 8), want_starts(got_starts.size());
            Survey got = start, want = start;
            got.token_starts = got_starts.data();
            want.token_starts = want_starts.data();
            const size_t taken = kernels().survey(got, p, bytes.size(), limit);
            EXPECT_EQ(taken, kernels::scalar::survey(want, p, bytes.size(), limit)) << "limit " << limit;
            expect_same_survey(got, want, got_starts, want_starts);
            if (HasFailure()) return;
        }
    }
}

// The bytes that place a byte in its file (visible ones, newlines), counted by the set as they are
// by hand, with the edge bytes of both at every position of short spans and in long ones.
TEST_P(Kernel, CountLinesAsCountedByHand) {
    std::mt19937 rng(29);
    GuardedBytes guarded(4096);
    const uint8_t edges[] = {0x09, 0x0A, 0x0B, 0x20, 0x21, 0x7E, 0x7F, 0x80, 0xFF, '5'};
    for (int round = 0; round < 600; ++round) {
        std::vector<uint8_t> bytes(round < 300 ? static_cast<size_t>(round) : rng() % 4096);
        for (auto& b : bytes) b = edges[rng() % sizeof edges];
        const uint8_t* p = guarded.place(bytes);
        const LineCount want{static_cast<uint64_t>(std::count_if(bytes.begin(), bytes.end(), is_visible)),
                             static_cast<uint64_t>(std::count(bytes.begin(), bytes.end(), '\n'))};
        const LineCount got = kernels().count_lines(p, bytes.size());
        ASSERT_EQ(got.visible, want.visible) << "size " << bytes.size();
        ASSERT_EQ(got.newlines, want.newlines) << "size " << bytes.size();
    }
}

TEST_P(Kernel, RandomInputs) {
    std::mt19937 rng(6);
    GuardedBytes guarded_a(8192), guarded_b(8192);
    for (int round = 0; round < 300; ++round) {
        const auto a = round % 2 ? random_text(rng, rng() % 8192) : random_invisible(rng, rng() % 8192);
        auto b = a;
        for (auto& byte : b)
            if (rng() % 64 == 0) byte = invisible_bytes[rng() % sizeof invisible_bytes];
        const uint8_t* pa = guarded_a.place(a);
        expect_find_visible(pa, a.size());
        expect_advance(pa, a.size(), guarded_b.place(b), b.size());
        expect_compact(pa, a.size());
        if (HasFailure()) return;
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, Kernel, ::testing::ValuesIn(tested_kernel_sets()),
                         kernel_set_name<testing::TestParamInfo<KernelSet>>);

bool supported_here() { return true; }
bool not_supported_here() { return false; }

// The choice among sets whose support is made up, listed from the slowest to the fastest: the
// fastest supported one wins, and the first, the reference, where none is.
TEST(KernelChoice, FastestSupportedSetElseTheReference) {
    const auto set = [](const char* name, bool supported) {
        KernelSet made = all_kernel_sets().front();
        made.name = name;
        made.supported = supported ? supported_here : not_supported_here;
        return made;
    };
    struct Case {
        std::vector<KernelSet> sets;
        const char* chosen;
    };
    const Case cases[] = {
        {{set("reference", true), set("wide", true), set("wider", true)}, "wider"},
        {{set("reference", true), set("wide", true), set("wider", false)}, "wide"},
        {{set("reference", true), set("wide", false), set("wider", true), set("widest", false)}, "wider"},
        {{set("reference", true), set("wide", false), set("wider", false)}, "reference"},
        // The reference is chosen where nothing else runs, whatever it says of itself.
        {{set("reference", false), set("wide", false)}, "reference"},
        {{set("reference", true)}, "reference"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(choose_kernel_set({c.sets.data(), c.sets.size()}).name, c.chosen) << c.chosen;
}

#if defined(__x86_64__)
// Which sets the CPUID and XGETBV words allow, for processors this one is not: a check dropped
// here would pass every test on a machine that has everything and die with an illegal
// instruction elsewhere.
TEST(X86Features, TableOfProcessors) {
    constexpr uint32_t osxsave = 1u << 27, avx = 1u << 28, popcnt = 1u << 23;
    constexpr uint32_t leaf1 = osxsave | avx | popcnt;
    constexpr uint32_t avx2_bmi = 1u << 5 | 1u << 3, avx512_f_bw = 1u << 16 | 1u << 30, vbmi2 = 1u << 6;
    struct Case {
        const char* processor;
        X86Words words;
        bool avx2, avx512;
    };
    const Case cases[] = {
        {"AVX-512 with VBMI2", {13, leaf1, avx2_bmi | avx512_f_bw, vbmi2, 0xE7}, true, true},
        {"AVX2 only", {13, leaf1, avx2_bmi, 0, 0x07}, true, false},
        {"AVX-512 without VBMI2", {13, leaf1, avx2_bmi | avx512_f_bw, 0, 0xE7}, true, false},
        {"AVX-512 BW missing", {13, leaf1, avx2_bmi | 1u << 16, vbmi2, 0xE7}, true, false},
        {"AVX-512, the OS saving no ZMM state", {13, leaf1, avx2_bmi | avx512_f_bw, vbmi2, 0x07}, true, false},
        {"AVX-512, the OS saving the opmask only", {13, leaf1, avx2_bmi | avx512_f_bw, vbmi2, 0x27}, true, false},
        {"AVX2, the OS saving XMM only", {13, leaf1, avx2_bmi | avx512_f_bw, vbmi2, 0x03}, false, false},
        {"AVX2, the OS saving YMM without XMM", {13, leaf1, avx2_bmi, 0, 0x05}, false, false},
        {"AVX2 without OSXSAVE", {13, avx | popcnt, avx2_bmi | avx512_f_bw, vbmi2, 0}, false, false},
        {"AVX2 without AVX", {13, osxsave | popcnt, avx2_bmi, 0, 0x07}, false, false},
        {"AVX2 without BMI1", {13, leaf1, 1u << 5, 0, 0x07}, false, false},
        {"AVX2 without POPCNT", {13, osxsave | avx, avx2_bmi | avx512_f_bw, vbmi2, 0xE7}, false, false},
        {"no leaf 7: its words are another leaf's", {6, leaf1, avx2_bmi | avx512_f_bw, vbmi2, 0xE7}, false, false},
        {"highest leaf exactly 7", {7, leaf1, avx2_bmi | avx512_f_bw, vbmi2, 0xE7}, true, true},
        {"no AVX at all", {13, popcnt, 0, 0, 0}, false, false},
    };
    for (const auto& c : cases) {
        const X86Support support = x86_support(c.words);
        EXPECT_EQ(support.avx2, c.avx2) << c.processor;
        EXPECT_EQ(support.avx512, c.avx512) << c.processor;
    }
    // XGETBV only where the operating system enabled it: AVX alone does not say so.
    EXPECT_FALSE(xcr0_readable({13, avx | popcnt, avx2_bmi, 0, 0})) << "AVX without OSXSAVE";
    EXPECT_TRUE(xcr0_readable({1, osxsave, 0, 0, 0})) << "OSXSAVE without AVX";
    // Which set each processor runs is told by the engine itself under emulation
    // (engine.kernel_set.* in tests/CMakeLists.txt): the sets' entries and their support tests.
}
#endif

}  // namespace
