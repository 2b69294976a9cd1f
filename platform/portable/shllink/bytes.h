// Bytes and texts in and out of a link file: a bounds-checked reader, a
// bounded writer, and the conversions of texts between UTF-8 and the
// file's encodings.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../platform.h"
#include "format.h"

namespace shllink {

// A bounds-checked little-endian reader over a byte range.
class ByteReader {
 public:
  explicit ByteReader(Bytes data) : data_(data) {}
  bool Has(std::size_t offset, std::size_t length) const {
    return offset <= data_.size() && length <= data_.size() - offset;
  }
  [[nodiscard]] bool ReadU16LE(std::size_t offset, uint16_t* value) const;
  [[nodiscard]] bool ReadU32LE(std::size_t offset, uint32_t* value) const;
  // The bytes [offset, offset + length), or false if they are not all there.
  [[nodiscard]] bool Slice(std::size_t offset, std::size_t length, Bytes* slice) const;

 private:
  Bytes data_;
};

// Converts a TextRef into UTF-8, cut at a character boundary to fit
// capacity - 1 bytes, terminated.  Returns false when it was cut.
bool TextToUtf8(const TextRef& text, char* out, std::size_t capacity);

// Room for the longest text a field takes, in UTF-16 units: a unit takes
// at least one byte of UTF-8.
inline constexpr std::size_t kMaxWideUnits = kMaxLinkTextBytes + 1;

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
  // The bytes written from start on.
  Bytes Since(std::size_t start) const { return Bytes(out_ + start, used_ - start); }

  void U8(uint8_t v);
  void U16(uint16_t v);
  void U32(uint32_t v);
  void Raw(Bytes data);
  void Zeros(std::size_t n);
  // The text in the ANSI code page, '?' for what it lacks, and a NUL.
  void Ansi(const Wide& text);
  void Unicode(const Wide& text);
  void UnicodeZ(const Wide& text);
  // Puts bytes over some written earlier.
  void Patch(std::size_t at, Bytes data);
  void PatchU16(std::size_t at, uint16_t v);
  void PatchU32(std::size_t at, uint32_t v);

 private:
  uint8_t* out_;
  std::size_t capacity_;
  std::size_t used_ = 0;
  bool ok_ = true;
};

}  // namespace shllink
