// Special judge in the SYZOJ "legacy" style (SYZOJ's judge, LibreOJ's "legacy", Hydro's "syzoj"):
//   filterspace_syzoj
// No arguments: the contestant's output is the file user_out and the answer the file answer, in
// the working directory (input and code there too are not read). Standard output: 100 when the
// output's visible bytes are the answer's, else 0, and a newline; standard error: the message,
// the place first (LibreOJ keeps 256 bytes of it), never a byte of the answer. Exit 0 whenever it
// judged. A judge failure (an answer that cannot be opened or read, an output that the machine's
// trouble keeps from being opened or read, a score that cannot be written) prints nothing on standard output and exits
// 1: each judge then fails the judgement.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "inputs.h"
#include "pair.h"
#include "position.h"
#include "text.h"

namespace {

constexpr int judged = 0, failed = 1;

int fail(const Text& reason) {
    (void)fprintf(stderr, "judge error: %s\n", reason.str());
    return failed;
}

int outcome(const char* score, const Text& message) {
    if (printf("%s\n", score) < 0 || fflush(stdout) != 0)
        return fail(Text("cannot write the score: %s", strerror(errno)));
    (void)fprintf(stderr, "%s\n", message.str());
    return judged;
}

}  // namespace

int main() {
    ignore_write_signals();
    (void)hold_standard_descriptors();
    const Pair pair = open_and_compare("user_out", "answer");
    char position[400];
    switch (pair.outcome) {
        case PairOutcome::same:
            return outcome("100", Text("ok: %s", visible_bytes_match(pair.where.out.visible).str()));
        case PairOutcome::differ:
            return outcome("0", Text("%s", describe_position(position, sizeof position, pair.where)));
        case PairOutcome::output_is_answer:
            return outcome(
                "0", Text("wrong answer: the output is the answer file under another name: %s", same_file_reason()));
        case PairOutcome::output_unopened:
        case PairOutcome::output_unreadable:
            if (pair.machine_trouble()) return fail(Text("cannot %s the output: %s", pair.step(), pair.reason()));
            return outcome("0", Text("wrong answer: the output cannot be %s: %s", pair.step_done(), pair.reason()));
        case PairOutcome::answer_unopened:
        case PairOutcome::answer_unreadable:
            break;
    }
    return fail(Text("cannot %s the answer: %s", pair.step(), pair.reason()));
}
