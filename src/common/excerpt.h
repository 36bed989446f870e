// How the commands tell a person where two files part: excerpts of both files.
#pragma once

#include <cstdio>

#include "compare.h"

// Prints the first difference: the index of the first differing visible byte, then for each
// file its line and column there and an excerpt of that line with a caret under the byte.
// Returns false when writing failed.
bool print_difference(FILE* to, const char* out_name, const char* ans_name, const Places& where);

// For each file, its line and column at the place and an excerpt of that line with a caret.
bool print_places(FILE* to, const char* out_name, const char* ans_name, const Place& out, const Place& ans);
