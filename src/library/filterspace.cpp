// The C interface: the engine with a workspace per state, its places and notes in the API's terms,
// and the calls of earlier versions as the options call with fixed options.
#include "filterspace/filterspace.h"

#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <type_traits>

#include "compare.h"

// What a stream was begun with, beside it in the state: the engine writes its places there,
// reads through its reader and asks its stop function. (The stream's state is the engine's.)
struct StreamSetup {
    Places where;
    StopCheck stop{};
    Reader reader{};
    filterspace_places_wanted places = FILTERSPACE_PLACES_NEVER;
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

filterspace_result result_of(Comparison comparison) {
    switch (comparison) {
        case Comparison::same:
            return FILTERSPACE_SAME;
        case Comparison::differ:
            return FILTERSPACE_DIFFER;
        case Comparison::out_unreadable:
            return FILTERSPACE_OUTPUT_UNREADABLE;
        case Comparison::stopped:
            return FILTERSPACE_STOPPED;
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

// The places as asked for, once a result is known: all of where the sides stopped, or zeros but
// for the error of an unreadable side (which is errno's).
void tell_no_places(filterspace_result result, filterspace_places* places) {
    if (places == nullptr) return;
    *places = {};
    if (result == FILTERSPACE_OUTPUT_UNREADABLE) places->output.error = errno;
    if (result == FILTERSPACE_ANSWER_UNREADABLE) places->answer.error = errno;
}

void tell_places(filterspace_result result, const Places& where, bool told, filterspace_places* places) {
    if (places != nullptr && told) {
        *places = {place_of(where.out), place_of(where.ans)};
        return;
    }
    tell_no_places(result, places);
}

// A caller's options as far as its structure reaches (fields past its size are zeros, the
// defaults); false where they cannot be read.
bool read_options(const filterspace_options* given, filterspace_options& options) {
    if (given == nullptr) {
        options = filterspace_options{};
        return true;
    }
    if (given->size < sizeof(size_t)) return false;
    if (given->size >= sizeof options) {
        memcpy(&options, given, sizeof options);
    } else {
        options = filterspace_options{};
        memcpy(&options, given, given->size);
    }
    // A C caller may have put any number in the enumeration: looked at as its integer first.
    std::underlying_type<filterspace_places_wanted>::type places;
    memcpy(&places, &options.places, sizeof places);
    return places == FILTERSPACE_PLACES_ON_DIFFERENCE || places == FILTERSPACE_PLACES_ALWAYS ||
           places == FILTERSPACE_PLACES_NEVER;
}

filterspace_result refused(filterspace_places* places) {
    errno = EINVAL;
    tell_no_places(FILTERSPACE_ANSWER_UNREADABLE, places);
    return FILTERSPACE_ANSWER_UNREADABLE;
}

// Whether a comparison counts the places, and which results keep them.
enum class Counting { none, kept_always, kept_on_difference };

// One comparison (compare: where to count the places, or null; notes, or null), its places told
// as `counting` says, else zeros but for an unreadable side's error. The notes are the engine's,
// where asked for; a plain comparison sets up nothing for them, nor places where none are
// counted (zeroing either would make a tiny comparison noticeably dearer).
template <class Compare>
filterspace_result compared(Counting counting, filterspace_places* places, filterspace_notes* notes, Compare compare) {
    const auto noted = [&](Places* where) {
        if (notes == nullptr) return result_of(compare(where, nullptr));
        Notes found;
        const filterspace_result result = result_of(compare(where, &found));
        const int error = errno;
        notes_of(found, notes);
        errno = error;
        return result;
    };
    if (counting == Counting::none || places == nullptr) {
        const filterspace_result result = noted(nullptr);
        tell_no_places(result, places);
        return result;
    }
    Places where;
    const filterspace_result result = noted(&where);
    const bool kept = counting == Counting::kept_always || result == FILTERSPACE_DIFFER;
    tell_places(result, where, kept, places);
    return result;
}

// How a call counts the places that its options ask for.
Counting counting_of(filterspace_places_wanted wanted) {
    return wanted == FILTERSPACE_PLACES_ALWAYS  ? Counting::kept_always
           : wanted == FILTERSPACE_PLACES_NEVER ? Counting::none
                                                : Counting::kept_on_difference;
}

// The descriptor's offset where it is a regular file, which can be read again from there; else -1.
off_t offset_to_read_again(int fd) {
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return -1;
    return lseek(fd, 0, SEEK_CUR);
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

filterspace_result filterspace_compare_fds_with(filterspace_state* state, int output_fd, int answer_fd,
                                                filterspace_places* places, const filterspace_options* given) {
    filterspace_options options;
    if (!read_options(given, options)) return refused(places);
    state->stream.reset();
    const StopCheck check{options.stop, options.stop_context};
    const StopCheck* const stop = options.stop != nullptr ? &check : nullptr;
    const auto compare = [&](Places* where, Notes* notes) {
        return compare_visible(state->workspace, output_fd, answer_fd, where, stop, notes);
    };
    if (options.places != FILTERSPACE_PLACES_ON_DIFFERENCE || places == nullptr)
        return compared(counting_of(options.places), places, options.notes, compare);
    // On a difference only: two regular files are compared without counting, and again from where
    // they started where they differ; anything else is counted as it goes by, as are the notes.
    const off_t out_start = options.notes == nullptr ? offset_to_read_again(output_fd) : -1;
    const off_t ans_start = out_start >= 0 ? offset_to_read_again(answer_fd) : -1;
    if (ans_start < 0) return compared(Counting::kept_on_difference, places, options.notes, compare);
    const filterspace_result result = compared(Counting::none, places, nullptr, compare);
    if (result != FILTERSPACE_DIFFER || lseek(output_fd, out_start, SEEK_SET) != out_start ||
        lseek(answer_fd, ans_start, SEEK_SET) != ans_start)
        return result;
    return compared(Counting::kept_on_difference, places, nullptr, compare);
}

filterspace_result filterspace_compare_buffers_with(filterspace_state* state, const void* output, size_t output_size,
                                                    const void* answer, size_t answer_size, filterspace_places* places,
                                                    const filterspace_options* given) {
    filterspace_options options;
    if (!read_options(given, options)) return refused(places);
    state->stream.reset();
    const uint8_t* const out = static_cast<const uint8_t*>(output);
    const uint8_t* const ans = static_cast<const uint8_t*>(answer);
    // Nothing to tell but the result: the call that judges make most, kept as cheap as it can be.
    if (places == nullptr && options.notes == nullptr)
        return result_of(compare_buffers(state->workspace, out, output_size, ans, answer_size, nullptr, nullptr));
    const auto compare = [&](Places* where, Notes* notes) {
        return compare_buffers(state->workspace, out, output_size, ans, answer_size, where, notes);
    };
    if (options.places != FILTERSPACE_PLACES_ON_DIFFERENCE || places == nullptr || options.notes != nullptr)
        return compared(counting_of(options.places), places, options.notes, compare);
    // On a difference only: compared again, counting, where they differ.
    const filterspace_result result = compared(Counting::none, places, nullptr, compare);
    return result != FILTERSPACE_DIFFER ? result : compared(Counting::kept_on_difference, places, nullptr, compare);
}

int filterspace_stream_begin_with(filterspace_state* state, const filterspace_answer* answer,
                                  const filterspace_options* given) {
    state->stream.reset();
    filterspace_options options;
    const bool takes_answer =
        answer != nullptr &&
        (answer->kind == FILTERSPACE_ANSWER_FD ||
         (answer->kind == FILTERSPACE_ANSWER_BUFFER && (answer->buffer != nullptr || answer->size == 0)) ||
         (answer->kind == FILTERSPACE_ANSWER_READER && answer->read != nullptr));
    if (!takes_answer || !read_options(given, options) || options.notes != nullptr) {
        errno = EINVAL;
        return -1;
    }
    StreamSetup& setup = state->setup;
    setup = StreamSetup{};
    setup.places = options.places;
    setup.stop = {options.stop, options.stop_context};
    Places* const where = options.places != FILTERSPACE_PLACES_NEVER ? &setup.where : nullptr;
    const StopCheck* const stop = options.stop != nullptr ? &setup.stop : nullptr;
    switch (answer->kind) {
        case FILTERSPACE_ANSWER_FD:
            state->stream.emplace(state->workspace, answer->fd, where, stop);
            break;
        case FILTERSPACE_ANSWER_BUFFER:
            state->stream.emplace(state->workspace, static_cast<const uint8_t*>(answer->buffer), answer->size, where);
            break;
        case FILTERSPACE_ANSWER_READER:
            setup.reader = {answer->read, answer->read_context};
            state->stream.emplace(state->workspace, setup.reader, where, stop);
            break;
    }
    // A stream tells the ends where the sides are the same only where that is asked for.
    state->stream->tell_places_when_same(options.places == FILTERSPACE_PLACES_ALWAYS);
    return 0;
}

namespace {

// The stream's result so far, from the engine's state: FILTERSPACE_SAME while comparing; errno
// the unreadable or stopped answer's error.
filterspace_result stream_result(const OutputStream& stream) {
    if (stream.state() == ComparisonState::comparing) return FILTERSPACE_SAME;
    const filterspace_result result = result_of(stream.result());
    if (result != FILTERSPACE_SAME && result != FILTERSPACE_DIFFER) errno = stream.error();
    return result;
}

}  // namespace

filterspace_result filterspace_stream_feed(filterspace_state* state, const void* chunk, size_t size) {
    if (!state->stream.has_value()) {
        errno = EINVAL;
        return FILTERSPACE_ANSWER_UNREADABLE;
    }
    (void)state->stream->feed(static_cast<const uint8_t*>(chunk), size);
    return stream_result(*state->stream);
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
    const filterspace_result result = stream_result(*state->stream);
    state->stream.reset();
    // A stream reads the answer only: a failed or stopped read is the answer's.
    const bool told = state->setup.places == FILTERSPACE_PLACES_ALWAYS ||
                      (state->setup.places == FILTERSPACE_PLACES_ON_DIFFERENCE && result == FILTERSPACE_DIFFER);
    tell_places(result == FILTERSPACE_STOPPED ? FILTERSPACE_ANSWER_UNREADABLE : result, state->setup.where, told,
                places);
    return result;
}

int filterspace_same_file(int fd_a, int fd_b) {
    struct stat a = {}, b = {};
    if (fstat(fd_a, &a) != 0 || fstat(fd_b, &b) != 0) return -1;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino ? 1 : 0;
}

const char* filterspace_version(void) { return FILTERSPACE_VERSION; }

// ---- The calls of earlier versions.

namespace {

filterspace_options with(filterspace_places_wanted places, filterspace_notes* notes = nullptr,
                         filterspace_stop_function stop = nullptr, void* context = nullptr) {
    return {sizeof(filterspace_options), places, notes, stop, context};
}

// The answer and options of an earlier begin call; -1 (EINVAL) for a flag it does not know.
int begin_with_flags(filterspace_state* state, const filterspace_answer& answer, int flags,
                     filterspace_stop_function stop = nullptr, void* context = nullptr) {
    if ((flags & ~FILTERSPACE_STREAM_PLACES) != 0) {
        state->stream.reset();
        errno = EINVAL;
        return -1;
    }
    const filterspace_options options =
        with((flags & FILTERSPACE_STREAM_PLACES) != 0 ? FILTERSPACE_PLACES_ON_DIFFERENCE : FILTERSPACE_PLACES_NEVER,
             nullptr, stop, context);
    return filterspace_stream_begin_with(state, &answer, &options);
}

}  // namespace

filterspace_result filterspace_compare_fds(filterspace_state* state, int output_fd, int answer_fd,
                                           filterspace_places* places) {
    const filterspace_options options = with(FILTERSPACE_PLACES_ALWAYS);
    return filterspace_compare_fds_with(state, output_fd, answer_fd, places, &options);
}

filterspace_result filterspace_compare_fds_stoppable(filterspace_state* state, int output_fd, int answer_fd,
                                                     filterspace_places* places, filterspace_stop_function stop,
                                                     void* context) {
    const filterspace_options options = with(FILTERSPACE_PLACES_ALWAYS, nullptr, stop, context);
    return filterspace_compare_fds_with(state, output_fd, answer_fd, places, &options);
}

filterspace_result filterspace_compare_fds_noted(filterspace_state* state, int output_fd, int answer_fd,
                                                 filterspace_places* places, filterspace_notes* notes,
                                                 filterspace_stop_function stop, void* context) {
    const filterspace_options options = with(FILTERSPACE_PLACES_ALWAYS, notes, stop, context);
    return filterspace_compare_fds_with(state, output_fd, answer_fd, places, &options);
}

filterspace_result filterspace_compare_fds_placed(filterspace_state* state, int output_fd, int answer_fd,
                                                  filterspace_places* places, filterspace_stop_function stop,
                                                  void* context) {
    const filterspace_options options = with(FILTERSPACE_PLACES_ON_DIFFERENCE, nullptr, stop, context);
    return filterspace_compare_fds_with(state, output_fd, answer_fd, places, &options);
}

filterspace_result filterspace_compare_buffers(filterspace_state* state, const void* output, size_t output_size,
                                               const void* answer, size_t answer_size, filterspace_places* places) {
    const filterspace_options options = with(FILTERSPACE_PLACES_ALWAYS);
    return filterspace_compare_buffers_with(state, output, output_size, answer, answer_size, places, &options);
}

filterspace_result filterspace_compare_buffers_noted(filterspace_state* state, const void* output, size_t output_size,
                                                     const void* answer, size_t answer_size, filterspace_places* places,
                                                     filterspace_notes* notes) {
    const filterspace_options options = with(FILTERSPACE_PLACES_ALWAYS, notes);
    return filterspace_compare_buffers_with(state, output, output_size, answer, answer_size, places, &options);
}

filterspace_result filterspace_compare_buffers_placed(filterspace_state* state, const void* output, size_t output_size,
                                                      const void* answer, size_t answer_size,
                                                      filterspace_places* places) {
    const filterspace_options options = with(FILTERSPACE_PLACES_ON_DIFFERENCE);
    return filterspace_compare_buffers_with(state, output, output_size, answer, answer_size, places, &options);
}

int filterspace_stream_begin_fd(filterspace_state* state, int answer_fd, int flags, filterspace_stop_function stop,
                                void* context) {
    return begin_with_flags(state, {FILTERSPACE_ANSWER_FD, answer_fd, nullptr, 0, nullptr, nullptr}, flags, stop,
                            context);
}

int filterspace_stream_begin_buffer(filterspace_state* state, const void* answer, size_t answer_size, int flags) {
    return begin_with_flags(state, {FILTERSPACE_ANSWER_BUFFER, -1, answer, answer_size, nullptr, nullptr}, flags);
}

int filterspace_stream_begin_reader(filterspace_state* state, filterspace_read_function read, void* context,
                                    int flags) {
    return begin_with_flags(state, {FILTERSPACE_ANSWER_READER, -1, nullptr, 0, read, context}, flags);
}
