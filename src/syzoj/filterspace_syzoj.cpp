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
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "compare.h"
#include "inputs.h"
#include "position.h"

namespace {

constexpr int judged = 0, failed = 1;
constexpr char output_path[] = "user_out", answer_path[] = "answer";

int fail(const char* reason, int error) {
    (void)fprintf(stderr, "judge error: %s: %s\n", reason, strerror(error));
    return failed;
}

int outcome(const char* score, const char* message) {
    if (printf("%s\n", score) < 0 || fflush(stdout) != 0) return fail("cannot write the score", errno);
    (void)fprintf(stderr, "%s\n", message);
    return judged;
}

}  // namespace

int main() {
    ignore_write_signals();
    (void)hold_standard_descriptors();
    char message[512];
    FileIdentity output_status, answer_status;
    const int output = open_readable_file(output_path, &output_status);
    if (output < 0 && machine_refused_open(errno)) return fail("cannot open the output", errno);
    if (output < 0) {
        (void)snprintf(message, sizeof message, "wrong answer: the output cannot be opened: %s", strerror(errno));
        return outcome("0", message);
    }
    const int answer = open_readable_file(answer_path, &answer_status);
    if (answer < 0) return fail("cannot open the answer", errno);
    // Another name for the answer's file is a link that the contestant left as its output.
    if (same_file(output_status, answer_status)) {
        (void)snprintf(message, sizeof message, "wrong answer: the output is the answer file under another name: %s",
                       same_file_reason());
        return outcome("0", message);
    }

    Places where;
    switch (compare_visible(output, answer, &where)) {
        case Comparison::same:
            (void)snprintf(message, sizeof message, "ok: %" PRIu64 " visible %s", where.out.visible,
                           where.out.visible == 1 ? "byte matches" : "bytes match");
            return outcome("100", message);
        case Comparison::out_unreadable:
            if (machine_failed_read(where.out.error)) return fail("cannot read the output", where.out.error);
            (void)snprintf(message, sizeof message, "wrong answer: the output cannot be read: %s",
                           strerror(where.out.error));
            return outcome("0", message);
        case Comparison::ans_unreadable:
            return fail("cannot read the answer", where.ans.error);
        case Comparison::differ:
            break;
    }
    char position[400];
    (void)snprintf(message, sizeof message, "%s", describe_position(position, sizeof position, where));
    return outcome("0", message);
}
