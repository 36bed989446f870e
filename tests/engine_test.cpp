// The comparison engine against the visible-byte rule, for every kernel set this processor runs,
// with inputs fed whole, through pipes in pieces, and failing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <future>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "compare.h"
#include "kernel_set_test.h"
#include "pipe_feed.h"
#include "rule_oracle.h"

namespace {

Comparison expected(const std::string& out, const std::string& ans) {
    return same_by_rule(out, ans) ? Comparison::same : Comparison::differ;
}

class Engine : public KernelSetTest {
protected:
    Comparison compare(int out_fd, int ans_fd) { return compare_visible_with(out_fd, ans_fd, GetParam()); }

    Comparison compare_whole(const std::string& out, const std::string& ans) {
        const int out_fd = memory_file(out);
        const int ans_fd = memory_file(ans);
        const Comparison result = compare(out_fd, ans_fd);
        close(out_fd);
        close(ans_fd);
        return result;
    }

    template <typename NextPiece>
    // Non-blocking, the reading ends are waited on (poll) instead of blocking in read().
    Comparison compare_piecewise(const std::string& out, const std::string& ans, NextPiece next_piece,
                                 bool non_blocking = false) {
        PipeFeed out_feed(out, next_piece);
        PipeFeed ans_feed(ans, next_piece);
        if (non_blocking) {
            EXPECT_EQ(fcntl(out_feed.fd(), F_SETFL, O_NONBLOCK), 0);
            EXPECT_EQ(fcntl(ans_feed.fd(), F_SETFL, O_NONBLOCK), 0);
        }
        return compare(out_feed.fd(), ans_feed.fd());
    }

    // Where the sides stopped: the same visible bytes before the places, and there the first
    // differing visible bytes or the ends; lines counted as in the prefixes. The answer is read
    // whole, or through a pipe in small pieces, many of them to one chunk of the output.
    void expect_places(const std::string& out, const std::string& ans, Comparison want, bool ans_in_pieces = false) {
        const int out_fd = memory_file(out);
        std::optional<PipeFeed> feed;
        if (ans_in_pieces) feed.emplace(ans, [rng = std::mt19937(5)]() mutable { return 1 + rng() % 700; });
        const int ans_fd = ans_in_pieces ? feed->fd() : memory_file(ans);
        Places where;
        ASSERT_EQ(compare_visible_with(out_fd, ans_fd, GetParam(), &where), want);
        EXPECT_STREQ(where.kernel_set, GetParam().name);
        close(out_fd);
        if (!ans_in_pieces) close(ans_fd);
        EXPECT_EQ(places_disagree(out, ans, where.out, where.ans, want == Comparison::same), nullptr)
            << "output at " << where.out.offset << ", answer at " << where.ans.offset << ": "
            << places_disagree(out, ans, where.out, where.ans, want == Comparison::same);
    }

