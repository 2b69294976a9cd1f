// Target canonicalisation: a drive or network path made canonical as
// Windows makes it before it builds an ID list.
#include "target.h"

#include <cstring>

namespace shllink {
namespace {

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// "\\server\share..." with a server and a share name.
bool IsNetworkPath(const char* t) {
  if (t[0] != '\\' || t[1] != '\\') return false;
  const char* server = t + 2;
  const char* slash = std::strchr(server, '\\');
  return slash != nullptr && slash != server && slash[1] != '\0' && slash[1] != '\\';
}

}  // namespace

bool HasEnvironmentReference(const char* text) {
  const char* open = std::strchr(text, '%');
  while (open != nullptr) {
    const char* close = std::strchr(open + 1, '%');
    if (close == nullptr) return false;
    if (close > open + 1) return true;
    open = close;
  }
  return false;
}

TargetForm CanonicalTarget(const char* target, char* out, std::size_t capacity,
                           bool* folder) {
  *folder = false;
  if (capacity == 0) return TargetForm::None;
  out[0] = '\0';
  if (target[0] == '\0') return TargetForm::None;
  const std::size_t length = std::strlen(target);
  auto raw = [&]() {
    if (length >= capacity) return TargetForm::None;
    std::memcpy(out, target, length + 1);
    return TargetForm::Environment;
  };
  if (HasEnvironmentReference(target) || length >= capacity) return raw();

  // Separators as backslashes, runs of them as one past a UNC lead.
  std::size_t n = 0;
  for (std::size_t i = 0; i < length; ++i) {
    const char c = target[i] == '/' ? '\\' : target[i];
    if (c == '\\' && n > 1 && out[n - 1] == '\\') continue;
    out[n++] = c;
  }
  out[n] = '\0';

  // The root that "." and ".." never climb above: "X:\", or "\\server\share".
  std::size_t root;
  TargetForm form;
  if (IsLetter(out[0]) && out[1] == ':' && out[2] == '\\') {
    root = 3;
    form = TargetForm::LocalPath;
  } else if (IsNetworkPath(out)) {
    const char* share = std::strchr(out + 2, '\\') + 1;
    const char* end = std::strchr(share, '\\');
    root = end ? static_cast<std::size_t>(end - out) : n;
    form = TargetForm::NetworkPath;
  } else {
    return raw();
  }
  *folder = n > root && out[n - 1] == '\\';

  // The names after the root, one at a time, into place.
  std::size_t write = root;
  std::size_t read = root;
  while (read < n) {
    while (read < n && out[read] == '\\') ++read;
    std::size_t end = read;
    while (end < n && out[end] != '\\') ++end;
    const std::size_t nameLength = end - read;
    if (nameLength == 1 && out[read] == '.') {
      // stays where it is
    } else if (nameLength == 2 && out[read] == '.' && out[read + 1] == '.') {
      while (write > root && out[write - 1] != '\\') --write;
      if (write > root) --write;  // the separator before the name
    } else if (nameLength > 0) {
      if (write > 0 && out[write - 1] != '\\') out[write++] = '\\';
      std::memmove(out + write, out + read, nameLength);
      write += nameLength;
    }
    read = end;
  }
  out[write] = '\0';
  return form;
}

}  // namespace shllink
