// Reading and writing the bytes and texts of link files.
#include "bytes.h"

#include <cstring>

#include "../win32/unicode.h"

namespace shllink {

// ------------------------------------------------------------ ByteReader

bool ByteReader::ReadU16LE(std::size_t offset, uint16_t* value) const {
  if (!Has(offset, sizeof *value)) return false;
  *value = static_cast<uint16_t>(data_[offset] | (data_[offset + 1] << 8));
  return true;
}

bool ByteReader::ReadU32LE(std::size_t offset, uint32_t* value) const {
  uint16_t low, high;
  if (!ReadU16LE(offset, &low) || !ReadU16LE(offset + 2, &high)) return false;
  *value = (static_cast<uint32_t>(high) << 16) | low;
  return true;
}

bool ByteReader::Slice(std::size_t offset, std::size_t length, Bytes* slice) const {
  if (!Has(offset, length)) return false;
  *slice = data_.subspan(offset, length);
  return true;
}

// ------------------------------------------------------------ texts

bool TextToUtf8(const TextRef& text, char* out, std::size_t capacity) {
  bool cut = false;
  if (text.Data == nullptr || text.Length == 0) {
    if (capacity > 0) out[0] = '\0';
    return true;
  }
  if (text.Encoding == TextEncoding::Unicode)
    portable::Utf16LEToUtf8(text.Data, text.Length, out, capacity, &cut);
  else
    portable::AnsiToUtf8(text.Data, text.Length, out, capacity, &cut);
  return !cut;
}

Wide::Wide(const char* text) {
  const long n = portable::Utf8ToUtf16(text, Units, kMaxWideUnits, portable::Invalid::Replace);
  Ok = n >= 0;
  Length = Ok ? static_cast<std::size_t>(n) : 0;
}

bool Wide::AnsiExact() const {
  uint8_t bytes[3 * kMaxWideUnits];
  bool exact = true;
  portable::Utf16ToAnsi(Units, Length, bytes, sizeof bytes, &exact);
  return exact;
}

// ------------------------------------------------------------ Writer

void Writer::U8(uint8_t v) {
  if (used_ + 1 > capacity_) {
    ok_ = false;
    return;
  }
  out_[used_++] = v;
}

void Writer::U16(uint16_t v) {
  U8(static_cast<uint8_t>(v));
  U8(static_cast<uint8_t>(v >> 8));
}

void Writer::U32(uint32_t v) {
  U16(static_cast<uint16_t>(v));
  U16(static_cast<uint16_t>(v >> 16));
}

void Writer::Raw(Bytes data) {
  if (data.size() > capacity_ - used_) {
    ok_ = false;
    return;
  }
  if (!data.empty()) std::memcpy(out_ + used_, data.data(), data.size());
  used_ += data.size();
}

void Writer::Zeros(std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) U8(0);
}

void Writer::Ansi(const Wide& text) {
  uint8_t bytes[3 * kMaxWideUnits];
  Raw(Bytes(bytes, portable::Utf16ToAnsi(text.Units, text.Length, bytes, sizeof bytes)));
  U8(0);
}

void Writer::Unicode(const Wide& text) {
  for (std::size_t i = 0; i < text.Length; ++i) U16(text.Units[i]);
}

void Writer::UnicodeZ(const Wide& text) {
  Unicode(text);
  U16(0);
}

void Writer::Patch(std::size_t at, Bytes data) {
  if (at > used_ || data.size() > used_ - at) return;
  if (!data.empty()) std::memcpy(out_ + at, data.data(), data.size());
}

void Writer::PatchU16(std::size_t at, uint16_t v) {
  const uint8_t bytes[] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
  Patch(at, Bytes(bytes, sizeof bytes));
}

void Writer::PatchU32(std::size_t at, uint32_t v) {
  PatchU16(at, static_cast<uint16_t>(v));
  PatchU16(at + 2, static_cast<uint16_t>(v >> 16));
}

}  // namespace shllink
