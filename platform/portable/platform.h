// The platform operations the tool uses, for systems other than Windows.
//
// Declared in the names, types and constants of the Windows SDK so that the
// tool's sources compile unchanged against either this header or the SDK
// (platform/windows/platform.h).  Only what the tool calls is here; the
// header doubles as the list of everything it needs from the platform.
//
// Text is "ANSI" in the Windows sense: on these systems the ANSI code page
// is UTF-8, so texts are bytes and turn into UTF-16 only inside link files.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../link_text.h"

// ---------------------------------------------------------------- basic types
typedef int32_t HRESULT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef int BOOL;
typedef unsigned int UINT;
typedef char CHAR;
typedef char16_t WCHAR;
typedef WCHAR OLECHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef const OLECHAR* LPCOLESTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef void* HANDLE;
typedef void* HLOCAL;
typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HMODULE;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#define MAX_PATH 260
#define WINAPI
#define STDMETHODCALLTYPE

// ---------------------------------------------------------------- HRESULTs
#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define HRESULT_CODE(hr) ((hr) & 0xFFFF)
#define HRESULT_FACILITY(hr) (((hr) >> 16) & 0x1fff)
#define FACILITY_WIN32 7
#define FACILITY_WINDOWS 8
#define HRESULT_FROM_WIN32(x)                                                  \
  ((HRESULT)(x) <= 0 ? ((HRESULT)(x))                                          \
                     : ((HRESULT)(((x) & 0x0000FFFF) | (FACILITY_WIN32 << 16) |  \
                                  0x80000000)))
#define E_NOINTERFACE ((HRESULT)0x80004002)
#define E_POINTER ((HRESULT)0x80004003)
#define E_FAIL ((HRESULT)0x80004005)
#define E_UNEXPECTED ((HRESULT)0x8000FFFF)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154)

// Win32 error numbers the portable layer reports (winerror.h).
#define ERROR_SUCCESS 0
#define ERROR_INVALID_FUNCTION 1
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_TOO_MANY_OPEN_FILES 4
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_BAD_ENVIRONMENT 10
#define ERROR_BAD_FORMAT 11
#define ERROR_NOT_SAME_DEVICE 17
#define ERROR_WRITE_PROTECT 19
#define ERROR_BAD_UNIT 20
#define ERROR_NOT_READY 21
#define ERROR_CRC 23
#define ERROR_GEN_FAILURE 31
#define ERROR_SHARING_VIOLATION 32
#define ERROR_NOT_SUPPORTED 50
#define ERROR_BAD_NETPATH 53
#define ERROR_DEV_NOT_EXIST 55
#define ERROR_UNEXP_NET_ERR 59
#define ERROR_BAD_DEV_TYPE 66
#define ERROR_BAD_NET_NAME 67
#define ERROR_INVALID_PARAMETER 87
#define ERROR_BROKEN_PIPE 109
#define ERROR_DISK_FULL 112
#define ERROR_CALL_NOT_IMPLEMENTED 120
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_INVALID_NAME 123
#define ERROR_MOD_NOT_FOUND 126
#define ERROR_DIR_NOT_EMPTY 145
#define ERROR_LOCK_FAILED 167
#define ERROR_BUSY 170
#define ERROR_ALREADY_EXISTS 183
#define ERROR_FILENAME_EXCED_RANGE 206
#define ERROR_SMB1_NOT_AVAILABLE 384
#define ERROR_BAD_FILE_TYPE 222
#define ERROR_FILE_TOO_LARGE 223
#define ERROR_ARITHMETIC_OVERFLOW 534
#define ERROR_OPERATION_ABORTED 995
#define ERROR_NOACCESS 998
#define ERROR_FILE_INVALID 1006
#define ERROR_NO_UNICODE_TRANSLATION 1113
#define ERROR_IO_DEVICE 1117
#define ERROR_POSSIBLE_DEADLOCK 1131
#define ERROR_TOO_MANY_LINKS 1142
#define ERROR_DISK_QUOTA_EXCEEDED 1295
#define ERROR_LOGON_FAILURE 1326
#define ERROR_FILE_CORRUPT 1392
#define ERROR_DISK_CORRUPT 1393
#define ERROR_TIMEOUT 1460
#define ERROR_CANT_RESOLVE_FILENAME 1921
#define ERROR_FILE_ENCRYPTED 6002

// ---------------------------------------------------------------- COM
struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;
inline bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
    return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}

extern const CLSID CLSID_ShellLink;
extern const IID IID_IUnknown;
extern const IID IID_IShellLinkA;
extern const IID IID_IShellLinkW;
extern const IID IID_IPersistFile;

#define CLSCTX_INPROC_SERVER 0x1
#define STGM_READ 0x00000000L

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;

 protected:
  ~IUnknown() = default;
};

HRESULT WINAPI CoInitialize(LPVOID pvReserved);
void WINAPI CoUninitialize();
HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter,
                                DWORD dwClsContext, REFIID riid, LPVOID* ppv);

// ---------------------------------------------------------------- shell link
#define SLGP_RAWPATH 0x4
#define SLR_NO_UI 0x0001
#define SLR_NOUPDATE 0x0008
#define SLR_NOSEARCH 0x0010
#define SLR_NOTRACK 0x0020

#define HOTKEYF_SHIFT 0x01
#define HOTKEYF_CONTROL 0x02
#define HOTKEYF_ALT 0x04
#define HOTKEYF_EXT 0x08

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  CHAR cFileName[MAX_PATH];
  CHAR cAlternateFileName[14];
};

