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
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "compare.h"
#include "fresh_file.h"
#include "inputs.h"
#include "position.h"

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
__attribute__((format(printf, 2, 3))) int fail(const Files& files, const char* format, ...) {
    char reason[4096];
    va_list arguments;
    va_start(arguments, format);
    // va_start is above: clang-tidy 14 misses it.
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
    (void)vsnprintf(reason, sizeof reason, format, arguments);
    va_end(arguments);
    const Left left = files.score != nullptr ? clear_judge_file(files.score) : Left::nothing;
    const size_t used = strlen(reason);
    if (left == Left::emptied)
        (void)snprintf(reason + used, sizeof reason - used, "; the score file %s cannot be removed: it was emptied",
                       files.score);
    if (left == Left::stale)
        (void)snprintf(reason + used, sizeof reason - used,
                       "; an earlier score file stays at %s, which can be neither removed nor emptied: %s", files.score,
                       strerror(errno));
    (void)fprintf(stderr, "filterspace_lemon: %s\n", reason);
    if (files.message != nullptr) {
        char message[4200];
        (void)snprintf(message, sizeof message, "judge error: %s\n", reason);
        (void)write_judge_file(files.message, message);
    }
    return failed;
}

// The verdict: the score, then the message. Returns the exit status.
int verdict(const Files& files, const char* score, const char* message) {
    char score_line[32];
    (void)snprintf(score_line, sizeof score_line, "%s\n", score);
    if (!write_judge_file(files.score, score_line))
        return fail(files, "cannot write the score file %s: %s", files.score, strerror(errno));
    char message_line[1024];
    (void)snprintf(message_line, sizeof message_line, "%s\n", message);
    if (!write_judge_file(files.message, message_line))
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

constexpr char usage[] = "usage: filterspace_lemon input output answer full_score score_file message_file";

}  // namespace

int main(int argc, char** argv) {
    ignore_write_signals();
    (void)hold_standard_descriptors();
    argv = arguments_in_utf8(argc, argv);
    if (argc < 7) return fail({argc > 5 ? argv[5] : nullptr, argc > 6 ? argv[6] : nullptr}, "%s", usage);
    // The input is not needed and is not opened.
    const char* output_path = argv[2];
    const char* answer_path = argv[3];
    const Files files{argv[5], argv[6]};
    char full_score[16];
    if (!canonical_full_score(argv[4], full_score, sizeof full_score))
        return fail(files,
                    "the full score %s is not a whole number from 0 to 2147483647 (on Hydro, a case's score "
                    "written by hand: make it a whole number, or use the syzoj checker type)",
                    argv[4]);

    // The output is the contestant's: trouble with it is a wrong output. The answer is the
    // judge's: trouble with it is a judge failure.
    FileIdentity output_status, answer_status;
    char message[512];
    const int output = open_readable_file(output_path, &output_status);
    if (output < 0 && machine_refused_open(errno))
        return fail(files, "cannot open the output file %s: %s", output_path, strerror(errno));
    if (output < 0) {
        (void)snprintf(message, sizeof message, "wrong answer: the output cannot be opened: %s", strerror(errno));
        return verdict(files, "0", message);
    }
    const int answer = open_readable_file(answer_path, &answer_status);
    if (answer < 0) return fail(files, "cannot open the answer file %s: %s", answer_path, strerror(errno));
    // One path twice is the judge's call; another name for the answer's file is a link that the
    // contestant left where its output was to be written.
    if (strcmp(output_path, answer_path) != 0 && same_file(output_status, answer_status)) {
        (void)snprintf(message, sizeof message, "wrong answer: the output is the answer file under another name: %s",
                       same_file_reason());
        return verdict(files, "0", message);
    }

    Places where;
    switch (compare_visible(output, answer, &where)) {
        case Comparison::same:
            (void)snprintf(message, sizeof message, "ok: %" PRIu64 " visible %s", where.out.visible,
                           where.out.visible == 1 ? "byte matches" : "bytes match");
            return verdict(files, full_score, message);
        case Comparison::out_unreadable:
            if (machine_failed_read(where.out.error))
                return fail(files, "cannot read the output file %s: %s", output_path, strerror(where.out.error));
            (void)snprintf(message, sizeof message, "wrong answer: the output cannot be read: %s",
                           strerror(where.out.error));
            return verdict(files, "0", message);
        case Comparison::ans_unreadable:
            return fail(files, "cannot read the answer file %s: %s", answer_path, strerror(where.ans.error));
        case Comparison::differ:
            break;
    }
    char position[400];
    (void)snprintf(message, sizeof message, "wrong answer: %s", describe_position(position, sizeof position, where));
    return verdict(files, "0", message);
}
