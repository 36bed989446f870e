/* The read floors: reads two files with the engine's block size until both end, and does nothing
 * else. One thread reads a block of each in turn (the checker's way on small inputs or one CPU);
 * with --two-threads each file is read on a thread of its own (the most that reading ahead can
 * reach). What the checker costs on top of these is what its comparison costs.
 *   read_floor [--two-threads] A B */
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

enum { block_size = 256 << 10 };

struct side {
    int fd;
    int failed;
    char block[block_size];
};
static struct side sides[2];

static void* read_whole(void* argument) {
    struct side* side = argument;
    ssize_t got;
    while ((got = read(side->fd, side->block, sizeof side->block)) > 0) continue;
    side->failed = got < 0;
    return NULL;
}

int main(int argc, char** argv) {
    const int two_threads = argc == 4 && strcmp(argv[1], "--two-threads") == 0;
    if (argc != 3 + two_threads) {
        fputs("usage: read_floor [--two-threads] A B\n", stderr);
        return 2;
    }
    for (int k = 0; k < 2; ++k)
        if ((sides[k].fd = open(argv[1 + two_threads + k], O_RDONLY)) < 0) return 2;
    if (two_threads) {
        pthread_t other;
        if (pthread_create(&other, NULL, read_whole, &sides[0]) != 0) return 2;
        read_whole(&sides[1]);
        pthread_join(other, NULL);
        return sides[0].failed || sides[1].failed ? 2 : 0;
    }
    for (int open_sides = 2; open_sides > 0;) {
        open_sides = 0;
        for (int k = 0; k < 2; ++k) {
            if (sides[k].fd < 0) continue;
            const ssize_t got = read(sides[k].fd, sides[0].block, block_size);
            if (got < 0) return 2;
            if (got == 0) {
                sides[k].fd = -1;
                continue;
            }
            ++open_sides;
        }
    }
    return 0;
}
