// The functions of Samba's client library as smb_internal.h declares them
// by hand, held against libsmbclient.h itself where the header is
// installed: built beside the platform layer (platform/CMakeLists.txt),
// this file fails the build where a declaration differs from Samba's.
// Nothing of it goes into the program.
#include <libsmbclient.h>

#include <type_traits>

#include "smb_internal.h"

namespace {

namespace ours = portable::smb;

// A type of smb_internal.h as libsmbclient.h names it.
template <typename T> struct Theirs { using Type = T; };
template <> struct Theirs<ours::SMBCCTX*> { using Type = ::SMBCCTX*; };
template <> struct Theirs<ours::SMBCFILE*> { using Type = ::SMBCFILE*; };
template <> struct Theirs<ours::smbc_share_mode> { using Type = ::smbc_share_mode; };
template <typename Result, typename... Arguments> struct Theirs<Result (*)(Arguments...)> {
  using Type = typename Theirs<Result>::Type (*)(typename Theirs<Arguments>::Type...);
};

#define SAME(name)                                                                          \
  static_assert(std::is_same_v<Theirs<decltype(ours::Library::name)>::Type, decltype(&::name)>, \
                #name " is not declared as libsmbclient.h declares it")

SAME(smbc_new_context);
SAME(smbc_init_context);
SAME(smbc_free_context);
SAME(smbc_setDebug);
SAME(smbc_setOptionDebugToStderr);
SAME(smbc_setOptionProtocols);
SAME(smbc_setTimeout);
SAME(smbc_setOptionOpenShareMode);
SAME(smbc_setOptionUseKerberos);
SAME(smbc_setOptionFallbackAfterKerberos);
SAME(smbc_setOptionUseCCache);
SAME(smbc_setOptionUseNTHash);
SAME(smbc_setOptionNoAutoAnonymousLogin);
SAME(smbc_setFunctionAuthDataWithContext);
SAME(smbc_getFunctionOpen);
SAME(smbc_getFunctionRead);
SAME(smbc_getFunctionWrite);
SAME(smbc_getFunctionLseek);
SAME(smbc_getFunctionFtruncate);
SAME(smbc_getFunctionClose);
SAME(smbc_getFunctionOpendir);
SAME(smbc_getFunctionClosedir);
SAME(smbc_getFunctionUnlink);
SAME(smbc_getFunctionStat);
SAME(smbc_getFunctionFstat);

static_assert(std::is_same_v<ours::smbc_bool, ::smbc_bool>);
static_assert(static_cast<int>(ours::SMBC_SHAREMODE_DENY_WRITE) ==
              static_cast<int>(::SMBC_SHAREMODE_DENY_WRITE));
static_assert(static_cast<int>(ours::SMBC_SHAREMODE_DENY_NONE) ==
              static_cast<int>(::SMBC_SHAREMODE_DENY_NONE));

}  // namespace
