// The comparison handed its output a chunk at a time, for every kernel set: the same result and
// places as the comparison of the whole output, and as the rule, however the output is cut and
// whatever holds the answer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "compare.h"
#include "kernel_set_test.h"
#include "pipe_feed.h"
#include "rule_oracle.h"

namespace {

class Stream : public KernelSetTest {
protected:
    // The output handed over in chunks whose sizes next_chunk gives, the answer held as asked.
    Comparison streamed(const std::string& out, const std::string& ans, AnswerKind answer_in,
                        const std::function<size_t()>& next_chunk, Places& where) {
        std::optional<PipeFeed> feed;
        int ans_fd = -1;
        std::optional<OutputStream> stream;
        if (answer_in == AnswerKind::buffer) {
            stream.emplace(workspace_, reinterpret_cast<const uint8_t*>(ans.data()), ans.size(), &where, &GetParam());
        } else {
            if (answer_in == AnswerKind::pipe)
                feed.emplace(ans, [rng = std::mt19937(7)]() mutable { return 1 + rng() % 900; });
            ans_fd = answer_in == AnswerKind::pipe ? feed->fd() : memory_file(ans);
            stream.emplace(workspace_, ans_fd, &where, nullptr, &GetParam());
        }
        for (size_t at = 0; at < out.size();) {
            const size_t size = std::min(out.size() - at, std::max<size_t>(1, next_chunk()));
            // A copy that dies with the call: the stream must keep nothing of a chunk.
            std::string chunk = out.substr(at, size);
            (void)stream->feed(reinterpret_cast<const uint8_t*>(chunk.data()), chunk.size());
            chunk.assign(chunk.size(), '\xEE');
            at += size;
        }
        EXPECT_EQ(stream->fed(), out.size());
        const Comparison result = stream->finish();
        if (answer_in == AnswerKind::file) close(ans_fd);
        return result;
    }

    Comparison whole(const std::string& out, const std::string& ans, Places& where) {
        return compare_buffers(workspace_, reinterpret_cast<const uint8_t*>(out.data()), out.size(),
                               reinterpret_cast<const uint8_t*>(ans.data()), ans.size(), &where);
    }

    // The streamed comparison against the whole one and against the rule, and on a difference the
    // places (the excerpt before each too, which is counted across chunks; the one after is cut at
    // the chunk's end).
    void expect_as_whole(const std::string& out, const std::string& ans, AnswerKind answer_in,
                         const std::function<size_t()>& next_chunk, const std::string& trace) {
        Places by_chunks, at_once;
        const Comparison result = streamed(out, ans, answer_in, next_chunk, by_chunks);
        ASSERT_EQ(result, whole(out, ans, at_once)) << trace;
        ASSERT_EQ(result, same_by_rule(out, ans) ? Comparison::same : Comparison::differ) << trace;
        if (result == Comparison::same) return;  // a stream tells the places of a difference only
        ASSERT_EQ(places_disagree(out, ans, by_chunks.out, by_chunks.ans, false), nullptr) << trace;
        for (const auto& [chunked, one] : {std::pair{&by_chunks.out, &at_once.out}, {&by_chunks.ans, &at_once.ans}}) {
            ASSERT_EQ(chunked->offset, one->offset) << trace;
            ASSERT_EQ(chunked->line, one->line) << trace;
            ASSERT_EQ(chunked->column, one->column) << trace;
            ASSERT_EQ(chunked->at_end, one->at_end) << trace;
            ASSERT_EQ(std::string(chunked->before, chunked->before + chunked->before_size),
                      std::string(one->before, one->before + one->before_size))
                << trace;
            ASSERT_EQ(chunked->before_cut, one->before_cut) << trace;
        }
    }

    static std::string random_text(std::mt19937& rng, size_t size) {
        static const std::string pieces[] = {"12", "7", " ", "\n", "\r\n", "\t", "\x80\xff", std::string(1, '\0'),
                                             "ab"};
        std::string text;
        while (text.size() < size) text += pieces[rng() % std::size(pieces)];
        return text;
    }

    // A pair with the same visible bytes, then perhaps one changed, one cut or one lengthened.
    static std::pair<std::string, std::string> random_pair(std::mt19937& rng, size_t size) {
        std::string out = random_text(rng, size), ans;
        for (const char c : out) {
            if (visible_byte(c)) ans += c;
            if (rng() % 3 == 0) ans += " \r\n\t"[rng() % 4];
        }
        switch (rng() % 4) {
            case 0:
                if (!out.empty()) out[rng() % out.size()] = 'z';
                break;
            case 1:
                ans.resize(rng() % (ans.size() + 1));
                break;
            case 2:
                out += random_text(rng, 1 + rng() % 5);
                break;
            default:
                break;
        }
        return {out, ans};
    }

