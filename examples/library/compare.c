/* Compares two files by their visible bytes with the filterspace library, and says where they
 * part, as a judge written in C would, without starting a process.
 *   cc compare.c $(pkg-config --cflags --libs filterspace) -o compare && ./compare OUT ANS
 * Exit status: 0 same, 1 differ, 2 trouble. */
#include <fcntl.h>
#include <filterspace/filterspace.h>
#include <inttypes.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s OUT ANS\n", argv[0]);
        return 2;
    }
    const int output = open(argv[1], O_RDONLY);
    const int answer = open(argv[2], O_RDONLY);
    filterspace_state* state = filterspace_state_new();
    if (output < 0 || answer < 0 || state == NULL) {
        perror("compare");
        return 2;
    }
    filterspace_places places;
    /* The default options: the places of a difference, no notes, no stop function. */
    const filterspace_result result = filterspace_compare_fds_with(state, output, answer, &places, NULL);
    filterspace_state_free(state);
    switch (result) {
        case FILTERSPACE_SAME:
            printf("same\n");
            return 0;
        case FILTERSPACE_DIFFER:
            printf("differ at visible byte %" PRIu64 ": %s:%" PRIu64 ":%" PRIu64 ", %s:%" PRIu64 ":%" PRIu64 "\n",
                   places.output.visible_byte, argv[1], places.output.line, places.output.column, argv[2],
                   places.answer.line, places.answer.column);
            return 1;
        case FILTERSPACE_OUTPUT_UNREADABLE:
            fprintf(stderr, "compare: %s: %s\n", argv[1], strerror(places.output.error));
            return 2;
        case FILTERSPACE_ANSWER_UNREADABLE:
            fprintf(stderr, "compare: %s: %s\n", argv[2], strerror(places.answer.error));
            return 2;
        case FILTERSPACE_STOPPED: /* never: no stop function was given */
            break;
    }
    return 2;
}
