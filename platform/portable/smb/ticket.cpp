// Whether a Kerberos ticket gets this run into a server: the user's ticket
// cache (KRB5CCNAME, or the default one) must give a ticket for the
// server's SMB service, as the library would ask for it.  A cache that is
// missing, empty, expired, of a kind nobody serves (KCM: without its
// service) or not a cache at all gives none; nor does a server named by its
// address, since Kerberos names services by host name (Windows uses NTLM
// there too).  The question goes to the GSSAPI the library itself logs on
// with, so that both judge a cache by the same rules: Samba's own Heimdal,
// for one, opens no cache file that another user owns or others may read,
// where MIT Kerberos' gives a ticket from it.
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
};

// The OIDs of a host-based service's name (1.2.840.113554.1.2.1.4) and of
// Kerberos 5 (1.2.840.113554.1.2.2), which every GSSAPI compares by value.
unsigned char hostBasedService[] = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x12, 0x01, 0x02, 0x01, 0x04};
unsigned char kerberos5[] = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x12, 0x01, 0x02, 0x02};
gss_OID_desc hostBasedServiceOid = {sizeof hostBasedService, hostBasedService};
gss_OID_desc kerberos5Oid = {sizeof kerberos5, kerberos5};

// The GSSAPI libraries libsmbclient is built with, as the loader knows them
// once the library is loaded: Samba's own (Debian's build), or MIT's.
constexpr const char* kGssapiNames[] = {"libgssapi-samba4.so.0", "libgssapi_krb5.so.2"};

const Gssapi* OpenGssapi() {
  static Gssapi gssapi;
  static bool tried = false;
  static bool loaded = false;
  if (tried) return loaded ? &gssapi : nullptr;
  tried = true;
  if (OpenLibrary() == nullptr) return nullptr;
  void* handle = nullptr;
  for (const char* name : kGssapiNames)
    if (handle == nullptr) handle = dlopen(name, RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
  if (handle == nullptr) return nullptr;
  auto find = [handle](const char* name, auto* to) {
    *to = reinterpret_cast<std::remove_reference_t<decltype(*to)>>(dlsym(handle, name));
    return *to != nullptr;
  };
  loaded = find("gss_import_name", &gssapi.gss_import_name) &&
           find("gss_init_sec_context", &gssapi.gss_init_sec_context) &&
           find("gss_delete_sec_context", &gssapi.gss_delete_sec_context) &&
           find("gss_release_name", &gssapi.gss_release_name) &&
           find("gss_release_buffer", &gssapi.gss_release_buffer);
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
  if (gss->gss_import_name(&minor, &text, &hostBasedServiceOid, &target) != 0)
    return false;
  // The first token of a logon to the server: it needs the service ticket,
  // which the cache gives or gets with its ticket-granting ticket.
  gss_ctx_id_t context = nullptr;
  gss_buffer_desc token = {0, nullptr};
  const OM_uint32 major = gss->gss_init_sec_context(
      &minor, nullptr, &context, target, &kerberos5Oid, 0, 0, nullptr, nullptr, nullptr,
      &token, nullptr, nullptr);
  (void)gss->gss_release_buffer(&minor, &token);
  if (context != nullptr) (void)gss->gss_delete_sec_context(&minor, &context, nullptr);
  (void)gss->gss_release_name(&minor, &target);
  return (major & (kRoutineErrorMask | kCallingErrorMask)) == 0;
}

}  // namespace portable::smb
