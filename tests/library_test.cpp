// The C interface, through the shared library as a caller links it: the rule and the places as
// the engine's tests have them, descriptors and buffers, and threads comparing at once.
#include <fcntl.h>
#include <filterspace/filterspace.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "rule_oracle.h"
#include "run_program.h"

namespace {

struct State {
    filterspace_state* state = filterspace_state_new();
    ~State() { filterspace_state_free(state); }
};

// A side's place as the rule's oracle reads it (visible bytes before it, not the index from 1).
struct OraclePlace {
    uint64_t offset, visible, line, column;
    bool at_end;
};

OraclePlace oracle_place(const filterspace_place& place) {
    return {place.offset, place.visible_byte - 1, place.line, place.column, place.at_end != 0};
}

const char* disagreement(const std::string& out, const std::string& ans, const filterspace_places& places) {
    return places_disagree(out, ans, oracle_place(places.output), oracle_place(places.answer), same_by_rule(out, ans));
}

filterspace_result by_rule(const std::string& out, const std::string& ans) {
    return same_by_rule(out, ans) ? FILTERSPACE_SAME : FILTERSPACE_DIFFER;
}

// Numbers with blanks and line ends, and a copy with other blanks; differences sprinkled in.
std::pair<std::string, std::string> random_pair(std::mt19937& rng, size_t size) {
    std::string out, ans;
    while (out.size() < size) {
        const std::string number = std::to_string(rng() % 100000);
        out += number + (rng() % 4 == 0 ? "\n" : " ");
        ans += number + (rng() % 3 == 0 ? "\r\n" : "\t");
    }
    if (rng() % 2 == 0) out[rng() % out.size()] = static_cast<char>('0' + rng() % 10);
    if (rng() % 4 == 0) ans.resize(rng() % ans.size());
    return {out, ans};
}

// The result and the places of one pair, by buffers and by descriptors, against the rule.
void expect_agrees_with_rule(filterspace_state* state, const std::string& out, const std::string& ans) {
    filterspace_places by_buffers = {}, by_descriptors = {};
    const filterspace_result from_buffers =
        filterspace_compare_buffers(state, out.data(), out.size(), ans.data(), ans.size(), &by_buffers);
    EXPECT_EQ(from_buffers, by_rule(out, ans));
    EXPECT_EQ(disagreement(out, ans, by_buffers), nullptr);
    const int out_fd = memory_file(out), ans_fd = memory_file(ans);
    ASSERT_TRUE(out_fd >= 0 && ans_fd >= 0);
    EXPECT_EQ(filterspace_compare_fds(state, out_fd, ans_fd, &by_descriptors), from_buffers);
    close(out_fd);
    close(ans_fd);
    EXPECT_EQ(memcmp(&by_buffers, &by_descriptors, sizeof by_buffers), 0) << "the same places either way";
}

TEST(Library, RuleAndPlacesByBuffersAndDescriptors) {
    State s;
    ASSERT_NE(s.state, nullptr);
    for (const auto& [out, ans] : std::vector<std::pair<std::string, std::string>>{{"1 2", "12"},
                                                                                   {"Hello\nWorld", "HelloWorld"},
                                                                                   {"abc", "abd"},
                                                                                   {"ab", "abc"},
                                                                                   {"abc", "ab"},
                                                                                   {"", " \n\t"},
                                                                                   {"A", "a"},
                                                                                   {"caf\xc3\xa9", "caf"},
                                                                                   {"1\x00"
                                                                                    "2\x7f",
                                                                                    "12"},
                                                                                   {"", ""}}) {
        SCOPED_TRACE(out + " | " + ans);
        expect_agrees_with_rule(s.state, out, ans);
    }
    std::mt19937 rng(21);
    for (int round = 0; round < 40; ++round) {
        const auto [out, ans] = random_pair(rng, 1 + rng() % (round % 2 ? 200 : 300000));
        SCOPED_TRACE(round);
        expect_agrees_with_rule(s.state, out, ans);
    }
    // Null places, and a null buffer of no bytes, are allowed.
    EXPECT_EQ(filterspace_compare_buffers(s.state, "1 2", 3, "13", 2, nullptr), FILTERSPACE_DIFFER);
    EXPECT_EQ(filterspace_compare_buffers(s.state, nullptr, 0, " ", 1, nullptr), FILTERSPACE_SAME);
}

// The library's notes in the shape the statement of them reads.
struct OracleFile {
    uint64_t bytes, visible;
    bool complete;
    unsigned byte_order_mark;
    uint64_t count[4];
    filterspace_spot first[4];
};
struct OracleNotes {
    OracleFile out, ans;
    uint64_t token_starts_differ;
    OraclePlace token_out, token_ans;
};

OracleNotes oracle_notes(const filterspace_notes& notes) {
    auto file = [](const filterspace_file_notes& f) {
        return OracleFile{f.bytes,
                          f.visible,
                          f.complete != 0,
                          static_cast<unsigned>(f.byte_order_mark),
                          {f.high, f.nul, f.control, f.del},
                          {f.first_high, f.first_nul, f.first_control, f.first_del}};
    };
    return {file(notes.output), file(notes.answer), notes.token_starts_differ, oracle_place(notes.first_token_output),
            oracle_place(notes.first_token_answer)};
}

// The notes by buffers, and by descriptors (the output a pipe, the answer a regular file, read to
// its end on a difference), against their statement; the places as without them.
TEST(Library, NotesByBuffersAndDescriptors) {
    signal(SIGPIPE, SIG_IGN);
    State s;
    std::mt19937 rng(28);
    const std::string separators[] = {" ", "\n", "", "\r", "\xC3\xA9", std::string(1, '\0'), "\x02", "\x7F"};
    for (int round = 0; round < 40; ++round) {
        std::string out = round % 5 == 0 ? "\xEF\xBB\xBF" : "", ans;
        for (size_t size = 1 + rng() % (round % 2 ? 100 : 400000); ans.size() < size;) {
            const std::string number = std::to_string(rng() % 1000);
            out += number + separators[rng() % 8];
            ans += number + separators[rng() % 8];
        }
        if (round % 3 == 1) out[rng() % out.size()] = 'x';
        SCOPED_TRACE(round);
        const bool same = same_by_rule(out, ans);
        filterspace_places places = {}, plain_places = {};
        filterspace_notes notes = {};
        ASSERT_EQ(
            filterspace_compare_buffers_noted(s.state, out.data(), out.size(), ans.data(), ans.size(), &places, &notes),
            by_rule(out, ans));
        const size_t out_covered = same ? out.size() : places.output.offset;
        EXPECT_EQ(notes_disagree(out, ans, out_covered, ans.size(), oracle_notes(notes)), nullptr) << "buffers";
        filterspace_compare_buffers(s.state, out.data(), out.size(), ans.data(), ans.size(), &plain_places);
        EXPECT_EQ(memcmp(&places, &plain_places, sizeof places), 0) << "places the same with the notes";

        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        std::thread writer([&out, fd = ends[1]] {
            for (size_t at = 0; at < out.size();) {
                const ssize_t put = write(fd, out.data() + at, out.size() - at);
                if (put <= 0) break;  // the comparison stopped reading at a difference
                at += static_cast<size_t>(put);
            }
            close(fd);
        });
        const int ans_fd = memory_file(ans);
        filterspace_notes by_descriptors = {};
        const auto never = [](void*) { return 0; };
        EXPECT_EQ(filterspace_compare_fds_noted(s.state, ends[0], ans_fd, nullptr, &by_descriptors, never, nullptr),
                  by_rule(out, ans));
        close(ends[0]);
        writer.join();
        close(ans_fd);
        EXPECT_EQ(memcmp(&notes, &by_descriptors, sizeof notes), 0) << "the same notes either way";
    }
}

// Read from the descriptors' current offsets; a read that fails names its side and its errno.
TEST(Library, OffsetsAndUnreadableSides) {
    State s;
    const int out = memory_file("skipped 1 2"), ans = memory_file("12");
    ASSERT_EQ(lseek(out, 8, SEEK_SET), 8);
    EXPECT_EQ(filterspace_compare_fds(s.state, out, ans, nullptr), FILTERSPACE_SAME);
    const int unreadable = open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(unreadable, 0);
    filterspace_places places = {};
    ASSERT_EQ(lseek(ans, 0, SEEK_SET), 0);
    EXPECT_EQ(filterspace_compare_fds(s.state, unreadable, ans, &places), FILTERSPACE_OUTPUT_UNREADABLE);
    EXPECT_EQ(places.output.error, EIO);
    ASSERT_EQ(lseek(out, 0, SEEK_SET), 0);
    EXPECT_EQ(filterspace_compare_fds(s.state, out, unreadable, &places), FILTERSPACE_ANSWER_UNREADABLE);
    EXPECT_EQ(places.answer.error, EIO);
    close(unreadable);
    // A descriptor of -1 (a caller's unchecked open) is unreadable at once, in every call, the
    // output's told first: never a difference without an error, never a wait for bytes that a
    // blank output would have the answer hand over (a busy loop once).
    const int blank = memory_file(" \n");
    const auto never = [](void*) { return 0; };
    const std::function<filterspace_result(int, int, filterspace_places*)> calls[] = {
        [&](int o, int a, filterspace_places* p) { return filterspace_compare_fds(s.state, o, a, p); },
        [&](int o, int a, filterspace_places* p) {
            return filterspace_compare_fds_stoppable(s.state, o, a, p, never, nullptr);
        },
        [&](int o, int a, filterspace_places* p) {
            filterspace_notes notes;
            return filterspace_compare_fds_noted(s.state, o, a, p, &notes, nullptr, nullptr);
        },
        [&](int o, int a, filterspace_places* p) {
            return filterspace_compare_fds_placed(s.state, o, a, p, never, nullptr);
        },
    };
    for (const auto& [out_fd, ans_fd, want] : {std::tuple{-1, ans, FILTERSPACE_OUTPUT_UNREADABLE},
                                               {out, -1, FILTERSPACE_ANSWER_UNREADABLE},
                                               {blank, -1, FILTERSPACE_ANSWER_UNREADABLE},
                                               {-1, -1, FILTERSPACE_OUTPUT_UNREADABLE}})
        for (const auto& call : calls) {
            SCOPED_TRACE(std::to_string(out_fd) + " against " + std::to_string(ans_fd));
            errno = 0;
            EXPECT_EQ(call(out_fd, ans_fd, &places), want);
            EXPECT_EQ(errno, EBADF);
            EXPECT_EQ((want == FILTERSPACE_OUTPUT_UNREADABLE ? places.output : places.answer).error, EBADF);
        }
    for (const size_t fed : {size_t{3}, size_t{0}}) {
        ASSERT_EQ(filterspace_stream_begin_fd(s.state, -1, 0, nullptr, nullptr), 0);
        errno = 0;
        EXPECT_EQ(filterspace_stream_feed(s.state, "1 2", fed), FILTERSPACE_ANSWER_UNREADABLE) << fed << " bytes fed";
        EXPECT_EQ(errno, EBADF);
        EXPECT_EQ(filterspace_stream_finish(s.state, &places), FILTERSPACE_ANSWER_UNREADABLE);
        EXPECT_EQ(places.answer.error, EBADF);
    }
    ASSERT_EQ(filterspace_stream_begin_fd(s.state, -1, 0, nullptr, nullptr), 0);
    EXPECT_EQ(filterspace_stream_finish(s.state, nullptr), FILTERSPACE_ANSWER_UNREADABLE) << "finished unfed";
    close(blank);
    close(out);
    close(ans);
}

TEST(Library, SameFileAndVersion) {
    const int a = memory_file("x"), b = memory_file("x");
    const int a_again = dup(a);
    EXPECT_EQ(filterspace_same_file(a, a_again), 1);
    EXPECT_EQ(filterspace_same_file(a, b), 0);
    close(a_again);
    EXPECT_EQ(filterspace_same_file(a, a_again), -1);
    close(a);
    close(b);
    // One inode number on two file systems: two files.
    const TwinInodes twins("x");
    if (twins.unavailable().empty()) {
        const int first = open(twins.path(0).c_str(), O_RDONLY | O_CLOEXEC);
        const int second = open(twins.path(1).c_str(), O_RDONLY | O_CLOEXEC);
        EXPECT_EQ(filterspace_same_file(first, second), 0);
        close(first);
        close(second);
    }
    // The loaded library's version is the project's, as CMake has it (not the header's macro).
    EXPECT_STREQ(filterspace_version(), PROJECT_VERSION_TEXT);
}

// A signal whose handler is installed without SA_RESTART, so that it interrupts a blocked read.
std::atomic<int> signals_caught{0};
void count_signal(int) { signals_caught.fetch_add(1); }
int stop_after_a_signal(void*) { return signals_caught.load() > 0 ? 1 : 0; }
int stop_after_calls(void* context) { return --*static_cast<int*>(context) < 0 ? 1 : 0; }

// A pipe whose writing end a thread holds: it writes `bytes` after `delay` (nothing when empty),
// then keeps the pipe open until `close_after`, then closes it.
struct SlowPipe {
    int read_end = -1;
    std::thread writer;
    SlowPipe(std::string bytes, std::chrono::milliseconds delay, std::chrono::milliseconds close_after) {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) return;
        read_end = ends[0];
        writer = std::thread([=] {
            std::this_thread::sleep_for(delay);
            if (!bytes.empty()) (void)!write(ends[1], bytes.data(), bytes.size());
            std::this_thread::sleep_for(close_after - delay);
            close(ends[1]);
        });
    }
    ~SlowPipe() {
        if (writer.joinable()) writer.join();
        if (read_end >= 0) close(read_end);
    }
    SlowPipe(const SlowPipe&) = delete;
    SlowPipe& operator=(const SlowPipe&) = delete;
};

