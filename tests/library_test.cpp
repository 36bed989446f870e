// The C interface, through the shared library as a caller links it: the rule and the places as
// the engine's tests have them, descriptors and buffers, and threads comparing at once.
#include <fcntl.h>
#include <filterspace/filterspace.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "rule_oracle.h"

namespace {

struct State {
    filterspace_state* state = filterspace_state_new();
    ~State() { filterspace_state_free(state); }
};

// The interface's places as the engine's, for the oracle.
Places engine_places(const filterspace_places& places) {
    Places where;
    for (const auto& [from, to] : {std::pair{&places.output, &where.out}, std::pair{&places.answer, &where.ans}}) {
        to->visible = from->visible_byte - 1;
        to->offset = from->offset;
        to->line = from->line;
        to->column = from->column;
        to->at_end = from->at_end != 0;
    }
    return where;
}

Comparison engine_result(filterspace_result result) {
    return result == FILTERSPACE_SAME ? Comparison::same : Comparison::differ;
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
    const Comparison want = expected(out, ans);
    filterspace_places by_buffers = {}, by_descriptors = {};
    const filterspace_result from_buffers =
        filterspace_compare_buffers(state, out.data(), out.size(), ans.data(), ans.size(), &by_buffers);
    EXPECT_EQ(engine_result(from_buffers), want);
    EXPECT_EQ(places_disagree(out, ans, engine_places(by_buffers), want), nullptr);
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
}

// The place as filterspace_cmp prints it: the visible byte from 1, line and column from 1.
TEST(Library, PlacesCountedAsPrinted) {
    State s;
    filterspace_places places = {};
    const std::string out = "1 2\n\n3 5\n", ans = "1 2\n3 4\n";
    ASSERT_EQ(filterspace_compare_buffers(s.state, out.data(), out.size(), ans.data(), ans.size(), &places),
              FILTERSPACE_DIFFER);
    EXPECT_EQ(places.output.visible_byte, 4u);
    EXPECT_EQ(places.output.line, 3u);
    EXPECT_EQ(places.output.column, 3u);
    EXPECT_EQ(places.answer.line, 2u);
    EXPECT_EQ(places.answer.column, 3u);
    EXPECT_EQ(places.output.at_end, 0);
    // Null places are allowed.
    EXPECT_EQ(filterspace_compare_buffers(s.state, out.data(), out.size(), ans.data(), ans.size(), nullptr),
              FILTERSPACE_DIFFER);
    EXPECT_EQ(filterspace_compare_buffers(s.state, nullptr, 0, " ", 1, nullptr), FILTERSPACE_SAME);
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
    EXPECT_STREQ(filterspace_version(), FILTERSPACE_VERSION);
}

// Threads compare different pairs at once, each with its state, large enough for the kernel
// choice to race and for the workspaces to be used throughout.
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
                const Comparison want = expected(out, ans);
                filterspace_places places = {};
                const int out_fd = memory_file(out), ans_fd = memory_file(ans);
                const bool by_fd = engine_result(filterspace_compare_fds(s.state, out_fd, ans_fd, &places)) == want;
                const bool by_buffer = engine_result(filterspace_compare_buffers(
                                           s.state, out.data(), out.size(), ans.data(), ans.size(), nullptr)) == want;
                close(out_fd);
                close(ans_fd);
                if (!by_fd || !by_buffer || places_disagree(out, ans, engine_places(places), want) != nullptr)
                    ++mismatches[t];
            }
        });
    }
    for (auto& worker : workers) worker.join();
    for (int t = 0; t < threads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

}  // namespace
