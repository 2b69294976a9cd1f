// The command line: switches into LinkOptions, the link file name into
// LinkRecord, the hidden trace switch into TraceEnabled; and the usage screen.
#pragma once

#include <cstdint>

#include "text.h"

// Not-given markers of LinkOptions.
inline constexpr char kUndefined[] = "*undefined*";
inline constexpr int32_t kNumberUndefined = 9999;

enum SelectedModeValue : int32_t {
  MODE_NONE = 0,
  MODE_CREATE = 1,
  MODE_EDIT = 2,
  MODE_QUERY = 3,
};

struct LINK_OPTIONS {
  char TargetPath[kTextSize];
  char Arguments[kTextSize];
  char WorkingDirectory[kTextSize];
  int32_t RunStyle;
  char IconLocation[kTextSize];
  int32_t IconIndex;
  int32_t HotKey;  // as read; only the low 16 bits are used
  char Description[kTextSize];
  int32_t SelectedMode;
};

// Every field at its not-given marker.
inline constexpr LINK_OPTIONS kLinkOptionsAtStart = {
    "*undefined*", "*undefined*", "*undefined*", kNumberUndefined,
    "*undefined*", 0,             kNumberUndefined, "*undefined*",
    MODE_NONE};

extern LINK_OPTIONS LinkOptions;

// Turned on by the hidden switch, never off.
extern bool TraceEnabled;

// Exit codes of the parse.
inline constexpr int kExitUsage = 1;
inline constexpr int kExitInvalidParameter = 87;  // ERROR_INVALID_PARAMETER

// Reads a signed decimal number the C way: blanks, one sign, digits; wraps
// around in 32 bits; anything after the digits is ignored; no digits is 0.
int32_t ReadNumber(const char* text);

// Reads argv[1..argc-1] left to right.  Returns true when the run goes on;
// false when it ended here (help switch or invalid argument), with the
// exit code in *exitCode.
[[nodiscard]] bool ReadArguments(int argc, char* argv[], int* exitCode);

// Prints the usage screen; programPath is argument 0 as invoked.
void UsageScreen(const char* programPath);
