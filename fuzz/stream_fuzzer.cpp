// libFuzzer target: the comparison handed its output in random chunks, for every kernel set this
// processor runs, against the comparison of the whole output and the visible-byte rule.
//
// Input: as fuzz_pair.h reads it, its seed for the chunks' sizes.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>

#include "compare.h"
#include "fuzz_pair.h"
#include "kernel_sets.h"
#include "rule_oracle.h"

namespace {

void require(bool condition) {
    if (!condition) abort();
}

bool same_place(const Place& a, const Place& b) {
    return a.offset == b.offset && a.visible == b.visible && a.line == b.line && a.column == b.column &&
           a.at_end == b.at_end && a.error == b.error;
}

// The output handed over in chunks of 1 to 2^k bytes, each a copy freed after the call (so that a
// read of a chunk after its call is a use after free); then a tail that must change nothing once
// the result is known.
Comparison streamed(OutputStream& stream, const std::string& out, unsigned seed) {
    std::minstd_rand rng(seed + 1);
    for (size_t at = 0; at < out.size();) {
        const size_t size = std::min<size_t>(out.size() - at, 1 + rng() % (size_t{1} << (rng() % 13)));
        const std::unique_ptr<uint8_t[]> chunk(new uint8_t[size]);
        memcpy(chunk.get(), out.data() + at, size);
        const ComparisonState so_far = stream.feed(chunk.get(), size);
        require(so_far == ComparisonState::comparing || stream.result() == Comparison::differ);
        at += size;
    }
    if (stream.state() == ComparisonState::decided) {
        const Comparison known = stream.result();
        require(stream.feed(reinterpret_cast<const uint8_t*>("x y"), 3) == ComparisonState::decided &&
                stream.result() == known);
    }
    return stream.finish();
}

Workspace& workspace() {
    static Workspace* const own = new Workspace;  // for the whole run
    return *own;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzPair pair;
    if (!fuzz_pair_of(data, size, pair)) return 0;
    const std::string &out = pair.out, &ans = pair.ans;
    const Comparison want = same_by_rule(out, ans) ? Comparison::same : Comparison::differ;
    const auto* ans_bytes = reinterpret_cast<const uint8_t*>(ans.data());

    for (const KernelSet& kernels : tested_kernel_sets()) {
        if (!kernels.supported()) continue;
        Places whole;
        const int out_fd = memory_file(out);
        const int ans_fd = memory_file(ans);
        require(out_fd >= 0 && ans_fd >= 0);
        require(compare_visible_with(out_fd, ans_fd, kernels, &whole) == want);
        close(out_fd);
        require(lseek(ans_fd, 0, SEEK_SET) == 0);
        for (const bool answer_in_file : {false, true}) {
            Places where;
            std::optional<OutputStream> stream;
            if (answer_in_file) {
                stream.emplace(workspace(), ans_fd, &where, nullptr, &kernels);
            } else {
                stream.emplace(workspace(), ans_bytes, ans.size(), &where, &kernels);
            }
            require(streamed(*stream, out, pair.seed + (answer_in_file ? 1u : 0u)) == want);
            if (want == Comparison::same) continue;  // a stream tells the places of a difference only
            require(same_place(where.out, whole.out) && same_place(where.ans, whole.ans));
            require(places_disagree(out, ans, where.out, where.ans, false) == nullptr);
        }
        close(ans_fd);
    }
    return 0;
}
