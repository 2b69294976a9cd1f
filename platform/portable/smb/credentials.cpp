// Who a run connects to a share as, the way users of smbclient and
// mount.cifs expect: a Kerberos ticket that gets it into the server, else
// the credentials file that SHORTCUT_SMB_CREDENTIALS names, else a guest.  A
// password is never taken from the command line, never stored, and never
// printed.
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "smb_internal.h"

namespace portable::smb {
namespace {

constexpr char kCredentialsVariable[] = "SHORTCUT_SMB_CREDENTIALS";
// Far more than three lines of names and a password.
constexpr std::size_t kMaxCredentialsFile = 4096;

struct Key {
  const char* Name;
  char (Credentials::*Field)[256];
};

// The keys mount.cifs reads, with its short forms.
constexpr Key kKeys[] = {
    {"username", &Credentials::User}, {"user", &Credentials::User},
    {"password", &Credentials::Password}, {"pass", &Credentials::Password},
    {"domain", &Credentials::Domain}, {"dom", &Credentials::Domain},
    {"workgroup", &Credentials::Domain},
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

bool ParseCredentials(const char* text, std::size_t size, Credentials* credentials) {
  std::size_t at = 0;
  while (at < size) {
    std::size_t end = at;
    while (end < size && text[end] != '\n') ++end;
    std::size_t lineEnd = end;
    if (lineEnd > at && text[lineEnd - 1] == '\r') --lineEnd;
    std::size_t p = at;
    at = end + 1;
    while (p < lineEnd && IsBlank(text[p])) ++p;
    if (p == lineEnd || text[p] == '#' || text[p] == ';') continue;  // blank, or a comment
    // key, blanks, '=', blanks, and the value to the end of the line as it
    // stands (smbclient -A's "key = value" and mount.cifs's "key=value"): a
    // password may hold anything but a line break and leading blanks.
    std::size_t keyEnd = p;
    while (keyEnd < lineEnd && text[keyEnd] != '=' && !IsBlank(text[keyEnd])) ++keyEnd;
    std::size_t q = keyEnd;
    while (q < lineEnd && IsBlank(text[q])) ++q;
    if (q == lineEnd || text[q] != '=') return false;
    ++q;
    const Key* key = nullptr;
    for (const Key& k : kKeys)
      if (std::strlen(k.Name) == keyEnd - p && strncasecmp(k.Name, text + p, keyEnd - p) == 0)
        key = &k;
    if (key == nullptr) return false;
    char (&field)[256] = credentials->*(key->Field);
    while (q < lineEnd && IsBlank(text[q])) ++q;
    const std::size_t length = lineEnd - q;
    if (length >= sizeof field || std::memchr(text + q, '\0', length) != nullptr) return false;
    std::memcpy(field, text + q, length);
    field[length] = '\0';
  }
  return credentials->User[0] != '\0';
}

DWORD FindCredentials(const char* server, Credentials* credentials) {
  *credentials = Credentials();
  // The file is read only where no ticket gets the run in.
  if (TicketGetsIn(server)) {
    credentials->Kerberos = true;
    return ERROR_SUCCESS;
  }
  const char* file = std::getenv(kCredentialsVariable);
  if (file == nullptr || file[0] == '\0') return ERROR_SUCCESS;
  // The file itself, opened once and judged by what was opened: a regular
  // file of this user's (or root's) that no one else may read or change,
  // as ssh asks of a private key.
  const int fd = open(file, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return ERROR_BAD_ENVIRONMENT;
  struct stat status;
  char text[kMaxCredentialsFile];
  ssize_t got = -1;
  if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && (status.st_mode & 077) == 0 &&
      (status.st_uid == geteuid() || status.st_uid == 0) &&
      status.st_size < static_cast<off_t>(sizeof text))
    got = read(fd, text, sizeof text);
  close(fd);
  const bool good = got >= 0 && static_cast<std::size_t>(got) < sizeof text &&
                    ParseCredentials(text, static_cast<std::size_t>(got), credentials);
  explicit_bzero(text, sizeof text);
  if (!good) {
    ForgetPassword(credentials);
    return ERROR_BAD_ENVIRONMENT;
  }
  credentials->FromFile = true;
  return ERROR_SUCCESS;
}

void ForgetPassword(Credentials* credentials) {
  explicit_bzero(credentials->Password, sizeof credentials->Password);
}

}  // namespace portable::smb
