// ExpandEnvironmentStringsA against a plain model of what it promises:
// %NAME% becomes the value of the variable of that name, ASCII case
// folded; an unknown or empty name stays as written, both percent signs,
// and the scan goes on after it; a percent sign without a partner stays.
// The result counts the whole expansion and its terminator; the buffer
// gets as much as fits, terminated, and nothing past its size.
// ExpandEnvironmentStringsW does the same in UTF-16: of a text in UTF-16,
// the UTF-16 of the expansion, counted in units (checked where the text
// and the values are UTF-8: bytes that are not could make a character
// with their neighbours across a reference only once joined).
//
// Input: the buffer size (one byte, times three), then NAME=VALUE lines of
// the environment, then the text, after the last line feed.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>

#include "fuzz_support.h"
#include "fuzz_targets.h"

extern char** environ;

namespace {

constexpr std::size_t kMaxVariables = 8;

char Fold(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Fold(a[i]) != Fold(b[i])) return false;
  return true;
}

bool Utf8(const std::string& text) {
  static WCHAR wide[4096];
  return text.empty() ||
         MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.c_str(), -1, wide, 4096) > 0;
}

struct Variable {
  std::string Name, Value;
};

std::string Model(const std::string& text, const Variable* variables, std::size_t count) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t open = text.find('%', i);
    const std::size_t close = open == std::string::npos ? open : text.find('%', open + 1);
    if (close == std::string::npos) return out + text.substr(i);
    out += text.substr(i, open - i);
    const std::string name = text.substr(open + 1, close - open - 1);
    const Variable* found = nullptr;
    for (std::size_t v = 0; v < count && !name.empty(); ++v)
      if (SameName(variables[v].Name, name)) found = &variables[v];
    out += found != nullptr ? found->Value : "%" + name + "%";
    i = close + 1;
  }
  return out;
}

}  // namespace

int FuzzExpand(const uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const DWORD bufferSize = data[0] * 3u;
  std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  rest = rest.substr(0, rest.find('\0'));

  // The environment: lines with a name before '=', no two names alike.
  Variable variables[kMaxVariables];
  std::size_t count = 0;
  std::string entries[kMaxVariables];
  char* environment[kMaxVariables + 1] = {};
  std::size_t end;
  while ((end = rest.find('\n')) != std::string::npos) {
    const std::string line = rest.substr(0, end);
    rest.erase(0, end + 1);
    const std::size_t equals = line.find('=');
    if (equals == 0 || equals == std::string::npos || count == kMaxVariables) continue;
    Variable v{line.substr(0, equals), line.substr(equals + 1)};
    bool taken = false;
    for (std::size_t i = 0; i < count; ++i) taken |= SameName(variables[i].Name, v.Name);
    if (taken) continue;
    entries[count] = line;
    environment[count] = entries[count].data();
    variables[count++] = v;
  }
  const std::string expected = Model(rest, variables, count);

  static char buffer[1024];
  std::memset(buffer, 0x7F, sizeof buffer);
  // Names of up to 1000 bytes, which the wide form looks up.
  bool wideToo = rest.size() < 1000 && Utf8(rest);
  for (std::size_t v = 0; v < count; ++v) wideToo = wideToo && Utf8(variables[v].Value);
  static WCHAR wideText[1024], wideExpected[4096], wideBuffer[1024];
  DWORD wideN = 0;
  char** saved = environ;
  environ = environment;
  const DWORD n = ExpandEnvironmentStringsA(rest.c_str(), bufferSize == 0 ? nullptr : buffer,
                                            bufferSize);
  if (wideToo) {
    FUZZ_CHECK(MultiByteToWideChar(CP_ACP, 0, rest.c_str(), -1, wideText, 1024) > 0);
    FUZZ_CHECK(MultiByteToWideChar(CP_ACP, 0, expected.c_str(), -1, wideExpected, 4096) > 0 ||
               expected.size() >= 4096);
    std::fill(std::begin(wideBuffer), std::end(wideBuffer), WCHAR{0x7F});
    wideN = ExpandEnvironmentStringsW(wideText, bufferSize == 0 ? nullptr : wideBuffer,
                                      bufferSize);
  }
  environ = saved;

  if (wideToo && expected.size() < 4096) {
    std::size_t units = 0;
    while (wideExpected[units] != 0) ++units;
    FUZZ_CHECK(wideN == units + 1);
    if (bufferSize != 0) {
      FUZZ_CHECK(wideBuffer[bufferSize] == 0x7F);
      const std::size_t kept = std::min<std::size_t>(units, bufferSize - 1);
      FUZZ_CHECK(std::equal(wideBuffer, wideBuffer + kept, wideExpected));
      FUZZ_CHECK(wideBuffer[kept] == 0);
    }
  }

  FUZZ_CHECK(n == expected.size() + 1);
  if (bufferSize == 0) return 0;
  FUZZ_CHECK(buffer[bufferSize] == 0x7F);
  const std::size_t kept = std::min<std::size_t>(expected.size(), bufferSize - 1);
  FUZZ_CHECK(std::memcmp(buffer, expected.data(), kept) == 0);
  FUZZ_CHECK(buffer[kept] == '\0');
  return 0;
}
