// Runs the comparison engine with a kernel set named on the command line, so that the benchmark
// can time each set; the checker itself always takes the best one.
//   engine_driver KERNELS OUT ANS   exit 1 same, 0 differ, 2 failure
//   engine_driver --best            prints the name of the set the checker uses
#include <fcntl.h>

#include <cstdio>
#include <cstring>

#include "compare.h"

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "--best") == 0) {
        puts(best_kernel_set().name);
        return 0;
    }
    if (argc != 4) {
        fputs("usage: engine_driver KERNELS OUT ANS | engine_driver --best\n", stderr);
        return 2;
    }
    for (const KernelSet& kernels : all_kernel_sets()) {
        if (strcmp(kernels.name, argv[1]) != 0) continue;
        if (!kernels.supported()) return 2;
        const int out = open(argv[2], O_RDONLY);
        const int ans = open(argv[3], O_RDONLY);
        if (out < 0 || ans < 0) return 2;
        switch (compare_visible(out, ans, kernels)) {
            case Comparison::same:
                return 1;
            case Comparison::differ:
                return 0;
            default:
                return 2;
        }
    }
    return 2;
}
