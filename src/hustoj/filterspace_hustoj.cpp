// Special judge in the HUSTOJ style (HUSTOJ's spj; the "hustoj" checkers of Hydro and LibreOJ):
//   filterspace_hustoj input answer output
// Note the order: the answer before the output. Exit 0 when the output's visible bytes are the
// answer's, 1 otherwise. One line of message on standard error (HUSTOJ shows it to the submitter)
// and on standard output (Hydro's message): never a byte of the answer, never a path, and none of
// the words for which HUSTOJ's page hides a message from its submitter. The protocol has no
// outcome for a judge failure: an answer that cannot be read, or an output that the machine's
// trouble keeps from being read, is never right (exit 1), and the message says "judge error".
#include <cstdio>
#include <cstring>

#include "inputs.h"
#include "pair.h"
#include "position.h"
#include "text.h"

namespace {

constexpr int right = 0, wrong = 1;

// HUSTOJ uploads the message by lines of at most 1,023 bytes: one line, shorter than that.
int outcome(int status, const Text& message) {
    char line[1000];
    const size_t length = message.size() < sizeof line ? message.size() : sizeof line - 1;
    memcpy(line, message.str(), length);
    line[length] = '\0';
    for (char* c = line; *c != '\0'; ++c)
        if (*c == '\n' || *c == '\r') *c = ' ';
    (void)fprintf(stderr, "%s\n", line);
    (void)printf("%s\n", line);
    (void)fflush(stdout);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    ignore_write_signals();
    (void)hold_standard_descriptors();
    if (argc < 4) return outcome(wrong, Text("judge error: usage: filterspace_hustoj input answer output"));
    // The input is not needed and is not opened. Note the order: the answer before the output.
    const Pair pair = open_and_compare(argv[3], argv[2]);
    char position[400];
    switch (pair.outcome) {
        case PairOutcome::same:
            return outcome(right, Text("ok: %s", visible_bytes_match(pair.where.out.visible).str()));
        case PairOutcome::differ:
            return outcome(wrong, Text("wrong answer: %s", describe_position(position, sizeof position, pair.where)));
        case PairOutcome::output_is_answer:
            return outcome(
                wrong, Text("wrong answer: the output is the answer file under another name: %s", same_file_reason()));
        case PairOutcome::output_unopened:
        case PairOutcome::output_unreadable:
            return outcome(
                wrong, Text("%s: the output cannot be %s: %s", pair.machine_trouble() ? "judge error" : "wrong answer",
                            pair.step_done(), pair.reason()));
        case PairOutcome::answer_unopened:
        case PairOutcome::answer_unreadable:
            break;
    }
    return outcome(wrong, Text("judge error: the answer cannot be %s: %s", pair.step_done(), pair.reason()));
}