// The stoppable comparison ends when its stop function says so: asked between blocks of an endless
// stream, and after a signal that interrupts a read waiting for bytes that never come (the pipe
// closes after 2.5 s, so a comparison that does not stop ends SAME instead of hanging). Without a
// stop function an interrupted read is retried, and a non-blocking descriptor is waited for.
TEST(Library, StoppedBetweenBlocksAndBySignals) {
    State s;
    const int answer = memory_file("12");
    struct sigaction action = {};
    action.sa_handler = count_signal;  // no SA_RESTART
    struct sigaction previous = {};
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    const pthread_t self = pthread_self();
    auto interrupt_after = [self](std::chrono::milliseconds delay) {
        return std::thread([self, delay] {
            std::this_thread::sleep_for(delay);
            pthread_kill(self, SIGUSR1);
        });
    };
    {
        // Blank lines for ever (a long run of them, as far as the comparison can tell): stopped
        // before the fourth read.
        const int blanks = memory_file(std::string(8 << 20, '\n'));
        int calls = 3;
        filterspace_places places = {};
        EXPECT_EQ(filterspace_compare_fds_stoppable(s.state, blanks, answer, &places, stop_after_calls, &calls),
                  FILTERSPACE_STOPPED);
        EXPECT_EQ(errno, EINTR);
        EXPECT_EQ(places.output.error, EINTR);
        EXPECT_EQ(places.output.offset, 2u * (256 << 10)) << "three reads: two blocks of the output, the answer";
        close(blanks);
    }
    {
        signals_caught = 0;
        const SlowPipe silent("", std::chrono::milliseconds(0), std::chrono::milliseconds(2500));
        std::thread interrupter = interrupt_after(std::chrono::milliseconds(200));
        ASSERT_EQ(lseek(answer, 0, SEEK_SET), 0);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(
            filterspace_compare_fds_stoppable(s.state, silent.read_end, answer, nullptr, stop_after_a_signal, nullptr),
            FILTERSPACE_STOPPED);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
        interrupter.join();
    }
    {
        // Without a stop function: interrupted, retried, and the bytes that come later compared.
        signals_caught = 0;
        const SlowPipe late("1 2", std::chrono::milliseconds(400), std::chrono::milliseconds(400));
        std::thread interrupter = interrupt_after(std::chrono::milliseconds(100));
        ASSERT_EQ(lseek(answer, 0, SEEK_SET), 0);
        EXPECT_EQ(filterspace_compare_fds_stoppable(s.state, late.read_end, answer, nullptr, nullptr, nullptr),
                  FILTERSPACE_SAME);
        interrupter.join();
        EXPECT_EQ(signals_caught.load(), 1);
    }
    {
        const SlowPipe late("1\n2", std::chrono::milliseconds(200), std::chrono::milliseconds(200));
        ASSERT_EQ(fcntl(late.read_end, F_SETFL, O_NONBLOCK), 0);
        ASSERT_EQ(lseek(answer, 0, SEEK_SET), 0);
        filterspace_places places = {};
        EXPECT_EQ(filterspace_compare_fds(s.state, late.read_end, answer, &places), FILTERSPACE_SAME);
        EXPECT_EQ(places.output.error, 0);
    }
    sigaction(SIGUSR1, &previous, nullptr);
    close(answer);
}

