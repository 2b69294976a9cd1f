// Who else may write the link while a save writes it.
//
// The guard: saves of one link take turns by a write lock of the open file
// description (F_OFD_SETLK) on the whole link, through the descriptor the
// save opened for writing.  Only someone who may write the link can take
// such a lock, so nobody who may only read a folder can hold up its
// owner's saves; a read lock (F_RDLCK) on the link holds them up too, as a
// Windows client's open that denies writers does, and the save then fails
// with 32.  The lock is the open file description's, not the process's, so
// nothing else the process opens or closes gives it up; it goes when the
// save closes its descriptor.
//
// The lease: where the kernel lets the save take a write lease on the link
// (its owner and root may, on local file systems, while nobody else has
// the link open), anyone who opens the link meanwhile breaks it, and the
// kernel holds a writer's open until the lease goes.  So a save learns of
// a program that opened the link to write it after the save's last look
// at it, and fails with 32 instead of overwriting what that program is
// about to write.  The break is told by a signal, SIGIO, which would end
// the process: it is ignored, and the save asks for the lease's state
// instead (F_GETLEASE).
//
// A program that had the link open for writing before the save began
// keeps the write lease from being had, and would write into the old file
// after an exchange.  Whether there is one the kernel tells the link's
// owner and root: a read lease (F_RDLCK) cannot be had while anyone has
// the file open for writing.  So a save asks that before it opens the link
// for writing itself, and then writes into the file itself, as Windows'
// own save of a link does.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "files.h"

namespace portable {
namespace {

// How long a save tries at a lease while others have the link open, giving
// way to them in between: long enough for a write under way to end, short
// enough to cost nothing where a program keeps the link open.
constexpr long long kLeaseTryNs = 1000 * 1000;

long long NowNs() {
  struct timespec now;
  (void)clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Whether a broken lease's signal (SIGIO) is ignored yet.
bool quiet = false;

// Ignores a broken lease's signal, once: the tool has one thread.  False
// where it cannot, and no lease may be taken.
bool Quiet() {
  if (!quiet) {
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    quiet = sigaction(SIGIO, &ignore, nullptr) == 0;
  }
  return quiet;
}

// Whether a read lease on fd, a descriptor open for reading only, cannot
// be had because the file is open for writing; the lease, where had, is
// let go at once.  Where it is not refused, errno says why it was not had
// (0: it was).
bool ReadLeaseRefused(int fd) {
  if (fcntl(fd, F_SETLEASE, F_RDLCK) != 0) return errno == EAGAIN;
  (void)fcntl(fd, F_SETLEASE, F_UNLCK);
  errno = 0;
  return false;
}

}  // namespace

bool WriterHasIt(int file) {
  if (!Quiet()) return false;
  if (ReadLeaseRefused(file)) return true;
  if (errno != EBADF) return false;  // another's file, or no leases: not known
  // Held only to refer to it (O_PATH): asked through a descriptor of its own.
  const int readable = OpenAnew(file, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (readable < 0) return false;
  const bool writer = ReadLeaseRefused(readable);
  close(readable);
  return writer;
}

DWORD TakeGuard(int writable, bool* waited) {
  *waited = false;
  struct flock whole = {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;  // from the start, l_len 0: to any end
  for (;;) {
    if (fcntl(writable, F_OFD_SETLK, &whole) == 0) return ERROR_SUCCESS;
    if (errno != EAGAIN && errno != EACCES && errno != EINTR) return LastError();
    *waited = true;
    if (!WaitAMoment()) {
      Note("a lock on the link (fcntl: another save's, or another program's) was held "
           "for %lld ms", kPatienceMs);
      return ERROR_SHARING_VIOLATION;
    }
  }
}

Lease::Lease(const Target& target) {
  if (!target.WritableReads) return;
  // Someone who has the link open (a reader, a writer under way) keeps the
  // lease from being had: such an open is given a moment to end.
  for (const long long start = NowNs(); Quiet(); sched_yield()) {
    if (fcntl(target.Writable, F_SETLEASE, F_WRLCK) == 0) {
      fd_ = target.Writable;
      return;
    }
    if (errno != EAGAIN || NowNs() - start > kLeaseTryNs) return;
  }
}

Lease::~Lease() {
  if (fd_ >= 0) (void)fcntl(fd_, F_SETLEASE, F_UNLCK);
}

bool Lease::WriterCame() const {
  // While the lease is broken, it reads as what it is to become: a read
  // lease for a reader's open, none for a writer's.
  if (fd_ < 0 || fcntl(fd_, F_GETLEASE) != F_UNLCK) return false;
  Note("another program opened the link to write it while it was saved");
  return true;
}

}  // namespace portable
