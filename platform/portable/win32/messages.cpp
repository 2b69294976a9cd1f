// FormatMessageA and the message tables behind it.
//
// The texts are the project's own, short and plain.  "netmsg.dll" stands
// for the table of network error numbers, which only a caller that loads
// it gets to search.
#include <cstring>
#include <iterator>
#include <strings.h>

#include "internal.h"
#include "platform.h"

namespace {

struct Message {
  DWORD Id;
  const char* Text;
};

// The numbers with a message that only this table names, as winerror.h
// names them.
enum : DWORD {
  ERROR_INVALID_DATA = 13,
  ERROR_OUTOFMEMORY = 14,
  ERROR_HANDLE_EOF = 38,
  ERROR_HANDLE_DISK_FULL = 39,
  ERROR_FILE_EXISTS = 80,
  ERROR_BAD_PATHNAME = 161,
  ERROR_DIRECTORY = 267,
  ERROR_MR_MID_NOT_FOUND = 317,
};
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001);
constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0);

// Win32 error numbers and the HRESULTs that carry no error number.
constexpr Message kSystemMessages[] = {
    {ERROR_SUCCESS, "The operation finished without error.\n"},
    {ERROR_INVALID_FUNCTION, "The function asked for is not valid here.\n"},
    {ERROR_FILE_NOT_FOUND, "The file cannot be found.\n"},
    {ERROR_PATH_NOT_FOUND, "The path cannot be found.\n"},
    {ERROR_TOO_MANY_OPEN_FILES, "Too many files are open.\n"},
    {ERROR_ACCESS_DENIED, "Access is refused.\n"},
    {ERROR_INVALID_HANDLE, "The handle is not valid.\n"},
    {ERROR_NOT_ENOUGH_MEMORY, "There is not enough memory for this command.\n"},
    {ERROR_BAD_ENVIRONMENT,
     "The file SHORTCUT_SMB_CREDENTIALS names cannot be used: it must be a regular file of this "
     "user's that no other user may read or change (chmod 600), with a username= line.\n"},
    {ERROR_BAD_FORMAT, "The file is not in a format that can be read.\n"},
    {ERROR_INVALID_DATA, "The data is not valid.\n"},
    {ERROR_OUTOFMEMORY, "There is not enough memory to finish the operation.\n"},
    {ERROR_NOT_SAME_DEVICE, "The file cannot be moved to another disk.\n"},
    {ERROR_WRITE_PROTECT, "The medium is write-protected.\n"},
    {ERROR_BAD_UNIT, "The device cannot be found.\n"},
    {ERROR_NOT_READY, "The device is not ready: no medium is in it.\n"},
    {ERROR_CRC, "The data read back failed its check.\n"},
    {ERROR_GEN_FAILURE, "The system could not carry out the operation.\n"},
    {ERROR_SHARING_VIOLATION, "The file is in use by another process.\n"},
    {ERROR_HANDLE_EOF, "The end of the file was reached.\n"},
    {ERROR_HANDLE_DISK_FULL, "The disk is full.\n"},
    {ERROR_NOT_SUPPORTED, "This request is not supported.\n"},
    {ERROR_BAD_NETPATH, "The server cannot be reached on the network.\n"},
    {ERROR_DEV_NOT_EXIST, "The device or network resource is no longer there.\n"},
    {ERROR_UNEXP_NET_ERR, "The network failed unexpectedly.\n"},
    {ERROR_BAD_DEV_TYPE, "The share is not a share of files.\n"},
    {ERROR_BAD_NET_NAME, "The server has no share of that name.\n"},
    {ERROR_FILE_EXISTS, "The file already exists.\n"},
    {ERROR_INVALID_PARAMETER, "A parameter is not valid.\n"},
    {ERROR_BROKEN_PIPE, "The other end of the pipe has been closed.\n"},
    {ERROR_DISK_FULL, "There is not enough space on the disk.\n"},
    {ERROR_CALL_NOT_IMPLEMENTED, "This system does not provide the function.\n"},
    {ERROR_INSUFFICIENT_BUFFER, "The buffer given to the call is too small.\n"},
    {ERROR_INVALID_NAME, "The file name, folder name or volume label is not valid.\n"},
    {ERROR_MOD_NOT_FOUND,
     "A library the operation needs is not installed: links on shares need the package "
     "libsmbclient.\n"},
    {ERROR_DIR_NOT_EMPTY, "The folder is not empty.\n"},
    {ERROR_BAD_PATHNAME, "The path given is not valid.\n"},
    {ERROR_LOCK_FAILED, "The file could not be locked.\n"},
    {ERROR_BUSY, "The resource is busy.\n"},
    {ERROR_ALREADY_EXISTS, "The file cannot be created because it already exists.\n"},
    {ERROR_FILENAME_EXCED_RANGE, "The file name or extension is too long.\n"},
    {ERROR_SMB1_NOT_AVAILABLE, "The server speaks only SMB1, which is not safe and not used.\n"},
    {ERROR_BAD_FILE_TYPE,
     "The file is a device, pipe, socket or kernel file, which cannot hold a link.\n"},
    {ERROR_FILE_TOO_LARGE, "The file is too large for this operation.\n"},
    {ERROR_DIRECTORY, "The folder name is not valid.\n"},
    {ERROR_ARITHMETIC_OVERFLOW, "A value is too large for the system to hold.\n"},
    {ERROR_OPERATION_ABORTED, "The operation was broken off.\n"},
    {ERROR_NOACCESS, "Memory that was needed could not be reached.\n"},
    {ERROR_FILE_INVALID, "The file changed on its server, and the handle to it is no longer good.\n"},
    {ERROR_NO_UNICODE_TRANSLATION, "The text has no counterpart in the code page.\n"},
    {ERROR_IO_DEVICE, "A device input or output error occurred.\n"},
    {ERROR_POSSIBLE_DEADLOCK, "Waiting for the lock could have waited for ever.\n"},
    {ERROR_TOO_MANY_LINKS, "The file has as many names as it may have.\n"},
    {ERROR_DISK_QUOTA_EXCEEDED, "The disk quota has been used up.\n"},
    {ERROR_LOGON_FAILURE, "The server refused the user name or password.\n"},
    {ERROR_FILE_CORRUPT, "The file is damaged and cannot be read.\n"},
    {ERROR_DISK_CORRUPT, "The file system on the disk is damaged.\n"},
    {ERROR_TIMEOUT, "The operation did not finish in the time allowed.\n"},
    {ERROR_CANT_RESOLVE_FILENAME, "The name of the file cannot be resolved.\n"},
    {ERROR_FILE_ENCRYPTED, "The file is encrypted, and its key is not at hand.\n"},
    {static_cast<DWORD>(E_NOTIMPL), "This operation is not implemented.\n"},
    {static_cast<DWORD>(E_NOINTERFACE), "The object does not support that interface.\n"},
    {static_cast<DWORD>(E_POINTER), "A pointer that was needed is missing.\n"},
    {static_cast<DWORD>(E_FAIL), "The operation failed for an unknown reason.\n"},
    {static_cast<DWORD>(E_UNEXPECTED), "Something unexpected went wrong.\n"},
    {static_cast<DWORD>(REGDB_E_CLASSNOTREG), "The class is not registered.\n"},
    {static_cast<DWORD>(CO_E_NOTINITIALIZED), "COM has not been set up for this thread.\n"},
};