// A reader over a string, which fails with fail_errno once it has given fail_after bytes.
struct StringReader {
    std::string bytes;
    size_t at = 0;
    size_t fail_after = SIZE_MAX;
    int fail_errno = EIO;
    int calls = 0;
    static long read(void* context, void* into, size_t size) {
        auto& r = *static_cast<StringReader*>(context);
        ++r.calls;
        if (r.at >= r.fail_after) {
            errno = r.fail_errno;
            return -1;
        }
        const size_t n = std::min({size, r.bytes.size() - r.at, r.fail_after - r.at, size_t{1} + r.at % 5000});
        memcpy(into, r.bytes.data() + r.at, n);
        r.at += n;
        return static_cast<long>(n);
    }
};

// The output streamed in chunks whose sizes next_chunk gives, checked on the way: the result so
// far never changes once told, and differs() says whether it is a difference. The result.
template <class NextChunk>
filterspace_result streamed(filterspace_state* state, const std::string& out, const std::string& ans, AnswerKind answer,
                            NextChunk next_chunk, filterspace_places* places) {
    StringReader reader{ans};
    int fds[2] = {-1, -1};
    std::thread writer;
    const int flags = places != nullptr ? FILTERSPACE_STREAM_PLACES : 0;
    switch (answer) {
        case AnswerKind::buffer:
            EXPECT_EQ(filterspace_stream_begin_buffer(state, ans.data(), ans.size(), flags), 0);
            break;
        case AnswerKind::file:
            fds[0] = memory_file(ans);
            EXPECT_EQ(filterspace_stream_begin_fd(state, fds[0], flags, nullptr, nullptr), 0);
            break;
        case AnswerKind::pipe:
            signal(SIGPIPE, SIG_IGN);  // the answer's rest may be left unread
            EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
            writer = std::thread([&ans, end = fds[1]] {
                (void)!write(end, ans.data(), ans.size());
                close(end);
            });
            EXPECT_EQ(filterspace_stream_begin_fd(state, fds[0], flags, nullptr, nullptr), 0);
            break;
        case AnswerKind::reader:
            EXPECT_EQ(filterspace_stream_begin_reader(state, StringReader::read, &reader, flags), 0);
            break;
    }
    for (size_t at = 0; at < out.size();) {
        const size_t size = std::min(out.size() - at, std::max<size_t>(1, next_chunk()));
        const filterspace_result now = filterspace_stream_feed(state, out.data() + at, size);
        EXPECT_EQ(filterspace_stream_differs(state), now == FILTERSPACE_DIFFER ? 1 : 0);
        at += size;
    }
    EXPECT_EQ(filterspace_stream_fed(state), out.size());
    const filterspace_result result = filterspace_stream_finish(state, places);
    if (answer == AnswerKind::pipe) {
        // The answer's rest may be unread: the writer ends when its reader closes.
        close(fds[0]);
        writer.join();
    } else if (fds[0] >= 0) {
        close(fds[0]);
    }
    return result;
}

