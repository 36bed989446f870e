// The table the vector sets without a byte-compress instruction (AVX2, NEON) compact with.
#pragma once

#include <array>
#include <cstdint>

// For each 8-bit mask, the indexes of its set bits, packed to the front: a shuffle that moves
// the kept bytes of an 8-byte group together.
constexpr std::array<uint64_t, 256> make_pack_table() {
    std::array<uint64_t, 256> table{};
    for (unsigned mask = 0; mask < 256; ++mask) {
        unsigned slot = 0;
        for (unsigned bit = 0; bit < 8; ++bit)
            if (mask & (1u << bit)) table[mask] |= uint64_t{bit} << (8 * slot++);
    }
    return table;
}
inline constexpr std::array<uint64_t, 256> pack_table = make_pack_table();
