// Comparator in the CMS style:
//   filterspace_cms input correct_output contestant_output [contestant_source_files_dir]
// Standard output: the outcome, 1.0 when the contestant's output has the visible bytes of the
// correct one, else 0.0. Standard error: "translate:success" or "translate:wrong" (shown
// translated to contestants), then an ADMIN_MESSAGE: line for the admins alone, with no byte of
// either file: where the files part, for a wrong output, and what the rule ignored (the notes). Any trouble (a bad
// call, a file that cannot be opened or read) fails the comparator: a reason on standard error and a non-zero status,
// never an outcome.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "compare.h"
#include "inputs.h"
#include "notes_text.h"
#include "position.h"

namespace {

constexpr int success = 0, failure = 1;

__attribute__((format(printf, 1, 2))) int fail(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    (void)fputs("filterspace_cms: ", stderr);
    // va_start is above: clang-tidy 14 misses it.
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
    (void)vfprintf(stderr, format, arguments);
    (void)fputs("\n", stderr);
    va_end(arguments);
    return failure;
}

// admin_message: a line for the admins, printable ASCII only (CMS fails the evaluation on control
// characters and on U+007F..U+00BF in such lines), or null.
int outcome(const char* score, const char* message, const char* admin_message) {
    if (printf("%s\n", score) < 0 || fflush(stdout) != 0) return fail("cannot write the outcome: %s", strerror(errno));
    (void)fprintf(stderr, "%s\n", message);
    if (admin_message != nullptr) (void)fprintf(stderr, "ADMIN_MESSAGE: %s\n", admin_message);
    return success;
}

}  // namespace

int main(int argc, char** argv) {
    ignore_write_signals();
    (void)hold_standard_descriptors();
    // A fourth argument (the task type with output comparison passes one) is not needed.
    if (argc < 4) return fail("usage: filterspace_cms input correct_output contestant_output");
    const char* answer_path = argv[2];
    const char* output_path = argv[3];
    FileIdentity output_status, answer_status;
    const int output = open_readable_file(output_path, &output_status);
    if (output < 0) return fail("cannot open the contestant's output %s: %s", output_path, strerror(errno));
    const int answer = open_readable_file(answer_path, &answer_status);
    if (answer < 0) return fail("cannot open the correct output %s: %s", answer_path, strerror(errno));
    // One path twice is the caller's choice; another name for the correct output's file is a link
    // that the contestant left in place of its output.
    if (strcmp(output_path, answer_path) != 0 && same_file(output_status, answer_status)) {
        char reason[256];
        (void)snprintf(reason, sizeof reason,
                       "the contestant's output is the correct output's file under another name: %s",
                       same_file_reason());
        return outcome("0.0", "translate:wrong", reason);
    }

    Places where;
    Notes notes;
    const Comparison result = compare_visible(output, answer, &where, &notes);
    switch (result) {
        case Comparison::same:
        case Comparison::differ:
            break;
        case Comparison::out_unreadable:
            return fail("cannot read the contestant's output %s: %s", output_path, strerror(where.out.error));
        case Comparison::ans_unreadable:
            return fail("cannot read the correct output %s: %s", answer_path, strerror(where.ans.error));
    }
    // One line: the place, then each note.
    const bool differ = result == Comparison::differ;
    char admin[NoteLines::max * (NoteLines::size + 8) + 512] = "";
    if (differ) (void)describe_position(admin, sizeof admin, where);
    NoteLines lines;
    note_lines(notes, differ, lines);
    for (size_t i = 0; i < lines.count; ++i) {
        const size_t used = strlen(admin);
        (void)snprintf(admin + used, sizeof admin - used, "%snote: %s", used != 0 ? "; " : "", lines.line[i]);
    }
    return outcome(differ ? "0.0" : "1.0", differ ? "translate:wrong" : "translate:success",
                   admin[0] != '\0' ? admin : nullptr);
}
