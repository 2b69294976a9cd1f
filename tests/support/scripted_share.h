// A share held in memory behind the functions of Samba's client library
// that the tool calls (smb/smb_internal.h): files by URL, opened, read,
// written, cut, looked at and removed as the library does it, a guest let
// in, nothing else.  Another program's change is a write into Files().
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <string>

#include "smb/smb_internal.h"

namespace scripted_share {

using namespace portable::smb;

struct File {
  std::string Data;
  ino_t Inode = 0;
};
inline std::map<std::string, File>& Files() {
  static std::map<std::string, File> files;
  return files;
}

struct Handle {
  std::string Url;
  std::size_t At = 0;
  std::string& Data() { return Files()[Url].Data; }
};
inline Handle& Of(SMBCFILE* file) { return *reinterpret_cast<Handle*>(file); }

inline SMBCFILE* Open(SMBCCTX*, const char* url, int flags, mode_t) {
  static ino_t inodes = 0;
  const bool exists = Files().count(url) != 0;
  if (exists && (flags & O_CREAT) && (flags & O_EXCL)) return errno = EEXIST, nullptr;
  if (!exists && !(flags & O_CREAT)) return errno = ENOENT, nullptr;
  if (!exists) Files()[url].Inode = ++inodes;
  return reinterpret_cast<SMBCFILE*>(new Handle{url});
}
inline ssize_t Read(SMBCCTX*, SMBCFILE* f, void* buffer, std::size_t count) {
  const std::size_t n = Of(f).Data().copy(static_cast<char*>(buffer), count, Of(f).At);
  return Of(f).At += n, static_cast<ssize_t>(n);
}
inline ssize_t Write(SMBCCTX*, SMBCFILE* f, const void* buffer, std::size_t count) {
  std::string& data = Of(f).Data();
  data.resize(std::max(data.size(), Of(f).At + count));
  data.replace(Of(f).At, count, static_cast<const char*>(buffer), count);
  return Of(f).At += count, static_cast<ssize_t>(count);
}
inline off_t Seek(SMBCCTX*, SMBCFILE* f, off_t at, int) { return Of(f).At = at, at; }
inline int Cut(SMBCCTX*, SMBCFILE* f, off_t size) { return Of(f).Data().resize(size), 0; }
inline int Close(SMBCCTX*, SMBCFILE* f) { return delete &Of(f), 0; }
inline SMBCFILE* Opendir(SMBCCTX*, const char*) { return errno = ENOENT, nullptr; }
inline int Closedir(SMBCCTX*, SMBCFILE*) { return 0; }
inline int Unlink(SMBCCTX*, const char* url) { return Files().erase(url) == 1 ? 0 : -1; }
inline int Stat(SMBCCTX*, const char* url, struct stat* st) {
  if (Files().count(url) == 0) return errno = ENOENT, -1;
  *st = {};
  st->st_ino = Files()[url].Inode;
  st->st_size = static_cast<off_t>(Files()[url].Data.size());
  return 0;
}
inline int Fstat(SMBCCTX* c, SMBCFILE* f, struct stat* st) {
  return Stat(c, Of(f).Url.c_str(), st);
}

inline const Library& TheLibrary() {
  static SMBCCTX* const kContext = reinterpret_cast<SMBCCTX*>(&Files());
  constexpr auto kIgnore = [](SMBCCTX*, int) {};  // options, debug, time-out
  static const Library library = {
      .smbc_new_context = [] { return kContext; },
      .smbc_init_context = [](SMBCCTX* c) { return c; },
      .smbc_free_context = [](SMBCCTX*, int) { return 0; },
      .smbc_setDebug = kIgnore,
      .smbc_setOptionDebugToStderr = kIgnore,
      .smbc_setOptionProtocols = [](SMBCCTX*, const char*, const char*) { return 1; },
      .smbc_setTimeout = kIgnore,
      .smbc_setOptionOpenShareMode = [](SMBCCTX*, smbc_share_mode) {},
      .smbc_setOptionUseKerberos = kIgnore,
      .smbc_setOptionFallbackAfterKerberos = kIgnore,
      .smbc_setOptionUseCCache = kIgnore,
      .smbc_setOptionUseNTHash = kIgnore,
      .smbc_setOptionNoAutoAnonymousLogin = kIgnore,
      .smbc_setFunctionAuthDataWithContext = [](SMBCCTX*, AuthFn) {},
      .smbc_getFunctionOpen = [](SMBCCTX*) { return &Open; },
      .smbc_getFunctionRead = [](SMBCCTX*) { return &Read; },
      .smbc_getFunctionWrite = [](SMBCCTX*) { return &Write; },
      .smbc_getFunctionLseek = [](SMBCCTX*) { return &Seek; },
      .smbc_getFunctionFtruncate = [](SMBCCTX*) { return &Cut; },
      .smbc_getFunctionClose = [](SMBCCTX*) { return &Close; },
      .smbc_getFunctionOpendir = [](SMBCCTX*) { return &Opendir; },
      .smbc_getFunctionClosedir = [](SMBCCTX*) { return &Closedir; },
      .smbc_getFunctionUnlink = [](SMBCCTX*) { return &Unlink; },
      .smbc_getFunctionStat = [](SMBCCTX*) { return &Stat; },
      .smbc_getFunctionFstat = [](SMBCCTX*) { return &Fstat; },
  };
  return library;
}

}  // namespace scripted_share
