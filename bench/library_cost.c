/* The cost of comparisons through the library's C interface, in microseconds or seconds: one on a
 * tiny pair, the figure to set beside a call of the checker, which starts a process; or the best of
 * five on two equal buffers of MIB MiB ("1234567 \n" over and over), the figure to set beside the
 * language modules on the same bytes.
 *   library_cost CALLS           microseconds a call on the tiny pair
 *   library_cost --buffers MIB   seconds for the equal buffers */
#include <filterspace/filterspace.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static double now(void) {
    struct timespec at;
    clock_gettime(CLOCK_MONOTONIC, &at);
    return (double)at.tv_sec + (double)at.tv_nsec / 1e9;
}

static int equal_buffers(filterspace_state* state, long mib) {
    const size_t size = (size_t)mib << 20;
    char *output = malloc(size), *answer = malloc(size);
    if (output == NULL || answer == NULL) return 2;
    for (size_t i = 0; i < size; ++i) output[i] = "1234567 \n"[i % 9];
    memcpy(answer, output, size);
    double best = 1e9;
    for (int round = 0; round < 5; ++round) {
        const double start = now();
        if (filterspace_compare_buffers(state, output, size, answer, size, NULL) != FILTERSPACE_SAME) return 1;
        const double took = now() - start;
        if (took < best) best = took;
    }
    printf("%.6f\n", best);
    free(output);
    free(answer);
    return 0;
}

int main(int argc, char** argv) {
    filterspace_state* state = filterspace_state_new();
    if (state == NULL) return 2;
    if (argc > 2 && strcmp(argv[1], "--buffers") == 0) return equal_buffers(state, strtol(argv[2], NULL, 10));
    const long calls = argc > 1 ? strtol(argv[1], NULL, 10) : 100000;
    static const char output[] = "1 2\n", answer[] = "12";
    long same = 0;
    const double start = now();
    for (long k = 0; k < calls; ++k)
        same += filterspace_compare_buffers(state, output, sizeof output - 1, answer, sizeof answer - 1, NULL) ==
                FILTERSPACE_SAME;
    const double seconds = now() - start;
    filterspace_state_free(state);
    printf("%.4f\n", seconds * 1e6 / (double)calls);
    return same == calls ? 0 : 1;
}
