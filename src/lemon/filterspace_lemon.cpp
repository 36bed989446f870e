// Special judge in the Lemon style (LemonLime, Lemon, LemonPlus; the "lemon" checkers of Hydro and
// LibreOJ):
//   filterspace_lemon input output answer full_score score_file message_file
// Right: the full score in the score file, as decimal digits and a newline; wrong: 0. The message
// file tells where the output parts from the answer (never a byte of the answer: an export of the
// results may reach contestants). Exit 0 whenever it judged. A judge failure (a bad call or full
// score, an answer that cannot be opened or read, an output that the machine's trouble keeps from
// being opened or read, a score file that cannot be written) leaves no score file and exits 1, with the reason in the
// message file where it can be written and on standard error: each judge that speaks the protocol fails the test case
// on one or the other. The score and message files are made afresh, never written through what stood at their paths,
// unless the judge named a device or a standard stream there (/dev/null, /dev/stdout).
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "fresh_file.h"
#include "inputs.h"
#include "pair.h"
#include "position.h"
#include "text.h"

namespace {

constexpr int judged = 0, failed = 1;

// Where the outcome goes.
struct Files {
    const char* score;
    const char* message;
};

// A judge failure: no score file (an earlier one removed, or emptied where it cannot be), the
// reason in the message file and on standard error, with what is left at the score file's path
// where it is not nothing. Returns the exit status.
int fail(const Files& files, const Text& reason) {
    const Left left = files.score != nullptr ? clear_judge_file(files.score) : Left::nothing;
    const Text told = left == Left::emptied
                          ? Text("%s; the score file %s cannot be removed: it was emptied", reason.str(), files.score)
                      : left == Left::stale
                          ? Text("%s; an earlier score file stays at %s, which can be neither removed nor emptied: %s",
                                 reason.str(), files.score, strerror(errno))
                          : Text("%s", reason.str());
    (void)fprintf(stderr, "filterspace_lemon: %s\n", told.str());
    if (files.message != nullptr) (void)write_judge_file(files.message, Text("judge error: %s\n", told.str()).str());
    return failed;
}

// The verdict: the score, then the message. Returns the exit status.
int verdict(const Files& files, const char* score, const Text& message) {
    if (!write_judge_file(files.score, Text("%s\n", score).str()))
        return fail(files, Text("cannot write the score file %s: %s", files.score, strerror(errno)));
    if (!write_judge_file(files.message, Text("%s\n", message.str()).str()))
        (void)fprintf(stderr, "filterspace_lemon: cannot write the message file %s: %s\n", files.message,
                      strerror(errno));
    return judged;
}

// The full score as LemonLime takes it: a non-negative decimal integer that its int holds,
// written back without sign or leading zeros (LemonLime reads 010 as octal). A fraction is
// refused: Hydro passes one only where a config gives a case a fractional score by hand (its own
// shares of a subtask are whole numbers: 100 over 3 cases is 33, 33 and 34), and it floors the
// score file's number and accepts only a score equal to the full one, so no score file could make
// a right output accepted there.
bool canonical_full_score(const char* text, char* canonical, size_t size) {
    if (*text == '\0' || strspn(text, "0123456789") != strlen(text)) return false;
    uint64_t value = 0;
    for (const char* digit = text; *digit != '\0'; ++digit) {
        value = value * 10 + static_cast<uint64_t>(*digit - '0');
        if (value > 2147483647) return false;
    }
    return snprintf(canonical, size, "%" PRIu64, value) > 0;
}

// The pair told: the output is the contestant's, and trouble with it is a wrong output, unless
// it is the judge's machine's; the answer is the judge's, and trouble with it a judge failure.
int told(const Files& files, const char* full_score, const char* output_path, const char* answer_path,
         const Pair& pair) {
    char position[400];
    switch (pair.outcome) {
        case PairOutcome::same:
            return verdict(files, full_score, Text("ok: %s", visible_bytes_match(pair.where.out.visible).str()));
        case PairOutcome::differ:
            return verdict(files, "0",
                           Text("wrong answer: %s", describe_position(position, sizeof position, pair.where)));
        case PairOutcome::output_is_answer:
            return verdict(
                files, "0",
                Text("wrong answer: the output is the answer file under another name: %s", same_file_reason()));
        case PairOutcome::output_unopened:
        case PairOutcome::output_unreadable:
            if (pair.machine_trouble())
                return fail(files, Text("cannot %s the output file %s: %s", pair.step(), output_path, pair.reason()));
            return verdict(files, "0",
                           Text("wrong answer: the output cannot be %s: %s", pair.step_done(), pair.reason()));
        case PairOutcome::answer_unopened:
        case PairOutcome::answer_unreadable:
            break;
    }
    return fail(files, Text("cannot %s the answer file %s: %s", pair.step(), answer_path, pair.reason()));
}

constexpr char usage[] = "usage: filterspace_lemon input output answer full_score score_file message_file";

}  // namespace

int main(int argc, char** argv) {
    ignore_write_signals();
    (void)hold_standard_descriptors();
    argv = arguments_in_utf8(argc, argv);
    if (argc < 7) return fail({argc > 5 ? argv[5] : nullptr, argc > 6 ? argv[6] : nullptr}, Text("%s", usage));
    // The input is not needed and is not opened.
    const Files files{argv[5], argv[6]};
    char full_score[16];
    if (!canonical_full_score(argv[4], full_score, sizeof full_score))
        return fail(files, Text("the full score %s is not a whole number from 0 to 2147483647 (on Hydro, a case's "
                                "score written by hand: make it a whole number, or use the syzoj checker type)",
                                argv[4]));
    return told(files, full_score, argv[2], argv[3], open_and_compare(argv[2], argv[3]));
}
