// Output validator of the problem package format (ICPC problem packages):
//   filterspace_validator input_file answer_file feedback_dir [additional arguments] < team_output
// Exit 42 when the team output's visible bytes are the answer's, 43 when they differ; any
// trouble (a bad call, a file that cannot be opened or read) is a judge error, exit 1, never a
// verdict. On a difference, judgemessage.txt in feedback_dir shows both files around the place,
// and teammessage.txt tells the team where, without a byte of the answer.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "compare.h"
#include "excerpt.h"
#include "inputs.h"
#include "position.h"

namespace {

constexpr int accepted = 42, wrong_answer = 43, judge_error = 1;

// feedback_dir/name, whether or not the directory ends with a slash.
FILE* open_feedback(const char* feedback_dir, const char* name) {
    char path[4096];
    const size_t length = strlen(feedback_dir);
    const char* slash = length > 0 && feedback_dir[length - 1] == '/' ? "" : "/";
    if (snprintf(path, sizeof path, "%s%s%s", feedback_dir, slash, name) >= static_cast<int>(sizeof path))
        return nullptr;
    return fopen(path, "w");
}

bool close_feedback(FILE* file, bool written) { return fclose(file) == 0 && written; }

// The reason on standard error, and in judgemessage.txt where the feedback directory is known.
int fail(const char* feedback_dir, const char* what, const char* detail, const char* reason) {
    (void)fprintf(stderr, "filterspace_validator: %s%s: %s\n", what, detail, reason);
    if (feedback_dir != nullptr) {
        if (FILE* judges = open_feedback(feedback_dir, "judgemessage.txt")) {
            const bool written = fprintf(judges, "judge error: %s%s: %s\n", what, detail, reason) > 0;
            (void)close_feedback(judges, written);
        }
    }
    return judge_error;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4)
        return fail(nullptr, "usage: filterspace_validator input_file answer_file feedback_dir", "",
                    "[additional arguments] < team_output");
    // The input, and the additional arguments (flags of the default validator), have no use here.
    const char* answer_path = argv[2];
    const char* feedback_dir = argv[3];
    if (fcntl(STDIN_FILENO, F_GETFD) == -1) return fail(feedback_dir, "no team output", "", "standard input is closed");
    const int answer = open_input(answer_path);
    if (answer < 0) return fail(feedback_dir, "cannot open the answer file ", answer_path, strerror(errno));
    if (same_file(STDIN_FILENO, answer))
        return fail(feedback_dir, "the team output and the answer are one file, ", answer_path, same_file_reason);

    Places where;
    switch (compare_visible(STDIN_FILENO, answer, &where)) {
        case Comparison::same:
            return accepted;
        case Comparison::out_unreadable:
            return fail(feedback_dir, "cannot read the team output", "", strerror(where.out.error));
        case Comparison::ans_unreadable:
            return fail(feedback_dir, "cannot read the answer file ", answer_path, strerror(where.ans.error));
        case Comparison::differ:
            break;
    }
    FILE* judges = open_feedback(feedback_dir, "judgemessage.txt");
    FILE* team = open_feedback(feedback_dir, "teammessage.txt");
    bool written = judges != nullptr && team != nullptr;
    if (written) {
        char position[512];
        written = print_difference(judges, "team output", answer_path, where) &&
                  fprintf(team, "Wrong answer: %s.\n", describe_position(position, sizeof position, where)) > 0;
    }
    if (judges != nullptr) written = close_feedback(judges, written);
    if (team != nullptr) written = close_feedback(team, written);
    if (!written) return fail(nullptr, "cannot write to the feedback directory ", feedback_dir, strerror(errno));
    return wrong_answer;
}
