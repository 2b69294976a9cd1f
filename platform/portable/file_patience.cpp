// How long one run waits for others, in all.
#include <ctime>

#include "files.h"

namespace portable {
namespace {

// When the run first waited or tried again, on the monotonic clock; 0 while
// it has not.
long long startedMs = 0;

long long NowMs() {
  struct timespec now;
  (void)clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000 + 1;
}

}  // namespace

bool Patient() {
  const long long now = NowMs();
  if (startedMs == 0) startedMs = now;
  return now - startedMs < kPatienceMs;
}

bool WaitAMoment() {
  if (!Patient()) return false;
  const struct timespec millisecond = {0, 1000 * 1000};
  (void)nanosleep(&millisecond, nullptr);
  return true;
}

}  // namespace portable
