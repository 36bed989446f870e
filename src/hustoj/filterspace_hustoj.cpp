// Special judge in the HUSTOJ style (HUSTOJ's spj; the "hustoj" checkers of Hydro and LibreOJ):
//   filterspace_hustoj input answer output
// Note the order: the answer before the output. Exit 0 when the output's visible bytes are the
// answer's, 1 otherwise. One line of message on standard error (HUSTOJ shows it to the submitter)
// and on standard output (Hydro's message): never a byte of the answer, never a path, and none of
// the words for which HUSTOJ's page hides a message from its submitter. The protocol has no
// outcome for a judge failure: an answer that cannot be read, or an output that the machine's
// trouble keeps from being read, is never right (exit 1), and the message says "judge error".
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "compare.h"
#include "inputs.h"
#include "position.h"

namespace {

constexpr int right = 0, wrong = 1;

// HUSTOJ uploads the message by lines of at most 1,023 bytes: one line, shorter than that.
int outcome(int status, const char* message) {
    char line[1000];
    (void)snprintf(line, sizeof line, "%s", message);
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
    if (argc < 4) return outcome(wrong, "judge error: usage: filterspace_hustoj input answer output");
    // The input is not needed and is not opened.
    const char* answer_path = argv[2];
    const char* output_path = argv[3];
    char message[512];
    FileIdentity output_status, answer_status;
    const int output = open_readable_file(output_path, &output_status);
    if (output < 0) {
        (void)snprintf(message, sizeof message, "%s: the output cannot be opened: %s",
                       machine_refused_open(errno) ? "judge error" : "wrong answer", strerror(errno));
        return outcome(wrong, message);
    }
    const int answer = open_readable_file(answer_path, &answer_status);
    if (answer < 0) {
        (void)snprintf(message, sizeof message, "judge error: the answer cannot be opened: %s", strerror(errno));
        return outcome(wrong, message);
    }
    // One path twice is the judge's call; another name for the answer's file is a link that the
    // contestant left where its output was to be written.
    if (strcmp(output_path, answer_path) != 0 && same_file(output_status, answer_status)) {
        (void)snprintf(message, sizeof message, "wrong answer: the output is the answer file under another name: %s",
                       same_file_reason());
        return outcome(wrong, message);
    }

    Places where;
    switch (compare_visible(output, answer, &where)) {
        case Comparison::same:
            (void)snprintf(message, sizeof message, "ok: %" PRIu64 " visible %s", where.out.visible,
                           where.out.visible == 1 ? "byte matches" : "bytes match");
            return outcome(right, message);
        case Comparison::out_unreadable:
            (void)snprintf(message, sizeof message, "%s: the output cannot be read: %s",
                           machine_failed_read(where.out.error) ? "judge error" : "wrong answer",
                           strerror(where.out.error));
            return outcome(wrong, message);
        case Comparison::ans_unreadable:
            (void)snprintf(message, sizeof message, "judge error: the answer cannot be read: %s",
                           strerror(where.ans.error));
            return outcome(wrong, message);
        case Comparison::differ:
            break;
    }
    char position[400];
    (void)snprintf(message, sizeof message, "wrong answer: %s", describe_position(position, sizeof position, where));
    return outcome(wrong, message);
}
