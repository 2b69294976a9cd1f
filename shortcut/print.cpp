#include "print.h"

#include <cstdarg>
#include <cstdio>

void Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vprintf(format, args);
  va_end(args);
}
