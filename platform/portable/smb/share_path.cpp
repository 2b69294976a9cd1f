// The two forms of a share path: Windows' \\server\share\folder\name (or
// its long form \\?\UNC\server\share\folder\name) and the URL
// smb://server[:port]/share/folder/name that Linux programs use; and the URLs
// the library takes.
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <iterator>

#include "smb_internal.h"
#include "win32/unicode.h"

namespace portable::smb {
namespace {

constexpr char kUrlScheme[] = "smb://";
// Windows' long form of a UNC path, \\?\UNC\server\share\..., whose names are
// taken as they stand.
constexpr char kLongUncPrefix[] = "\\\\?\\UNC\\";

bool IsUnc(const char* name) { return name[0] == '\\' && name[1] == '\\'; }
bool IsLongUnc(const char* name) {
  return strncasecmp(name, kLongUncPrefix, sizeof kLongUncPrefix - 1) == 0;
}
bool IsUrl(const char* name) { return strncasecmp(name, kUrlScheme, sizeof kUrlScheme - 1) == 0; }
bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// How the names of a path are read: as Windows reads a path (either
// separator, '.' and '..' resolved, trailing dots and spaces dropped), or,
// after \\?\UNC\, as they stand (only '\\' separates).
enum class Names { Windows, Literal };
bool Separates(char c, Names names) { return names == Names::Literal ? c == '\\' : IsSeparator(c); }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool IsServerName(const char* server) {
  const std::size_t length = std::strlen(server);
  // \\.\ is Windows' own device namespace, not a server.
  if (length == 0 || std::strcmp(server, ".") == 0 || std::strcmp(server, "..") == 0) return false;
  if (server[0] == '[') {
    if (length < 3 || server[length - 1] != ']') return false;
    for (std::size_t i = 1; i + 1 < length; ++i)
      if (HexValue(server[i]) < 0 && server[i] != ':' && server[i] != '.') return false;
    return true;
  }
  for (const char* p = server; *p != '\0'; ++p) {
    const char c = *p;
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

namespace {

// Copies count bytes of text into out as one component, decoding %XX where
// decode is set.  False where it is empty, is not UTF-8, takes more than
// kMaxNameUnits UTF-16 units, or would hold a separator, a control
// character or a wildcard, which no Windows name holds (the server would
// refuse it too, in terms the library reports like any other failure).
bool TakeComponent(const char* text, std::size_t count, bool decode, char (&out)[kMaxComponent]) {
  std::size_t used = 0;
  for (std::size_t i = 0; i < count; ++i) {
    char c = text[i];
    if (decode && c == '%' && i + 2 < count && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      c = static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    }
    if (static_cast<unsigned char>(c) < 0x20 || std::strchr("*?<>|\"", c) != nullptr ||
        IsSeparator(c) || used + 1 >= sizeof out)
      return false;
    out[used++] = c;
  }
  out[used] = '\0';
  char16_t units[kMaxNameUnits + 1];
  return used > 0 && IsValidUtf8(out) &&
         Utf8ToUtf16(out, units, std::size(units), Invalid::Replace) >= 0;
}

// Drops what Windows drops from a name of a path: from the last, every
// trailing dot and space; from a folder's, one trailing dot (not one of a
// run, such as "...", which names a folder).
void TrimName(char* name, bool last) {
  std::size_t length = std::strlen(name);
  if (last) {
    while (length > 0 && (name[length - 1] == '.' || name[length - 1] == ' ')) --length;
  } else if (length >= 2 && name[length - 1] == '.' && name[length - 2] != '.') {
    --length;
  }
  name[length] = '\0';
}

// Appends "%XX" escapes of text to url at *used, all but the unreserved
// characters of URLs, so that no byte of a name reads as the URL's syntax.
bool AppendEscaped(const char* text, char (&url)[kMaxUrl], std::size_t* used) {
  static const char kHex[] = "0123456789ABCDEF";
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
    const unsigned char c = *p;
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                       (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
    if (*used + 4 > sizeof url) return false;
    if (plain) {
      url[(*used)++] = static_cast<char>(c);
    } else {
      url[(*used)++] = '%';
      url[(*used)++] = kHex[c >> 4];
      url[(*used)++] = kHex[c & 15];
    }
  }
  url[*used] = '\0';
  return true;
}

// Takes the path after the share apart into folder and name.  Read as
// Windows reads a UNC path, '.' is dropped, '..' goes up a folder but never
// above the share, and each name loses the trailing dots and spaces Windows
// drops; read literally, '.' and '..' name no file.
DWORD TakePath(const char* rest, bool decode, Names names, SharePath* path) {
  char components[64][kMaxComponent];
  std::size_t count = 0;
  const char* p = rest;
  while (*p != '\0') {
    while (Separates(*p, names)) ++p;
    if (*p == '\0') break;
    const char* end = p;
    while (*end != '\0' && !Separates(*end, names)) ++end;
    char component[kMaxComponent];
    if (!TakeComponent(p, static_cast<std::size_t>(end - p), decode, component))
      return ERROR_INVALID_NAME;
    p = end;
    const bool dots = std::strcmp(component, ".") == 0 || std::strcmp(component, "..") == 0;
    if (dots && names == Names::Literal) return ERROR_INVALID_NAME;
    if (std::strcmp(component, ".") == 0) continue;
    if (std::strcmp(component, "..") == 0) {
      if (count > 0) --count;
      continue;
    }
    if (names == Names::Windows) {
      TrimName(component, *p == '\0');
      if (component[0] == '\0') return ERROR_INVALID_NAME;
    }
    if (count == std::size(components)) return ERROR_FILENAME_EXCED_RANGE;
    std::strcpy(components[count++], component);
  }
  if (count == 0) return ERROR_INVALID_NAME;
  std::strcpy(path->Name, components[count - 1]);
  std::size_t used = 0;
  path->Folder[0] = '\0';
  for (std::size_t i = 0; i + 1 < count; ++i) {
    const std::size_t length = std::strlen(components[i]);
    if (used + length + 2 > sizeof path->Folder) return ERROR_FILENAME_EXCED_RANGE;
    if (used > 0) path->Folder[used++] = '/';
    std::memcpy(path->Folder + used, components[i], length + 1);
    used += length;
  }
  return ERROR_SUCCESS;
}

}  // namespace

bool IsSharePath(const char* name) { return name != nullptr && (IsUnc(name) || IsUrl(name)); }

DWORD ParseSharePath(const char* name, SharePath* path) {
  const bool url = IsUrl(name);
  const Names names = IsLongUnc(name) ? Names::Literal : Names::Windows;
  const char* p = name + (url                       ? sizeof kUrlScheme - 1
                          : names == Names::Literal ? sizeof kLongUncPrefix - 1
                                                    : 2);
  // The server, and in a URL its port.
  const char* end = p;
  while (*end != '\0' && !Separates(*end, names)) ++end;
  const char* serverEnd = end;
  path->Port = 0;
  if (url) {
    // No user, password or options: credentials never come from the
    // command line.
    if (std::strpbrk(name, "?#") != nullptr) return ERROR_INVALID_NAME;
    for (const char* q = p; q < end; ++q)
      if (*q == '@' || *q == ';') return ERROR_INVALID_NAME;
    const char* colon = nullptr;
    for (const char* q = p; q < end; ++q)
      if (*q == ':' && (*p != '[' || q[-1] == ']')) colon = q;
    if (colon != nullptr) {
      unsigned port = 0;
      if (colon + 1 == end) return ERROR_INVALID_NAME;
      for (const char* q = colon + 1; q < end; ++q) {
        if (*q < '0' || *q > '9') return ERROR_INVALID_NAME;
        port = port * 10 + static_cast<unsigned>(*q - '0');
        if (port > 65535) return ERROR_INVALID_NAME;
      }
      if (port == 0) return ERROR_INVALID_NAME;
      path->Port = port;
      serverEnd = colon;
    }
  }
  const std::size_t serverLength = static_cast<std::size_t>(serverEnd - p);
  if (serverLength == 0 || serverLength >= sizeof path->Server) return ERROR_INVALID_NAME;
  std::memcpy(path->Server, p, serverLength);
  path->Server[serverLength] = '\0';
  if (!IsServerName(path->Server)) return ERROR_INVALID_NAME;

  // The share, then the folders and the name.
  p = end;
  while (Separates(*p, names)) ++p;
  end = p;
  while (*end != '\0' && !Separates(*end, names)) ++end;
  if (!TakeComponent(p, static_cast<std::size_t>(end - p), url, path->Share))
    return ERROR_INVALID_NAME;
  if (std::strcmp(path->Share, ".") == 0 || std::strcmp(path->Share, "..") == 0)
    return ERROR_INVALID_NAME;
  return TakePath(end, url, names, path);
}

bool MakeUrl(const SharePath& path, UrlPart part, char (&url)[kMaxUrl]) {
  int n = path.Port != 0
              ? std::snprintf(url, sizeof url, "%s%s:%u/", kUrlScheme, path.Server, path.Port)
              : std::snprintf(url, sizeof url, "%s%s/", kUrlScheme, path.Server);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof url) return false;
  std::size_t used = static_cast<std::size_t>(n);
  if (part == UrlPart::Server) return true;
  if (!AppendEscaped(path.Share, url, &used)) return false;
  if (part == UrlPart::Share) return true;
  // The folder's components, each escaped, with '/' between them.
  char component[kMaxComponent];
  for (const char* p = path.Folder; *p != '\0';) {
    const char* end = std::strchr(p, '/');
    const std::size_t length = end != nullptr ? static_cast<std::size_t>(end - p) : std::strlen(p);
    std::memcpy(component, p, length);
    component[length] = '\0';
    if (used + 2 > sizeof url) return false;
    url[used++] = '/';
    if (!AppendEscaped(component, url, &used)) return false;
    p += length + (end != nullptr ? 1 : 0);
  }
  if (part == UrlPart::Folder) return true;
  if (used + 2 > sizeof url) return false;
  url[used++] = '/';
  return AppendEscaped(path.Name, url, &used);
}

}  // namespace portable::smb
