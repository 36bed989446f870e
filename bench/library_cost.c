/* The cost of one comparison through the library's C interface on a tiny pair, in microseconds:
 * the figure to set beside a call of the checker, which starts a process.
 *   library_cost CALLS */
#include <filterspace/filterspace.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

int main(int argc, char** argv) {
    const long calls = argc > 1 ? strtol(argv[1], NULL, 10) : 100000;
    filterspace_state* state = filterspace_state_new();
    if (state == NULL) return 2;
    static const char output[] = "1 2\n", answer[] = "12";
    long same = 0;
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (long k = 0; k < calls; ++k)
        same += filterspace_compare_buffers(state, output, sizeof output - 1, answer, sizeof answer - 1, NULL) ==
                FILTERSPACE_SAME;
    clock_gettime(CLOCK_MONOTONIC, &end);
    filterspace_state_free(state);
    const double seconds = (double)(end.tv_sec - start.tv_sec) + (double)(end.tv_nsec - start.tv_nsec) / 1e9;
    printf("%.4f\n", seconds * 1e6 / (double)calls);
    return same == calls ? 0 : 1;
}