    Workspace& workspace_ = *new Workspace;  // too large for a stack; one per test, freed with it
    std::unique_ptr<Workspace> owned_{&workspace_};
};

TEST_P(Stream, EveryChunkSizeOfShortPairs) {
    std::mt19937 rng(29);
    std::vector<std::pair<std::string, std::string>> pairs = {
        {"", ""},
        {"", " \n"},
        {"  ", "1"},
        {"1 2 3\n", "1 2 3"},
        {"1 2 3", "1 2 4"},
        {"12\r\n", "1 2"},
        {"1 2 3 4", "1 2"},
        {"\n\n\n9", "9"},
        {std::string(299, ' ') + "x", "x"},
        // A line longer than the excerpt, of bytes that all differ: its latest bytes are kept.
        {"0123456789012345678901234567890123456789012345678901234567890123456789X",
         "0123456789012345678901234567890123456789012345678901234567890123456789Y"},
    };
    for (int i = 0; i < 24; ++i) pairs.push_back(random_pair(rng, 1 + rng() % 600));
    for (const auto& [out, ans] : pairs) {
        for (size_t size = 1; size <= 300; ++size) {
            expect_as_whole(
                out, ans, AnswerKind::buffer, [size] { return size; },
                "chunks of " + std::to_string(size) + " of " + std::to_string(out.size()));
            if (HasFatalFailure()) return;
        }
    }
}

TEST_P(Stream, RandomChunksAcrossTheBlocksWhateverHoldsTheAnswer) {
    std::mt19937 rng(2029);
    for (int round = 0; round < 12; ++round) {
        const auto [out, ans] = random_pair(rng, engine_block_size * 2 + rng() % (engine_block_size * 3));
        // From a byte to a few blocks, sizes spread over every scale.
        const auto next_chunk = [r = std::mt19937(static_cast<unsigned>(round))]() mutable {
            return size_t{1} << (r() % 21) | (r() % 1024);
        };
        for (const AnswerKind answer_in : {AnswerKind::buffer, AnswerKind::file, AnswerKind::pipe}) {
            expect_as_whole(
                out, ans, answer_in, next_chunk,
                "round " + std::to_string(round) + ", answer kind " + std::to_string(static_cast<int>(answer_in)));
            if (HasFatalFailure()) return;
        }
    }
}

// Chunks that end where the blocks of the answer end, and runs of ignored bytes that go on across
// chunks on either side.
TEST_P(Stream, ChunkEndsAtBlockEndsAndIgnoredRunsAcrossChunks) {
    const std::string blanks(engine_block_size + 3, ' ');
    const std::vector<std::pair<std::string, std::string>> pairs = {
        {"1" + blanks + "2", "12"},
        {"12", "1" + blanks + "2"},
        {blanks, ""},
        {blanks + "x", blanks},
        {std::string(engine_block_size, '5'), std::string(engine_block_size - 1, '5') + "\n6"},
    };
    for (const auto& [out, ans] : pairs) {
        for (const size_t size : {size_t{1} << 12, engine_block_size - 1, engine_block_size, engine_block_size + 1}) {
            for (const AnswerKind answer_in : {AnswerKind::buffer, AnswerKind::file}) {
                expect_as_whole(
                    out, ans, answer_in, [size] { return size; }, "chunks of " + std::to_string(size));
                if (HasFatalFailure()) return;
            }
        }
    }
}

// A result is kept: what follows is counted, never compared, and the answer is read no further.
TEST_P(Stream, KeepsItsResultAndOnlyCountsWhatFollows) {
    const std::string ans = "1 2 3" + std::string(engine_block_size * 2, ' ') + "4";
    const int ans_fd = memory_file(ans);
    Places where;
    OutputStream stream(workspace_, ans_fd, &where, nullptr, &GetParam());
    EXPECT_EQ(stream.feed(reinterpret_cast<const uint8_t*>("1 2 "), 4), ComparisonState::comparing);
    EXPECT_EQ(stream.feed(reinterpret_cast<const uint8_t*>("9 9"), 3), ComparisonState::decided);
    EXPECT_EQ(stream.result(), Comparison::differ);
    const off_t read_to = lseek(ans_fd, 0, SEEK_CUR);
    const std::string more(1 << 20, '3');
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(stream.feed(reinterpret_cast<const uint8_t*>(more.data()), more.size()), ComparisonState::decided);
    EXPECT_EQ(stream.finish(), Comparison::differ);
    EXPECT_EQ(stream.fed(), 7 + 50 * more.size());
    EXPECT_EQ(lseek(ans_fd, 0, SEEK_CUR), read_to);
    EXPECT_EQ(where.out.offset, 4u);
    EXPECT_EQ(where.out.visible, 2u);
    EXPECT_EQ(where.ans.offset, 4u);
    close(ans_fd);
}

INSTANTIATE_TEST_SUITE_P(Kernels, Stream, ::testing::ValuesIn(tested_kernel_sets()),
                         kernel_set_name<testing::TestParamInfo<KernelSet>>);

}  // namespace
