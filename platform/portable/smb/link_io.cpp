// Reading and saving a link on a share through the library: the share's
// way of LinkFileWay (internal.h).
//
// A read opens the file denying others write access, so that it never reads
// a link a client is halfway through writing: it waits, within the bound,
// for such a writer to finish, and after the bound reads what is there,
// sharing the file with everyone.  It reads the file whole, closes it, and
// keeps what it read in the caller's HeldFile.  A save opens the file on
// the server for writing and denies others write access while it holds it
// (as Windows' own saves do), so that nobody writes into it meanwhile and a
// client that holds it so itself refuses the save; checks that it still
// holds what the HeldFile kept, where it keeps anything; writes the new
// contents over the old, from the start, and cuts the file to their size.
// The file stays the server's own: its ID, owner, ACL, streams and create
// time, and the server marks it changed (the archive bit) its own way.
#include <fcntl.h>
#include <strings.h>

#include <cerrno>
#include <cstring>

#include "internal.h"
#include "patience.h"
#include "smb_internal.h"

namespace portable::smb {
namespace {

// What one request may take before the server counts as not answering.
constexpr int kTimeoutMs = 5000;
// How long a read or save waits between tries at a file someone holds; all
// the tries of one run stay within the patience of a local save.
constexpr long kRetryMs = 25;

Credentials credentials;
// The library takes an empty password for none at all, and then sends the
// server nothing it can judge; Windows sends the empty password's NT hash
// (MD4 of no bytes), which the library sends as it is given.
constexpr char kEmptyPasswordHash[] = "31D6CFE0D16AE931B73C59D7E0C089C0";
SMBCCTX* context = nullptr;
const Library* lib = nullptr;
const Library* scripted = nullptr;  // a test's, in place of Samba's

// What the file holds as a save finds it, which goes back if its write
// fails: as large as a link may be (1 MiB), more than a frame of the stack
// should take.
uint8_t foundData[kMaxLinkFileSize];

// While a read or a save talks to the server, what the library writes to
// standard output goes to standard error (output.cpp).
struct Diverted {
  Diverted() { DivertOutput(); }
  ~Diverted() { RestoreOutput(); }
  Diverted(const Diverted&) = delete;
  Diverted& operator=(const Diverted&) = delete;
};

void GiveCredentials(SMBCCTX*, const char*, const char*, char* workgroup, int workgroupLength,
                     char* user, int userLength, char* password, int passwordLength) {
  auto copy = [](const char* from, char* to, int capacity) {
    if (to == nullptr || capacity <= 0) return;
    std::strncpy(to, from, static_cast<std::size_t>(capacity) - 1);
    to[capacity - 1] = '\0';
  };
  if (credentials.FromFile) {
    copy(credentials.User, user, userLength);
    copy(credentials.Password[0] != '\0' ? credentials.Password : kEmptyPasswordHash, password,
         passwordLength);
    if (credentials.Domain[0] != '\0') copy(credentials.Domain, workgroup, workgroupLength);
  } else if (!credentials.Kerberos) {
    copy("guest", user, userLength);
    copy("", password, passwordLength);
  }
}

// A context of the library that logs nothing, whatever the user's smb.conf
// asks for, and puts what is left of that on standard error; waits
// kTimeoutMs for an answer; and asks give for credentials.  Not yet
// initialised; nullptr where none is made.
SMBCCTX* NewContext(AuthFn give) {
  SMBCCTX* c = lib->smbc_new_context();
  if (c == nullptr) return nullptr;
  lib->smbc_setOptionDebugToStderr(c, 1);
  lib->smbc_setDebug(c, 0);
  lib->smbc_setTimeout(c, kTimeoutMs);
  lib->smbc_setFunctionAuthDataWithContext(c, give);
  return c;
}

// The library and one context for the run: its connection serves the read
// and the save of an Edit alike, and the targets of DFS referrals, with the
// same credentials, as Windows follows them.
DWORD Connect(const SharePath& path) {
  if (context != nullptr) return ERROR_SUCCESS;
  lib = scripted != nullptr ? scripted : OpenLibrary();
  if (lib == nullptr) return ERROR_MOD_NOT_FOUND;
  DWORD error = FindCredentials(path.Server, &credentials);
  if (error != ERROR_SUCCESS) return error;
  SMBCCTX* c = NewContext(GiveCredentials);
  if (c == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  // The order of credentials is decided above: a ticket alone, or the
  // file's user and password alone, never one after the other; nor
  // winbind's cache of NTLM logons, which is none of them.
  lib->smbc_setOptionUseKerberos(c, credentials.Kerberos);
  lib->smbc_setOptionFallbackAfterKerberos(c, 0);
  lib->smbc_setOptionUseCCache(c, 0);
  lib->smbc_setOptionUseNTHash(c, credentials.FromFile && credentials.Password[0] == '\0');
  // With a user named, a refused password is the answer, not a guest's
  // session in its place.
  lib->smbc_setOptionNoAutoAnonymousLogin(c, credentials.FromFile || credentials.Kerberos);
  if (lib->smbc_init_context(c) == nullptr) {
    (void)lib->smbc_free_context(c, 0);
    return ERROR_GEN_FAILURE;
  }
  context = c;
  // The run's reads and its save wait for others no longer than a local
  // save does, all together.
  StartPatience();
  return ERROR_SUCCESS;
}

// Whether the folder url names opens through the context c; else *error.
bool Probed(SMBCCTX* c, const char* url, int* error) {
  SMBCFILE* dir = lib->smbc_getFunctionOpendir(c)(c, url);
  if (dir == nullptr) {
    *error = errno;
    return false;
  }
  (void)lib->smbc_getFunctionClosedir(c)(c, dir);
  return true;
}

void NoCredentials(SMBCCTX*, const char*, const char*, char*, int, char* user, int userLength,
                   char* password, int passwordLength) {
  if (user != nullptr && userLength > 0) user[0] = '\0';
  if (password != nullptr && passwordLength > 0) password[0] = '\0';
}

// Whether a server that broke off the negotiation speaks SMB1 alone: asked
// once more, with SMB1 allowed and no credentials (none are sent over it),
// it gets past the negotiation.  The library takes the protocols for all
// its contexts; the run ends with this failure, so nothing else is asked
// with SMB1 allowed.
bool SpeaksOnlySmb1(const SharePath& path) {
  char url[kMaxUrl];
  if (!MakeUrl(path, UrlPart::Server, url)) return false;
  SMBCCTX* c = NewContext(NoCredentials);
  if (c == nullptr) return false;
  lib->smbc_setOptionUseKerberos(c, 0);
  lib->smbc_setOptionUseCCache(c, 0);
  bool smb1 = false;
  if (lib->smbc_init_context(c) != nullptr && lib->smbc_setOptionProtocols(c, "NT1", "NT1")) {
    int probeError = 0;
    const DWORD meaning =
        Probed(c, url, &probeError) ? 0 : Win32FromErrno(probeError, ErrnoFrom::Library);
    smb1 = meaning != ERROR_BAD_NETPATH && meaning != ERROR_UNEXP_NET_ERR;
  }
  (void)lib->smbc_free_context(c, 1);
  return smb1;
}

// Why the target of a DFS referral could not be reached, where the
// library's messages do not say: the number the logon to it alone gives, as
// for the first server.  With a ticket, a target it gets no ticket for
// refuses the logon, as Windows' NTLM logon would without a password.
DWORD ExplainReferral(const char* server) {
  if (credentials.Kerberos && !TicketGetsIn(server)) return ERROR_LOGON_FAILURE;
  SharePath target = {};
  std::strcpy(target.Server, server);
  char url[kMaxUrl];
  int probeError = 0;
  if (!MakeUrl(target, UrlPart::Server, url) || Probed(context, url, &probeError)) return 0;
  return ProbeError(Probe::Logon, probeError);
}

// What the failure of a request on the file with errno error means.  The
// failure of a DFS referral's target is a bare ENOENT, whose cause the
// library's messages name, or a logon to that target alone tells.  A server
// that breaks off the negotiation may speak SMB1 alone, which the run does
// not speak.  Any other failure the library reports alike for several
// causes is told apart by asking for less: the logon alone (the server's
// list of shares), then the share, then the folder.
DWORD Explain(const SharePath& path, int error) {
  const DWORD first = Win32FromErrno(error, ErrnoFrom::Library);
  LibraryWords words;
  DivertedWords(&words);
  if (SaidAlike(error) && words.Referred) {
    const DWORD meaning = words.Status != 0 ? words.Status : ExplainReferral(words.Referral);
    if (meaning != 0) return meaning;
  }
  if (first == ERROR_UNEXP_NET_ERR)
    return SpeaksOnlySmb1(path) ? ERROR_SMB1_NOT_AVAILABLE : first;
  if (!SaidAlike(error)) return first;
  struct Step {
    Probe Part;
    UrlPart Url;
  };
  const Step steps[] = {{Probe::Logon, UrlPart::Server}, {Probe::Share, UrlPart::Share},
                        {Probe::Folder, UrlPart::Folder}};
  for (const Step& step : steps) {
    if (step.Part == Probe::Folder && path.Folder[0] == '\0') break;
    char url[kMaxUrl];
    int probeError = 0;
    if (!MakeUrl(path, step.Url, url) || Probed(context, url, &probeError)) continue;
    const DWORD meaning = ProbeError(step.Part, probeError);
    if (meaning == ERROR_UNEXP_NET_ERR && step.Part == Probe::Logon && SpeaksOnlySmb1(path))
      return ERROR_SMB1_NOT_AVAILABLE;
    if (meaning != 0) return meaning;
  }
  return first;
}

// Opens the file with the share mode, trying again while someone holds it
// and the run may still wait.  nullptr with errno set where it fails.
SMBCFILE* OpenFile(const char* url, int flags, smbc_share_mode mode) {
  lib->smbc_setOptionOpenShareMode(context, mode);
  for (;;) {
    SMBCFILE* file = lib->smbc_getFunctionOpen(context)(context, url, flags, 0666);
    if (file != nullptr || errno != EBUSY) return file;
    if (!WaitAMoment(kRetryMs)) {
      errno = EBUSY;
      return nullptr;
    }
  }
}

// Reads the open file from where it stands to its end.  0, or an errno:
// EFBIG where it does not fit.
int ReadAll(SMBCFILE* file, uint8_t* buffer, std::size_t capacity, std::size_t* size) {
  const ReadFn read = lib->smbc_getFunctionRead(context);
  std::size_t used = 0;
  for (;;) {
    // One byte more than fits tells a file too large from one that fills
    // the buffer.
    uint8_t spare;
    const bool full = used == capacity;
    const ssize_t got = full ? read(context, file, &spare, 1)
                             : read(context, file, buffer + used, capacity - used);
    if (got < 0) return errno != 0 ? errno : EIO;
    if (got == 0) break;
    if (full) return EFBIG;
    used += static_cast<std::size_t>(got);
  }
  *size = used;
  return 0;
}

// Puts data in the open file from its start and cuts it to their size.
// 0 or an errno.
int WriteOver(SMBCFILE* file, const uint8_t* data, std::size_t size) {
  if (lib->smbc_getFunctionLseek(context)(context, file, 0, SEEK_SET) != 0)
    return errno != 0 ? errno : EIO;
  const WriteFn write = lib->smbc_getFunctionWrite(context);
  const auto put = [write, file](const uint8_t* at, std::size_t n) {
    return write(context, file, at, n);
  };
  if (!WriteWhole(put, data, size)) return errno;
  if (lib->smbc_getFunctionFtruncate(context)(context, file, static_cast<off_t>(size)) != 0)
    return errno != 0 ? errno : EIO;
  return 0;
}

DWORD Begin(const char* name, SharePath* path, char (&url)[kMaxUrl]) {
  DWORD error = ParseSharePath(name, path);
  if (error != ERROR_SUCCESS) return error;
  // IPC$ is the server's share of named pipes, which holds no files: Windows
  // says so with the same number where a drive is mapped to it.
  if (strcasecmp(path->Share, "IPC$") == 0) return ERROR_BAD_DEV_TYPE;
  if (!MakeUrl(*path, UrlPart::File, url)) return ERROR_FILENAME_EXCED_RANGE;
  return Connect(*path);
}

// Removes the file a failed Create made, where it is still the one it made
// and as it left it (empty): nobody else's file goes, not even one made in
// its place meanwhile.
void RemoveCreated(const char* url, const struct stat& made) {
  struct stat now;
  if (lib->smbc_getFunctionStat(context)(context, url, &now) != 0) return;
  if (now.st_ino != made.st_ino || now.st_size != 0) return;
  (void)lib->smbc_getFunctionUnlink(context)(context, url);
}

}  // namespace

void UseLibrary(const Library* library) {
  scripted = library;
  context = nullptr;
  lib = nullptr;
}

DWORD ReadLink(const char* name, uint8_t* buffer, std::size_t capacity, std::size_t* size,
               HeldFile* held) {
  const Diverted diverted;
  SharePath path;
  char url[kMaxUrl];
  DWORD error = Begin(name, &path, url);
  if (error != ERROR_SUCCESS) return error;
  SMBCFILE* file = OpenFile(url, O_RDONLY, SMBC_SHAREMODE_DENY_WRITE);
  if (file == nullptr && errno == EBUSY) {
    // Still held for writing: read it as Windows' own Load would, sharing it.
    lib->smbc_setOptionOpenShareMode(context, SMBC_SHAREMODE_DENY_NONE);
    file = lib->smbc_getFunctionOpen(context)(context, url, O_RDONLY, 0);
  }
  if (file == nullptr) return Explain(path, errno);
  const int readError = ReadAll(file, buffer, capacity, size);
  const int closed = lib->smbc_getFunctionClose(context)(context, file);
  if (readError != 0) return Win32FromErrno(readError, ErrnoFrom::Library);
  if (closed != 0) return Win32FromErrno(errno, ErrnoFrom::Library);
  // A save compares these bytes with the file's: without them it could
  // not tell another client's change.
  if (held != nullptr && !held->Remember(buffer, *size)) return ERROR_NOT_ENOUGH_MEMORY;
  return ERROR_SUCCESS;
}

DWORD SaveLink(const char* name, const uint8_t* data, std::size_t size, HeldFile* held) {
  const Diverted diverted;
  SharePath path;
  char url[kMaxUrl];
  DWORD error = Begin(name, &path, url);
  if (error != ERROR_SUCCESS) return error;
  const bool overRead = held != nullptr && held->Holds();
  // What the next save over this one compares with, kept before anything
  // is written: a save that could not keep it writes nothing.
  HeldFile saved;
  if (held != nullptr && !saved.Remember(data, size)) return ERROR_NOT_ENOUGH_MEMORY;
  // Over what was read, the file must still be there; a new link may be
  // made, and the save then knows it made it.  Either way an existing file
  // is written over, never replaced.
  bool created = false;
  SMBCFILE* file = nullptr;
  if (!overRead) {
    file = OpenFile(url, O_RDWR | O_CREAT | O_EXCL, SMBC_SHAREMODE_DENY_WRITE);
    created = file != nullptr;
  }
  if (file == nullptr && (overRead || errno == EEXIST))
    file = OpenFile(url, O_RDWR, SMBC_SHAREMODE_DENY_WRITE);
  if (file == nullptr) {
    const int openError = errno;
    return overRead && openError == ENOENT ? ERROR_SHARING_VIOLATION : Explain(path, openError);
  }
  struct stat made = {};
  if (created && lib->smbc_getFunctionFstat(context)(context, file, &made) != 0) created = false;
  const CloseFn close = lib->smbc_getFunctionClose(context);
  // What the file holds now: over what was read it must be just that, and
  // whatever it is goes back if the write fails.
  std::size_t found = 0;
  const int readFailure = ReadAll(file, foundData, sizeof foundData, &found);
  int failure = 0;
  if (overRead) {
    if (readFailure == EFBIG ||
        (readFailure == 0 &&
         (found != held->Size || std::memcmp(foundData, held->Bytes, found) != 0))) {
      // Another client saved it since it was read: its change stays.
      (void)close(context, file);
      return ERROR_SHARING_VIOLATION;
    }
    failure = readFailure;
  }
  if (failure == 0) {
    failure = WriteOver(file, data, size);
    // Put back what was there, as far as the server lets us.
    if (failure != 0 && readFailure == 0) (void)WriteOver(file, foundData, found);
  }
  const int closeFailure = close(context, file) != 0 ? errno : 0;
  // A new link that could not be written is not left behind, empty.
  if (created && (failure != 0 || closeFailure != 0)) RemoveCreated(url, made);
  if (failure != 0) return Win32FromErrno(failure, ErrnoFrom::Library);
  if (closeFailure != 0) return Win32FromErrno(closeFailure, ErrnoFrom::Library);
  if (held != nullptr) held->Take(saved);
  return ERROR_SUCCESS;
}

}  // namespace portable::smb
