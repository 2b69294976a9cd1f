// The run driver: after the command line, run the chosen action on
// LinkRecord, map its result to the exit code and print the final message.
#pragma once

#include <cstdint>

#include "platform.h"

// The program's entry: reads the arguments, runs, returns the exit code.
int ShortcutMain(int argc, char* argv[]);

// Merges the given LinkOptions into LinkRecord for the selected action
// (MODE_CREATE or MODE_EDIT).
void MergeOptions(int32_t selectedMode);

// An HRESULT of facility 7 (Win32) or 8 (Windows) becomes the error number
// it carries; a failure whose number is 0 stays as it is, so that it never
// reads as success.  Sets *mapped when the value was changed.
int32_t MapResultCode(int32_t resultCode, bool* mapped);

// Prints the system's text for an error number, or nothing.
void SystemErrorText(DWORD errorNumber);
