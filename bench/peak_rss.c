/* Runs a command and prints its peak resident memory in KiB. The peak survives exec, so the
 * command is started from this small process rather than from the benchmark's interpreter.
 *   peak_rss command [arguments...] */
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        fputs("usage: peak_rss command [arguments...]\n", stderr);
        return 2;
    }
    pid_t child = fork();
    if (child == 0) {
        execv(argv[1], argv + 1);
        _exit(127);
    }
    int status;
    struct rusage usage;
    if (child < 0 || wait4(child, &status, 0, &usage) < 0) {
        perror(argv[1]);
        return 1;
    }
    printf("%ld\n", usage.ru_maxrss);
    return 0;
}
