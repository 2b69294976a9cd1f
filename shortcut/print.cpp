#include "print.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

// The first error of the output, kept from the moment it happened.
DWORD outputError = ERROR_SUCCESS;

void NoteOutputError() {
  if (outputError != ERROR_SUCCESS) return;
  // The C runtime gives no system error where it found nothing to write
  // to, or where the system took no byte of the write: a handle that is
  // not open, a full disk.
  outputError = static_cast<DWORD>(_doserrno);
  if (outputError == ERROR_SUCCESS)
    outputError = errno == ENOSPC ? ERROR_DISK_FULL : ERROR_INVALID_HANDLE;
}

}  // namespace

void Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  if (vprintf(format, args) < 0) NoteOutputError();
  va_end(args);
}

DWORD FinishOutput() {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) NoteOutputError();
  return outputError;
}
