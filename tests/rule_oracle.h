// What the engine's tests, the library's tests and the fuzzer share, without GoogleTest and
// without the engine: the rule as plainly as it can be said, the places it implies, and a file in
// memory.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <tuple>
#include <vector>

// The rule: drop every byte outside 0x21..0x7E, compare what is left.
inline bool visible_byte(char c) {
    return static_cast<unsigned char>(c) >= 0x21 && static_cast<unsigned char>(c) <= 0x7E;
}

inline std::string visible_of(const std::string& text) {
    std::string kept;
    for (const char c : text)
        if (visible_byte(c)) kept.push_back(c);
    return kept;
}

inline bool same_by_rule(const std::string& out, const std::string& ans) { return visible_of(out) == visible_of(ans); }

// Text of numbers with separators of several lengths, so that a comparison with another layout
// resyncs often and compacts where separators differ densely.
inline std::string numbers(std::mt19937& rng, size_t at_least, const std::vector<std::string>& separators) {
    std::string text;
    while (text.size() < at_least) text += std::to_string(rng() % 100000) + separators[rng() % separators.size()];
    return text;
}

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

// The notes, as plainly as they can be said. A token is a maximal run of visible bytes.
// The byte-order mark a file starts with: UTF-8's three bytes, UTF-16's two (either order).
inline size_t byte_order_mark_of(const std::string& file) {
    if (file.compare(0, 3, "\xEF\xBB\xBF") == 0) return 3;
    if (file.compare(0, 2, "\xFF\xFE") == 0 || file.compare(0, 2, "\xFE\xFF") == 0) return 2;
    return 0;
}

// 0 from 0x80 up, 1 NUL, 2 other control bytes, 3 DEL, -1 visible bytes and white space (space,
// tab, LF, VT, FF, CR).
inline int ignored_kind_of(unsigned char c) {
    if (c >= 0x80) return 0;
    if (c == 0) return 1;
    if (c == 0x7F) return 3;
    if (c < 0x20 && (c < 0x09 || c > 0x0D)) return 2;
    return -1;
}

// What one file's first `covered` bytes hold besides visible bytes; line 0: no such byte.
struct OracleSpot {
    uint64_t offset = 0, line = 0, column = 0;
};
struct OracleFileNotes {
    uint64_t visible = 0;
    size_t mark = 0;
    uint64_t count[4] = {};
    OracleSpot first[4];
};

inline OracleSpot spot_of(const std::string& file, size_t at) {
    const size_t line_start = at == 0 ? 0 : file.rfind('\n', at - 1) + 1;  // npos + 1 is 0
    return {at, 1 + static_cast<uint64_t>(std::count(file.begin(), file.begin() + static_cast<long>(at), '\n')),
            at - line_start + 1};
}

inline OracleFileNotes oracle_file_notes(const std::string& file, size_t covered) {
    OracleFileNotes notes;
    notes.mark = byte_order_mark_of(file);
    notes.visible = visible_of(file.substr(0, covered)).size();
    for (size_t i = notes.mark; i < covered; ++i) {
        const int kind = ignored_kind_of(static_cast<unsigned char>(file[i]));
        if (kind < 0) continue;
        if (notes.count[kind]++ == 0) notes.first[kind] = spot_of(file, i);
    }
    return notes;
}

// The offsets of the visible bytes of a file's first `covered` bytes, and for each whether it
// starts a token after an earlier one.
inline std::vector<std::pair<size_t, bool>> tokens_of(const std::string& file, size_t covered) {
    std::vector<std::pair<size_t, bool>> visible;
    for (size_t i = 0; i < covered; ++i)
        if (visible_byte(file[i])) visible.emplace_back(i, !visible.empty() && !visible_byte(file[i - 1]));
    return visible;
}

// The engine's notes against the statement above, each file covered from its start for as many
// bytes as given: null when they agree, else what disagrees. Notes has out and ans (bytes,
// visible, complete, byte_order_mark, count[4] and first[4] with offset, line, column),
// token_starts_differ, and token_out and token_ans (offset, visible, line, column).
template <class Notes>
const char* notes_disagree(const std::string& out, const std::string& ans, size_t out_covered, size_t ans_covered,
                           const Notes& notes) {
    for (const auto& [text, covered, got] :
         {std::tuple{&out, out_covered, &notes.out}, std::tuple{&ans, ans_covered, &notes.ans}}) {
        const OracleFileNotes want = oracle_file_notes(*text, covered);
        if (got->bytes != covered || got->complete != (covered == text->size())) return "bytes covered";
        if (got->visible != want.visible) return "visible bytes";
        if (got->byte_order_mark != want.mark) return "byte-order mark";
        for (int kind = 0; kind < 4; ++kind) {
            if (got->count[kind] != want.count[kind]) return "count of a kind";
            const auto& first = got->first[kind];
            if (first.line != want.first[kind].line || (first.line != 0 && (first.offset != want.first[kind].offset ||
                                                                            first.column != want.first[kind].column)))
                return "first place of a kind";
        }
    }
    const auto out_tokens = tokens_of(out, out_covered), ans_tokens = tokens_of(ans, ans_covered);
    uint64_t differ = 0;
    size_t first = 0;
    for (size_t k = 0; k < std::min(out_tokens.size(), ans_tokens.size()); ++k)
        if (out_tokens[k].second != ans_tokens[k].second && differ++ == 0) first = k;
    if (notes.token_starts_differ != differ) return "token starts that differ";
    if (differ == 0) return nullptr;
    for (const auto& [text, offset, place] : {std::tuple{&out, out_tokens[first].first, &notes.token_out},
                                              std::tuple{&ans, ans_tokens[first].first, &notes.token_ans}}) {
        const OracleSpot spot = spot_of(*text, offset);
        if (place->offset != offset || place->visible != first || place->line != spot.line ||
            place->column != spot.column)
            return "first token start that differs";
    }
    return nullptr;
}

// A file in memory holding content, read from its start; -1 when it cannot be made.
// Where a test holds the answer it hands a comparison.
enum class AnswerKind { buffer, file, pipe, reader };

inline int memory_file(const std::string& content) {
    const int fd = memfd_create("rule-input", 0);
    if (fd < 0 || write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size())) return -1;
    lseek(fd, 0, SEEK_SET);
    return fd;
}
