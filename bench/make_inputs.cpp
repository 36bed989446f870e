// Writes the benchmark's inputs: the same pseudo-random decimal numbers in several layouts.
//   make_inputs DIR MIB
// ten     ten numbers to a line, LF line ends, about MIB MiB
// crlf    as ten, with CRLF line ends
// one     one number to a line
// blanks  as ten, with two blanks before each line end
// short   two or three numbers to a line (20 to 30 bytes), in turn, with CRLF line ends: against
//         ten, a line-end difference every 20 to 30 bytes
// same    a byte-for-byte copy of ten
// first   as ten, with its first visible byte changed
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct Output {
    const char* name;
    const char* between;       // between two numbers of a line
    const char* line_end;      // after the tenth
    bool short_lines = false;  // a line end after the 2nd and 5th of every five numbers too
    FILE* file = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: make_inputs DIR MIB\n");
        return 2;
    }
    const std::string dir = argv[1];
    const uint64_t target = std::strtoull(argv[2], nullptr, 10) << 20;
    Output outputs[] = {{"ten", " ", "\n"},          {"crlf", " ", "\r\n"}, {"one", "\n", "\n"},
                        {"blanks", " ", "  \n"},     {"same", " ", "\n"},   {"first", " ", "\n"},
                        {"short", " ", "\r\n", true}};
    for (Output& output : outputs) {
        output.file = fopen((dir + "/" + output.name).c_str(), "w");
        if (output.file == nullptr) return 1;
        setvbuf(output.file, nullptr, _IOFBF, 1 << 20);
    }
    uint64_t state = 88172645463325252ull;  // xorshift64
    uint64_t written = 0;
    char number[24];
    for (bool first_number = true; written < target;) {
        for (int k = 0; k < 10; ++k) {
            state ^= state << 13, state ^= state >> 7, state ^= state << 17;
            const int length =
                snprintf(number, sizeof number, "%llu", static_cast<unsigned long long>(state % 1000000000));
            for (Output& output : outputs) {
                const bool changed = first_number && std::string(output.name) == "first";
                const char kept = number[0];
                if (changed) number[0] = static_cast<char>(kept == '9' ? '8' : '9');
                fwrite(number, 1, static_cast<size_t>(length), output.file);
                number[0] = kept;
                const bool short_end = output.short_lines && (k % 5 == 1 || k % 5 == 4);
                fputs(k < 9 && !short_end ? output.between : output.line_end, output.file);
            }
            first_number = false;
            written += static_cast<uint64_t>(length) + 1;
        }
    }
    for (Output& output : outputs)
        if (fclose(output.file) != 0) return 1;
    return 0;
}
