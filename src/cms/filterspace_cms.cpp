// Comparator in the CMS style:
//   filterspace_cms input correct_output contestant_output
// Standard output: the outcome, 1.0 when the contestant's output has the visible bytes of the
// correct one, else 0.0. Standard error: "translate:success" or "translate:wrong" (shown
// translated to contestants), then, for a wrong output, where the files part (no byte of the
// correct output). Any trouble (a bad call, a file that cannot be opened or read) fails the
// comparator: a reason on standard error and a non-zero status, never an outcome.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "compare.h"
#include "inputs.h"
#include "position.h"

namespace {

constexpr int success = 0, failure = 1;

int fail(const char* what, const char* path, const char* reason) {
    (void)fprintf(stderr, "filterspace_cms: %s%s: %s\n", what, path, reason);
    return failure;
}

int outcome(const char* score, const char* message, const char* detail) {
    if (printf("%s\n", score) < 0 || fflush(stdout) != 0) return fail("cannot write the outcome", "", strerror(errno));
    (void)fprintf(stderr, "%s\n%s", message, detail);
    return success;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return fail("usage: filterspace_cms input correct_output contestant_output", "", "");
    const char* answer_path = argv[2];
    const char* output_path = argv[3];
    const int output = open_input(output_path);
    if (output < 0) return fail("cannot open the contestant's output ", output_path, strerror(errno));
    const int answer = open_input(answer_path);
    if (answer < 0) return fail("cannot open the correct output ", answer_path, strerror(errno));
    if (same_file(output, answer))
        return fail("the contestant's output and the correct output are one file, ", answer_path, same_file_reason);

    Places where;
    switch (compare_visible(output, answer, &where)) {
        case Comparison::same:
            return outcome("1.0", "translate:success", "");
        case Comparison::out_unreadable:
            return fail("cannot read the contestant's output ", output_path, strerror(where.out.error));
        case Comparison::ans_unreadable:
            return fail("cannot read the correct output ", answer_path, strerror(where.ans.error));
        case Comparison::differ:
            break;
    }
    char position[512];
    describe_position(position, sizeof position, where);
    const size_t length = strlen(position);
    if (length + 1 < sizeof position) memcpy(position + length, "\n", 2);
    return outcome("0.0", "translate:wrong", position);
}
