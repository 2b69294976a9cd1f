// Whether a Kerberos ticket gets this run into a server: the user's ticket
// cache (KRB5CCNAME, or the default one) must give a ticket for the
// server's SMB service, as the library would ask for it.  A cache that is
// missing, empty, expired, of a kind nobody serves (KCM: without its
// service) or not a cache at all gives none; nor does a server named by its
// address, since Kerberos names services by host name (Windows uses NTLM
// there too).  The GSSAPI library is loaded only for a share named by a host
// name, and the program is not linked with it.
#include <arpa/inet.h>
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "smb_internal.h"

namespace portable::smb {
namespace {

// GSSAPI (RFC 2744), declared as far as it is used.
using OM_uint32 = uint32_t;
struct gss_OID_desc {
  OM_uint32 length;
  void* elements;
};
using gss_OID = gss_OID_desc*;
struct gss_buffer_desc {
  std::size_t length;
  void* value;
};
using gss_name_t = void*;
using gss_ctx_id_t = void*;
constexpr OM_uint32 kRoutineErrorMask = 0xFFu << 16;  // GSS_ROUTINE_ERROR_MASK
constexpr OM_uint32 kCallingErrorMask = 0xFFu << 24;  // GSS_CALLING_ERROR_MASK

struct Gssapi {
  OM_uint32 (*gss_import_name)(OM_uint32* minor, gss_buffer_desc* name, gss_OID type,
                               gss_name_t* out);
  OM_uint32 (*gss_init_sec_context)(OM_uint32* minor, void* credential, gss_ctx_id_t* context,
                                    gss_name_t target, gss_OID mech, OM_uint32 flags,
                                    OM_uint32 time, void* bindings, gss_buffer_desc* input,
                                    gss_OID* actualMech, gss_buffer_desc* output,
                                    OM_uint32* retFlags, OM_uint32* timeRec);
  OM_uint32 (*gss_delete_sec_context)(OM_uint32* minor, gss_ctx_id_t* context,
                                      gss_buffer_desc* output);
  OM_uint32 (*gss_release_name)(OM_uint32* minor, gss_name_t* name);
  OM_uint32 (*gss_release_buffer)(OM_uint32* minor, gss_buffer_desc* buffer);
  gss_OID* GSS_C_NT_HOSTBASED_SERVICE;
  gss_OID* gss_mech_krb5;
};

// MIT Kerberos' GSSAPI library, as Debian's libgssapi-krb5-2 installs it
// (and as libsmbclient itself uses it).
constexpr char kGssapiName[] = "libgssapi_krb5.so.2";

const Gssapi* OpenGssapi() {
  static Gssapi gssapi;
  static bool tried = false;
  static bool loaded = false;
  if (tried) return loaded ? &gssapi : nullptr;
  tried = true;
  void* handle = dlopen(kGssapiName, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return nullptr;
  auto find = [handle](const char* name, auto* to) {
    *to = reinterpret_cast<std::remove_reference_t<decltype(*to)>>(dlsym(handle, name));
    return *to != nullptr;
  };
  loaded = find("gss_import_name", &gssapi.gss_import_name) &&
           find("gss_init_sec_context", &gssapi.gss_init_sec_context) &&
           find("gss_delete_sec_context", &gssapi.gss_delete_sec_context) &&
           find("gss_release_name", &gssapi.gss_release_name) &&
           find("gss_release_buffer", &gssapi.gss_release_buffer) &&
           find("GSS_C_NT_HOSTBASED_SERVICE", &gssapi.GSS_C_NT_HOSTBASED_SERVICE) &&
           find("gss_mech_krb5", &gssapi.gss_mech_krb5);
  return loaded ? &gssapi : nullptr;
}

}  // namespace

bool IsAddress(const char* server) {
  unsigned char address[16];
  if (inet_pton(AF_INET, server, address) == 1) return true;
  return server[0] == '[';  // only an IPv6 address is bracketed (share_path.cpp)
}

bool TicketGetsIn(const char* server) {
  if (IsAddress(server)) return false;
  const Gssapi* gss = OpenGssapi();
  if (gss == nullptr) return false;
  char service[kMaxServer + 8];
  const int n = std::snprintf(service, sizeof service, "cifs@%s", server);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof service) return false;
  OM_uint32 minor = 0;
  gss_buffer_desc text = {static_cast<std::size_t>(n), service};
  gss_name_t target = nullptr;
  if (gss->gss_import_name(&minor, &text, *gss->GSS_C_NT_HOSTBASED_SERVICE, &target) != 0)
    return false;
  // The first token of a logon to the server: it needs the service ticket,
  // which the cache gives or gets with its ticket-granting ticket.
  gss_ctx_id_t context = nullptr;
  gss_buffer_desc token = {0, nullptr};
  const OM_uint32 major = gss->gss_init_sec_context(
      &minor, nullptr, &context, target, *gss->gss_mech_krb5, 0, 0, nullptr, nullptr, nullptr,
      &token, nullptr, nullptr);
  (void)gss->gss_release_buffer(&minor, &token);
  if (context != nullptr) (void)gss->gss_delete_sec_context(&minor, &context, nullptr);
  (void)gss->gss_release_name(&minor, &target);
  return (major & (kRoutineErrorMask | kCallingErrorMask)) == 0;
}

}  // namespace portable::smb
