// The tool's one output path: formatted text on standard output.
#pragma once

// Formats with %s, %i, %d and %% and writes to standard output.  Every
// message of the tool goes through here, in call order; nothing goes to
// standard error.  On Windows the stream turns each line feed into CR LF.
void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));
