// libFuzzer targets: the engine and every kernel set this processor runs, against the
// visible-byte rule, the statement of the jury's notes and the scalar kernels, on arbitrary pairs
// of inputs. engine_fuzzer compares them as files, with places and notes; reading_fuzzer
// (FUZZ_READING) as pipes fed in pieces and as files read ahead on threads, which cost a hundred
// times as much an input and so have a target, and a share of CI's time, of their own.
//
// Input: as fuzz_pair.h reads it, its seed for the sizes of the pieces a pipe delivers.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "compare.h"
#include "fuzz_pair.h"
#include "kernel_sets.h"
#include "kernels_scalar.h"
#include "rule_oracle.h"

namespace {

void require(bool condition) {
    if (!condition) abort();
}

#ifdef FUZZ_READING
// Delivers a text into a pipe in pieces of 1 to 97 bytes, then closes the pipe. Each writer is
// a thread that lives for the whole run: a thread started for every input grows the sanitizers'
// bookkeeping with every input, and a long run ends in an out-of-memory report.
class PieceWriter {
public:
    PieceWriter() : thread_([this] { serve(); }) {}

    void start(const std::string& text, int fd, unsigned seed) {
        const std::lock_guard lock(mutex_);
        job_ = {&text, fd, seed};
        busy_ = true;
        changed_.notify_all();
    }

    void wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !busy_; });
    }

private:
    struct Job {
        const std::string* text = nullptr;
        int fd = -1;
        unsigned seed = 0;
    };

    [[noreturn]] void serve() {
        for (;;) {
            Job job;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return busy_; });
                job = job_;
            }
            std::minstd_rand rng(job.seed + 1);
            const std::string& text = *job.text;
            for (size_t at = 0; at < text.size();) {
                const size_t piece = std::min<size_t>(text.size() - at, 1 + rng() % 97);
                const ssize_t put = write(job.fd, text.data() + at, piece);
                if (put <= 0) break;  // the engine stopped reading and closed its end
                at += static_cast<size_t>(put);
            }
            close(job.fd);
            const std::lock_guard lock(mutex_);
            busy_ = false;
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    Job job_;
    bool busy_ = false;
    std::thread thread_;
};

// The engine over two pipes whose writers deliver the texts in pieces.
Comparison compare_piecewise(const std::string& out, const std::string& ans, unsigned seed, const KernelSet& kernels,
                             Places* where, Notes* notes) {
    // Reachable until the process ends, never destroyed: their threads never return.
    static PieceWriter* const out_writer = new PieceWriter;
    static PieceWriter* const ans_writer = new PieceWriter;
    int out_pipe[2], ans_pipe[2];
    require(pipe(out_pipe) == 0 && pipe(ans_pipe) == 0);
    out_writer->start(out, out_pipe[1], seed);
    ans_writer->start(ans, ans_pipe[1], seed);
    const Comparison result = compare_visible_with(out_pipe[0], ans_pipe[0], kernels, where, notes);
    close(out_pipe[0]);  // a writer still blocked on a full pipe gets EPIPE
    close(ans_pipe[0]);
    out_writer->wait();
    ans_writer->wait();
    return result;
}
#endif

#ifndef FUZZ_READING
void check_kernels(const KernelSet& kernels, const std::string& out, const std::string& ans) {
    const auto* a = reinterpret_cast<const uint8_t*>(out.data());
    const auto* b = reinterpret_cast<const uint8_t*>(ans.data());
    require(kernels.find_visible(a, out.size()) == kernels::scalar::find_visible(a, out.size()));
    require(kernels.advance_common(a, out.size(), b, ans.size()) ==
            kernels::scalar::advance_common(a, out.size(), b, ans.size()));
    require(kernels.count_lines(a, out.size()) == kernels::scalar::count_lines(a, out.size()));
    const size_t common = std::min(out.size(), ans.size());
    require(kernels.first_mismatch(a, b, common) == kernels::scalar::first_mismatch(a, b, common));
    std::vector<uint8_t> want(out.size() + compact_slack), got(out.size() + compact_slack);
    for (size_t limit : {out.size() / 3, out.size()}) {
        const Compacted expected = kernels::scalar::compact_visible(want.data(), a, out.size(), limit);
        const Compacted actual = kernels.compact_visible(got.data(), a, out.size(), limit);
        require(actual.consumed == expected.consumed && actual.written == expected.written);
        require(memcmp(got.data(), want.data(), actual.written) == 0);
    }
    for (uint64_t limit : {~uint64_t{0}, uint64_t{out.size() / 5}}) {
        std::vector<uint64_t> got_starts(out.size() / 64 + 4), want_starts(got_starts.size());
        Survey got_survey, want_survey;
        got_survey.token_starts = got_starts.data();
        want_survey.token_starts = want_starts.data();
        require(kernels.survey(got_survey, a, out.size(), limit) ==
                kernels::scalar::survey(want_survey, a, out.size(), limit));
        require(got_survey.visible == want_survey.visible && got_survey.line == want_survey.line &&
                got_survey.line_start == want_survey.line_start && got_survey.gap == want_survey.gap &&
                got_starts == want_starts);
        for (unsigned kind = 0; kind < ignored_kinds; ++kind)
            require(got_survey.count[kind] == want_survey.count[kind] &&
                    got_survey.first[kind].offset == want_survey.first[kind].offset &&
                    got_survey.first[kind].line == want_survey.first[kind].line &&
                    got_survey.first[kind].column == want_survey.first[kind].column);
    }
}
#endif

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    signal(SIGPIPE, SIG_IGN);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzPair pair;
    if (!fuzz_pair_of(data, size, pair)) return 0;
    const std::string &out = pair.out, &ans = pair.ans;
    const Comparison want = same_by_rule(out, ans) ? Comparison::same : Comparison::differ;
    const bool same = want == Comparison::same;

    for (const KernelSet& kernels : tested_kernel_sets()) {
        if (!kernels.supported()) continue;
#ifndef FUZZ_READING
        check_kernels(kernels, out, ans);
        // The places the front-ends and filterspace_cmp show to people, against the rule, and the
        // notes for the jury: the answer a regular file, read to its end.
        const ReadAhead reading = ReadAhead::never;
#else
        // Both files read ahead on threads (as large files are): what reading in turn gives.
        const ReadAhead reading = ReadAhead::always;
#endif
        const int out_fd = memory_file(out);
        const int ans_fd = memory_file(ans);
        require(out_fd >= 0 && ans_fd >= 0);
        Places where;
        Notes notes;
        require(compare_visible_with(out_fd, ans_fd, kernels, &where, &notes, reading) == want);
        require(places_disagree(out, ans, where.out, where.ans, same) == nullptr);
        require(notes_disagree(out, ans, same ? out.size() : where.out.offset, ans.size(), notes) == nullptr);
        close(out_fd);
        close(ans_fd);
#ifdef FUZZ_READING
        require(compare_piecewise(out, ans, pair.seed, kernels, nullptr, nullptr) == want);
        // From pipes, the answer too is noted up to its place only.
        Places piped;
        require(compare_piecewise(out, ans, pair.seed + 1, kernels, &piped, &notes) == want);
        require(notes_disagree(out, ans, same ? out.size() : piped.out.offset, same ? ans.size() : piped.ans.offset,
                               notes) == nullptr);
#endif
    }
    return 0;
}