// The methods of IShellLinkA the tool calls (it sets a link's fields
// through them) and its tests call.
struct IShellLinkA : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetPath(LPSTR pszFile, int cch,
                                            WIN32_FIND_DATAA* pfd,
                                            DWORD fFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDescription(LPSTR pszName, int cch) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDescription(LPCSTR pszName) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPSTR pszDir,
                                                        int cch) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCSTR pszDir) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetArguments(LPSTR pszArgs, int cch) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetArguments(LPCSTR pszArgs) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetHotkey(WORD* pwHotkey) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetHotkey(WORD wHotkey) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetShowCmd(int* piShowCmd) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetShowCmd(int iShowCmd) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIconLocation(LPSTR pszIconPath, int cch,
                                                    int* piIcon) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetIconLocation(LPCSTR pszIconPath,
                                                    int iIcon) = 0;
  virtual HRESULT STDMETHODCALLTYPE Resolve(HWND hwnd, DWORD fFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPath(LPCSTR pszFile) = 0;

 protected:
  ~IShellLinkA() = default;
};

struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  WCHAR cFileName[MAX_PATH];
  WCHAR cAlternateFileName[14];
};

// The methods of IShellLinkW the tool calls: it reads a link's texts in
// UTF-16, as the object holds them, so that it knows which of them the ANSI
// code page holds exactly.
struct IShellLinkW : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetPath(LPWSTR pszFile, int cch,
                                            WIN32_FIND_DATAW* pfd,
                                            DWORD fFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDescription(LPWSTR pszName, int cch) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPWSTR pszDir,
                                                        int cch) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetArguments(LPWSTR pszArgs, int cch) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetHotkey(WORD* pwHotkey) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetShowCmd(int* piShowCmd) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIconLocation(LPWSTR pszIconPath, int cch,
                                                    int* piIcon) = 0;
  virtual HRESULT STDMETHODCALLTYPE Resolve(HWND hwnd, DWORD fFlags) = 0;

 protected:
  ~IShellLinkW() = default;
};

// The methods of IPersistFile the tool calls.
struct IPersistFile : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Load(LPCOLESTR pszFileName,
                                         DWORD dwMode) = 0;
  virtual HRESULT STDMETHODCALLTYPE Save(LPCOLESTR pszFileName,
                                         BOOL fRemember) = 0;
  virtual HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR pszFileName) = 0;

 protected:
  ~IPersistFile() = default;
};

// Why the last Load or Save of a link file failed, in words, where the
// error number alone does not say which rule refused what (a link with
// other names in a folder others may write, a lock someone holds on it):
// for the diagnostic trace.  An empty text where there is nothing to add.
// (files/note.cpp)
LPCSTR WINAPI LinkFailureNote();

// ---------------------------------------------------------------- text
#define CP_ACP 0
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_ERR_INVALID_CHARS 0x00000080
#define WC_NO_BEST_FIT_CHARS 0x00000400

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags,
                               LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar);
// UTF-16 into UTF-8, the ANSI code page of these systems, which holds every
// character: only half of a surrogate pair has no counterpart, and becomes
// the default character ('?', or *lpDefaultChar) with *lpUsedDefaultChar
// set.  Nothing is ever best-fit here, whatever the flags.
int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags,
                               LPCWSTR lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte,
                               LPCSTR lpDefaultChar, BOOL* lpUsedDefaultChar);
// One character on: a whole UTF-8 sequence, or one byte that starts none.
LPSTR WINAPI CharNextA(LPCSTR lpsz);
DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR lpSrc, LPSTR lpDst, DWORD nSize);
DWORD WINAPI ExpandEnvironmentStringsW(LPCWSTR lpSrc, LPWSTR lpDst, DWORD nSize);

// ---------------------------------------------------------------- messages
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define LOAD_LIBRARY_AS_DATAFILE 0x00000002
#define LANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))

DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                            DWORD dwLanguageId, LPSTR lpBuffer, DWORD nSize,
                            void* Arguments);
HMODULE WINAPI LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile,
                              DWORD dwFlags);
BOOL WINAPI FreeLibrary(HMODULE hLibModule);
HLOCAL WINAPI LocalFree(HLOCAL hMem);
DWORD WINAPI GetLastError();

// ---------------------------------------------------------------- keyboard
#define MAPVK_VK_TO_VSC 0
UINT WINAPI MapVirtualKeyA(UINT uCode, UINT uMapType);
int WINAPI GetKeyNameTextA(LONG lParam, LPSTR lpString, int cchSize);

// ---------------------------------------------------------------- C runtime
// The system's error number behind the C runtime's last failed call, as
// msvcrt keeps it: here errno, turned into its Win32 number.
unsigned long* __doserrno();
#define _doserrno (*__doserrno())

// ---------------------------------------------------------------- process
// Ends the process with the given code.  The exit status of these systems
// keeps 8 bits: a failing code whose low 8 bits are 0 would read as success,
// so it leaves with status 255 instead.
[[noreturn]] void WINAPI ExitProcess(UINT uExitCode);

// TRUE: the arguments are the command line exactly as it was given.  Here
// they arrive as the bytes they were, with nothing translated on the way
// (a text that is not UTF-8 is refused where it is used, with
// ERROR_INVALID_PARAMETER), so there is nothing to compare.
BOOL WINAPI CheckCommandLineA();
