// filterspace_cmp [options] OUT ANS: where two files part by the checker's rule (only the bytes
// 0x21..0x7E count), and with --notes what the rule ignored. Status 0 same, 1 differ, 2 trouble,
// as cmp has it. filterspace_cmp --lint FILE...: what the rule would ignore in each file as an
// answer; status 0 nothing to note, 1 a note, 2 trouble.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "compare.h"
#include "excerpt.h"
#include "inputs.h"
#include "notes_text.h"

namespace {

constexpr char program[] = "filterspace_cmp";
constexpr int status_same = 0, status_differ = 1, status_trouble = 2;

constexpr char usage_text[] =
    "Usage: filterspace_cmp [OPTION]... OUT ANS\n"
    "  or:  filterspace_cmp --lint [OPTION]... FILE...\n"
    "Compare the visible bytes (0x21 to 0x7E) of two files, as the filterspace_e checker does:\n"
    "every other byte (white space, line ends, control bytes, bytes from 0x80 up) is ignored.\n"
    "On a difference, show where the first differing visible byte stands in each file.\n"
    "A FILE of - reads standard input (one FILE at most).\n"
    "\n"
    "  -s, --quiet, --silent  print nothing; tell only by the exit status\n"
    "      --notes            also tell what the rule ignored: tokens split differently,\n"
    "                         ignored bytes that are not white space, an answer it can\n"
    "                         hardly check (on a difference, up to the first one)\n"
    "      --lint             tell, for each FILE alone, its ignored bytes that are not\n"
    "                         white space and whether the rule can check it as an answer\n"
    "      --help             display this help and exit\n"
    "      --version          output version information and exit\n"
    "\n"
    "Exit status is 0 if the visible bytes are the same, 1 if they differ, 2 if trouble;\n"
    "with --lint, 0 if nothing was noted, 1 if something was, 2 if trouble.\n";

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

int written_or_trouble(bool written, int status) {
    if (!written || fflush(stdout) != 0) return trouble("standard output", strerror(errno));
    return status;
}

// Each file alone; a file that cannot be read is told and the others are still linted.
int lint(const char* const* names, int count, unsigned closed_at_start, bool quiet) {
    int status = status_same;
    for (int i = 0; i < count; ++i) {
        const int fd = open_operand(names[i], closed_at_start);
        FileNotes notes;
        if (fd < 0) {
            status = cannot_open(names[i]);
            continue;
        }
        const bool read = survey_file(fd, notes);
        const int error = errno;
        if (fd != STDIN_FILENO) close(fd);
        if (!read) {
            status = trouble(names[i], strerror(error));
            continue;
        }
        NoteLines lines;
        file_note_lines(notes, names[i], lines);
        if (lines.count != 0 && status == status_same) status = status_differ;
        if (quiet) continue;
        const Notes no_tokens;
        if (!print_notes(stdout, lines, no_tokens, names[i], names[i])) return written_or_trouble(false, status);
    }
    return written_or_trouble(true, status);
}

// The options and the operands of a call.
struct Call {
    bool quiet = false, with_notes = false, linting = false;
    const char** operands = nullptr;  // gathered in argv's place: never more than argc
    int operand_count = 0;
};

// Reads the call into `call`: -1 when it is to be carried out, else the status to end with (the
// help and the version are printed here, a bad call told).
int read_call(int argc, char** argv, Call& call) {
    call.operands = const_cast<const char**>(argv);
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (options_done || arg[0] != '-' || strcmp(arg, "-") == 0) {
            call.operands[call.operand_count++] = arg;
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
            call.quiet = true;
        } else if (strcmp(arg, "--notes") == 0) {
            call.with_notes = true;
        } else if (strcmp(arg, "--lint") == 0) {
            call.linting = true;
        } else {
            return bad_call("unrecognized option ", arg);
        }
    }
    int from_standard_input = 0;
    for (int i = 0; i < call.operand_count; ++i) from_standard_input += strcmp(call.operands[i], "-") == 0 ? 1 : 0;
    if (from_standard_input > 1) return bad_call("standard input can be only one of the files", "");
    if (call.linting && call.with_notes) return bad_call("--lint and --notes cannot be used together", "");
    if (call.linting && call.operand_count == 0) return bad_call("missing operand", "");
    if (call.linting) return -1;
    if (call.operand_count < 2)
        return bad_call(call.operand_count == 0 ? "missing operand" : "missing operand after ",
                        call.operand_count == 0 ? "" : call.operands[0]);
    if (call.operand_count > 2) return bad_call("extra operand ", call.operands[2]);
    return -1;
}

// OUT against ANS: where they part, and the notes when asked for.
int compare_two(const Call& call, unsigned closed_at_start) {
    const char* const* operands = call.operands;
    const int out = open_operand(operands[0], closed_at_start);
    if (out < 0) return cannot_open(operands[0]);
    const int ans = open_operand(operands[1], closed_at_start);
    if (ans < 0) return cannot_open(operands[1]);
    Places where;
    Notes notes;
    const Comparison result = compare_visible(out, ans, &where, call.with_notes ? &notes : nullptr);
    switch (result) {
        case Comparison::same:
        case Comparison::differ:
            break;
        case Comparison::out_unreadable:
            return trouble(operands[0], strerror(where.out.error));
        case Comparison::ans_unreadable:
        case Comparison::stopped:  // never: no stop function is given
            return trouble(operands[1], strerror(where.ans.error));
    }
    const bool differ = result == Comparison::differ;
    const int status = differ ? status_differ : status_same;
    if (call.quiet) return status;
    bool written = !differ || print_difference(stdout, operands[0], operands[1], where);
    if (call.with_notes) {
        NoteLines lines;
        note_lines(notes, differ, lines);
        written = written && print_notes(stdout, lines, notes, operands[0], operands[1]);
    }
    return written_or_trouble(written, status);
}

}  // namespace

int main(int argc, char** argv) {
    const unsigned closed_at_start = hold_standard_descriptors();
    Call call;
    const int ended = read_call(argc, argv, call);
    if (ended >= 0) return ended;
    if (call.linting) return lint(call.operands, call.operand_count, closed_at_start, call.quiet);
    return compare_two(call, closed_at_start);
}
