// What the fuzz targets share: a check that stops the run with its reason,
// files on a memory file system, and the shell link object's fields.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform.h"

// Stops the process, with the condition and where it was checked, when the
// condition does not hold.  libFuzzer then keeps the input as a crash.
#define FUZZ_CHECK(condition) \
  ((condition) ? (void)0 : fuzz::Fail(#condition, __FILE__, __LINE__))

namespace fuzz {

[[noreturn]] void Fail(const char* what, const char* file, int line);
// Names the input a failure message should name (the unit tests set it).
void SetInputName(const char* name);

// A file of this process's folder in /dev/shm (in TMPDIR where there is no
// /dev/shm), by its name in that folder; the folder goes at exit.
struct File {
  char Path[256];
  char16_t Wide[256];  // the same name in UTF-16, for IPersistFile
};
const File& FileNamed(const char* name);

void WriteFile(const File& file, const uint8_t* data, std::size_t size);
// Reads up to capacity bytes; returns the file's size.
std::size_t ReadFile(const File& file, uint8_t* buffer, std::size_t capacity);

// A shell link object from CoCreateInstance, both its interfaces.
struct Object {
  IShellLinkA* Link = nullptr;
  IPersistFile* Persist = nullptr;
};
Object CreateObject();
void ReleaseObject(Object* object);
HRESULT Load(const Object& object, const File& file);
HRESULT Save(const Object& object, const File& file);

// Runs f with standard output going nowhere.
void BeginSilence();
void EndSilence();
template <typename F>
auto Silently(F f) -> decltype(f()) {
  BeginSilence();
  auto result = f();
  EndSilence();
  return result;
}

}  // namespace fuzz
