// The C interface: the engine with a workspace per state, its places in the API's terms.
#include "filterspace/filterspace.h"

#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <new>
#include <optional>

#include "compare.h"

// A stream's answer and places live beside it in the state, which it points to.
struct StreamSetup {
    Places where;
    StopCheck stop{};
    Reader reader{};
    bool with_places = false;
    // The stream's result once it has one, kept with its errno.
    std::optional<filterspace_result> result;
    int error = 0;
};

struct filterspace_state {
    Workspace workspace;
    StreamSetup setup;
    std::optional<OutputStream> stream;  // the stream begun on the state, if any
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

void filterspace_state_free(filterspace_state* state) {
    if (state == nullptr) return;
    state->~filterspace_state();
    free(state);
}

filterspace_result filterspace_compare_fds(filterspace_state* state, int output_fd, int answer_fd,
                                           filterspace_places* places) {
    state->stream.reset();
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
    state->stream.reset();
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
    state->stream.reset();
    Places where;
    const Comparison comparison =
        compare_buffers(state->workspace, static_cast<const uint8_t*>(output), output_size,
                        static_cast<const uint8_t*>(answer), answer_size, places != nullptr ? &where : nullptr);
    return result_of(comparison, where, places);
}

filterspace_result filterspace_compare_buffers_noted(filterspace_state* state, const void* output, size_t output_size,
                                                     const void* answer, size_t answer_size, filterspace_places* places,
                                                     filterspace_notes* notes) {
    state->stream.reset();
    Places where;
    const Comparison comparison = with_notes(notes, [&](Notes* noted) {
        return compare_buffers(state->workspace, static_cast<const uint8_t*>(output), output_size,
                               static_cast<const uint8_t*>(answer), answer_size, places != nullptr ? &where : nullptr,
                               noted);
    });
    return result_of(comparison, where, places);
}

namespace {

// Zeros, but for the error of an unreadable side: the places of a result other than a difference.
filterspace_result only_on_difference(filterspace_result result, filterspace_places* places) {
    if (places == nullptr || result == FILTERSPACE_DIFFER) return result;
    const int error = errno;
    const int out_error = result == FILTERSPACE_OUTPUT_UNREADABLE ? places->output.error : 0;
    const int ans_error = result == FILTERSPACE_ANSWER_UNREADABLE ? places->answer.error : 0;
    *places = {};
    places->output.error = out_error;
    places->answer.error = ans_error;
    errno = error;
    return result;
}

// The descriptor's offset where it is a regular file, which can be read again from there; else -1.
off_t offset_to_read_again(int fd) {
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return -1;
    return lseek(fd, 0, SEEK_CUR);
}

}  // namespace

filterspace_result filterspace_compare_fds_placed(filterspace_state* state, int output_fd, int answer_fd,
                                                  filterspace_places* places, filterspace_stop_function stop,
                                                  void* context) {
    const off_t out_start = places != nullptr ? offset_to_read_again(output_fd) : -1;
    const off_t ans_start = out_start >= 0 ? offset_to_read_again(answer_fd) : -1;
    if (ans_start < 0) {  // no places wanted, or a side that cannot be read again: counted as it goes by
        return only_on_difference(
            filterspace_compare_fds_noted(state, output_fd, answer_fd, places, nullptr, stop, context), places);
    }
    const filterspace_result result =
        filterspace_compare_fds_noted(state, output_fd, answer_fd, nullptr, nullptr, stop, context);
    if (result == FILTERSPACE_DIFFER && lseek(output_fd, out_start, SEEK_SET) == out_start &&
        lseek(answer_fd, ans_start, SEEK_SET) == ans_start) {
        return only_on_difference(
            filterspace_compare_fds_noted(state, output_fd, answer_fd, places, nullptr, stop, context), places);
    }
    const int error = errno;
    *places = {};
    if (result == FILTERSPACE_OUTPUT_UNREADABLE) places->output.error = error;
    if (result == FILTERSPACE_ANSWER_UNREADABLE) places->answer.error = error;
    errno = error;
    return result;
}

filterspace_result filterspace_compare_buffers_placed(filterspace_state* state, const void* output, size_t output_size,
                                                      const void* answer, size_t answer_size,
                                                      filterspace_places* places) {
    const filterspace_result result =
        filterspace_compare_buffers(state, output, output_size, answer, answer_size, nullptr);
    if (result != FILTERSPACE_DIFFER || places == nullptr) return only_on_difference(result, places);
    return only_on_difference(filterspace_compare_buffers(state, output, output_size, answer, answer_size, places),
                              places);
}

namespace {

// Ends the state's stream, if any, and makes the setup for the next one; -1 for an unknown flag.
int new_stream_setup(filterspace_state* state, int flags) {
    state->stream.reset();
    if ((flags & ~FILTERSPACE_STREAM_PLACES) != 0) {
        errno = EINVAL;
        return -1;
    }
    state->setup = StreamSetup{};
    state->setup.with_places = (flags & FILTERSPACE_STREAM_PLACES) != 0;
    return 0;
}

Places* stream_places(filterspace_state* state) { return state->setup.with_places ? &state->setup.where : nullptr; }

// The stream's result once it has one: told once, when it is found, and kept with its errno.
std::optional<filterspace_result> stream_result(filterspace_state* state) {
    StreamSetup& setup = state->setup;
    if (state->stream->state() == ComparisonState::comparing) return std::nullopt;
    const Comparison comparison = state->stream->result();
    if (!setup.result.has_value()) {
        setup.error = errno;
        // The engine ends a stopped comparison as an interrupted read, which it otherwise retries.
        const bool stopped = comparison == Comparison::ans_unreadable && setup.error == EINTR;
        setup.result = stopped ? FILTERSPACE_STOPPED : result_of(comparison, setup.where, nullptr);
    }
    if (*setup.result != FILTERSPACE_SAME && *setup.result != FILTERSPACE_DIFFER) errno = setup.error;
    return setup.result;
}

}  // namespace

int filterspace_stream_begin_fd(filterspace_state* state, int answer_fd, int flags, filterspace_stop_function stop,
                                void* context) {
    if (new_stream_setup(state, flags) != 0) return -1;
    state->setup.stop = {stop, context};
    state->stream.emplace(state->workspace, answer_fd, stream_places(state),
                          stop != nullptr ? &state->setup.stop : nullptr);
    return 0;
}

int filterspace_stream_begin_buffer(filterspace_state* state, const void* answer, size_t answer_size, int flags) {
    if (new_stream_setup(state, flags) != 0) return -1;
    state->stream.emplace(state->workspace, static_cast<const uint8_t*>(answer), answer_size, stream_places(state));
    return 0;
}

int filterspace_stream_begin_reader(filterspace_state* state, filterspace_read_function read, void* context,
                                    int flags) {
    if (new_stream_setup(state, flags) != 0) return -1;
    if (read == nullptr) {
        errno = EINVAL;
        return -1;
    }
    state->setup.reader = {read, context};
    state->stream.emplace(state->workspace, state->setup.reader, stream_places(state));
    return 0;
}

filterspace_result filterspace_stream_feed(filterspace_state* state, const void* chunk, size_t size) {
    if (!state->stream.has_value()) {
        errno = EINVAL;
        return FILTERSPACE_ANSWER_UNREADABLE;
    }
    (void)state->stream->feed(static_cast<const uint8_t*>(chunk), size);
    return stream_result(state).value_or(FILTERSPACE_SAME);
}

int filterspace_stream_differs(const filterspace_state* state) {
    if (!state->stream.has_value()) {
        errno = EINVAL;
        return -1;
    }
    return state->stream->state() != ComparisonState::comparing && state->stream->result() == Comparison::differ ? 1
                                                                                                                 : 0;
}

uint64_t filterspace_stream_fed(const filterspace_state* state) {
    return state->stream.has_value() ? state->stream->fed() : 0;
}

filterspace_result filterspace_stream_finish(filterspace_state* state, filterspace_places* places) {
    if (places != nullptr) *places = {};
    if (!state->stream.has_value()) {
        errno = EINVAL;
        return FILTERSPACE_ANSWER_UNREADABLE;
    }
    (void)state->stream->finish();
    const filterspace_result result = *stream_result(state);
    const int error = errno;
    state->stream.reset();
    if (places != nullptr && result == FILTERSPACE_DIFFER && state->setup.with_places)
        *places = {place_of(state->setup.where.out), place_of(state->setup.where.ans)};
    // A stream reads the answer only: a failed or stopped read is the answer's.
    if (places != nullptr && result != FILTERSPACE_SAME && result != FILTERSPACE_DIFFER) places->answer.error = error;
    errno = error;
    return result;
}

int filterspace_same_file(int fd_a, int fd_b) {
    struct stat a = {}, b = {};
    if (fstat(fd_a, &a) != 0 || fstat(fd_b, &b) != 0) return -1;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino ? 1 : 0;
}

const char* filterspace_version(void) { return FILTERSPACE_VERSION; }
