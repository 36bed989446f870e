#include "notes_text.h"

#include <cinttypes>
#include <cstdarg>

#include "excerpt.h"

namespace {

__attribute__((format(printf, 2, 3))) void add(NoteLines& lines, const char* format, ...) {
    if (lines.count == NoteLines::max) return;
    va_list arguments;
    va_start(arguments, format);
    // va_start is above: clang-tidy 14 misses it.
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
    (void)vsnprintf(lines.line[lines.count++], NoteLines::size, format, arguments);
    va_end(arguments);
}

const char* plural(uint64_t count) { return count == 1 ? "" : "s"; }

// What each kind is called: the words before "byte" and after it.
constexpr const char* kind_names[ignored_kinds][2] = {
    {"", " from 0x80 up (not ASCII)"}, {"NUL ", ""}, {"control ", " other than white space"}, {"DEL ", " (0x7F)"}};

void ignored_bytes(const FileNotes& notes, const char* whose, NoteLines& lines) {
    if (notes.byte_order_mark != 0)
        add(lines, "%s starts with a %s byte-order mark", whose, notes.byte_order_mark == 3 ? "UTF-8" : "UTF-16");
    for (unsigned kind = 0; kind < ignored_kinds; ++kind) {
        const uint64_t count = notes.count[kind];
        if (count == 0) continue;
        add(lines, "%s holds %" PRIu64 " %sbyte%s%s, the first at line %" PRIu64 ", column %" PRIu64, whose, count,
            kind_names[kind][0], plural(count), kind_names[kind][1], notes.first[kind].line, notes.first[kind].column);
    }
}

// Told only of a file read to its end.
void hard_to_check(const FileNotes& notes, const char* whose, NoteLines& lines) {
    if (!notes.complete) return;
    if (notes.visible == 0) {
        add(lines, "%s has no visible byte: any output of white space alone matches it", whose);
        return;
    }
    const uint64_t text = notes.bytes - notes.byte_order_mark;
    const uint64_t high = notes.count[kind_high];
    if (high * 10 > text)
        add(lines, "%s is %" PRIu64 "%% bytes from 0x80 up: the rule ignores them and compares only its ASCII", whose,
            high * 100 / text);
}

}  // namespace

void note_lines(const Notes& notes, bool differ, NoteLines& lines) {
    if (notes.token_starts_differ != 0) {
        lines.tokens = true;
        add(lines,
            "%sthe files split the same visible bytes into tokens differently at %" PRIu64
            " place%s (as \"1 2\" "
            "against \"12\"); the first at visible byte %" PRIu64 ": line %" PRIu64 ", column %" PRIu64
            " of the output, line %" PRIu64 ", column %" PRIu64 " of the answer",
            differ ? "before their difference, " : "", notes.token_starts_differ, plural(notes.token_starts_differ),
            notes.token_out.visible + 1, notes.token_out.line, notes.token_out.column, notes.token_ans.line,
            notes.token_ans.column);
    }
    ignored_bytes(notes.out, "the output", lines);
    ignored_bytes(notes.ans, "the answer", lines);
    hard_to_check(notes.ans, "the answer", lines);
    if (differ && lines.count != 0)
        add(lines, "these notes cover the output up to its first difference and the answer %s",
            notes.ans.complete ? "to its end" : "up to its first difference");
}

void file_note_lines(const FileNotes& notes, const char* whose, NoteLines& lines) {
    ignored_bytes(notes, whose, lines);
    hard_to_check(notes, whose, lines);
}

bool print_notes(FILE* to, const NoteLines& lines, const Notes& notes, const char* out_name, const char* ans_name) {
    for (size_t i = 0; i < lines.count; ++i) {
        if (fprintf(to, "note: %s\n", lines.line[i]) < 0) return false;
        if (i == 0 && lines.tokens && !print_places(to, out_name, ans_name, notes.token_out, notes.token_ans))
            return false;
    }
    return true;
}