    // The verdict must not depend on how the inputs are cut into reads.
    void expect_all_feedings(const std::string& out, const std::string& ans) {
        const Comparison want = expected(out, ans);
        EXPECT_EQ(compare_whole(out, ans), want) << "whole";
        expect_places(out, ans, want);
        if (out.size() + ans.size() < (64 << 10)) {  // a byte at a time costs a system call per byte
            EXPECT_EQ(compare_piecewise(out, ans, [] { return 1; }), want) << "a byte at a time";
        }
        std::mt19937 rng(7);
        EXPECT_EQ(compare_piecewise(out, ans, [rng]() mutable { return rng() % 5000; }), want) << "random pieces";
    }
};

TEST_P(Engine, MatchRuleCases) {
    struct Case {
        std::string out, ans;
    };
    const Case cases[] = {
        {"1 2", "12"},
        {"Hello\nWorld\n", "HelloWorld"},
        {"a\r\nb\r\n", "a\nb\n"},
        {"abc", "abd"},
        {"ab", "abc"},
        {"abc", "ab"},
        {"", ""},
        {" \t\n\v\f\r\x01\x7f", ""},
        {"", "   \n"},
        {"A", "a"},
        {"1.0", "1"},
        {"1.0", "1.00"},
        {"caf\xc3\xa9", "caf\xe9"},
        {std::string("a\0b\x7f"
                     "c",
                     5),
         "abc"},
        {"x", ""},
        {"", "x"},
        {"  trailing  \n\n", "trailing"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out + " / " + c.ans);
        expect_all_feedings(c.out, c.ans);
    }
}

TEST_P(Engine, EveryByteValue) {
    for (int value = 0; value < 256; ++value) {
        const std::string byte(1, static_cast<char>(value));
        SCOPED_TRACE(value);
        EXPECT_EQ(compare_whole("a" + byte + "b", "ab"), expected("a" + byte + "b", "ab"));
        EXPECT_EQ(compare_whole("ab", "a" + byte + "b"), expected("ab", "a" + byte + "b"));
        EXPECT_EQ(compare_whole(byte, ""), expected(byte, ""));
        EXPECT_EQ(compare_whole(byte, byte), Comparison::same);
        EXPECT_EQ(compare_whole(byte + "z", "~z"), expected(byte + "z", "~z"));
    }
}

TEST_P(Engine, LongRunsOfIgnoredBytesAcrossBlocks) {
    const std::string blanks(3 << 20, ' ');
    const std::string mixed = std::string(700000, '\n') + std::string(700000, '\x80');
    expect_all_feedings("1" + blanks + "2", "12");
    expect_all_feedings("1" + mixed + "2", "1" + blanks + "2");
    expect_all_feedings(blanks, "");
    expect_all_feedings(blanks + "x", mixed);
    expect_all_feedings(mixed + "x", mixed + "y");
}

TEST_P(Engine, RandomPairsAgreeWithTheRule) {
    // Pairs built from the same visible text with different separators, sometimes altered.
    std::mt19937 rng(20261208);
    const std::string separators[] = {" ", "\n", "\r\n", "  \n", "\t", "", "\x80\xff"};
    for (int round = 0; round < 60; ++round) {
        std::string out, ans;
        const int tokens = static_cast<int>(rng() % 3000);
        for (int t = 0; t < tokens; ++t) {
            const std::string token = std::to_string(rng() % 100000);
            out += token + separators[rng() % 7];
            ans += token + separators[rng() % 7];
        }
        if (round % 3 == 1 && !ans.empty()) ans[rng() % ans.size()] = static_cast<char>('0' + rng() % 10);
        if (round % 3 == 2) out += "9";
        SCOPED_TRACE(round);
        expect_all_feedings(out, ans);
    }
}

TEST_P(Engine, DifferenceOrEndAtBoundaries) {
    // Around the engine's read size, the advance span, and vector sizes, on either side.
    std::mt19937 rng(11);
    const size_t boundaries[] = {32, 64, chunk_size, engine_block_size, 2 * engine_block_size};
    for (const auto& layouts : {std::vector<std::string>{" ", "\n"}, std::vector<std::string>{"\r\n"}}) {
        const std::string base = numbers(rng, 2 * engine_block_size + 200, {" ", "\n"});
        std::string other;  // the same visible bytes, other separators
        for (char c : base) other += c == ' ' || c == '\n' ? layouts[rng() % layouts.size()] : std::string(1, c);
        for (size_t boundary : boundaries)
            for (size_t at : {boundary - 1, boundary, boundary + 1}) {
                SCOPED_TRACE(at);
                std::string changed = base;
                changed[at] = changed[at] == '7' ? '8' : '7';
                EXPECT_EQ(compare_whole(changed, other), expected(changed, other));
                EXPECT_EQ(compare_whole(other, changed), expected(other, changed));
                const std::string cut = base.substr(0, at);
                EXPECT_EQ(compare_whole(cut, other), expected(cut, other));
                EXPECT_EQ(compare_whole(other, cut), expected(other, cut));
                EXPECT_EQ(compare_whole(cut, base.substr(0, at)), Comparison::same);
            }
        expect_all_feedings(base, other);
    }
}

TEST_P(Engine, ReadErrorIsNotEndOfFile) {
    // The first read of /proc/self/mem fails with EIO; a directory fails with EISDIR.
    for (const char* path : {"/proc/self/mem", "/"}) {
        const int failing = open(path, O_RDONLY);
        ASSERT_GE(failing, 0) << path;
        const int empty = memory_file("");
        EXPECT_EQ(compare(failing, empty), Comparison::out_unreadable) << path;
        EXPECT_EQ(compare(empty, failing), Comparison::ans_unreadable) << path;
        close(failing);
        close(empty);
    }
    // An output that fails at its first read, against an answer pipe that sends nothing (for 2 s,
    // then ends): the answer is never waited for.
    int silent[2];
    ASSERT_EQ(pipe(silent), 0);
    std::promise<void> compared;
    std::thread closer([end = silent[1], done = compared.get_future()] {
        done.wait_for(std::chrono::seconds(2));
        close(end);
    });
    const int failing = open("/proc/self/mem", O_RDONLY);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(compare(failing, silent[0]), Comparison::out_unreadable);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    compared.set_value();
    closer.join();
    close(failing);
    close(silent[0]);
}

TEST_P(Engine, ReadErrorOfEitherSideIsReportedForThatSide) {
    // Both fail at once: the output is read first, so its failure is the one reported.
    const int output_dir = open("/", O_RDONLY), answer_dir = open("/", O_RDONLY);
    EXPECT_EQ(compare(output_dir, answer_dir), Comparison::out_unreadable);
    close(output_dir);
    close(answer_dir);

    // An answer that fails after some pages, while a CRLF output against it is compared densely:
    // read through /proc/self/mem, the bytes up to an unmapped page arrive, then EIO.
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    std::string output;
    while (output.size() < (64 << 10)) output += "1\r\n";
    for (size_t pages = 4; pages <= 8; ++pages) {
        auto* mapped = static_cast<char*>(
            mmap(nullptr, (pages + 1) * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        ASSERT_NE(mapped, MAP_FAILED);
        ASSERT_EQ(munmap(mapped + pages * page, page), 0);
        for (size_t i = 0; i < pages * page; i += 2) memcpy(mapped + i, "1\n", 2);
        const int answer = open("/proc/self/mem", O_RDONLY);
        ASSERT_EQ(lseek(answer, reinterpret_cast<off_t>(mapped), SEEK_SET), reinterpret_cast<off_t>(mapped));
        const int out = memory_file(output);
        EXPECT_EQ(compare(out, answer), Comparison::ans_unreadable) << pages << " pages";
        close(out);
        close(answer);
        munmap(mapped, pages * page);
    }
}

void ignore_signal(int) {}

TEST_P(Engine, InterruptedReadIsRetried) {
    // SIGALRM without SA_RESTART interrupts the engine's blocked read(), or its wait for a
    // non-blocking descriptor, every millisecond.
    struct sigaction action {};
    action.sa_handler = ignore_signal;
    struct sigaction previous {};
    sigaction(SIGALRM, &action, &previous);
    const itimerval every_ms{{0, 1000}, {0, 1000}};
    setitimer(ITIMER_REAL, &every_ms, nullptr);
    const auto slow = [] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return 3;
    };
    EXPECT_EQ(compare_piecewise("1 2 3 4 5 6", "123456", slow), Comparison::same);
    EXPECT_EQ(compare_piecewise("1 2 3 4 5 6", "123456", slow, true), Comparison::same) << "waited for";
    const itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &previous, nullptr);
}

// Far into the files, with a difference in invisible bytes on every line (where the vector sets
// compact both sides) and the answer arriving in pieces, each place counted from its own side's
// reads.
TEST_P(Engine, PlacesFarInWithTheAnswerInPieces) {
    std::mt19937 rng(11);
    const std::string out = numbers(rng, 200 << 10, {" ", "\n"});
    std::string ans;
    for (char c : out) ans += c == '\n' ? "\r\n" : std::string(1, c);
    expect_places(out, ans, Comparison::same, true);
    for (const size_t at : {size_t{150} << 10, out.size() - 3}) {
        std::string wrong = out;
        wrong[wrong.find_first_of("0123456789", at)] = 'x';
        expect_places(wrong, ans, Comparison::differ, true);
        expect_places(out.substr(0, at), ans, Comparison::differ, true);  // the output ends early
    }
}

TEST_P(Engine, DifferenceIsReportedWithoutWaitingForTheEnd) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(write(ends[1], "12 x", 4), 4);  // the writer stays open
    const int ans = memory_file("12 y");
    auto result = std::async(std::launch::async, [&] { return compare(ends[0], ans); });
    const bool finished = result.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    close(ends[1]);  // unblocks a read that should not have been waiting
    EXPECT_TRUE(finished);
    EXPECT_EQ(result.get(), Comparison::differ);
    close(ends[0]);
    close(ans);
}

