/* The read floor: reads two files side by side, a block of each in turn with the engine's block
 * size, until both end, and does nothing else. What the checker costs on top of this is what
 * its comparison costs.
 *   read_floor A B */
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

static char block[256 << 10];

int main(int argc, char** argv) {
    if (argc != 3) {
        fputs("usage: read_floor A B\n", stderr);
        return 2;
    }
    int fds[2] = {open(argv[1], O_RDONLY), open(argv[2], O_RDONLY)};
    if (fds[0] < 0 || fds[1] < 0) return 2;
    for (int open_sides = 2; open_sides > 0;) {
        open_sides = 0;
        for (int side = 0; side < 2; ++side) {
            if (fds[side] < 0) continue;
            const ssize_t got = read(fds[side], block, sizeof block);
            if (got < 0) return 2;
            if (got == 0) {
                fds[side] = -1;
                continue;
            }
            ++open_sides;
        }
    }
    return 0;
}
