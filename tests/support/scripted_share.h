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
};

inline Handle* Of(SMBCFILE* file) { return reinterpret_cast<Handle*>(file); }

inline int Describe(const std::string& url, struct stat* st) {
  const auto found = Files().find(url);
  if (found == Files().end()) return errno = ENOENT, -1;
  *st = {};
  st->st_ino = found->second.Inode;
  st->st_size = static_cast<off_t>(found->second.Data.size());
  return 0;
}

inline const Library& TheLibrary() {
  static SMBCCTX* const kContext = reinterpret_cast<SMBCCTX*>(&Files());
  static const Library library = {
      .smbc_new_context = [] { return kContext; },
      .smbc_init_context = [](SMBCCTX* c) { return c; },
      .smbc_free_context = [](SMBCCTX*, int) { return 0; },
      .smbc_setDebug = [](SMBCCTX*, int) {},
      .smbc_setOptionDebugToStderr = [](SMBCCTX*, smbc_bool) {},
      .smbc_setOptionProtocols = [](SMBCCTX*, const char*, const char*) { return 1; },
      .smbc_setTimeout = [](SMBCCTX*, int) {},
      .smbc_setOptionOpenShareMode = [](SMBCCTX*, smbc_share_mode) {},
      .smbc_setOptionUseKerberos = [](SMBCCTX*, smbc_bool) {},
      .smbc_setOptionFallbackAfterKerberos = [](SMBCCTX*, smbc_bool) {},
      .smbc_setOptionUseCCache = [](SMBCCTX*, smbc_bool) {},
      .smbc_setOptionUseNTHash = [](SMBCCTX*, smbc_bool) {},
      .smbc_setOptionNoAutoAnonymousLogin = [](SMBCCTX*, smbc_bool) {},
      .smbc_setFunctionAuthDataWithContext = [](SMBCCTX*, AuthFn) {},
      .smbc_getFunctionOpen = [](SMBCCTX*) -> OpenFn {
        return [](SMBCCTX*, const char* url, int flags, mode_t) -> SMBCFILE* {
          static ino_t inodes = 0;
          const bool exists = Files().count(url) != 0;
          if (exists && (flags & O_CREAT) && (flags & O_EXCL)) return errno = EEXIST, nullptr;
          if (!exists && !(flags & O_CREAT)) return errno = ENOENT, nullptr;
          if (!exists) Files()[url].Inode = ++inodes;
          return reinterpret_cast<SMBCFILE*>(new Handle{url});
        };
      },
      .smbc_getFunctionRead = [](SMBCCTX*) -> ReadFn {
        return [](SMBCCTX*, SMBCFILE* f, void* buffer, std::size_t count) -> ssize_t {
          const std::string& data = Files()[Of(f)->Url].Data;
          const std::size_t at = Of(f)->At;
          const std::size_t n = at < data.size() ? std::min(count, data.size() - at) : 0;
          data.copy(static_cast<char*>(buffer), n, Of(f)->At);
          Of(f)->At += n;
          return static_cast<ssize_t>(n);
        };
      },
      .smbc_getFunctionWrite = [](SMBCCTX*) -> WriteFn {
        return [](SMBCCTX*, SMBCFILE* f, const void* buffer, std::size_t count) -> ssize_t {
          std::string& data = Files()[Of(f)->Url].Data;
          if (data.size() < Of(f)->At + count) data.resize(Of(f)->At + count);
          data.replace(Of(f)->At, count, static_cast<const char*>(buffer), count);
          Of(f)->At += count;
          return static_cast<ssize_t>(count);
        };
      },
      .smbc_getFunctionLseek = [](SMBCCTX*) -> LseekFn {
        return [](SMBCCTX*, SMBCFILE* f, off_t offset, int) { return Of(f)->At = offset, offset; };
      },
      .smbc_getFunctionFtruncate = [](SMBCCTX*) -> FtruncateFn {
        return [](SMBCCTX*, SMBCFILE* f, off_t size) {
          Files()[Of(f)->Url].Data.resize(static_cast<std::size_t>(size));
          return 0;
        };
      },
      .smbc_getFunctionClose = [](SMBCCTX*) -> CloseFn {
        return [](SMBCCTX*, SMBCFILE* f) { return delete Of(f), 0; };
      },
      .smbc_getFunctionOpendir = [](SMBCCTX*) -> OpendirFn {
        return [](SMBCCTX*, const char*) -> SMBCFILE* { return errno = ENOENT, nullptr; };
      },
      .smbc_getFunctionClosedir = [](SMBCCTX*) -> CloseFn {
        return [](SMBCCTX*, SMBCFILE*) { return 0; };
      },
      .smbc_getFunctionUnlink = [](SMBCCTX*) -> UnlinkFn {
        return [](SMBCCTX*, const char* url) { return Files().erase(url) == 1 ? 0 : -1; };
      },
      .smbc_getFunctionStat = [](SMBCCTX*) -> StatFn {
        return [](SMBCCTX*, const char* url, struct stat* st) { return Describe(url, st); };
      },
      .smbc_getFunctionFstat = [](SMBCCTX*) -> FstatFn {
        return [](SMBCCTX*, SMBCFILE* f, struct stat* st) { return Describe(Of(f)->Url, st); };
      },
  };
  return library;
}

}  // namespace scripted_share
