// What the library writes to standard output, kept out of the tool's report.
//
// libsmbclient prints some of its failures (those of a DFS referral's
// target among them) to standard output, and its debug log goes there from
// the moment it reads the user's smb.conf, before a caller can ask for
// anything else.  While a request runs, descriptor 1 and the C library's
// stdout point at a file of our own instead; what lands there is passed on
// to standard error, and the NT status it names is kept for Explain
// (link_io.cpp).  The tool's own output, still in stdout's buffer, stays
// there untouched and in order.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "smb_internal.h"

namespace portable::smb {
namespace {

struct Diversion {
  bool Active = false;
  int Capture = -1;         // the file the library writes to
  int SavedOutput = -1;     // descriptor 1 as it was
  FILE* SavedStdout = nullptr;
  FILE* CaptureStream = nullptr;
  off_t Forwarded = 0;      // how much of Capture went on to standard error
  // The run of capitals, digits and '_' being read, and the last one that
  // was an NT status name.
  char Token[64] = {};
  std::size_t TokenLength = 0;
  bool TokenTooLong = false;
  char Status[64] = {};
  // The line being read, whether the library could not follow a DFS
  // referral, and the server of the last one ("" where it is no server's).
  char Line[512] = {};
  std::size_t LineLength = 0;
  bool Referred = false;
  char Referral[kMaxServer] = {};
};

Diversion diversion;

void EndToken() {
  constexpr char kPrefix[] = "NT_STATUS_";
  if (!diversion.TokenTooLong && diversion.TokenLength > sizeof kPrefix - 1 &&
      std::memcmp(diversion.Token, kPrefix, sizeof kPrefix - 1) == 0) {
    std::memcpy(diversion.Status, diversion.Token, diversion.TokenLength);
    diversion.Status[diversion.TokenLength] = '\0';
  }
  diversion.TokenLength = 0;
  diversion.TokenTooLong = false;
}

// "Unable to follow dfs referral [\\server\\share]", as the library
// words it (source3/libsmb/clidfs.c).
void EndLine() {
  constexpr char kReferral[] = "dfs referral [\\";
  diversion.Line[diversion.LineLength] = '\0';
  diversion.LineLength = 0;
  const char* at = std::strstr(diversion.Line, kReferral);
  if (at == nullptr) return;
  at += sizeof kReferral - 1;
  const std::size_t length = std::strcspn(at, "\\]");
  if (length == 0 || at[length] != '\\') return;
  diversion.Referred = true;
  diversion.Referral[0] = '\0';
  if (length >= sizeof diversion.Referral) return;
  std::memcpy(diversion.Referral, at, length);
  diversion.Referral[length] = '\0';
  // The referring server wrote that name: one that is not a server's (a
  // user, a port, options) would steer the logon that asks why elsewhere.
  if (!IsServerName(diversion.Referral)) diversion.Referral[0] = '\0';
}

void Scan(const char* text, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    const char c = text[i];
    if (c == '\n') EndLine();
    else if (diversion.LineLength + 1 < sizeof diversion.Line) diversion.Line[diversion.LineLength++] = c;
    if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_') {
      if (diversion.TokenLength + 1 < sizeof diversion.Token)
        diversion.Token[diversion.TokenLength++] = c;
      else
        diversion.TokenTooLong = true;
    } else {
      EndToken();
    }
  }
}

// Passes what the library wrote since the last time on to standard error,
// reading it for NT status names on the way.
void Forward() {
  if (diversion.CaptureStream != nullptr) (void)std::fflush(diversion.CaptureStream);
  if (diversion.Capture < 0) return;
  char chunk[4096];
  for (;;) {
    const ssize_t got = pread(diversion.Capture, chunk, sizeof chunk, diversion.Forwarded);
    if (got <= 0) break;
    diversion.Forwarded += got;
    Scan(chunk, static_cast<std::size_t>(got));
    const auto put = [](const uint8_t* data, std::size_t size) {
      return write(STDERR_FILENO, data, size);
    };
    // Where standard error is gone, the text goes nowhere.
    (void)WriteWhole(put, reinterpret_cast<const uint8_t*>(chunk), static_cast<std::size_t>(got));
  }
  EndToken();
}

}  // namespace

void DivertOutput() {
  if (diversion.Active) return;
  diversion = Diversion();
  diversion.Active = true;
  diversion.SavedOutput = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  diversion.Capture = memfd_create("libsmbclient-output", MFD_CLOEXEC);
  // Without a file of our own, the library writes to standard error.
  const int target = diversion.Capture >= 0 ? diversion.Capture : STDERR_FILENO;
  if (diversion.SavedOutput < 0 || dup2(target, STDOUT_FILENO) < 0) {
    if (diversion.SavedOutput >= 0) close(diversion.SavedOutput);
    if (diversion.Capture >= 0) close(diversion.Capture);
    diversion = Diversion();
    return;
  }
  const int streamFd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  diversion.CaptureStream = streamFd >= 0 ? fdopen(streamFd, "w") : nullptr;
  if (diversion.CaptureStream == nullptr) {
    if (streamFd >= 0) close(streamFd);
    return;
  }
  // The library's printf goes to a stream of its own; the tool's, with
  // whatever it holds, waits for the diversion to end.
  diversion.SavedStdout = stdout;
  stdout = diversion.CaptureStream;
}

void DivertedWords(LibraryWords* words) {
  *words = LibraryWords();
  if (!diversion.Active) return;
  diversion.Status[0] = '\0';
  diversion.Referred = false;
  diversion.Referral[0] = '\0';
  Forward();
  words->Status = Win32FromStatusName(diversion.Status);
  words->Referred = diversion.Referred;
  std::strcpy(words->Referral, diversion.Referral);
  // A referral to a name that is no server's is one that cannot be
  // reached, and nobody is asked why.
  if (words->Status == 0 && words->Referred && words->Referral[0] == '\0')
    words->Status = ERROR_BAD_NETPATH;
}

void RestoreOutput() {
  if (!diversion.Active) return;
  Forward();
  if (diversion.SavedStdout != nullptr) stdout = diversion.SavedStdout;
  if (diversion.CaptureStream != nullptr) (void)std::fclose(diversion.CaptureStream);
  (void)dup2(diversion.SavedOutput, STDOUT_FILENO);
  close(diversion.SavedOutput);
  if (diversion.Capture >= 0) close(diversion.Capture);
  diversion = Diversion();
}

}  // namespace portable::smb
