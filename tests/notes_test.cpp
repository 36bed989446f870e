// The jury's notes against their plain statement in rule_oracle.h, for every kernel set: files
// read whole, pipes fed in random pieces (a byte at a time too), buffers; ignored bytes and
// token starts across the survey's pieces and the engine's blocks.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "compare.h"
#include "kernel_set_test.h"
#include "pipe_feed.h"
#include "rule_oracle.h"

namespace {

class EngineNotes : public KernelSetTest {
protected:
    // One comparison with notes, the output and the answer given as `how` says, held to the
    // statement: both sides covered to their ends when the files match, else the output to its
    // place and the answer to its place where it is a pipe, to its end otherwise.
    void expect_notes(const std::string& out, const std::string& ans, AnswerKind how, size_t piece = 0) {
        std::mt19937 rng(static_cast<unsigned>(out.size() * 31 + ans.size()));
        auto next_piece = [rng, piece]() mutable { return piece != 0 ? piece : 1 + rng() % 70000; };
        Places where;
        Notes notes;
        Comparison result{};
        if (how == AnswerKind::buffer) {
            static const auto workspace = std::make_unique<Workspace>();
            // Token starts left set by whatever used the workspace before: never taken for this pair's.
            memset(workspace->out_token_starts, 0xFF, sizeof workspace->out_token_starts);
            memset(workspace->ans_token_starts, 0xFF, sizeof workspace->ans_token_starts);
            result = compare_buffers(*workspace, reinterpret_cast<const uint8_t*>(out.data()), out.size(),
                                     reinterpret_cast<const uint8_t*>(ans.data()), ans.size(), &where, &notes);
        } else {
            PipeFeed out_feed(out, next_piece);
            std::unique_ptr<PipeFeed> ans_feed;
            int ans_fd = -1;
            if (how == AnswerKind::pipe) {
                ans_feed = std::make_unique<PipeFeed>(ans, next_piece);
                ans_fd = ans_feed->fd();
            } else {
                ans_fd = memory_file(ans);
            }
            result = compare_visible_with(out_feed.fd(), ans_fd, GetParam(), &where, &notes);
            if (how == AnswerKind::file) close(ans_fd);
        }
        const bool same = same_by_rule(out, ans);
        ASSERT_EQ(result, same ? Comparison::same : Comparison::differ);
        const size_t out_covered = same ? out.size() : where.out.offset;
        const size_t ans_covered = same || how != AnswerKind::pipe ? ans.size() : where.ans.offset;
        EXPECT_EQ(notes_disagree(out, ans, out_covered, ans_covered, notes), nullptr)
            << "answer as " << static_cast<int>(how) << ", pieces of " << piece;
    }

    // The notes without places are the notes with them.
    void expect_notes_without_places(const std::string& out, const std::string& ans) {
        const int out_fd = memory_file(out), ans_fd = memory_file(ans);
        Notes alone, beside_places;
        Places where;
        compare_visible_with(out_fd, ans_fd, GetParam(), nullptr, &alone);
        lseek(out_fd, 0, SEEK_SET);
        lseek(ans_fd, 0, SEEK_SET);
        compare_visible_with(out_fd, ans_fd, GetParam(), &where, &beside_places);
        close(out_fd);
        close(ans_fd);
        EXPECT_EQ(alone.out.bytes, beside_places.out.bytes);
        EXPECT_EQ(alone.ans.bytes, beside_places.ans.bytes);
        EXPECT_EQ(alone.token_starts_differ, beside_places.token_starts_differ);
        EXPECT_EQ(alone.token_out.offset, beside_places.token_out.offset);
    }

