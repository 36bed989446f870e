/* Runs a command N times, one after another, its standard output sent to /dev/null, and prints
 * the mean wall time per run in microseconds: the cost of a call, without the cost of starting
 * it from a shell or an interpreter in the figure.
 *   spawn_loop N command [arguments...] */
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>

extern char** environ;

int main(int argc, char** argv) {
    if (argc < 3) {
        fputs("usage: spawn_loop N command [arguments...]\n", stderr);
        return 2;
    }
    const long runs = strtol(argv[1], NULL, 10);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (long i = 0; i < runs; ++i) {
        pid_t child;
        int status;
        if (posix_spawnp(&child, argv[2], &actions, NULL, argv + 2, environ) != 0 || waitpid(child, &status, 0) < 0) {
            perror(argv[2]);
            return 1;
        }
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    printf("%.2f\n", ((end.tv_sec - start.tv_sec) * 1e6 + (end.tv_nsec - start.tv_nsec) / 1e3) / runs);
    return 0;
}
