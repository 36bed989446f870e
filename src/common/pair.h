// The prologue every front-end begins with: open the output, open the answer, refuse an answer
// that is the output under another name, compare. Each front-end then tells what came of it in
// its protocol's words.
#pragma once

#include "compare.h"

// What came of a front-end's pair of files.
enum class PairOutcome {
    same,               // the visible bytes are the same
    differ,             // they differ (where: the places)
    output_unopened,    // the output cannot be opened (error)
    answer_unopened,    // the answer cannot be opened (error); the output is open
    output_is_answer,   // the output is the answer's file under another name: a link the contestant
                        // left, and an answer compared with itself is always right
    output_unreadable,  // a read of the output failed (error)
    answer_unreadable,  // a read of the answer failed (error)
};

struct Pair {
    PairOutcome outcome = PairOutcome::same;
    int error = 0;  // errno, for the outcomes that have one
    Places where;   // where each side stopped (their ends, where the same)
    Notes notes;    // what the rule ignored, where asked for

    const char* reason() const;  // the error, as the system words it
    // The step that failed: "open" or "read", and "opened" or "read".
    const char* step() const;
    const char* step_done() const;
    // Whether the output's trouble comes from the judge's machine, not from the file the
    // contestant left: no descriptor or memory to be had to open it, a device that fails to read
    // it. Such an output is a judge failure where the protocol has one, never a wrong answer.
    bool machine_trouble() const;
};

// The output and the answer at their paths, the output opened first. One path twice is the
// judge's call, judged as usual; another name for the answer's file is the contestant's link.
// Notes (what the rule ignored) where asked for.
Pair open_and_compare(const char* output_path, const char* answer_path, bool with_notes = false);

// The output already open (the validator's standard input, which a judge may fill with the answer
// file itself) against the answer at its path.
Pair compare_with_answer(int output_fd, const char* answer_path, bool with_notes = false);

// Why an output that is the answer's file is refused, in the front-ends' messages.
inline const char* same_file_reason() { return "an answer compared with itself is always right"; }