// Threads compare different pairs at once, each with its state, by descriptors, buffers and
// streams (chunks cut at random), large enough for the kernel choice to race and for the
// workspaces to be used throughout.
TEST(Library, ThreadsCompareAtOnce) {
    constexpr int threads = 6;
    std::vector<std::thread> workers;
    int mismatches[threads] = {};
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([t, &mismatches] {
            State s;
            std::mt19937 rng(100 + t);
            for (int round = 0; round < 12; ++round) {
                const auto [out, ans] = random_pair(rng, 20000 + rng() % 200000);
                const filterspace_result want = by_rule(out, ans);
                filterspace_places places = {}, streamed_places = {};
                const int out_fd = memory_file(out), ans_fd = memory_file(ans);
                const bool by_fd = filterspace_compare_fds(s.state, out_fd, ans_fd, &places) == want;
                const bool by_buffer = filterspace_compare_buffers(s.state, out.data(), out.size(), ans.data(),
                                                                   ans.size(), nullptr) == want;
                const auto next_chunk = [&rng] { return size_t{1} + rng() % 100000; };
                const bool by_stream = streamed(s.state, out, ans, round % 2 ? AnswerKind::buffer : AnswerKind::file,
                                                next_chunk, &streamed_places) == want;
                close(out_fd);
                close(ans_fd);
                if (!by_fd || !by_buffer || !by_stream || disagreement(out, ans, places) != nullptr ||
                    (want == FILTERSPACE_DIFFER && disagreement(out, ans, streamed_places) != nullptr))
                    ++mismatches[t];
            }
        });
    }
    for (auto& worker : workers) worker.join();
    for (int t = 0; t < threads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

TEST(Library, StreamsAsDescriptorsCompare) {
    State s;
    std::mt19937 rng(29);
    for (int round = 0; round < 16; ++round) {
        const auto [out, ans] = random_pair(rng, 1 + rng() % (round % 2 ? 300 : 700000));
        filterspace_places by_fds = {};
        const int out_fd = memory_file(out), ans_fd = memory_file(ans);
        const filterspace_result want = filterspace_compare_fds(s.state, out_fd, ans_fd, &by_fds);
        close(out_fd);
        close(ans_fd);
        ASSERT_EQ(want, by_rule(out, ans));
        for (const AnswerKind answer : {AnswerKind::buffer, AnswerKind::file, AnswerKind::pipe, AnswerKind::reader}) {
            SCOPED_TRACE("round " + std::to_string(round) + ", answer " + std::to_string(static_cast<int>(answer)));
            filterspace_places places = {};
            const auto next_chunk = [r = std::mt19937(static_cast<unsigned>(round))]() mutable {
                return size_t{1} << (r() % 19) | (r() % 700);
            };
            EXPECT_EQ(streamed(s.state, out, ans, answer, next_chunk, &places), want);
            const filterspace_places told = want == FILTERSPACE_DIFFER ? by_fds : filterspace_places{};
            EXPECT_EQ(memcmp(&places, &told, sizeof places), 0) << "the places of a difference, else zeros";
            filterspace_places unasked;
            memset(&unasked, 0xAB, sizeof unasked);
            EXPECT_EQ(streamed(s.state, out, ans, answer, next_chunk, &unasked), want);
            EXPECT_EQ(streamed(s.state, out, ans, answer, next_chunk, nullptr), want);
        }
    }
    // Begun without places, finished with them: zeros.
    ASSERT_EQ(filterspace_stream_begin_buffer(s.state, "1", 1, 0), 0);
    EXPECT_EQ(filterspace_stream_feed(s.state, "2", 1), FILTERSPACE_DIFFER);
    filterspace_places zeros;
    memset(&zeros, 0xAB, sizeof zeros);
    EXPECT_EQ(filterspace_stream_finish(s.state, &zeros), FILTERSPACE_DIFFER);
    EXPECT_EQ(zeros.output.line, 0u);
    EXPECT_EQ(zeros.answer.offset, 0u);
}

// An answer that cannot be read is told at the chunk that needed its bytes, not before; it is
// kept, with its errno, like a difference. A stop function ends a stream waiting on its answer.
TEST(Library, StreamTellsAnUnreadableAnswerWhereItIsNeeded) {
    State s;
    const std::string text = [] {
        std::string t;
        while (t.size() < 600000) t += "12 ";
        return t;
    }();
    StringReader answer{text, 0, 400000, ENOSPC};
    ASSERT_EQ(filterspace_stream_begin_reader(s.state, StringReader::read, &answer, FILTERSPACE_STREAM_PLACES), 0);
    EXPECT_EQ(filterspace_stream_feed(s.state, text.data(), 300000), FILTERSPACE_SAME);
    errno = 0;
    EXPECT_EQ(filterspace_stream_feed(s.state, text.data() + 300000, 200000), FILTERSPACE_ANSWER_UNREADABLE);
    EXPECT_EQ(errno, ENOSPC);
    errno = 0;
    EXPECT_EQ(filterspace_stream_feed(s.state, "x", 1), FILTERSPACE_ANSWER_UNREADABLE);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(filterspace_stream_differs(s.state), 0);
    filterspace_places places = {};
    EXPECT_EQ(filterspace_stream_finish(s.state, &places), FILTERSPACE_ANSWER_UNREADABLE);
    EXPECT_EQ(places.answer.error, ENOSPC);
    EXPECT_EQ(places.output.error, 0);

    const int directory = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(filterspace_stream_begin_fd(s.state, directory, 0, nullptr, nullptr), 0);
    EXPECT_EQ(filterspace_stream_feed(s.state, "1", 1), FILTERSPACE_ANSWER_UNREADABLE);
    EXPECT_EQ(errno, EISDIR);
    EXPECT_EQ(filterspace_stream_finish(s.state, nullptr), FILTERSPACE_ANSWER_UNREADABLE);
    close(directory);

    // A reader that fails with EAGAIN (there is no descriptor to wait for) is unreadable at once,
    // and one that says it gave more than it was asked for is never read past the block.
    StringReader not_yet{text, 0, 0, EAGAIN};
    ASSERT_EQ(filterspace_stream_begin_reader(s.state, StringReader::read, &not_yet, 0), 0);
    EXPECT_EQ(filterspace_stream_feed(s.state, "1", 1), FILTERSPACE_ANSWER_UNREADABLE);
    EXPECT_EQ(errno, EAGAIN);
    const auto overstating = [](void* context, void* into, size_t size) -> long {
        const long given = StringReader::read(context, into, size);
        return given > 0 ? static_cast<long>(size) + 4096 : given;
    };
    StringReader bragging{text};
    ASSERT_EQ(filterspace_stream_begin_reader(s.state, overstating, &bragging, 0), 0);
    (void)filterspace_stream_feed(s.state, text.data(), text.size());
    const filterspace_result told = filterspace_stream_finish(s.state, nullptr);
    EXPECT_TRUE(told == FILTERSPACE_ANSWER_UNREADABLE || told == FILTERSPACE_SAME) << told;

    SlowPipe silent("", std::chrono::milliseconds(0), std::chrono::milliseconds(1000));
    int calls_left = 0;
    ASSERT_EQ(filterspace_stream_begin_fd(s.state, silent.read_end, 0, stop_after_calls, &calls_left), 0);
    // Asked before the answer's first read; a stream that did not ask would wait 1 s and differ.
    EXPECT_EQ(filterspace_stream_feed(s.state, "1", 1), FILTERSPACE_STOPPED);
    EXPECT_EQ(errno, EINTR);
    EXPECT_EQ(filterspace_stream_finish(s.state, &places), FILTERSPACE_STOPPED);
    EXPECT_EQ(places.answer.error, EINTR) << "without places asked for, the error all the same";
}

// Calls out of turn: no stream begun, a flag unknown, a stream ended by a comparison on its state.
TEST(Library, StreamCallsWithoutAStream) {
    State s;
    EXPECT_EQ(filterspace_stream_feed(s.state, "1", 1), FILTERSPACE_ANSWER_UNREADABLE);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(filterspace_stream_differs(s.state), -1);
    EXPECT_EQ(filterspace_stream_fed(s.state), 0u);
    EXPECT_EQ(filterspace_stream_begin_buffer(s.state, "1", 1, 2), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(filterspace_stream_begin_reader(s.state, nullptr, nullptr, 0), -1);
    ASSERT_EQ(filterspace_stream_begin_buffer(s.state, "1 2", 3, 0), 0);
    EXPECT_EQ(filterspace_stream_feed(s.state, "1", 1), FILTERSPACE_SAME);
    EXPECT_EQ(filterspace_compare_buffers(s.state, "a", 1, "a", 1, nullptr), FILTERSPACE_SAME);
    EXPECT_EQ(filterspace_stream_feed(s.state, "2", 1), FILTERSPACE_ANSWER_UNREADABLE) << "ended by the comparison";
    EXPECT_EQ(errno, EINVAL);
    ASSERT_EQ(filterspace_stream_begin_buffer(s.state, "1", 1, 0), 0);
    errno = EINTR;  // left by the caller's own calls: a difference is no stop
    EXPECT_EQ(filterspace_stream_feed(s.state, "2", 1), FILTERSPACE_DIFFER);
    ASSERT_EQ(filterspace_stream_begin_buffer(s.state, "1 2", 3, 0), 0);
    EXPECT_EQ(filterspace_stream_feed(s.state, "12", 2), FILTERSPACE_SAME);
    EXPECT_EQ(filterspace_stream_finish(s.state, nullptr), FILTERSPACE_SAME);
    EXPECT_EQ(filterspace_stream_finish(s.state, nullptr), FILTERSPACE_ANSWER_UNREADABLE) << "finished once";
}

// The places in one call: those of the comparison with places on a difference, zeros otherwise,
// the descriptors left where that comparison leaves them; regular files are compared again from
// their offsets, pipes counted as they go by.
TEST(Library, PlacesInOneCall) {
    State s;
    std::mt19937 rng(31);
    for (int round = 0; round < 24; ++round) {
        const auto pair = random_pair(rng, 1 + rng() % (round % 3 ? 2000 : 900000));
        const std::string &out = pair.first, &ans = pair.second;  // a lambda below takes out
        SCOPED_TRACE(round);
        const size_t skip = rng() % 3;  // from an offset other than 0, as a caller may
        filterspace_places want = {}, placed = {}, by_buffers = {};
        const std::string out_file = std::string(skip, 'x') + out, ans_file = std::string(skip, 'y') + ans;
        const int out_fd = memory_file(out_file), ans_fd = memory_file(ans_file);
        ASSERT_EQ(lseek(out_fd, static_cast<off_t>(skip), SEEK_SET), static_cast<off_t>(skip));
        ASSERT_EQ(lseek(ans_fd, static_cast<off_t>(skip), SEEK_SET), static_cast<off_t>(skip));
        const filterspace_result result = filterspace_compare_fds(s.state, out_fd, ans_fd, &want);
        const off_t out_left = lseek(out_fd, 0, SEEK_CUR), ans_left = lseek(ans_fd, 0, SEEK_CUR);
        if (result != FILTERSPACE_DIFFER) want = {};
        lseek(out_fd, static_cast<off_t>(skip), SEEK_SET);
        lseek(ans_fd, static_cast<off_t>(skip), SEEK_SET);
        memset(&placed, 0xAB, sizeof placed);
        EXPECT_EQ(filterspace_compare_fds_placed(s.state, out_fd, ans_fd, &placed, nullptr, nullptr), result);
        EXPECT_EQ(memcmp(&placed, &want, sizeof want), 0);
        EXPECT_EQ(lseek(out_fd, 0, SEEK_CUR), out_left);
        EXPECT_EQ(lseek(ans_fd, 0, SEEK_CUR), ans_left);
        memset(&by_buffers, 0xAB, sizeof by_buffers);
        EXPECT_EQ(
            filterspace_compare_buffers_placed(s.state, out.data(), out.size(), ans.data(), ans.size(), &by_buffers),
            result);
        EXPECT_EQ(memcmp(&by_buffers, &want, sizeof want), 0);
        // The output through a pipe: counted as it goes by.
        signal(SIGPIPE, SIG_IGN);
        int ends[2];
        ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
        std::thread writer([&out, end = ends[1]] {
            (void)!write(end, out.data(), out.size());
            close(end);
        });
        lseek(ans_fd, static_cast<off_t>(skip), SEEK_SET);
        memset(&placed, 0xAB, sizeof placed);
        EXPECT_EQ(filterspace_compare_fds_placed(s.state, ends[0], ans_fd, &placed, nullptr, nullptr), result);
        close(ends[0]);
        writer.join();
        EXPECT_EQ(memcmp(&placed, &want, sizeof want), 0);
        close(out_fd);
        close(ans_fd);
    }
    // An unreadable side: its error, and zeros besides.
    const int unreadable = open("/proc/self/mem", O_RDONLY | O_CLOEXEC), ans = memory_file("1");
    filterspace_places places;
    memset(&places, 0xAB, sizeof places);
    EXPECT_EQ(filterspace_compare_fds_placed(s.state, unreadable, ans, &places, nullptr, nullptr),
              FILTERSPACE_OUTPUT_UNREADABLE);
    EXPECT_EQ(places.output.error, EIO);
    EXPECT_EQ(places.output.line, 0u);
    EXPECT_EQ(places.answer.error, 0);
    close(unreadable);
    close(ans);
}

// The options calls: the places as asked (never, always: the ends too, on a difference), notes
// beside them, and options the library cannot read refused with EINVAL; the stream as asked too.
TEST(Library, OptionsCallsGiveWhatIsAsked) {
    State s;
    const std::string out = "1 2\n3", ans = "12 3 4";
    filterspace_places always = {}, told;
    ASSERT_EQ(filterspace_compare_buffers(s.state, out.data(), out.size(), "1 2 3", 5, &always), FILTERSPACE_SAME);
    filterspace_options options = FILTERSPACE_OPTIONS_INIT;
    for (const auto places : {FILTERSPACE_PLACES_NEVER, FILTERSPACE_PLACES_ON_DIFFERENCE, FILTERSPACE_PLACES_ALWAYS}) {
        options.places = places;
        memset(&told, 0xAB, sizeof told);
        EXPECT_EQ(filterspace_compare_buffers_with(s.state, out.data(), out.size(), "1 2 3", 5, &told, &options),
                  FILTERSPACE_SAME);
        EXPECT_EQ(told.output.line, places == FILTERSPACE_PLACES_ALWAYS ? 2u : 0u) << places;
        ASSERT_EQ(filterspace_stream_begin_with(s.state, nullptr, &options), -1) << "no answer";
        const filterspace_answer answer = {FILTERSPACE_ANSWER_BUFFER, -1, ans.data(), ans.size(), nullptr, nullptr};
        ASSERT_EQ(filterspace_stream_begin_with(s.state, &answer, &options), 0);
        EXPECT_EQ(filterspace_stream_feed(s.state, out.data(), out.size()), FILTERSPACE_SAME);
        EXPECT_EQ(filterspace_stream_finish(s.state, &told), FILTERSPACE_DIFFER);
        EXPECT_EQ(told.answer.column, places == FILTERSPACE_PLACES_NEVER ? 0u : 6u) << places;
    }
    filterspace_notes notes;
    options.notes = &notes;
    const int out_fd = memory_file(out), ans_fd = memory_file("1 2 3");
    EXPECT_EQ(filterspace_compare_fds_with(s.state, out_fd, ans_fd, &told, &options), FILTERSPACE_SAME);
    EXPECT_EQ(notes.token_starts_differ, 0u);
    EXPECT_EQ(notes.output.visible, 3u);
    EXPECT_EQ(memcmp(&told, &always, sizeof told), 0) << "places with notes as without";
    const filterspace_answer answer = {FILTERSPACE_ANSWER_FD, ans_fd, nullptr, 0, nullptr, nullptr};
    EXPECT_EQ(filterspace_stream_begin_with(s.state, &answer, &options), -1) << "streams give no notes";
    for (const filterspace_options refused :
         {filterspace_options{0, FILTERSPACE_PLACES_NEVER, nullptr, nullptr, nullptr},
          filterspace_options{sizeof options, static_cast<filterspace_places_wanted>(7), nullptr, nullptr, nullptr}}) {
        errno = 0;
        EXPECT_EQ(filterspace_compare_fds_with(s.state, out_fd, ans_fd, &told, &refused),
                  FILTERSPACE_ANSWER_UNREADABLE);
        EXPECT_EQ(errno, EINVAL);
        EXPECT_EQ(told.answer.error, EINVAL);
    }
    close(out_fd);
    close(ans_fd);
}

// size bytes between two inaccessible pages: a read one byte before or after them faults.
class Guarded {
public:
    explicit Guarded(size_t size) : size_(size) {
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        pages_ = (size + page - 1) / page * page;
        total_ = pages_ + 2 * page;
        void* memory = mmap(nullptr, total_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        base_ = memory == MAP_FAILED ? nullptr : static_cast<uint8_t*>(memory);
        if (base_ == nullptr || mprotect(base_, page, PROT_NONE) != 0 ||
            mprotect(base_ + page + pages_, page, PROT_NONE) != 0)
            return;
        page_ = page;
    }
    ~Guarded() {
        if (base_ != nullptr) munmap(base_, total_);
    }
    Guarded(const Guarded&) = delete;
    Guarded& operator=(const Guarded&) = delete;
    bool ok() const { return page_ != 0; }
    uint8_t* starting_after_guard() const { return base_ + page_; }
    uint8_t* ending_at_guard() const { return base_ + page_ + pages_ - size_; }

private:
    size_t size_, pages_ = 0, total_ = 0, page_ = 0;
    uint8_t* base_ = nullptr;
};

// How long each case of the race runs: its share of FILTERSPACE_RACE_SECONDS, which CI sets for
// a minute under the address sanitizer; else some thousands of comparisons.
bool race_goes_on(int done, std::chrono::steady_clock::time_point started, int cases) {
    const char* seconds = getenv("FILTERSPACE_RACE_SECONDS");
    if (seconds == nullptr) return done < 8000;
    return std::chrono::steady_clock::now() - started < std::chrono::milliseconds(atoi(seconds) * 1000 / cases);
}

// The racing buffer as a stream's output, handed over in three chunks, or as its answer.
filterspace_result streamed_racing(filterspace_state* state, bool racing_output, const uint8_t* racing, size_t size,
                                   const std::string& other, filterspace_places* places) {
    const int flags = places != nullptr ? FILTERSPACE_STREAM_PLACES : 0;
    const uint8_t* out = racing_output ? racing : reinterpret_cast<const uint8_t*>(other.data());
    const size_t out_size = racing_output ? size : other.size();
    if (racing_output) {
        (void)filterspace_stream_begin_buffer(state, other.data(), other.size(), flags);
    } else {
        (void)filterspace_stream_begin_buffer(state, racing, size, flags);
    }
    const size_t third = out_size / 3;
    (void)filterspace_stream_feed(state, out, third);
    (void)filterspace_stream_feed(state, out + third, third);
    (void)filterspace_stream_feed(state, out + 2 * third, out_size - 2 * third);
    return filterspace_stream_finish(state, places);
}

// A caller that rewrites a buffer while it is compared gets any verdict, but the comparison reads
// nothing outside either buffer and ends. The rewrites blank a region and put it back, so that a
// second look at the bytes finds fewer visible bytes or newlines than the first counted: a scan
// that trusts the first count runs into the guard page after the buffer (to the place of a
// difference, in the dense layout that is compared by compaction) or before it (to the start of
// the line, walked back).
TEST(Library, BuffersRewrittenWhileComparedAreReadOnlyWithin) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a racing caller is a data race by design";
#endif
    constexpr size_t size = 64 * 4096 + 122;
    const std::string dense = [&] {
        std::string bytes;
        while (bytes.size() < size) bytes += "a ";
        return bytes;
    }();
    const std::string dense_answer = std::string(size / 2 - 1, 'a') + "b";
    const std::string lines = "\n" + std::string(size - 1, ' ');
    struct Case {
        const char* what;
        bool rewrite_output;  // else the answer
        bool at_end;          // the rewritten buffer ends at a guard page; else starts after one
        const std::string& racing;
        size_t blanked_from, blanked_to;  // the region blanked and put back
        std::string other;                // the buffer on the other side
    };
    const std::vector<Case> cases = {
        {"a difference in the output's last chunk", true, true, dense, size - 20000, size, dense_answer},
        {"the output beyond the answer's end", true, true, dense, size - 20000, size,
         dense_answer.substr(0, size / 2 - 100)},
        {"a difference in the answer's last chunk", false, true, dense, size - 20000, size, dense_answer},
        {"the output's only newline", true, false, lines, 0, 1, "x"},
        {"the answer's only newline", false, false, lines, 0, 1, "x"},
    };
    State s;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Guarded memory(size);
        ASSERT_TRUE(memory.ok());
        uint8_t* const racing = c.at_end ? memory.ending_at_guard() : memory.starting_after_guard();
        memcpy(racing, c.racing.data(), size);
        std::atomic<bool> stop{false};
        std::thread rewriter([&] {
            const size_t length = c.blanked_to - c.blanked_from;
            while (!stop.load(std::memory_order_relaxed)) {
                memset(racing + c.blanked_from, ' ', length);
                for (int spin = 0; spin < 20; ++spin) std::atomic_signal_fence(std::memory_order_seq_cst);
                memcpy(racing + c.blanked_from, c.racing.data() + c.blanked_from, length);
            }
        });
        const auto started = std::chrono::steady_clock::now();
        int done = 0;
        for (; race_goes_on(done, started, static_cast<int>(cases.size())); ++done) {
            filterspace_places places = {};
            filterspace_places* wanted = done % 4 == 3 ? nullptr : &places;
            filterspace_notes notes = {};
            filterspace_notes* noted = done % 3 == 1 ? &notes : nullptr;  // the notes read the buffers too
            // Every fifth call streams the output in three chunks (the racing one, or against it).
            const filterspace_result result =
                done % 5 == 4      ? streamed_racing(s.state, c.rewrite_output, racing, size, c.other, wanted)
                : c.rewrite_output ? filterspace_compare_buffers_noted(s.state, racing, size, c.other.data(),
                                                                       c.other.size(), wanted, noted)
                                   : filterspace_compare_buffers_noted(s.state, c.other.data(), c.other.size(), racing,
                                                                       size, wanted, noted);
            ASSERT_TRUE(result == FILTERSPACE_SAME || result == FILTERSPACE_DIFFER);
            EXPECT_LE(places.output.offset, c.rewrite_output ? size : c.other.size());
            EXPECT_LE(places.answer.offset, c.rewrite_output ? c.other.size() : size);
        }
        stop = true;
        rewriter.join();
    }
}

}  // namespace
