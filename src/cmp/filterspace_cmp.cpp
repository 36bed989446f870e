// filterspace_cmp [options] OUT ANS: where two files part by the checker's rule (only the bytes
// 0x21..0x7E count). Status 0 same, 1 differ, 2 trouble, as cmp has it.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "compare.h"
#include "excerpt.h"
#include "inputs.h"

namespace {

constexpr char program[] = "filterspace_cmp";
constexpr int status_same = 0, status_differ = 1, status_trouble = 2;

constexpr char usage_text[] =
    "Usage: filterspace_cmp [OPTION]... OUT ANS\n"
    "Compare the visible bytes (0x21 to 0x7E) of two files, as the filterspace_e checker does:\n"
    "every other byte (white space, line ends, control bytes, bytes from 0x80 up) is ignored.\n"
    "On a difference, show where the first differing visible byte stands in each file.\n"
    "A FILE of - reads standard input (one side at most).\n"
    "\n"
    "  -s, --quiet, --silent  print nothing; tell only by the exit status\n"
    "      --help             display this help and exit\n"
    "      --version          output version information and exit\n"
    "\n"
    "Exit status is 0 if the visible bytes are the same, 1 if they differ, 2 if trouble.\n";

int trouble(const char* what, const char* why) {
    (void)fprintf(stderr, "%s: %s: %s\n", program, what, why);
    return status_trouble;
}

int bad_call(const char* message, const char* detail) {
    (void)fprintf(stderr, "%s: %s%s\nTry '%s --help' for more information.\n", program, message, detail, program);
    return status_trouble;
}

// A descriptor for an operand: - is standard input, which must not have been closed.
int open_operand(const char* name, unsigned closed_at_start) {
    FileIdentity status;
    if (strcmp(name, "-") != 0) return open_readable_file(name, &status);
    if ((closed_at_start & standard_input_closed) == 0) return STDIN_FILENO;
    errno = EBADF;
    return -1;
}

int cannot_open(const char* name) {
    return strcmp(name, "-") == 0 && errno == EBADF ? trouble("-", "standard input is closed")
                                                    : trouble(name, strerror(errno));
}

}  // namespace

int main(int argc, char** argv) {
    const unsigned closed_at_start = hold_standard_descriptors();
    bool quiet = false;
    const char* operands[2] = {};
    int operand_count = 0;
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (options_done || arg[0] != '-' || strcmp(arg, "-") == 0) {
            if (operand_count == 2) return bad_call("extra operand ", arg);
            operands[operand_count++] = arg;
        } else if (strcmp(arg, "--") == 0) {
            options_done = true;
        } else if (strcmp(arg, "--help") == 0) {
            return fputs(usage_text, stdout) < 0 || fflush(stdout) != 0 ? status_trouble : status_same;
        } else if (strcmp(arg, "--version") == 0) {
            return printf("%s (filterspace_e) %s\n", program, FILTERSPACE_VERSION) < 0 || fflush(stdout) != 0
                       ? status_trouble
                       : status_same;
        } else if (strcmp(arg, "--quiet") == 0 || strcmp(arg, "--silent") == 0 ||
                   (arg[1] != '-' && strspn(arg + 1, "s") == strlen(arg + 1))) {  // -s, or -ss
            quiet = true;
        } else {
            return bad_call("unrecognized option ", arg);
        }
    }
    if (operand_count < 2)
        return bad_call(operand_count == 0 ? "missing operand" : "missing operand after ",
                        operand_count == 0 ? "" : operands[0]);
    if (strcmp(operands[0], "-") == 0 && strcmp(operands[1], "-") == 0)
        return bad_call("standard input can be only one of the files", "");

    const int out = open_operand(operands[0], closed_at_start);
    if (out < 0) return cannot_open(operands[0]);
    const int ans = open_operand(operands[1], closed_at_start);
    if (ans < 0) return cannot_open(operands[1]);

    Places where;
    switch (compare_visible(out, ans, &where)) {
        case Comparison::same:
            return status_same;
        case Comparison::out_unreadable:
            return trouble(operands[0], strerror(where.out.error));
        case Comparison::ans_unreadable:
            return trouble(operands[1], strerror(where.ans.error));
        case Comparison::differ:
            break;
    }
    if (quiet) return status_differ;
    const bool written = print_difference(stdout, operands[0], operands[1], where);
    if (!written || fflush(stdout) != 0) return trouble("standard output", strerror(errno));
    return status_differ;
}
