// Why a file operation failed, in words: the error number says what kind
// of failure it was, the note which rule refused what, for the trace.
#include <cstdarg>
#include <cstdio>

#include "files.h"

namespace portable {
namespace {

char note[512];

}  // namespace

void Note(const char* format, ...) {
  va_list args;
  va_start(args, format);
  (void)std::vsnprintf(note, sizeof note, format, args);
  va_end(args);
}

void ClearNote() { note[0] = '\0'; }

}  // namespace portable

LPCSTR WINAPI LinkFailureNote() { return portable::note; }
