#include "pair.h"

#include <cerrno>
#include <cstring>

#include "inputs.h"

namespace {

Pair compared(int output_fd, int answer_fd, bool with_notes) {
    Pair pair;
    switch (compare_visible(output_fd, answer_fd, &pair.where, with_notes ? &pair.notes : nullptr)) {
        case Comparison::same:
            pair.outcome = PairOutcome::same;
            break;
        case Comparison::differ:
            pair.outcome = PairOutcome::differ;
            break;
        case Comparison::out_unreadable:
            pair.outcome = PairOutcome::output_unreadable;
            pair.error = pair.where.out.error;
            break;
        case Comparison::ans_unreadable:
        case Comparison::stopped:  // never: no stop function is given
            pair.outcome = PairOutcome::answer_unreadable;
            pair.error = pair.where.ans.error;
            break;
    }
    return pair;
}

Pair unopened(PairOutcome outcome) {
    Pair pair;
    pair.outcome = outcome;
    pair.error = errno;
    return pair;
}

}  // namespace

Pair open_and_compare(const char* output_path, const char* answer_path, bool with_notes) {
    FileIdentity output_identity, answer_identity;
    const int output = open_readable_file(output_path, &output_identity);
    if (output < 0) return unopened(PairOutcome::output_unopened);
    const int answer = open_readable_file(answer_path, &answer_identity);
    if (answer < 0) return unopened(PairOutcome::answer_unopened);
    if (strcmp(output_path, answer_path) != 0 && same_file(output_identity, answer_identity)) {
        Pair pair;
        pair.outcome = PairOutcome::output_is_answer;
        return pair;
    }
    return compared(output, answer, with_notes);
}

Pair compare_with_answer(int output_fd, const char* answer_path, bool with_notes) {
    FileIdentity answer_identity;
    const int answer = open_readable_file(answer_path, &answer_identity);
    if (answer < 0) return unopened(PairOutcome::answer_unopened);
    return compared(output_fd, answer, with_notes);
}

const char* Pair::reason() const { return strerror(error); }

const char* Pair::step() const {
    return outcome == PairOutcome::output_unopened || outcome == PairOutcome::answer_unopened ? "open" : "read";
}

const char* Pair::step_done() const { return step()[0] == 'o' ? "opened" : "read"; }

bool Pair::machine_trouble() const {
    if (outcome == PairOutcome::output_unopened)
        return error == EMFILE || error == ENFILE || error == ENOMEM || error == ENOBUFS;
    return outcome == PairOutcome::output_unreadable && error == EIO;
}
