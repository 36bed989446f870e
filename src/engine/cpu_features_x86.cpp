// What the processor and the operating system support, read with CPUID and XGETBV. The
// compiler's own helper would add a constructor that runs at every start, and on a virtual
// machine each CPUID traps to the hypervisor: the words are read once, only when the engine asks,
// each leaf once.
#include <cpuid.h>

#include "kernels_x86.h"

namespace {

bool bit(uint32_t word, int index) { return (word >> index & 1) != 0; }
bool all_bits(uint64_t word, uint64_t bits) { return (word & bits) == bits; }

constexpr uint64_t sse_avx_state = 0x06;  // XCR0: XMM and YMM
constexpr uint64_t avx512_state = 0xE6;   // and opmask, ZMM0-15 upper halves, ZMM16-31

}  // namespace

bool xcr0_readable(const X86Words& words) { return bit(words.leaf1_ecx, 27); }  // OSXSAVE

X86Support x86_support(const X86Words& words) {
    // XGETBV is usable, and its word meaningful, only where leaf 1 reports OSXSAVE; leaf 7 only
    // where the processor has it (older ones answer with another leaf's words).
    const bool osxsave = xcr0_readable(words);
    const bool has_leaf7 = words.max_leaf >= 7;
    const bool popcnt = bit(words.leaf1_ecx, 23);
    const bool avx = bit(words.leaf1_ecx, 28);
    const bool avx2 = has_leaf7 && bit(words.leaf7_ebx, 5) && bit(words.leaf7_ebx, 3);  // AVX2, BMI1
    const bool avx512 = has_leaf7 && bit(words.leaf7_ebx, 16) && bit(words.leaf7_ebx, 30) &&
                        bit(words.leaf7_ecx, 6);  // AVX512F, AVX512BW, AVX512_VBMI2
    X86Support support;
    support.avx2 = osxsave && popcnt && avx && avx2 && all_bits(words.xcr0, sse_avx_state);
    support.avx512 = osxsave && popcnt && avx512 && all_bits(words.xcr0, avx512_state);
    return support;
}

X86Words read_x86_words() {
    X86Words words;
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    __cpuid(0, eax, ebx, ecx, edx);
    words.max_leaf = eax;
    if (words.max_leaf < 1) return words;
    __cpuid(1, eax, ebx, ecx, edx);
    words.leaf1_ecx = ecx;
    if (words.max_leaf >= 7) {
        __cpuid_count(7, 0, eax, ebx, ecx, edx);
        words.leaf7_ebx = ebx;
        words.leaf7_ecx = ecx;
    }
    if (xcr0_readable(words)) {
        unsigned low = 0, high = 0;
        __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
        words.xcr0 = uint64_t{high} << 32 | low;
    }
    return words;
}

namespace {

// Read once and kept, as bits: threads that race to read the words read the same ones, so relaxed
// atomic loads and stores do (see best_kernel_set).
constexpr int known_bit = 1, avx2_bit = 2, avx512_bit = 4;

int detected() {
    static int bits = 0;
    int seen = __atomic_load_n(&bits, __ATOMIC_RELAXED);
    if (seen == 0) {
        const X86Support support = x86_support(read_x86_words());
        seen = known_bit | (support.avx2 ? avx2_bit : 0) | (support.avx512 ? avx512_bit : 0);
        __atomic_store_n(&bits, seen, __ATOMIC_RELAXED);
    }
    return seen;
}

}  // namespace

bool avx2_supported() { return (detected() & avx2_bit) != 0; }
bool avx512_supported() { return (detected() & avx512_bit) != 0; }
