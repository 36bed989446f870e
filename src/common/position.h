// Where the output and the answer part, in one line that shows no byte of either file: fit for a
// message that the contestant sees.
#pragma once

#include <cstddef>

#include "compare.h"

// Writes the line (without a newline) into text, cut to size; returns text.
const char* describe_position(char* text, size_t size, const Places& where);
