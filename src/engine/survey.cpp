#include "survey.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

// The notes. Each side is surveyed where the comparison has passed it, in steps: one side
// surveys up to survey_piece bytes, the other as many visible bytes, and the token starts of the
// two are compared. A side about to read its next block has passed every visible byte of its
// block, and the other side has passed as many: so both hold the step's bytes in memory, and a
// token start that differs can be placed in both files. No side is surveyed past its place.

namespace {

// Set bits of a word, without the processor's instruction, which this code is not compiled for
// (and whose builtin calls a helper that a judge's Windows compiler would load from a DLL).
uint64_t bit_count(uint64_t word) {
    word -= (word >> 1) & 0x5555555555555555ull;
    word = (word & 0x3333333333333333ull) + ((word >> 2) & 0x3333333333333333ull);
    word = (word + (word >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return (word * 0x0101010101010101ull) >> 56;
}

// The offset in its file of a byte of the side's block.
uint64_t file_offset(const Side& side, const uint8_t* at) {
    return side.read_total - static_cast<uint64_t>(side.noted->filled_end - at);
}

// The length of the byte-order mark that bytes begin with (UTF-8's EF BB BF, UTF-16's FF FE or
// FE FF); 0 when they cannot begin one; -1 when they may, but are too few to tell.
int byte_order_mark_in(const uint8_t* p, size_t n) {
    if (n >= 1 && (p[0] == 0xFF || p[0] == 0xFE)) {
        if (n < 2) return -1;
        return p[1] == (p[0] ^ 0x01) ? 2 : 0;
    }
    static constexpr uint8_t utf8[] = {0xEF, 0xBB, 0xBF};
    for (size_t i = 0; i < sizeof utf8; ++i) {
        if (i == n) return -1;
        if (p[i] != utf8[i]) return 0;
    }
    return 3;
}

// Surveys the side from where its survey stands to `to`, stopping just after `limit` visible
// bytes. A file's first bytes are held while they may begin a byte-order mark (a pipe may bring
// one a byte at a time), which is counted as a mark, not as bytes from 0x80 up.
void survey_bytes(const KernelSet& kernels, Side& side, const uint8_t* to, uint64_t limit) {
    SideSurvey& noted = *side.noted;
    if (noted.surveyed == nullptr || to <= noted.surveyed) return;
    if (noted.survey.offset == 0 && noted.byte_order_mark == 0) {
        uint8_t look[3] = {noted.head[0], noted.head[1]};
        const size_t more = std::min<size_t>(static_cast<size_t>(to - noted.surveyed), 3 - noted.held);
        memcpy(look + noted.held, noted.surveyed, more);
        const int mark = byte_order_mark_in(look, noted.held + more);
        if (mark < 0) {  // every byte here begins a mark, and there are not enough of them yet
            memcpy(noted.head + noted.held, noted.surveyed, more);
            noted.held += static_cast<unsigned>(more);
            noted.surveyed += more;
            return;
        }
        if (mark > 0) {
            noted.byte_order_mark = static_cast<unsigned>(mark);
            noted.survey.offset = noted.byte_order_mark;
            noted.surveyed += noted.byte_order_mark - noted.held;
            noted.held = 0;
        } else if (noted.held > 0) {
            (void)kernels.survey(noted.survey, noted.head, noted.held, limit);
            noted.held = 0;
        }
    }
    noted.surveyed += kernels.survey(noted.survey, noted.surveyed, static_cast<size_t>(to - noted.surveyed), limit);
}

// A side that ended with too few bytes to tell: what it held was no mark.
void release_held(const KernelSet& kernels, Side& side) {
    SideSurvey& noted = *side.noted;
    if (noted.held == 0) return;
    (void)kernels.survey(noted.survey, noted.head, noted.held, ~uint64_t{0});
    noted.held = 0;
}

void start_step(Side& side) {
    SideSurvey& noted = *side.noted;
    noted.step_start = noted.surveyed;
    noted.at_step_start = noted.survey;
    noted.survey.gap_base = noted.survey.visible;
}

// The place of a visible byte of this step's bytes (k visible bytes after the step's start), as
// tell_place would give it; the excerpt before it reaches back no further than the block.
Place place_in_step(const Side& side, uint64_t k) {
    const SideSurvey& noted = *side.noted;
    const uint8_t* const start = noted.step_start;
    const uint8_t* const at = start + nth_visible(start, static_cast<size_t>(noted.surveyed - start), k);
    Place place;
    place.offset = file_offset(side, at);
    place.visible = noted.at_step_start.visible + k;
    place.line = noted.at_step_start.line;
    uint64_t line_start = noted.at_step_start.line_start;
    for (const uint8_t* p = start; p < at; ++p) {
        if (*p != '\n') continue;
        ++place.line;
        line_start = file_offset(side, p) + 1;
    }
    place.column = place.offset - line_start + 1;
    const uint64_t block_offset = file_offset(side, side.block);
    const uint64_t from =
        std::max({line_start, block_offset, place.offset - std::min<uint64_t>(place.offset, excerpt_size)});
    place.before_size = static_cast<size_t>(place.offset - from);
    memcpy(place.before, at - place.before_size, place.before_size);
    place.before_cut = line_start < from;
    keep_after(place, at, noted.filled_end);
    return place;
}

// Compares the token starts of this step's visible bytes that both sides surveyed, and clears
// them for the next step.
void compare_token_starts(Noting& noting) {
    const Side& out = *noting.out;
    const Side& ans = *noting.ans;
    const uint64_t base = out.noted->survey.gap_base;
    const uint64_t count =
        std::min(out.noted->survey.visible, ans.noted->survey.visible) - std::min(base, ans.noted->survey.visible);
    const uint64_t written = std::max(out.noted->survey.visible - out.noted->survey.gap_base,
                                      ans.noted->survey.visible - ans.noted->survey.gap_base);
    // Steps begin with both sides at as many visible bytes; a buffer that its caller rewrites
    // may leave them apart, and then nothing is compared.
    if (ans.noted->survey.gap_base == base) {
        for (uint64_t word = 0; word * 64 < count; ++word) {
            uint64_t differ = out.noted->survey.token_starts[word] ^ ans.noted->survey.token_starts[word];
            if (count - word * 64 < 64) differ &= (uint64_t{1} << (count - word * 64)) - 1;
            if (differ == 0) continue;
            if (noting.notes->token_starts_differ == 0) {
                const uint64_t k = word * 64 + static_cast<uint64_t>(__builtin_ctzll(differ));
                noting.notes->token_out = place_in_step(out, k);
                noting.notes->token_ans = place_in_step(ans, k);
            }
            noting.notes->token_starts_differ += bit_count(differ);
        }
    }
    const size_t words = std::min<size_t>(static_cast<size_t>(std::min<uint64_t>(written, survey_piece)) / 64 + 2,
                                          survey_piece / 64 + 2);
    memset(out.noted->survey.token_starts, 0, words * sizeof(uint64_t));
    memset(ans.noted->survey.token_starts, 0, words * sizeof(uint64_t));
}

// Surveys `lead` up to `lead_to` a piece at a time, `other` along with it up to as many visible
// bytes (within other_to), and compares their token starts after each piece.
void survey_in_step(Noting& noting, Side& lead, const uint8_t* lead_to, Side& other, const uint8_t* other_to) {
    const KernelSet& kernels = noting.kernels();
    while (lead.noted->surveyed != nullptr && lead.noted->surveyed < lead_to) {
        start_step(lead);
        start_step(other);
        const uint8_t* const piece_end = lead_to - lead.noted->surveyed > static_cast<ptrdiff_t>(survey_piece)
                                             ? lead.noted->surveyed + survey_piece
                                             : lead_to;
        survey_bytes(kernels, lead, piece_end, ~uint64_t{0});
        // As many visible bytes as the lead's piece held, never more: a buffer that its caller
        // rewrites may leave the sides apart, and then no more than a piece is caught up.
        const uint64_t behind =
            lead.noted->survey.visible - std::min(lead.noted->survey.visible, other.noted->survey.visible);
        if (behind != 0)
            survey_bytes(kernels, other, other_to,
                         std::min(behind, lead.noted->survey.visible - lead.noted->survey.gap_base));
        compare_token_starts(noting);
    }
}

}  // namespace

const KernelSet& Noting::kernels() const {
    if (given != nullptr) return *given;
    return out->read_total + ans->read_total > probe_after ? best_kernel_set() : all_kernel_sets().front();
}

void survey_took(SideSurvey& survey, const uint8_t* bytes, const uint8_t* end) {
    survey.surveyed = bytes;
    survey.filled_end = end;
}

// A side about to read its next block has passed every visible byte of its block: surveyed with
// the other side along, as far as the other has passed.
void survey_before_read(SideSurvey& survey, Side& side) {
    if (survey.noting == nullptr) return;  // a file alone (survey_file), surveyed as it goes
    Noting& noting = *survey.noting;
    Side& other = &side == noting.out ? *noting.ans : *noting.out;
    survey_in_step(noting, side, side.noted->filled_end, other, other.noted->filled_end);
}

namespace {

// On a difference, the rest of an answer that is in memory or a regular file, for the answer's
// notes alone: a pipe is not waited for, nor is the caller's reader.
void survey_rest_of_answer(const KernelSet& kernels, Side& ans) {
    if (ans.source.kind == Source::reader) return;
    if (ans.source.kind == Source::descriptor) {
        struct stat status {};
        if (fstat(ans.source.fd, &status) != 0 || !S_ISREG(status.st_mode)) return;
    }
    ans.noted->survey.token_starts = nullptr;
    for (;;) {
        survey_bytes(kernels, ans, ans.noted->filled_end, ~uint64_t{0});
        if (ans.ended || ans.failed()) return;
        int error = 0;
        const long got = read_next(ans.source, ans.block, ans.stop, error);
        if (got < 0) return;
        if (got == 0) ans.ended = true;
        ans.take(ans.block, static_cast<size_t>(got));
    }
}

FileNotes notes_of(const Side& side) {
    const SideSurvey& noted = *side.noted;
    FileNotes notes;
    notes.bytes = noted.survey.offset;
    notes.visible = noted.survey.visible;
    notes.complete = side.ended && noted.surveyed == noted.filled_end && noted.held == 0;
    notes.byte_order_mark = noted.byte_order_mark;
    for (unsigned kind = 0; kind < ignored_kinds; ++kind) {
        notes.count[kind] = noted.survey.count[kind];
        notes.first[kind] = noted.survey.first[kind];
    }
    return notes;
}

void finish_notes(Noting& noting, Comparison result) {
    if (result != Comparison::same && result != Comparison::differ) return;
    Side& out = *noting.out;
    Side& ans = *noting.ans;
    const uint8_t* const out_to = out.pos != nullptr ? out.pos : out.noted->filled_end;
    const uint8_t* const ans_to = ans.pos != nullptr ? ans.pos : ans.noted->filled_end;
    survey_in_step(noting, out, out_to, ans, ans_to);
    survey_in_step(noting, ans, ans_to, out, out_to);
    if (result == Comparison::differ) survey_rest_of_answer(noting.kernels(), ans);
    for (Side* side : {&out, &ans}) release_held(noting.kernels(), *side);
    noting.notes->out = notes_of(out);
    noting.notes->ans = notes_of(ans);
}

}  // namespace

Surveys::Surveys(Notes& notes, Side& out, Side& ans, const KernelSet* given, Workspace& workspace)
    : noting_{&notes, &out, &ans, given} {
    notes = Notes{};
    memset(workspace.out_token_starts, 0, sizeof workspace.out_token_starts);
    memset(workspace.ans_token_starts, 0, sizeof workspace.ans_token_starts);
    out_.survey.token_starts = workspace.out_token_starts;
    ans_.survey.token_starts = workspace.ans_token_starts;
    for (Side* side : {&out, &ans}) {
        SideSurvey& survey = side == &out ? out_ : ans_;
        survey.noting = &noting_;
        survey.surveyed = side->pos;  // a buffer's bytes; nothing yet for a descriptor
        survey.filled_end = side->end;
        side->noted = &survey;
    }
}

void Surveys::finish(Comparison result) {
    finish_notes(noting_, result);
    noting_.out->noted = noting_.ans->noted = nullptr;  // the surveys end here; the sides are the caller's
}

bool survey_file(Workspace& workspace, int fd, FileNotes& notes, const StopCheck* stop) {
    Side side = reading_side(descriptor_source(fd), workspace.out_block, workspace.out_visible, nullptr, stop);
    SideSurvey survey;
    side.noted = &survey;
    const KernelSet* kernels = &all_kernel_sets().front();
    while (side.has_data()) {
        if (side.read_total > probe_after) kernels = &best_kernel_set();
        survey_bytes(*kernels, side, side.noted->filled_end, ~uint64_t{0});
        side.pos = side.end;
    }
    release_held(*kernels, side);
    notes = notes_of(side);
    if (side.failed()) errno = side.error;
    return !side.failed();
}
