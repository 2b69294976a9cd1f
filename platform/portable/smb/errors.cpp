// What the library's failures mean, as Win32 error numbers, beyond what
// its errno says (the errno table, errno_table.cpp).
//
// The library reports an SMB failure as an errno (Samba's
// map_errno_from_nt_status).  Against Samba 4.17 its open gives EBUSY for a
// sharing violation, ECONNREFUSED for a server that refuses the connection
// and EACCES for a read-only file; but a wrong password is EACCES as well,
// and a missing share, folder and file are all ENOENT.  Those are told
// apart by a second request that needs only one part (link_io.cpp), whose
// failure ProbeError reads; and the NT status its messages name, where it
// names one (Win32FromStatusName).
#include <cerrno>
#include <cstring>

#include "smb_internal.h"

namespace portable::smb {
namespace {

struct ProbeMapping {
  Probe Part;
  int Errno;
  DWORD Win32;
};

// What it means when a request that needs only one part fails.  The
// server's list of shares needs only the logon; the share's folder only the
// share; the link's folder only that folder.
constexpr ProbeMapping kProbeMappings[] = {
    {Probe::Logon, EACCES, ERROR_LOGON_FAILURE},
    {Probe::Logon, EPERM, ERROR_LOGON_FAILURE},
    {Probe::Logon, ENOENT, ERROR_BAD_NETPATH},  // a name that resolves to no server
    {Probe::Logon, EINVAL, ERROR_BAD_NETPATH},
    {Probe::Share, ENOENT, ERROR_BAD_NET_NAME},
    {Probe::Share, ENODEV, ERROR_BAD_NET_NAME},  // a printer's queue, or the like
    {Probe::Share, EACCES, ERROR_ACCESS_DENIED},
    {Probe::Share, EPERM, ERROR_ACCESS_DENIED},
    {Probe::Folder, ENOENT, ERROR_PATH_NOT_FOUND},
    {Probe::Folder, ENOTDIR, ERROR_PATH_NOT_FOUND},
    {Probe::Folder, EACCES, ERROR_ACCESS_DENIED},
    {Probe::Folder, EPERM, ERROR_ACCESS_DENIED},
};

struct StatusMapping {
  const char* Name;
  DWORD Win32;
};

// The NT statuses the library's messages name for a failure it reports with
// a bare ENOENT (the target of a DFS referral that cannot be reached or
// refuses the logon), as Windows gives them for the same failure.
constexpr StatusMapping kStatusMappings[] = {
    {"NT_STATUS_LOGON_FAILURE", ERROR_LOGON_FAILURE},
    {"NT_STATUS_WRONG_PASSWORD", ERROR_LOGON_FAILURE},
    {"NT_STATUS_NO_SUCH_USER", ERROR_LOGON_FAILURE},
    {"NT_STATUS_ACCESS_DENIED", ERROR_ACCESS_DENIED},
    {"NT_STATUS_BAD_NETWORK_NAME", ERROR_BAD_NET_NAME},
    {"NT_STATUS_BAD_NETWORK_PATH", ERROR_BAD_NETPATH},
    {"NT_STATUS_CONNECTION_REFUSED", ERROR_BAD_NETPATH},
    {"NT_STATUS_HOST_UNREACHABLE", ERROR_BAD_NETPATH},
    {"NT_STATUS_NETWORK_UNREACHABLE", ERROR_BAD_NETPATH},
    {"NT_STATUS_IO_TIMEOUT", ERROR_BAD_NETPATH},
    {"NT_STATUS_CONNECTION_RESET", ERROR_UNEXP_NET_ERR},
    {"NT_STATUS_CONNECTION_DISCONNECTED", ERROR_UNEXP_NET_ERR},
};

}  // namespace

DWORD Win32FromStatusName(const char* name) {
  for (const StatusMapping& m : kStatusMappings)
    if (std::strcmp(m.Name, name) == 0) return m.Win32;
  return 0;
}

DWORD ProbeError(Probe probe, int error) {
  for (const ProbeMapping& m : kProbeMappings)
    if (m.Part == probe && m.Errno == error) return m.Win32;
  // Any other failure of a probe is the network's, or the server's.
  const DWORD mapped = Win32FromErrno(error, ErrnoFrom::Library);
  return mapped == ERROR_BAD_NETPATH || mapped == ERROR_UNEXP_NET_ERR ? mapped : 0;
}

}  // namespace portable::smb
