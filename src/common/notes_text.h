// What the rule ignored, told to the jury: lines of printable ASCII that hold no byte of either
// file, and where the commands can show them, excerpts of both files where their tokens first part.
#pragma once

#include <cstddef>
#include <cstdio>

#include "compare.h"

struct NoteLines {
    static constexpr size_t max = 16;
    static constexpr size_t size = 384;
    char line[max][size];
    size_t count = 0;
    bool tokens = false;  // line[0] tells of token starts that differ
};

// The notes on a comparison, nothing when there is nothing to note. differ: the comparison met a
// difference, so that the notes cover what was read, which a last line says.
void note_lines(const Notes& notes, bool differ, NoteLines& lines);

// The notes on one file alone, named `whose`: its ignored bytes that are not white space, and
// whether the rule can check it as an answer.
void file_note_lines(const FileNotes& notes, const char* whose, NoteLines& lines);

// Prints each line after "note: ", with the excerpts of both files under the token line.
// Returns false when writing failed.
bool print_notes(FILE* to, const NoteLines& lines, const Notes& notes, const char* out_name, const char* ans_name);
