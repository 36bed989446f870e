// How the fuzzers read an input: two bytes that split the rest into the player's output and the
// answer, one byte that seeds how the output is cut (pieces of a pipe, chunks of a stream), then
// the two texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct FuzzPair {
    std::string out, ans;
    unsigned seed = 0;
};

// False for an input too short to hold a pair.
inline bool fuzz_pair_of(const uint8_t* data, size_t size, FuzzPair& pair) {
    if (size < 3) return false;
    const std::string body(reinterpret_cast<const char*>(data) + 3, size - 3);
    const size_t split = (data[0] | size_t{data[1]} << 8) % (body.size() + 1);
    pair.out = body.substr(0, split);
    pair.ans = body.substr(split);
    pair.seed = data[2];
    return true;
}
