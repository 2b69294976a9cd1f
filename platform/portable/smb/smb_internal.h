// What the parts of the SMB code share: the path forms, Samba's client
// library as loaded, the credentials and the error table.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>

#include "internal.h"
#include "smb.h"

namespace portable::smb {

// ---------------------------------------------------------------- paths
// (share_path.cpp)

inline constexpr std::size_t kMaxServer = 256;
// A share's, a folder's or a file's name holds at most 255 UTF-16 units, as
// Windows allows, which take up to 765 bytes of UTF-8.
inline constexpr std::size_t kMaxNameUnits = 255;
inline constexpr std::size_t kMaxComponent = 3 * kMaxNameUnits + 1;
inline constexpr std::size_t kMaxFolder = 4096;
// The longest URL: every byte of the path may take three.
inline constexpr std::size_t kMaxUrl = 3 * (kMaxServer + kMaxComponent * 2 + kMaxFolder) + 32;

// A share path taken apart, each part as the server names it (UTF-8,
// without escapes).  Folder holds the components between the share and the
// name joined by '/', or nothing.
struct SharePath {
  char Server[kMaxServer];
  unsigned Port = 0;  // 0: the library's own choice (445, then 139)
  char Share[kMaxComponent];
  char Folder[kMaxFolder];
  char Name[kMaxComponent];
};

// Whether server is a host name or an IPv4 address, as DNS and NetBIOS
// names allow, or an IPv6 address in brackets: nothing a URL would read as
// a user, a port or options.
bool IsServerName(const char* server);

// Takes a share path apart: 0, or ERROR_INVALID_NAME where it names no
// file on a share (no share or name, a bad server name or port, user
// details or options in a URL).
[[nodiscard]] DWORD ParseSharePath(const char* name, SharePath* path);

// The URL of a part of a share path for the library: the server (its list
// of shares), the share, the folder or the file.  False where it would not
// fit.
enum class UrlPart { Server, Share, Folder, File };
[[nodiscard]] bool MakeUrl(const SharePath& path, UrlPart part, char (&url)[kMaxUrl]);

// ---------------------------------------------------------------- the library
// (library.cpp)

// Samba's client library, declared here as far as it is used
// (libsmbclient.h): the program is not linked with it.  The build holds
// these declarations against the header where it is installed
// (declarations_check.cpp).
struct SMBCCTX;
struct SMBCFILE;
using smbc_bool = int;
enum smbc_share_mode { SMBC_SHAREMODE_DENY_WRITE = 2, SMBC_SHAREMODE_DENY_NONE = 4 };
using AuthFn = void (*)(SMBCCTX* c, const char* server, const char* share, char* workgroup,
                        int workgroupLength, char* user, int userLength, char* password,
                        int passwordLength);
using OpenFn = SMBCFILE* (*)(SMBCCTX* c, const char* url, int flags, mode_t mode);
using ReadFn = ssize_t (*)(SMBCCTX* c, SMBCFILE* file, void* buffer, std::size_t count);
using WriteFn = ssize_t (*)(SMBCCTX* c, SMBCFILE* file, const void* buffer, std::size_t count);
using LseekFn = off_t (*)(SMBCCTX* c, SMBCFILE* file, off_t offset, int whence);
using FtruncateFn = int (*)(SMBCCTX* c, SMBCFILE* file, off_t size);
using CloseFn = int (*)(SMBCCTX* c, SMBCFILE* file);
using OpendirFn = SMBCFILE* (*)(SMBCCTX* c, const char* url);
using UnlinkFn = int (*)(SMBCCTX* c, const char* url);
using StatFn = int (*)(SMBCCTX* c, const char* url, struct stat* status);
using FstatFn = int (*)(SMBCCTX* c, SMBCFILE* file, struct stat* status);

struct Library {
  SMBCCTX* (*smbc_new_context)();
  SMBCCTX* (*smbc_init_context)(SMBCCTX* c);
  int (*smbc_free_context)(SMBCCTX* c, int shutdown);
  void (*smbc_setDebug)(SMBCCTX* c, int level);
  void (*smbc_setOptionDebugToStderr)(SMBCCTX* c, smbc_bool b);
  smbc_bool (*smbc_setOptionProtocols)(SMBCCTX* c, const char* min, const char* max);
  void (*smbc_setTimeout)(SMBCCTX* c, int milliseconds);
  void (*smbc_setOptionOpenShareMode)(SMBCCTX* c, smbc_share_mode mode);
  void (*smbc_setOptionUseKerberos)(SMBCCTX* c, smbc_bool b);
  void (*smbc_setOptionFallbackAfterKerberos)(SMBCCTX* c, smbc_bool b);
  void (*smbc_setOptionUseCCache)(SMBCCTX* c, smbc_bool b);
  void (*smbc_setOptionUseNTHash)(SMBCCTX* c, smbc_bool b);
  void (*smbc_setOptionNoAutoAnonymousLogin)(SMBCCTX* c, smbc_bool b);
  void (*smbc_setFunctionAuthDataWithContext)(SMBCCTX* c, AuthFn fn);
  OpenFn (*smbc_getFunctionOpen)(SMBCCTX* c);
  ReadFn (*smbc_getFunctionRead)(SMBCCTX* c);
  WriteFn (*smbc_getFunctionWrite)(SMBCCTX* c);
  LseekFn (*smbc_getFunctionLseek)(SMBCCTX* c);
  FtruncateFn (*smbc_getFunctionFtruncate)(SMBCCTX* c);
  CloseFn (*smbc_getFunctionClose)(SMBCCTX* c);
  OpendirFn (*smbc_getFunctionOpendir)(SMBCCTX* c);
  CloseFn (*smbc_getFunctionClosedir)(SMBCCTX* c);
  UnlinkFn (*smbc_getFunctionUnlink)(SMBCCTX* c);
  StatFn (*smbc_getFunctionStat)(SMBCCTX* c);
  FstatFn (*smbc_getFunctionFstat)(SMBCCTX* c);
};

// The library, loaded the first time it is asked for; nullptr where it is
// not installed (or lacks a function used here).
const Library* OpenLibrary();

// For tests: the library a run connects through from now on, in place of
// Samba's (nullptr: Samba's again), with a connection of its own (link_io.cpp).
void UseLibrary(const Library* library);

// ---------------------------------------------------------------- credentials
// (credentials.cpp)

// Who connects: a Kerberos ticket that gets the run into the server, else
// the user of the file SHORTCUT_SMB_CREDENTIALS names (with its password as
// it stands, empty or not), else a guest.
struct Credentials {
  bool Kerberos = false;
  bool FromFile = false;
  char User[256] = {};
  char Password[256] = {};
  char Domain[256] = {};
};

// Fills *credentials for server: 0, or ERROR_BAD_ENVIRONMENT where no
// ticket gets the run in and the file that SHORTCUT_SMB_CREDENTIALS names
// cannot be used: missing, not a regular file, not this user's, readable or
// writable by others, or without a user name.
[[nodiscard]] DWORD FindCredentials(const char* server, Credentials* credentials);

// Whether server is named by an IPv4 or IPv6 address (ticket.cpp).
bool IsAddress(const char* server);

// Whether the user's Kerberos ticket cache gives a ticket for server's SMB
// service, as the library's own GSSAPI judges it: never for a server named
// by its address, an empty, expired or broken cache, one of a kind nobody
// serves, or one that GSSAPI does not open (ticket.cpp).
bool TicketGetsIn(const char* server);

// The file's text in mount.cifs's credentials= format (which smbclient -A
// reads too): false where a line is not key=value of a known key.
[[nodiscard]] bool ParseCredentials(const char* text, std::size_t size, Credentials* credentials);

// Clears the password from memory.
void ForgetPassword(Credentials* credentials);

// ---------------------------------------------------------------- the library's output
// (output.cpp)

// From now on what the library writes to standard output goes to standard
// error instead, until RestoreOutput; the tool's own output waits, in order.
void DivertOutput();

// What the library's messages said since the last call: the Win32 number
// of the last NT status they named (0: none, or one that says nothing),
// whether it could not follow a DFS referral, and the server of the last
// one ("": a name that is no server's, which the referring server chose;
// Status is then ERROR_BAD_NETPATH where they named none, as such a target
// cannot be reached, nor asked why).
struct LibraryWords {
  DWORD Status = 0;
  bool Referred = false;
  char Referral[kMaxServer] = {};
};
void DivertedWords(LibraryWords* words);

// Standard output back as it was; the library's last words go to standard
// error.
void RestoreOutput();

// ---------------------------------------------------------------- errors
// (errors.cpp)

// What an NT status the library named in a message means, as Windows gives
// it; 0 for one that says nothing the errno does not.
[[nodiscard]] DWORD Win32FromStatusName(const char* name);

// Which part of a share path a second request reached, to tell apart
// failures that the library reports alike.
enum class Probe { Logon, Share, Folder };
// What the failure of a probe with errno error means, or 0 where the probe's
// failure says nothing more than the first.
[[nodiscard]] DWORD ProbeError(Probe probe, int error);

}  // namespace portable::smb
