// Runs the comparison engine with a kernel set named on the command line, so that the benchmark
// can time each set; the checker itself takes the best one. GAP, when given, replaces the set's
// crossover to compaction (0: never compact; a large one: compact after every difference), so
// that the benchmark can show where each set's crossover should be.
//   engine_driver KERNELS OUT ANS [GAP]   exit 1 same, 0 differ, 2 failure
//   engine_driver --best                  prints the name of the set the checker uses
//   engine_driver --sets                  prints the sets built in, narrow to wide, one a line
//   engine_driver --gap KERNELS           prints the set's own crossover
//   engine_driver --time N KERNELS OUT ANS  compares N times in this process, the files read anew
//                                         each time, and prints the fastest time in seconds: no
//                                         process start in the figure, and less of the machine's noise
// Comparisons read ahead as the checker does, unless the arguments start with
// --read-ahead never|always (always: whatever the files' sizes and the CPUs).
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "compare.h"

int main(int argc, char** argv) {
    ReadAhead read_ahead = ReadAhead::when_worth_it;
    if (argc > 2 && strcmp(argv[1], "--read-ahead") == 0) {
        read_ahead = strcmp(argv[2], "never") == 0    ? ReadAhead::never
                     : strcmp(argv[2], "always") == 0 ? ReadAhead::always
                                                      : ReadAhead::when_worth_it;
        argc -= 2;
        argv += 2;
        argv[0] = argv[-2];
    }
    if (argc == 2 && strcmp(argv[1], "--best") == 0) {
        puts(best_kernel_set().name);
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "--sets") == 0) {
        for (const KernelSet& kernels : all_kernel_sets()) puts(kernels.name);
        return 0;
    }
    if (argc == 6 && strcmp(argv[1], "--time") == 0) {
        const long runs = strtol(argv[2], nullptr, 10);
        for (const KernelSet& kernels : all_kernel_sets()) {
            if (strcmp(kernels.name, argv[3]) != 0 || !kernels.supported()) continue;
            const int out = open(argv[4], O_RDONLY);
            const int ans = open(argv[5], O_RDONLY);
            if (out < 0 || ans < 0) return 2;
            double fastest = 1e9;
            for (long run = 0; run < runs; ++run) {
                lseek(out, 0, SEEK_SET);
                lseek(ans, 0, SEEK_SET);
                const auto start = std::chrono::steady_clock::now();
                (void)compare_visible_with(out, ans, kernels, nullptr, nullptr, read_ahead);
                const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
                if (took.count() < fastest) fastest = took.count();
            }
            printf("%.6f\n", fastest);
            return 0;
        }
        return 2;
    }
    if (argc == 3 && strcmp(argv[1], "--gap") == 0) {
        for (const KernelSet& kernels : all_kernel_sets())
            if (strcmp(kernels.name, argv[2]) == 0) printf("%zu\n", kernels.dense_gap);
        return 0;
    }
    if (argc != 4 && argc != 5) {
        fputs("usage: engine_driver KERNELS OUT ANS [GAP] | engine_driver --best | --sets | --gap KERNELS\n", stderr);
        return 2;
    }
    for (KernelSet kernels : all_kernel_sets()) {
        if (strcmp(kernels.name, argv[1]) != 0) continue;
        if (argc == 5) kernels.dense_gap = strtoull(argv[4], nullptr, 10);
        if (!kernels.supported()) return 2;
        const int out = open(argv[2], O_RDONLY);
        const int ans = open(argv[3], O_RDONLY);
        if (out < 0 || ans < 0) return 2;
        switch (compare_visible_with(out, ans, kernels, nullptr, nullptr, read_ahead)) {
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