    void expect_every_way(const std::string& out, const std::string& ans) {
        for (AnswerKind how : {AnswerKind::file, AnswerKind::pipe, AnswerKind::buffer}) expect_notes(out, ans, how);
        if (out.size() + ans.size() < 4000) expect_notes(out, ans, AnswerKind::pipe, 1);
        expect_notes_without_places(out, ans);
    }
};

// Tokens of digits between separators of every kind, the same visible text on both sides.
std::pair<std::string, std::string> random_pair(std::mt19937& rng, size_t tokens) {
    static const std::string separators[] = {" ",    "\n",   "\r\n", "",     "\t", "\x80\xff",    std::string(1, '\0'),
                                             "\x01", "\x7f", "\r",   "\v\f", "  ", "\xe2\x80\x99"};
    static const std::string marks[] = {"", "", "", "\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF", "\xEF\xBB"};
    std::string out = marks[rng() % 7], ans = marks[rng() % 7];
    for (size_t t = 0; t < tokens; ++t) {
        const std::string token = std::to_string(rng() % 100000);
        out += token + separators[rng() % 13];
        ans += token + separators[rng() % 13];
    }
    return {out, ans};
}

TEST_P(EngineNotes, SmallPairsEveryWay) {
    std::mt19937 rng(28);
    for (int round = 0; round < 150; ++round) {
        auto [out, ans] = random_pair(rng, rng() % 40);
        if (round % 4 == 1 && !ans.empty()) ans[rng() % ans.size()] = static_cast<char>('0' + rng() % 10);
        if (round % 4 == 2) out += "9";
        if (round % 4 == 3) ans += "9";
        SCOPED_TRACE(round);
        expect_every_way(out, ans);
        if (HasFailure()) return;
    }
}

TEST_P(EngineNotes, LargePairsAcrossPiecesAndBlocks) {
    std::mt19937 rng(2026);
    for (int round = 0; round < 8; ++round) {
        auto [out, ans] = random_pair(rng, 90000 + rng() % 60000);  // 0.6 to 1 MiB a side
        if (round % 2 == 1) ans[ans.size() / 2 + rng() % (ans.size() / 2)] = 'x';
        SCOPED_TRACE(round);
        expect_every_way(out, ans);
        if (HasFailure()) return;
    }
}

TEST_P(EngineNotes, KindsAndTokenStartsAtBoundaries) {
    // A run of digits whose only ignored bytes stand just around a survey piece's or a block's end,
    // in the output or the answer, with the first token start that differs there too.
    for (size_t boundary : {survey_piece, engine_block_size, 2 * engine_block_size}) {
        const std::string digits(boundary + 300, '7');
        for (size_t at : {boundary - 1, boundary + 1}) {
            SCOPED_TRACE(at);
            std::string odd = digits;
            odd[at] = '\x80';
            odd[at + 2] = '\0';
            odd[at + 5] = '\x7f';
            expect_every_way(odd, digits);
            expect_every_way(digits, odd);
            std::string crlf = digits;
            crlf.insert(at, "\r\n");
            expect_every_way(crlf, digits);
            expect_every_way(digits + "8", crlf);
        }
    }
}

TEST_P(EngineNotes, AnswerOnlyOfInvisibleBytesAndMarkAlone) {
    for (const auto& [out, ans] : {std::pair<std::string, std::string>{"", ""},
                                   {" \n", "\n\n"},
                                   {"\xEF\xBB\xBF", ""},
                                   {"\xEF\xBB\xBF"
                                    "1",
                                    "\xEF\xBB"
                                    "1"},
                                   {"\xFF", "\xFE\xFF"},
                                   {"1 2", "12"},
                                   {"1\r2", "12"},
                                   {"\x80", "\xEF\xBB\xBF\x80"},
                                   {"12", "1 2 x"}}) {
        SCOPED_TRACE(out + " / " + ans);
        expect_every_way(out, ans);
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, EngineNotes, ::testing::ValuesIn(tested_kernel_sets()),
                         kernel_set_name<testing::TestParamInfo<KernelSet>>);

// A file alone: the notes on one file, read to its end.
TEST(SurveyFile, WholeFileFromAPipeInPieces) {
    signal(SIGPIPE, SIG_IGN);
    std::mt19937 rng(3);
    for (int round = 0; round < 6; ++round) {
        const std::string file = random_pair(rng, round == 0 ? 0 : 1000 + rng() % 200000).first;
        PipeFeed feed(file, [&rng]() mutable { return size_t{1} + rng() % 90000; });
        FileNotes notes;
        ASSERT_TRUE(survey_file(feed.fd(), notes));
        Notes both;
        both.out = both.ans = notes;
        EXPECT_EQ(notes_disagree(file, file, file.size(), file.size(), both), nullptr) << round;
    }
}

}  // namespace
