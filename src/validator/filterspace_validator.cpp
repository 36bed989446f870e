// Output validator of the problem package format (ICPC problem packages):
//   filterspace_validator input_file answer_file feedback_dir [additional arguments] < team_output
// Exit 42 when the team output's visible bytes are the answer's, 43 when they differ; any
// trouble (a bad call, a feedback directory that cannot be used, a file that cannot be opened or
// read) is a judge error, exit 1, never a verdict, with the reason on standard error and in
// judgeerror.txt. judgemessage.txt and teammessage.txt are made afresh on every run; on a
// difference the first shows both files around the place, the second tells the team where,
// without a byte of the answer. judgemessage.txt also tells the jury what the rule ignored (the
// notes), on every verdict. teammessage.txt is never left empty beside it, since Hydro shows the
// team judgemessage.txt in its place: "ok: N visible bytes match" on an accepted run, "judge
// error" alone on a judge error.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <utility>

#include "excerpt.h"
#include "fresh_file.h"
#include "inputs.h"
#include "notes_text.h"
#include "pair.h"
#include "position.h"
#include "text.h"

namespace {

constexpr int accepted = 42, wrong_answer = 43, judge_error = 1;
constexpr char judge_message[] = "judgemessage.txt", team_message[] = "teammessage.txt",
               judge_error_file[] = "judgeerror.txt";

// The feedback directory and the two message files made afresh in it: -1 until they are.
struct Feedback {
    int dir = -1;
    int judge = -1;
    int team = -1;
};

bool write_text(int fd, const char* text) { return write_all(fd, text, strlen(text)); }

// The reason on standard error, and in the feedback directory where it can be used: in
// judgeerror.txt, which judges show to the jury, and in judgemessage.txt. Returns judge_error.
int fail(const Feedback& feedback, const Text& reason) {
    const Text line("%.*s\n", static_cast<int>(Text::capacity - 2), reason.str());  // a line, whatever its length
    (void)fprintf(stderr, "filterspace_validator: %s", line.str());
    if (feedback.dir >= 0) {
        const int error_file = open_judge_file(feedback.dir, judge_error_file);
        if (error_file >= 0) {
            (void)write_text(error_file, line.str());
            close(error_file);
        }
    }
    if (feedback.judge >= 0 && write_text(feedback.judge, "judge error: "))
        (void)write_text(feedback.judge, line.str());
    // Hydro shows the team judgemessage.txt where teammessage.txt is empty: the team is told there
    // is a judge error, and no more (no path, no reason), in place of what it may have been told.
    if (feedback.team >= 0) {
        (void)!ftruncate(feedback.team, 0);  // a file's; a judge's stream (a pipe) keeps what it got
        (void)lseek(feedback.team, 0, SEEK_SET);
        (void)write_text(feedback.team, "judge error\n");
    }
    return judge_error;
}

// Checked before anything is compared, whatever the verdict would be. Both message files are made
// afresh, so that nothing planted under their names is opened or followed and no earlier run's
// words are left; an earlier run's judge error goes too. A device or a standard stream that the
// judge put at a file's name (/dev/null, to discard it) is written where it stands.
bool open_feedback(const char* path, Feedback& feedback) {
    if (path[0] == '\0') {
        fail(feedback, Text("the feedback directory is an empty argument"));
        return false;
    }
    feedback.dir = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (feedback.dir < 0) {
        fail(feedback, Text("cannot open the feedback directory %s: %s", path, strerror(errno)));
        return false;
    }
    const int stale_error = written_in_place(feedback.dir, judge_error_file) ||
                                    unlinkat(feedback.dir, judge_error_file, 0) == 0 || errno == ENOENT
                                ? 0
                                : errno;
    // The team's first: where the jury's cannot be made, the team is told of the judge error.
    const std::pair<int*, const char*> messages[] = {{&feedback.team, team_message}, {&feedback.judge, judge_message}};
    for (const auto& message : messages) {
        int* const fd = message.first;
        const char* const name = message.second;
        *fd = open_judge_file(feedback.dir, name);
        if (*fd < 0) {
            fail(feedback, Text("cannot replace %s in the feedback directory %s: %s", name, path, strerror(errno)));
            return false;
        }
    }
    // An earlier judge error that stays (another user's file in a sticky directory) is told where
    // the jury looks; the verdict stands.
    if (stale_error != 0) {
        char note[1024];
        (void)snprintf(note, sizeof note,
                       "cannot remove an earlier run's %s from the feedback directory %s: %s; it is not this run's\n",
                       judge_error_file, path, strerror(stale_error));
        (void)fprintf(stderr, "filterspace_validator: %s", note);
        (void)write_text(feedback.judge, "note: ");
        (void)write_text(feedback.judge, note);
    }
    return true;
}

// The verdict's messages: for a wrong answer the place, to the jury with both files around it and
// to the team without a byte of the answer; the notes to the jury alone.
int report(const Feedback& feedback, const char* answer_path, const Pair& pair) {
    const bool differ = pair.outcome == PairOutcome::differ;
    const Places& where = pair.where;
    const Notes& notes = pair.notes;
    // The team's line first: it holds no byte of the answer, and it is never left empty beside the
    // jury's message, which Hydro would show the team in its place.
    char position[512];
    bool written =
        (differ ? dprintf(feedback.team, "Wrong answer: %s.\n", describe_position(position, sizeof position, where))
                : dprintf(feedback.team, "ok: %" PRIu64 " visible %s\n", where.out.visible,
                          where.out.visible == 1 ? "byte matches" : "bytes match")) > 0;
    NoteLines lines;
    note_lines(notes, differ, lines);
    FILE* judges = written ? fdopen(feedback.judge, "w") : nullptr;
    written = judges != nullptr && (!differ || print_difference(judges, "standard input", answer_path, where)) &&
              print_notes(judges, lines, notes, "standard input", answer_path);
    const int error = errno;
    if (judges != nullptr) written = fclose(judges) == 0 && written;
    if (!written) {
        const Feedback team_only{feedback.dir, -1, feedback.team};
        return fail(team_only,
                    Text("cannot write to the feedback directory: %s", strerror(judges != nullptr ? errno : error)));
    }
    return close(feedback.team) == 0
               ? (differ ? wrong_answer : accepted)
               : fail(Feedback{feedback.dir}, Text("cannot write to the feedback directory: %s", strerror(errno)));
}

}  // namespace

