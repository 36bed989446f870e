// Checker in the testlib style:
//   filterspace_testlib input output answer [result_file [-appes]]
// Exit 0 ("ok") when the output's visible bytes are the answer's, 1 ("wrong answer") when they
// differ, with where they part; any trouble (a bad call, a file that cannot be opened or read)
// is a checker failure, 3 ("FAIL"), never a verdict. One line on standard error; nothing else
// is written, so a sandbox that allows writing only to /dev/null does. The result file and its
// flag are accepted and ignored.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "compare.h"
#include "inputs.h"
#include "position.h"

namespace {

constexpr int ok = 0, wrong_answer = 1, checker_failure = 3;

int fail(const char* what, const char* path, const char* reason) {
    (void)fprintf(stderr, "FAIL %s%s: %s\n", what, path, reason);
    return checker_failure;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return fail("usage: filterspace_testlib input output answer [result_file [-appes]]", "", "");
    const char* output_path = argv[2];
    const char* answer_path = argv[3];
    const int output = open_input(output_path);
    if (output < 0) return fail("cannot open the output file ", output_path, strerror(errno));
    const int answer = open_input(answer_path);
    if (answer < 0) return fail("cannot open the answer file ", answer_path, strerror(errno));
    if (same_file(output, answer))
        return fail("the output and the answer are one file, ", answer_path, same_file_reason);

    Places where;
    switch (compare_visible(output, answer, &where)) {
        case Comparison::same:
            (void)fprintf(stderr, "ok %" PRIu64 " visible bytes match\n", where.out.visible);
            return ok;
        case Comparison::out_unreadable:
            return fail("cannot read the output file ", output_path, strerror(where.out.error));
        case Comparison::ans_unreadable:
            return fail("cannot read the answer file ", answer_path, strerror(where.ans.error));
        case Comparison::differ:
            break;
    }
    char position[512];
    (void)fprintf(stderr, "wrong answer %s\n", describe_position(position, sizeof position, where));
    return wrong_answer;
}
