// The checker's entry point: filterspace_e <in> <out> <ans>.
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "compare.h"
#include "open_files.h"
#include "verdict.h"

namespace {

// A judge may start the checker with descriptor 0, 1 or 2 closed; the record would then get
// that number and diagnostics would land inside it. In a bare chroot there is no /dev/null,
// and the root directory, opened read-only, holds the place just as well: writes to it fail.
void hold_standard_descriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1) continue;
        int held = open("/dev/null", O_RDWR);
        if (held < 0) held = open("/", O_RDONLY | O_DIRECTORY);
        if (held < 0) break;
    }
}

}  // namespace

int main(int argc, char** argv) {
    hold_standard_descriptors();
    // A closed standard error must fail a write, not end the run before its verdict. Writes to
    // standard error are not checked anywhere: one that fails changes nothing else.
    (void)signal(SIGPIPE, SIG_IGN);

    if (argc != 4) {
        (void)fputs("Usage: quarn_e <in> <out> <ans>\n", stderr);
        output(invalid_call, 0);
    }
    // argv[1], the input the player's program ran on, is never opened.
    open_files(argv[2], argv[3], eval_record_path);

    switch (compare_visible(fileno(fpout), fileno(fpans))) {
        case Comparison::same:
            output(right_output, full_score);
        case Comparison::differ:
            break;
        case Comparison::out_unreadable:
            (void)fprintf(stderr, "Can not read %s!\n", argv[2]);
            output(output_unopenable, 0);
        case Comparison::ans_unreadable:
            (void)fprintf(stderr, "Can not read %s!\n", argv[3]);
            output(answer_unopenable, 0);
    }
    output(wrong_answer, 0);
}
