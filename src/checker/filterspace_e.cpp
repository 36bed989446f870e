// The checker's entry point: filterspace_e <in> <out> <ans>.
#include <cstdio>

#include "compare.h"
#include "inputs.h"
#include "open_files.h"
#include "verdict.h"
#include "write_signals.h"

int main(int argc, char** argv) {
    (void)hold_standard_descriptors();
    // Writes to standard error are not checked anywhere: one that fails changes nothing else.
    ignore_write_signals();

    if (argc != 4) {
        (void)fputs("Usage: quarn_e <in> <out> <ans>\n", stderr);
        output(invalid_call, 0);
    }
    // argv[1], the input the player's program ran on, is never opened.
    open_files(argv[2], argv[3], eval_record_path);

    switch (compare_visible(fpout, fpans)) {
        case Comparison::same:
            output(right_output, full_score);
        case Comparison::differ:
            break;
        case Comparison::out_unreadable:
            (void)fprintf(stderr, "Can not read %s!\n", argv[2]);
            output(output_unopenable, 0);
        case Comparison::ans_unreadable:
        case Comparison::stopped:  // never: no stop function is given
            (void)fprintf(stderr, "Can not read %s!\n", argv[3]);
            output(answer_unopenable, 0);
    }
    output(wrong_answer, 0);
}
