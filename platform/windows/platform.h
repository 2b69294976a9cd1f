// The platform operations the tool uses, on Windows: the SDK itself.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <stdlib.h>  // _doserrno

#include "../link_text.h"

// TRUE when the ANSI command line, from which the C runtime makes argv, is
// the program's UTF-16 command line exactly.  Windows makes the ANSI form
// with best-fit mapping: a character the ANSI code page lacks becomes '?'
// or a look-alike (the Polish L with stroke an "L", a fullwidth quotation
// mark a real '"' that can end an argument).  Where the two differ:
// FALSE, with ERROR_NO_UNICODE_TRANSLATION as the last error.
// (command_line.cpp)
BOOL WINAPI CheckCommandLineA();

// LoadLibraryExA of a DLL by its name alone, from the system folder and by
// its full path there; a name with a folder in it fails.  The tool's own
// folder (c:\windows\temp for the kit's copy) and the current folder are
// never searched.  The tool's loads go through it (system_dlls.cpp).
HMODULE WINAPI SystemLibraryExA(LPCSTR name, HANDLE file, DWORD flags);
#define LoadLibraryExA SystemLibraryExA

// Why the last Load or Save of a link file failed, in words, beyond its
// error number: Windows' shell link object says nothing more.
inline LPCSTR WINAPI LinkFailureNote() { return ""; }
