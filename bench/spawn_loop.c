/* Runs a command N times, one after another, and prints the mean wall time per run in
 * microseconds: the per-call cost of a checker, without a shell's own cost in the figure.
 *   spawn_loop N command [arguments...] */
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>

extern char **environ;

int main(int argc, char **argv) {
    if (argc < 3) {
        fputs("usage: spawn_loop N command [arguments...]\n", stderr);
        return 2;
    }
    const long runs = strtol(argv[1], NULL, 10);
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (long i = 0; i < runs; ++i) {
        pid_t child;
        int status;
        if (posix_spawn(&child, argv[2], NULL, NULL, argv + 2, environ) != 0 || waitpid(child, &status, 0) < 0) {
            perror(argv[2]);
            return 1;
        }
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    printf("%.2f\n", ((end.tv_sec - start.tv_sec) * 1e6 + (end.tv_nsec - start.tv_nsec) / 1e3) / runs);
    return 0;
}
