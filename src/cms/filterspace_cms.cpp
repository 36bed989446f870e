// Comparator in the CMS style:
//   filterspace_cms input correct_output contestant_output [contestant_source_files_dir]
// Standard output: the outcome, 1.0 when the contestant's output has the visible bytes of the
// correct one, else 0.0. Standard error: "translate:success" or "translate:wrong" (shown
// translated to contestants), then an ADMIN_MESSAGE: line for the admins alone, with no byte of
// either file: where the files part, for a wrong output, and what the rule ignored (the notes). Any trouble (a bad
// call, a file that cannot be opened or read) fails the comparator: a reason on standard error and a non-zero status,
// never an outcome.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "inputs.h"
#include "notes_text.h"
#include "pair.h"
#include "position.h"
#include "text.h"

namespace {

constexpr int success = 0, failure = 1;

int fail(const Text& reason) {
    (void)fprintf(stderr, "filterspace_cms: %s\n", reason.str());
    return failure;
}

// admin_message: a line for the admins, printable ASCII only (CMS fails the evaluation on control
// characters and on U+007F..U+00BF in such lines), or null.
int outcome(const char* score, const char* message, const char* admin_message) {
    if (printf("%s\n", score) < 0 || fflush(stdout) != 0)
        return fail(Text("cannot write the outcome: %s", strerror(errno)));
    (void)fprintf(stderr, "%s\n", message);
    if (admin_message != nullptr) (void)fprintf(stderr, "ADMIN_MESSAGE: %s\n", admin_message);
    return success;
}

// The outcome of a pair compared: one admin line, the place, then each note.
int compared(const Pair& pair) {
    const bool differ = pair.outcome == PairOutcome::differ;
    char admin[NoteLines::max * (NoteLines::size + 8) + 512] = "";
    if (differ) (void)describe_position(admin, sizeof admin, pair.where);
    NoteLines lines;
    note_lines(pair.notes, differ, lines);
    for (size_t i = 0; i < lines.count; ++i) {
        const size_t used = strlen(admin);
        (void)snprintf(admin + used, sizeof admin - used, "%snote: %s", used != 0 ? "; " : "", lines.line[i]);
    }
    return outcome(differ ? "0.0" : "1.0", differ ? "translate:wrong" : "translate:success",
                   admin[0] != '\0' ? admin : nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    ignore_write_signals();
    (void)hold_standard_descriptors();
    // A fourth argument (the task type with output comparison passes one) is not needed.
    if (argc < 4) return fail(Text("usage: filterspace_cms input correct_output contestant_output"));
    const char* answer_path = argv[2];
    const char* output_path = argv[3];
    const Pair pair = open_and_compare(output_path, answer_path, true);
    switch (pair.outcome) {
        case PairOutcome::same:
        case PairOutcome::differ:
            return compared(pair);
        case PairOutcome::output_is_answer:
            return outcome(
                "0.0", "translate:wrong",
                Text("the contestant's output is the correct output's file under another name: %s", same_file_reason())
                    .str());
        case PairOutcome::output_unopened:
        case PairOutcome::output_unreadable:
            return fail(Text("cannot %s the contestant's output %s: %s", pair.step(), output_path, pair.reason()));
        case PairOutcome::answer_unopened:
        case PairOutcome::answer_unreadable:
            break;
    }
    return fail(Text("cannot %s the correct output %s: %s", pair.step(), answer_path, pair.reason()));
}
