// What the kernel tests, the engine tests and the fuzzer share, without GoogleTest: the rule as
// plainly as it can be said, the places it implies, a file in memory, and the kernel sets to try.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "compare.h"
#include "kernels.h"

#ifdef TEST_AVX512_EMULATED
extern const KernelSet avx512_emulated_kernel_set;
#endif

// The rule: drop every byte outside 0x21..0x7E, compare what is left.
inline std::string visible_of(const std::string& text) {
    std::string kept;
    for (const unsigned char c : text)
        if (c >= 0x21 && c <= 0x7E) kept.push_back(static_cast<char>(c));
    return kept;
}

inline Comparison expected(const std::string& out, const std::string& ans) {
    return visible_of(out) == visible_of(ans) ? Comparison::same : Comparison::differ;
}

// Where the engine says the sides stopped, against the rule: the same visible bytes before the
// places, and there the first differing visible bytes or the ends; lines and columns counted as
// in the prefixes. Null when they agree, else what disagrees.
inline const char* places_disagree(const std::string& out, const std::string& ans, const Places& where,
                                   Comparison want) {
    if (where.out.offset > out.size() || where.ans.offset > ans.size()) return "a place past its side's end";
    const std::string out_before = out.substr(0, where.out.offset), ans_before = ans.substr(0, where.ans.offset);
    if (visible_of(out_before) != visible_of(ans_before)) return "different visible bytes before the places";
    if (where.out.visible != visible_of(out_before).size() || where.ans.visible != where.out.visible)
        return "visible bytes miscounted";
    for (const auto& [text, before, place] :
         {std::tuple{&out, &out_before, &where.out}, std::tuple{&ans, &ans_before, &where.ans}}) {
        if (place->line != 1 + static_cast<uint64_t>(std::count(before->begin(), before->end(), '\n')))
            return "line miscounted";
        if (place->column != place->offset - (before->rfind('\n') + 1) + 1) return "column miscounted";
        const std::string rest = text->substr(place->offset);
        if (want == Comparison::same || place->at_end) {
            if (!visible_of(rest).empty()) return "a side said to end holds more visible bytes";
        } else if (rest.empty() || visible_of(rest.substr(0, 1)).empty()) {
            return "a place not at a visible byte";
        }
    }
    if (!where.out.at_end && !where.ans.at_end && want == Comparison::differ &&
        out[where.out.offset] == ans[where.ans.offset])
        return "the bytes at the places are equal";
    return nullptr;
}

// A file in memory holding content, read from its start; -1 when it cannot be made.
inline int memory_file(const std::string& content) {
    const int fd = memfd_create("rule-input", 0);
    if (fd < 0 || write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size())) return -1;
    lseek(fd, 0, SEEK_SET);
    return fd;
}

// Every set built into the engine and, where the portable intrinsics library is at hand, the
// AVX-512 kernels rendered with it.
inline std::vector<KernelSet> tested_kernel_sets() {
    std::vector<KernelSet> sets(all_kernel_sets().begin(), all_kernel_sets().end());
#ifdef TEST_AVX512_EMULATED
    sets.push_back(avx512_emulated_kernel_set);
#endif
    return sets;
}