// The engine's own choice: scalar kernels at first, the best set once probe_after bytes have
// arrived, which with pipes fed in pieces happens in the middle of a comparison.
TEST(EngineOwnChoice, AgreesWithTheRuleAcrossTheProbe) {
    signal(SIGPIPE, SIG_IGN);
    std::mt19937 rng(probe_after);
    for (int round = 0; round < 12; ++round) {
        const size_t size = probe_after / 4 + rng() % probe_after;
        std::string out = numbers(rng, size, {" ", "\n"}), ans;
        for (char c : out) ans += c == '\n' ? "\r\n" : std::string(1, c);
        if (round % 2 == 1) out[out.size() / 2 + rng() % (out.size() / 2)] = 'x';
        PipeFeed out_feed(out, [pieces = std::mt19937(round)]() mutable { return pieces() % 3000; });
        PipeFeed ans_feed(ans, [pieces = std::mt19937(~round)]() mutable { return pieces() % 3000; });
        EXPECT_EQ(compare_visible(out_feed.fd(), ans_feed.fd()), expected(out, ans)) << round;
    }
}

// The scalar set below the probe's threshold, the processor's best set once the inputs pass it.
TEST(EngineOwnChoice, ScalarUntilTheProbeThenTheBestSet) {
    std::mt19937 rng(3);
    for (const size_t size : {size_t{100}, probe_after / 2 - 64, probe_after}) {
        const std::string text = numbers(rng, size, {" ", "\n"});
        const int out = memory_file(text), ans = memory_file(text);
        Places where;
        EXPECT_EQ(compare_visible(out, ans, &where), Comparison::same);
        EXPECT_STREQ(where.kernel_set, size < probe_after / 2 ? "scalar" : best_kernel_set().name) << size;
        close(out);
        close(ans);
    }
}

