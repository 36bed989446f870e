/* The byte-at-a-time design the checker replaced, kept as the benchmark's baseline: each byte
 * through a locked stdio stream, a dynamically linked binary. It writes the record to the path
 * given as its fourth argument, so that it can run beside the checker. */
#include <stdio.h>
#include <stdlib.h>

static FILE *fpeval, *fpout, *fpans;

static void output(const char* message, int score) {
    if (fpeval) {
        fprintf(fpeval, "%s\n%d\n", message, score);
        fclose(fpeval);
    }
    exit(score != 0 ? 1 : 0);
}

static int next_visible(FILE* fp) {
    while (!feof(fp)) {
        int c = fgetc(fp);
        if (c != EOF && c >= 0x21 && c <= 0x7E) return c;
    }
    return '\n';
}

int main(int argc, char** argv) {
    if (argc != 5) {
        fputs("Usage: stdio_baseline <in> <out> <ans> <record>\n", stderr);
        output("Invalid Call!", 0);
    }
    if (!(fpeval = fopen(argv[4], "w"))) output("Can not open eval record file!", 0);
    if (!(fpout = fopen(argv[2], "r"))) output("Can not open player's output file!", 0);
    if (!(fpans = fopen(argv[3], "r"))) output("Can not open standard answer!", 0);
    for (;;) {
        int a = next_visible(fpout), b = next_visible(fpans);
        if (a != b) output("Wrong Answer", 0);
        if (a == '\n') output("Right Output!!!", 10);
    }
}
