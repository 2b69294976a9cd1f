// What the codec's writing parts share: a bounded byte writer, UTF-16
// copies of texts, and the builders of single structures.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format.h"

namespace shllink {

// Room for the longest text a field takes, in UTF-16 units.
inline constexpr std::size_t kMaxWideUnits = 4096 + 1;

// A UTF-16 copy of a UTF-8 text.
struct Wide {
  char16_t Units[kMaxWideUnits];
  std::size_t Length = 0;
  bool Ok = false;  // false when the text is too long

  explicit Wide(const char* text);
  // True when the ANSI code page holds every character of the text.
  bool AnsiExact() const;
};

// Appends little-endian values to a buffer; once something did not fit,
// ok() is false for good.
class Writer {
 public:
  Writer(uint8_t* out, std::size_t capacity) : out_(out), capacity_(capacity) {}

  bool ok() const { return ok_; }
  std::size_t size() const { return used_; }

  void U8(uint8_t v);
  void U16(uint16_t v);
  void U32(uint32_t v);
  void Raw(Bytes data);
  void Zeros(std::size_t n);
  // The text in the ANSI code page, '?' for what it lacks, and a NUL.
  void Ansi(const Wide& text);
  void Unicode(const Wide& text);
  void UnicodeZ(const Wide& text);
  // Patches a value written earlier.
  void PatchU16(std::size_t at, uint16_t v);
  void PatchU32(std::size_t at, uint32_t v);

 private:
  uint8_t* out_;
  std::size_t capacity_;
  std::size_t used_ = 0;
  bool ok_ = true;
};

// LinkTargetIDList for a canonical "X:\a\b\c"; folder marks the last name
// as a folder.
bool WriteLocalIDList(Writer& w, const char* path, bool folder);

// LinkInfo for a canonical drive or network path.
bool WriteLinkInfo(Writer& w, const char* path, TargetForm form);

// EnvironmentVariableDataBlock or IconEnvironmentDataBlock holding text.
bool WriteEnvironmentBlock(Writer& w, uint32_t signature, const char* text);

// One StringData string, CountCharacters and characters, in the encoding.
bool WriteStringDataText(Writer& w, const char* text, TextEncoding encoding);

}  // namespace shllink
