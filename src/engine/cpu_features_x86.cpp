// What the processor and the operating system support, read with CPUID and XGETBV. The
// compiler's own helper would add a constructor that runs at every start.
#include <cpuid.h>

#include <cstdint>

#include "kernels_x86.h"

namespace {

struct Registers {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
};

Registers cpuid(unsigned leaf, unsigned subleaf) {
    Registers r;
    if (__get_cpuid_count(leaf, subleaf, &r.eax, &r.ebx, &r.ecx, &r.edx) == 0) return {};
    return r;
}

bool bit(unsigned word, int index) { return (word >> index & 1) != 0; }

// Whether the operating system saves the given register state (XCR0 bits) on context switches.
bool os_saves(uint64_t state) {
    if (!bit(cpuid(1, 0).ecx, 27)) return false;  // OSXSAVE: XGETBV is usable
    unsigned low = 0, high = 0;
    __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return ((uint64_t{high} << 32 | low) & state) == state;
}

constexpr uint64_t sse_avx_state = 0x06;  // XMM and YMM
constexpr uint64_t avx512_state = 0xE6;   // and opmask, ZMM0-15 upper halves, ZMM16-31

}  // namespace

bool avx2_supported() {
    const Registers basic = cpuid(1, 0);
    const Registers extended = cpuid(7, 0);
    return bit(basic.ecx, 28) && bit(basic.ecx, 23) && bit(extended.ebx, 5) && bit(extended.ebx, 3) &&
           os_saves(sse_avx_state);  // AVX, POPCNT, AVX2, BMI1
}

bool avx512_supported() {
    const Registers basic = cpuid(1, 0);
    const Registers extended = cpuid(7, 0);
    return bit(basic.ecx, 23) && bit(extended.ebx, 16) && bit(extended.ebx, 30) && bit(extended.ecx, 6) &&
           os_saves(avx512_state);  // POPCNT, AVX512F, AVX512BW, AVX512_VBMI2
}
