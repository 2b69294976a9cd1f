// The clock of patience.h: monotonic, started by the first wait of a read
// or a save.
#include "patience.h"

#include <ctime>

namespace portable {
namespace {

// When the read or save under way first waited or tried again; 0 while it
// has not.
long long startedMs = 0;

long long NowMs() {
  struct timespec now;
  (void)clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000 + 1;
}

}  // namespace

void StartPatience() { startedMs = 0; }

bool Patient() {
  const long long now = NowMs();
  if (startedMs == 0) startedMs = now;
  return now - startedMs < kPatienceMs;
}

bool WaitAMoment(long milliseconds) {
  if (!Patient()) return false;
  const struct timespec pause = {milliseconds / 1000, (milliseconds % 1000) * 1000 * 1000};
  (void)nanosleep(&pause, nullptr);
  return true;
}

}  // namespace portable
