// The table the vector sets without a byte-compress instruction (AVX2, NEON) compact with.
#pragma once

#include <cstdint>

// For each 8-bit mask, the indexes of its set bits, packed to the front: a shuffle that moves
// the kept bytes of an 8-byte group together. Built by the compiler (a plain array: C++14's
// std::array cannot be written in a constant expression).
struct PackTable {
    uint64_t entry[256] = {};
    constexpr PackTable() {
        for (unsigned mask = 0; mask < 256; ++mask) {
            unsigned slot = 0;
            for (unsigned bit = 0; bit < 8; ++bit)
                if (mask & (1u << bit)) entry[mask] |= uint64_t{bit} << (8 * slot++);
        }
    }
    constexpr uint64_t operator[](unsigned mask) const { return entry[mask]; }
};
constexpr PackTable pack_table;
