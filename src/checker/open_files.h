// Opening of the eval record and of the two files to compare.
#pragma once

// The player's output and the standard answer, as descriptors read with read(): -1 until
// open_files has opened them. (No stdio stream: its buffer is never used, and allocating it is
// a measurable part of a call on tiny files.)
extern int fpout;
extern int fpans;

// Makes the record afresh, then opens the player's output, then the standard answer. Returns
// only when all three are open; the first failure prints its diagnostic and ends the run through
// output().
void open_files(const char* out_path, const char* ans_path, const char* eval_path);
