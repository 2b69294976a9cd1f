// The file operations of dialprep's Windows runtime.  Names come as UTF-8
// and go to the wide-character API, so that a folder of any name works; a
// copy never writes through a link or another name of a file; the program
// to start is held, so that nobody can change it between its comparison
// with the kit's copy and its start.
#pragma once

#include <windows.h>

#include <cstddef>

namespace dialprep {

// Room for a path in UTF-16: the longest current directory and a file name.
inline constexpr int kWidePathSize = 1024 + 32;

// UTF-8 into UTF-16, terminated; false when it is not UTF-8 or does not fit.
bool ToWide(const char* text, WCHAR (&wide)[kWidePathSize]);
// UTF-16 into UTF-8, terminated; false when it does not fit.
bool ToUtf8(const WCHAR* wide, char* text, std::size_t size);

// Whether the ANSI code page holds the UTF-8 text exactly, with no
// character best-fit to a look-alike.
bool AnsiCodePageHolds(const char* text);

// Copies source to destination as a new file, never into one that is
// there.  The old name is removed first, through a handle to itself: a
// folder, a symbolic link or a junction there fails the copy and stays; a
// read-only file has its attribute cleared first, as an installer replaces
// its own files; a file with other names (hard links) keeps its contents
// under them.  The new file is made only where the name is free, and fails
// when someone has taken the name meanwhile.
bool CopyOver(const char* source, const char* destination);

// Removes the file at path as CopyOver frees a destination's name (a link
// there is refused and stays; another name of the file keeps it).  True
// when no file of that name is left.
bool RemoveFile(const char* path);

// A program file held open so that nobody can write, rename or delete it.
class HeldProgram {
 public:
  HeldProgram() = default;
  HeldProgram(const HeldProgram&) = delete;
  HeldProgram& operator=(const HeldProgram&) = delete;
  ~HeldProgram() { Release(); }

  // Holds path when it is a plain file with the bytes of original; else
  // false, and nothing held.
  bool Hold(const char* path, const char* original);
  void Release();

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

}  // namespace dialprep
