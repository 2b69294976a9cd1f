// Samba's client library, loaded the first time a share is named: a run on
// a local file loads nothing more.
#include <dlfcn.h>

#include "smb_internal.h"

namespace portable::smb {
namespace {

// The library's name with its ABI version, as Debian's libsmbclient
// package installs it.
constexpr char kLibraryName[] = "libsmbclient.so.0";

Library library;
bool tried = false;
bool loaded = false;

template <typename Function>
bool Find(void* handle, const char* name, Function* function) {
  *function = reinterpret_cast<Function>(dlsym(handle, name));
  return *function != nullptr;
}

}  // namespace

const Library* OpenLibrary() {
  if (tried) return loaded ? &library : nullptr;
  tried = true;
  // Kept for the rest of the run: its connections live until the end.
  void* handle = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return nullptr;
#define FIND(name) Find(handle, #name, &library.name)
  loaded = FIND(smbc_new_context) && FIND(smbc_init_context) && FIND(smbc_free_context) &&
           FIND(smbc_setDebug) && FIND(smbc_setOptionDebugToStderr) &&
           FIND(smbc_setOptionProtocols) && FIND(smbc_setTimeout) &&
           FIND(smbc_setOptionOpenShareMode) &&
           FIND(smbc_setOptionUseKerberos) && FIND(smbc_setOptionFallbackAfterKerberos) &&
           FIND(smbc_setOptionUseCCache) && FIND(smbc_setOptionUseNTHash) &&
           FIND(smbc_setOptionNoAutoAnonymousLogin) &&
           FIND(smbc_setFunctionAuthDataWithContext) && FIND(smbc_getFunctionOpen) &&
           FIND(smbc_getFunctionRead) && FIND(smbc_getFunctionWrite) &&
           FIND(smbc_getFunctionLseek) && FIND(smbc_getFunctionFtruncate) &&
           FIND(smbc_getFunctionClose) && FIND(smbc_getFunctionOpendir) &&
           FIND(smbc_getFunctionClosedir) && FIND(smbc_getFunctionUnlink) &&
           FIND(smbc_getFunctionStat) && FIND(smbc_getFunctionFstat);
#undef FIND
  return loaded ? &library : nullptr;
}

}  // namespace portable::smb
