// What the engine's tests, the library's tests and the fuzzer share, without GoogleTest and
// without the engine: the rule as plainly as it can be said, the places it implies, and a file in
// memory.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

// The rule: drop every byte outside 0x21..0x7E, compare what is left.
inline std::string visible_of(const std::string& text) {
    std::string kept;
    for (const unsigned char c : text)
        if (c >= 0x21 && c <= 0x7E) kept.push_back(static_cast<char>(c));
    return kept;
}

inline bool same_by_rule(const std::string& out, const std::string& ans) { return visible_of(out) == visible_of(ans); }

// Where the engine says the sides stopped, against the rule: the same visible bytes before the
// places, and there the first differing visible bytes or the ends; lines and columns counted as
// in the prefixes. Null when they agree, else what disagrees. A Place has offset, visible (the
// visible bytes before it), line, column and at_end.
template <class Place>
const char* places_disagree(const std::string& out, const std::string& ans, const Place& out_place,
                            const Place& ans_place, bool same) {
    if (out_place.offset > out.size() || ans_place.offset > ans.size()) return "a place past its side's end";
    const std::string out_before = out.substr(0, out_place.offset), ans_before = ans.substr(0, ans_place.offset);
    if (visible_of(out_before) != visible_of(ans_before)) return "different visible bytes before the places";
    if (out_place.visible != visible_of(out_before).size() || ans_place.visible != out_place.visible)
        return "visible bytes miscounted";
    for (const auto& [text, before, place] :
         {std::tuple{&out, &out_before, &out_place}, std::tuple{&ans, &ans_before, &ans_place}}) {
        if (place->line != 1 + static_cast<uint64_t>(std::count(before->begin(), before->end(), '\n')))
            return "line miscounted";
        if (place->column != place->offset - (before->rfind('\n') + 1) + 1) return "column miscounted";
        const std::string rest = text->substr(place->offset);
        if (same || place->at_end) {
            if (!visible_of(rest).empty()) return "a side said to end holds more visible bytes";
        } else if (rest.empty() || visible_of(rest.substr(0, 1)).empty()) {
            return "a place not at a visible byte";
        }
    }
    if (!out_place.at_end && !ans_place.at_end && !same && out[out_place.offset] == ans[ans_place.offset])
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
