// The notes' surveys: each side of a comparison with notes is surveyed where the comparison has
// passed it, for what the rule ignored (compare.h's Notes). A comparison reaches them through three
// calls: attaching them to its sides (Surveys), before a side's next read (survey_before_read, which
// the side calls), and finishing them (Surveys::finish).
#pragma once

#include "side.h"

// The notes' view of a comparison: both sides, and the kernel set the comparison was given.
struct Noting {
    Notes* notes;
    Side* out;
    Side* ans;
    const KernelSet* given;  // null: chosen as the comparison chooses, by the bytes read
    const KernelSet& kernels() const;
};

// One side's survey for the notes.
struct SideSurvey {
    Noting* noting = nullptr;  // both sides' view, where there is another side
    // What of the block has been surveyed, and where its bytes end (kept once the side has ended,
    // so that the last block can still be surveyed).
    const uint8_t* surveyed = nullptr;
    const uint8_t* filled_end = nullptr;
    Survey survey;  // its token_starts: this side's bit string in the workspace
    // Where this step of the notes began: its first byte and the survey there.
    const uint8_t* step_start = nullptr;
    Survey at_step_start;
    unsigned held = 0;  // the file's first bytes, held while they may begin a byte-order mark
    uint8_t head[2] = {};
    unsigned byte_order_mark = 0;
};

// The surveys of one comparison with notes, attached to its two sides while it lives: the notes
// start empty, and each side's token starts, kept in the workspace, cleared.
class Surveys {
public:
    Surveys(Notes& notes, Side& out, Side& ans, const KernelSet* given, Workspace& workspace);
    Surveys(const Surveys&) = delete;
    Surveys& operator=(const Surveys&) = delete;
    // Surveys both sides up to where the comparison left them (their places, or their ends), and
    // the rest of an answer in memory or in a regular file on a difference; fills the notes and
    // gives the sides back.
    void finish(Comparison result);

private:
    Noting noting_;
    SideSurvey out_, ans_;
};
