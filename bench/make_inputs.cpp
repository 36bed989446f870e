// Writes the benchmark's inputs: the same decimal numbers in several layouts.
//   make_inputs DIR MIB
// DIR/ten: ten numbers to a line, LF (about MIB MiB); DIR/crlf: the same with CRLF line ends;
// DIR/one: one number to a line; DIR/blanks: as ten, with two blanks before each line end;
// DIR/same: a copy of ten; DIR/first: ten with its first visible byte changed.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: make_inputs DIR MIB\n");
        return 2;
    }
    const std::string dir = argv[1];
    const uint64_t target = std::strtoull(argv[2], nullptr, 10) << 20;
    const char* names[] = {"ten", "crlf", "one", "blanks", "same", "first"};
    FILE* files[6];
    for (int i = 0; i < 6; ++i) {
        files[i] = fopen((dir + "/" + names[i]).c_str(), "w");
        if (files[i] == nullptr) return 1;
        setvbuf(files[i], nullptr, _IOFBF, 1 << 20);
    }
    uint64_t state = 88172645463325252ull, written = 0;
    char number[24];
    for (uint64_t line = 0; written < target; ++line) {
        for (int k = 0; k < 10; ++k) {
            state ^= state << 13, state ^= state >> 7, state ^= state << 17;
            const int length = snprintf(number, sizeof number, "%llu", (unsigned long long)(state % 1000000000));
            if (line == 0 && k == 0) {
                fputc(number[0] == '9' ? '8' : '9', files[5]);
                fwrite(number + 1, 1, length - 1, files[5]);
            } else {
                fwrite(number, 1, length, files[5]);
            }
            for (int f : {0, 1, 3, 4}) fwrite(number, 1, length, files[f]);
            fwrite(number, 1, length, files[2]);
            fputc('\n', files[2]);
            const char* gap = k < 9 ? " " : nullptr;
            for (int f : {0, 1, 3, 4, 5}) {
                if (gap) fputs(gap, files[f]);
            }
            written += length + 1;
        }
        fputs("\n", files[0]), fputs("\r\n", files[1]), fputs("  \n", files[3]);
        fputs("\n", files[4]), fputs("\n", files[5]);
    }
    for (FILE* f : files)
        if (fclose(f) != 0) return 1;
    return 0;
}
