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

// Win32 error numbers and the HRESULTs that carry no error number.
constexpr Message kSystemMessages[] = {
    {0, "The operation finished without error.\n"},
    {1, "The function asked for is not valid here.\n"},
    {2, "The file cannot be found.\n"},
    {3, "The path cannot be found.\n"},
    {4, "Too many files are open.\n"},
    {5, "Access is refused.\n"},
    {6, "The handle is not valid.\n"},
    {8, "There is not enough memory for this command.\n"},
    {11, "The file is not in a format that can be read.\n"},
    {13, "The data is not valid.\n"},
    {14, "There is not enough memory to finish the operation.\n"},
    {17, "The file cannot be moved to another disk.\n"},
    {19, "The medium is write-protected.\n"},
    {32, "The file is in use by another process.\n"},
    {38, "The end of the file was reached.\n"},
    {39, "The disk is full.\n"},
    {50, "This request is not supported.\n"},
    {80, "The file already exists.\n"},
    {87, "A parameter is not valid.\n"},
    {109, "The other end of the pipe has been closed.\n"},
    {112, "There is not enough space on the disk.\n"},
    {122, "The buffer given to the call is too small.\n"},
    {123, "The file name, folder name or volume label is not valid.\n"},
    {161, "The path given is not valid.\n"},
    {170, "The resource is busy.\n"},
    {183, "The file cannot be created because it already exists.\n"},
    {206, "The file name or extension is too long.\n"},
    {222, "The file is a device, pipe or socket, which cannot hold a link.\n"},
    {223, "The file is too large for this operation.\n"},
    {267, "The folder name is not valid.\n"},
    {1113, "The text has no counterpart in the code page.\n"},
    {1117, "A device input or output error occurred.\n"},
    {1295, "The disk quota has been used up.\n"},
    {1392, "The file is damaged and cannot be read.\n"},
    {1921, "The name of the file cannot be resolved.\n"},
    {0x80004001, "This operation is not implemented.\n"},
    {0x80004002, "The object does not support that interface.\n"},
    {0x80004003, "A pointer that was needed is missing.\n"},
    {0x80004005, "The operation failed for an unknown reason.\n"},
    {0x8000FFFF, "Something unexpected went wrong.\n"},
    {0x80040154, "The class is not registered.\n"},
    {0x800401F0, "COM has not been set up for this thread.\n"},
};

// Network error numbers (2100 to 2999), the table of "netmsg.dll".
constexpr Message kNetworkMessages[] = {
    {2102, "The workstation service has not been started.\n"},
    {2106, "This can only be done on a server.\n"},
    {2221, "The user name cannot be found.\n"},
    {2250, "This network connection does not exist.\n"},
    {2310, "This shared resource does not exist.\n"},
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
  SetPortableLastError(126);  // ERROR_MOD_NOT_FOUND
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
    SetPortableLastError(317);  // ERROR_MR_MID_NOT_FOUND
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
