// What a link file's read keeps for the save over it, and which way a name
// is read and saved.
#include <cstdlib>
#include <cstring>

#include "files/files.h"
#include "smb/smb.h"

namespace portable {
namespace {

constexpr LinkFileWay kLocalFile = {ReadWholeFile, WriteFileReplacing};
constexpr LinkFileWay kShareFile = {smb::ReadLink, smb::SaveLink};

}  // namespace

const LinkFileWay& LinkFileWayOf(const char* name) {
  return smb::IsSharePath(name) ? kShareFile : kLocalFile;
}

HeldFile::~HeldFile() { Close(); }

void HeldFile::Close() {
  portable::Close(&Folder);
  portable::Close(&File);
  Name[0] = '\0';
  std::free(Bytes);
  Bytes = nullptr;
  Size = 0;
}

bool HeldFile::Remember(const uint8_t* data, std::size_t size) {
  std::free(Bytes);
  Bytes = static_cast<uint8_t*>(std::malloc(size > 0 ? size : 1));
  Size = Bytes != nullptr ? size : 0;
  if (Bytes != nullptr && size > 0) std::memcpy(Bytes, data, size);
  return Bytes != nullptr;
}

void HeldFile::Take(HeldFile& other) {
  if (&other == this) return;
  Close();
  Folder = other.Folder;
  File = other.File;
  std::memcpy(Name, other.Name, sizeof Name);
  Read = other.Read;
  Bytes = other.Bytes;
  Size = other.Size;
  other.Folder = other.File = -1;
  other.Name[0] = '\0';
  other.Bytes = nullptr;
  other.Size = 0;
}

}  // namespace portable
