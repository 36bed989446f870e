// The C interface: the engine with a workspace per state, its places in the API's terms.
#include "filterspace/filterspace.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <new>

#include "compare.h"

struct filterspace_state {
    Workspace workspace;
};

namespace {

filterspace_place place_of(const Place& place) {
    return {place.visible + 1, place.offset, place.line, place.column, place.at_end ? 1 : 0, place.error};
}

filterspace_result result_of(Comparison comparison, const Places& where, filterspace_places* places) {
    if (places != nullptr) *places = {place_of(where.out), place_of(where.ans)};
    switch (comparison) {
        case Comparison::same:
            return FILTERSPACE_SAME;
        case Comparison::differ:
            return FILTERSPACE_DIFFER;
        case Comparison::out_unreadable:
            return FILTERSPACE_OUTPUT_UNREADABLE;
        case Comparison::ans_unreadable:
            break;
    }
    return FILTERSPACE_ANSWER_UNREADABLE;
}

filterspace_spot spot_of(const Spot& spot) { return {spot.offset, spot.line, spot.column}; }

filterspace_file_notes file_notes_of(const FileNotes& notes) {
    return {notes.bytes,
            notes.visible,
            notes.complete ? 1 : 0,
            static_cast<int>(notes.byte_order_mark),
            notes.count[kind_high],
            notes.count[kind_nul],
            notes.count[kind_control],
            notes.count[kind_del],
            spot_of(notes.first[kind_high]),
            spot_of(notes.first[kind_nul]),
            spot_of(notes.first[kind_control]),
            spot_of(notes.first[kind_del])};
}

void notes_of(const Notes& notes, filterspace_notes* to) {
    *to = {file_notes_of(notes.out), file_notes_of(notes.ans), notes.token_starts_differ, {}, {}};
    if (notes.token_starts_differ != 0) {
        to->first_token_output = place_of(notes.token_out);
        to->first_token_answer = place_of(notes.token_ans);
    }
}

// Runs compare with the engine's notes where the caller asked for them, and hands them over; a
// plain call sets up nothing for them (zeroing them would cost a tiny comparison a third more).
template <class Compare>
Comparison with_notes(filterspace_notes* notes, Compare compare) {
    if (notes == nullptr) return compare(nullptr);
    Notes noted;
    const Comparison comparison = compare(&noted);
    notes_of(noted, notes);
    return comparison;
}

}  // namespace

filterspace_state* filterspace_state_new(void) {
    void* memory = aligned_alloc(alignof(filterspace_state), sizeof(filterspace_state));
    return memory != nullptr ? new (memory) filterspace_state : nullptr;
}

void filterspace_state_free(filterspace_state* state) { free(state); }

filterspace_result filterspace_compare_fds(filterspace_state* state, int output_fd, int answer_fd,
                                           filterspace_places* places) {
    Places where;
    const Comparison comparison =
        compare_visible(state->workspace, output_fd, answer_fd, places != nullptr ? &where : nullptr);
    return result_of(comparison, where, places);
}

filterspace_result filterspace_compare_fds_stoppable(filterspace_state* state, int output_fd, int answer_fd,
                                                     filterspace_places* places, filterspace_stop_function stop,
                                                     void* context) {
    if (stop == nullptr) return filterspace_compare_fds(state, output_fd, answer_fd, places);
    return filterspace_compare_fds_noted(state, output_fd, answer_fd, places, nullptr, stop, context);
}

filterspace_result filterspace_compare_fds_noted(filterspace_state* state, int output_fd, int answer_fd,
                                                 filterspace_places* places, filterspace_notes* notes,
                                                 filterspace_stop_function stop, void* context) {
    const StopCheck check{stop, context};
    Places where;
    const Comparison comparison = with_notes(notes, [&](Notes* noted) {
        return compare_visible(state->workspace, output_fd, answer_fd, places != nullptr ? &where : nullptr,
                               stop != nullptr ? &check : nullptr, noted);
    });
    // The engine ends a stopped comparison as an interrupted read, which it otherwise retries.
    const bool stopped =
        (comparison == Comparison::out_unreadable || comparison == Comparison::ans_unreadable) && errno == EINTR;
    const filterspace_result result = result_of(comparison, where, places);
    return stopped ? FILTERSPACE_STOPPED : result;
}

filterspace_result filterspace_compare_buffers(filterspace_state* state, const void* output, size_t output_size,
                                               const void* answer, size_t answer_size, filterspace_places* places) {
    Places where;
    const Comparison comparison =
        compare_buffers(state->workspace, static_cast<const uint8_t*>(output), output_size,
                        static_cast<const uint8_t*>(answer), answer_size, places != nullptr ? &where : nullptr);
    return result_of(comparison, where, places);
}

filterspace_result filterspace_compare_buffers_noted(filterspace_state* state, const void* output, size_t output_size,
                                                     const void* answer, size_t answer_size, filterspace_places* places,
                                                     filterspace_notes* notes) {
    Places where;
    const Comparison comparison = with_notes(notes, [&](Notes* noted) {
        return compare_buffers(state->workspace, static_cast<const uint8_t*>(output), output_size,
                               static_cast<const uint8_t*>(answer), answer_size, places != nullptr ? &where : nullptr,
                               noted);
    });
    return result_of(comparison, where, places);
}

int filterspace_same_file(int fd_a, int fd_b) {
    struct stat a = {}, b = {};
    if (fstat(fd_a, &a) != 0 || fstat(fd_b, &b) != 0) return -1;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino ? 1 : 0;
}

const char* filterspace_version(void) { return FILTERSPACE_VERSION; }