TEST(EngineLargeInputs, BeyondFourGibibytes) {
#ifdef TEST_UNDER_EMULATION
    GTEST_SKIP() << "reads 4 GiB: too slow under emulation";
#endif
    // Sparse files cost no memory: 4 GiB of zero bytes, then the visible text.
    const off_t far = (off_t{4} << 30) + 12345;
    const int out = memfd_create("sparse-output", 0);
    ASSERT_EQ(ftruncate(out, far), 0);
    ASSERT_EQ(pwrite(out, "12 34\n", 6, far), 6);
    for (const char* answer : {"1234", "1235"}) {
        const int ans = memory_file(answer);
        lseek(out, 0, SEEK_SET);
        EXPECT_EQ(compare_visible(out, ans), expected("1234", answer)) << answer;
        lseek(out, 0, SEEK_SET);
        lseek(ans, 0, SEEK_SET);
        EXPECT_EQ(compare_visible(ans, out), expected("1234", answer)) << answer;
        close(ans);
    }
    close(out);
}

// The library's page gives the working memory's size once, as this build has it.
TEST(EngineWorkspace, SizeAsTheLibraryPageStatesIt) {
    std::ifstream readme(LIBRARY_PAGE);
    const std::string text((std::istreambuf_iterator<char>(readme)), std::istreambuf_iterator<char>());
    const std::regex figure(R"(working memory \(about (\d+) KiB)");
    std::smatch found;
    ASSERT_TRUE(std::regex_search(text, found, figure)) << LIBRARY_PAGE;
    EXPECT_EQ(std::stoul(found[1]), (sizeof(Workspace) + 512) / 1024);
    EXPECT_FALSE(std::regex_search(found.suffix().first, text.cend(), figure)) << "stated twice";
}

INSTANTIATE_TEST_SUITE_P(Kernels, Engine, ::testing::ValuesIn(tested_kernel_sets()),
                         kernel_set_name<testing::TestParamInfo<KernelSet>>);

}  // namespace