int main(int argc, char** argv) {
    ignore_write_signals();
    // Told before anything is opened, which could take its number.
    const bool team_output_given = (hold_standard_descriptors() & standard_input_closed) == 0;
    Feedback feedback;
    if (argc < 4)
        return fail(feedback, Text("usage: filterspace_validator input_file answer_file feedback_dir [additional "
                                   "arguments] < team_output"));
    // The input, and the additional arguments (flags of the default validator), have no use here.
    const char* answer_path = argv[2];
    if (!open_feedback(argv[3], feedback)) return judge_error;
    // The team output is whatever the judge put on standard input; checking the package, judges
    // give the answer file itself there, which must be accepted.
    if (!team_output_given) return fail(feedback, Text("no team output: standard input is closed"));
    const Pair pair = compare_with_answer(STDIN_FILENO, answer_path, true);
    switch (pair.outcome) {
        case PairOutcome::same:
        case PairOutcome::differ:
            return report(feedback, answer_path, pair);
        case PairOutcome::output_unreadable:
            return fail(feedback, Text("cannot read standard input (the team output): %s", pair.reason()));
        case PairOutcome::output_unopened:   // never: standard input is open
        case PairOutcome::output_is_answer:  // never: the answer file is a team output here
        case PairOutcome::answer_unopened:
        case PairOutcome::answer_unreadable:
            break;
    }
    return fail(feedback, Text("cannot %s the answer file %s: %s", pair.step(), answer_path, pair.reason()));
}
