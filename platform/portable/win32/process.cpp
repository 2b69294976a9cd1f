#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "internal.h"
#include "platform.h"

namespace {

// What Windows gives a console program, set up before anything runs:
//   - a write that fails is an error the program sees, never a signal that
//     ends it: past the file size limit (SIGXFSZ) or into a pipe nobody
//     reads any more (SIGPIPE), where Windows fails the write;
//   - standard input, output and error that are closed stay closed for
//     writing: each gets a descriptor that fails every write, so that no
//     file the program opens takes its number and its output with it.
struct ProcessSetup {
  ProcessSetup() {
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, nullptr);
    sigaction(SIGPIPE, &ignore, nullptr);
    for (int fd = 0; fd <= 2; ++fd) {
      if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
      const int placeholder = open("/dev/null", O_RDONLY | O_CLOEXEC);
      if (placeholder >= 0 && placeholder != fd) {
        (void)dup2(placeholder, fd);
        close(placeholder);
      }
    }
  }
};

const ProcessSetup processSetup;

unsigned long osError = 0;

}  // namespace

unsigned long* __doserrno() {
  osError = errno == 0 ? 0 : portable::Win32FromErrno(errno, portable::ErrnoFrom::LocalFile);
  return &osError;
}

void WINAPI ExitProcess(UINT uExitCode) {
  std::fflush(stdout);
  // Only the low 8 bits reach the parent; never let a failure read as 0.
  int status = static_cast<int>(uExitCode & 0xFF);
  if (uExitCode != 0 && status == 0) status = 255;
  std::exit(status);
}

BOOL WINAPI CheckCommandLineA() { return TRUE; }