// Network error numbers (2100 to 2999), as lmerr.h names them.
enum : DWORD {
  NERR_NetNotStarted = 2102,
  NERR_RemoteOnly = 2106,
  NERR_UserNotFound = 2221,
  NERR_UseNotFound = 2250,
  NERR_NetNameNotFound = 2310,
};

// The table of "netmsg.dll".
constexpr Message kNetworkMessages[] = {
    {NERR_NetNotStarted, "No workstation driver is installed.\n"},
    {NERR_RemoteOnly, "This can only be done on a server.\n"},
    {NERR_UserNotFound, "The user name cannot be found.\n"},
    {NERR_UseNotFound, "This network connection does not exist.\n"},
    {NERR_NetNameNotFound, "This shared resource does not exist.\n"},
};

struct MessageTable {
  const Message* Messages;
  std::size_t Count;
};

const MessageTable kSystemTable = {kSystemMessages, std::size(kSystemMessages)};
const MessageTable kNetworkTable = {kNetworkMessages,
                                    std::size(kNetworkMessages)};

const char* Lookup(const MessageTable& table, DWORD id) {
  for (std::size_t i = 0; i < table.Count; ++i)
    if (table.Messages[i].Id == id) return table.Messages[i].Text;
  return nullptr;
}

// The one buffer FormatMessageA hands out; LocalFree gives it back.
char allocatedText[512];
bool allocatedInUse = false;

}  // namespace

HMODULE WINAPI LoadLibraryExA(LPCSTR lpLibFileName, HANDLE, DWORD dwFlags) {
  if (lpLibFileName != nullptr && (dwFlags & LOAD_LIBRARY_AS_DATAFILE) != 0 &&
      strcasecmp(lpLibFileName, "netmsg.dll") == 0) {
    return reinterpret_cast<HMODULE>(const_cast<MessageTable*>(&kNetworkTable));
  }
  SetPortableLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
  return hLibModule == reinterpret_cast<HMODULE>(
                           const_cast<MessageTable*>(&kNetworkTable));
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
  if (hMem == allocatedText) allocatedInUse = false;
  return nullptr;
}

DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                            DWORD, LPSTR lpBuffer, DWORD nSize, void*) {
  const char* text = nullptr;
  if ((dwFlags & FORMAT_MESSAGE_FROM_HMODULE) != 0 && lpSource == &kNetworkTable)
    text = Lookup(kNetworkTable, dwMessageId);
  if (text == nullptr && (dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) != 0)
    text = Lookup(kSystemTable, dwMessageId);
  if (text == nullptr) {
    SetPortableLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  const std::size_t length = std::strlen(text);

  char* out;
  std::size_t capacity;
  if ((dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) {
    if (allocatedInUse || lpBuffer == nullptr) {
      SetPortableLastError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    allocatedInUse = true;
    out = allocatedText;
    capacity = sizeof allocatedText;
    *reinterpret_cast<char**>(lpBuffer) = allocatedText;
  } else {
    out = lpBuffer;
    capacity = nSize;
  }
  if (out == nullptr || length + 1 > capacity) {
    if (out == allocatedText) allocatedInUse = false;
    SetPortableLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(out, text, length + 1);
  return static_cast<DWORD>(length);
}
