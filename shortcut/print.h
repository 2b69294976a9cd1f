// The tool's one output path: formatted text on standard output.
#pragma once

#include "platform.h"

// Formats with %s, %i, %d and %% and writes to standard output.  Every
// message of the tool goes through here, in call order; nothing goes to
// standard error.  On Windows the stream turns each line feed into CR LF.
void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes out what Print holds back and returns 0, or the system's error
// number for the first output that could not be written (a full disk, a
// pipe closed at the other end, a handle that is not open).
[[nodiscard]] DWORD FinishOutput();
