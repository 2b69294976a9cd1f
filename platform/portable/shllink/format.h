// The Shell Link Binary File Format, [MS-SHLLINK]: its structures in the
// order of the document, fields named as it names them.
//
// Each structure the codec reads or writes has a table of where its fields
// lie (<Structure>At, in bytes from the structure's start), and a parsed link is a model of its
// file: each structure is a view of the bytes it was read from (Raw) and
// the fields that code reads out of them.  Texts stay where they are in the
// file, as a TextRef, until someone converts them.  Everything is
// little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace shllink {

using Bytes = std::span<const uint8_t>;

enum class TextEncoding : uint8_t {
  Ansi,     // the writer's ANSI code page (see portable::SelectAnsiCodePage)
  Unicode,  // UTF-16LE
};

// A text inside the file: Length counts bytes (Ansi) or UTF-16 units
// (Unicode), without any terminator.
struct TextRef {
  const uint8_t* Data = nullptr;
  uint32_t Length = 0;
  TextEncoding Encoding = TextEncoding::Ansi;
  bool Present = false;
};

// ------------------------------------------------------------ 2.1 ShellLinkHeader

struct ShellLinkHeaderAt {
  static constexpr std::size_t
      HeaderSize = 0x00, LinkCLSID = 0x04, LinkFlags = 0x14, FileAttributes = 0x18,
      CreationTime = 0x1C, AccessTime = 0x24, WriteTime = 0x2C, FileSize = 0x34, IconIndex = 0x38,
      ShowCommand = 0x3C, HotKey = 0x40, Reserved1 = 0x42, Reserved2 = 0x44, Reserved3 = 0x48;
};
inline constexpr uint32_t kHeaderSize = 0x0000004C;
static_assert(ShellLinkHeaderAt::Reserved3 + 4 == kHeaderSize);
inline constexpr uint8_t kLinkCLSID[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00,
                                           0x00, 0x00, 0xC0, 0x00, 0x00, 0x00,
                                           0x00, 0x00, 0x00, 0x46};
static_assert(ShellLinkHeaderAt::LinkCLSID + sizeof kLinkCLSID == ShellLinkHeaderAt::LinkFlags);

// 2.1.1 LinkFlags: those the codec reads or sets.  The presence flags each
// tell that a structure is in the file; the editor derives them.
enum LinkFlags : uint32_t {
  HasLinkTargetIDList = 0x00000001, HasLinkInfo = 0x00000002, HasName = 0x00000004,
  HasRelativePath = 0x00000008, HasWorkingDir = 0x00000010, HasArguments = 0x00000020,
  HasIconLocation = 0x00000040, IsUnicode = 0x00000080, ForceNoLinkInfo = 0x00000100,
  HasExpString = 0x00000200, HasDarwinID = 0x00001000, HasExpIcon = 0x00004000,
  RunWithShimLayer = 0x00020000, PreferEnvironmentPath = 0x02000000,
};

// 2.1.3 ShowCommand
inline constexpr uint32_t SW_SHOWNORMAL = 0x00000001;

struct ShellLinkHeader {
  Bytes Raw;  // kHeaderSize bytes
  uint32_t LinkFlags = 0;
  int32_t IconIndex = 0;
  uint32_t ShowCommand = SW_SHOWNORMAL;
  uint16_t HotKey = 0;
};

// ------------------------------------------------------------ 2.2 LinkTargetIDList

struct LinkTargetIDListAt {
  static constexpr std::size_t IDListSize = 0, IDList = 2;
};
// 2.2.2 ItemID: its ItemIDSize counts itself; 2.2.1 a TerminalID (an
// ItemIDSize of zero) ends the IDList.
struct ItemIDAt {
  static constexpr std::size_t ItemIDSize = 0, Data = 2;
};
inline constexpr std::size_t kTerminalIDSize = 2;

struct LinkTargetIDList {
  Bytes Raw;     // IDListSize and the list
  Bytes IDList;  // the ItemIDs and the TerminalID
};

// The ItemIDs of an IDList in order, each with its ItemIDSize.  The walk
// stops at the TerminalID, or at an item that does not fit what is left:
// the list is sound when it stopped at a TerminalID.
class ItemIDList {
 public:
  explicit ItemIDList(Bytes list) : list_(list) {}
  struct Iterator {
    Bytes Rest;
    // The ItemIDSize at the front; 0 where the walk stops.
    std::size_t Size() const {
      if (Rest.size() < kTerminalIDSize) return 0;
      const std::size_t size = Rest[ItemIDAt::ItemIDSize] | (Rest[ItemIDAt::ItemIDSize + 1] << 8);
      return size >= ItemIDAt::Data && size <= Rest.size() ? size : 0;
    }
    Bytes operator*() const { return Rest.first(Size()); }
    Iterator& operator++() {
      Rest = Rest.subspan(Size());
      return *this;
    }
    bool operator!=(const Iterator&) const { return Size() != 0; }
  };
  Iterator begin() const { return {list_}; }
  Iterator end() const { return {}; }
  bool Sound() const {
    Iterator stop = begin();
    while (stop != end()) ++stop;
    return stop.Rest.size() >= kTerminalIDSize && stop.Rest[ItemIDAt::ItemIDSize] == 0 &&
           stop.Rest[ItemIDAt::ItemIDSize + 1] == 0;
  }

 private:
  Bytes list_;
};

// ------------------------------------------------------------ 2.3 LinkInfo

// LinkInfoHeaderSize: 0x1C without the Unicode offsets, at least 0x24 with
// LocalBasePathOffsetUnicode and CommonPathSuffixOffsetUnicode.
struct LinkInfoAt {
  static constexpr std::size_t
      LinkInfoSize = 0x00, LinkInfoHeaderSize = 0x04, LinkInfoFlags = 0x08, VolumeIDOffset = 0x0C,
      LocalBasePathOffset = 0x10, CommonNetworkRelativeLinkOffset = 0x14,
      CommonPathSuffixOffset = 0x18, LocalBasePathOffsetUnicode = 0x1C,
      CommonPathSuffixOffsetUnicode = 0x20;
};
inline constexpr uint32_t kLinkInfoHeaderSize = LinkInfoAt::LocalBasePathOffsetUnicode;
inline constexpr uint32_t kLinkInfoHeaderSizeUnicode =
    LinkInfoAt::CommonPathSuffixOffsetUnicode + 4;
static_assert(kLinkInfoHeaderSize == 0x1C && kLinkInfoHeaderSizeUnicode == 0x24);

enum LinkInfoFlags : uint32_t {
  VolumeIDAndLocalBasePath = 0x00000001,
  CommonNetworkRelativeLinkAndPathSuffix = 0x00000002,
};

// 2.3.1 VolumeID: 0x10 bytes of fields, then the label, so VolumeIDSize
// "MUST be greater than 0x00000010"; a VolumeLabelOffset of 0x14 says the
// label is Unicode, at VolumeLabelOffsetUnicode.
struct VolumeIDAt {
  static constexpr std::size_t
      VolumeIDSize = 0x00, DriveType = 0x04, DriveSerialNumber = 0x08, VolumeLabelOffset = 0x0C,
      VolumeLabelOffsetUnicode = 0x10;
};
inline constexpr uint32_t kVolumeIDFieldsSize = VolumeIDAt::VolumeLabelOffsetUnicode;
inline constexpr uint32_t kVolumeIDMinSize = kVolumeIDFieldsSize + 1;
inline constexpr uint32_t kVolumeLabelOffsetUnicodeFollows =
    VolumeIDAt::VolumeLabelOffsetUnicode + 4;
static_assert(kVolumeIDFieldsSize == 0x10 && kVolumeLabelOffsetUnicodeFollows == 0x14);
inline constexpr uint32_t DRIVE_FIXED = 3;

// 2.3.2 CommonNetworkRelativeLink: 0x14 bytes of fields; a NetNameOffset
// above 0x14 says NetNameOffsetUnicode and DeviceNameOffsetUnicode follow,
// making 0x1C.
struct CommonNetworkRelativeLinkAt {
  static constexpr std::size_t
      CommonNetworkRelativeLinkSize = 0x00, CommonNetworkRelativeLinkFlags = 0x04,
      NetNameOffset = 0x08, DeviceNameOffset = 0x0C, NetworkProviderType = 0x10,
      NetNameOffsetUnicode = 0x14, DeviceNameOffsetUnicode = 0x18;
};
inline constexpr uint32_t kNetworkLinkSize = CommonNetworkRelativeLinkAt::NetNameOffsetUnicode;
inline constexpr uint32_t kNetworkLinkSizeUnicode =
    CommonNetworkRelativeLinkAt::DeviceNameOffsetUnicode + 4;
static_assert(kNetworkLinkSize == 0x14 && kNetworkLinkSizeUnicode == 0x1C);

enum CommonNetworkRelativeLinkFlags : uint32_t {
  ValidDevice = 0x00000001,
  ValidNetType = 0x00000002,
};
inline constexpr uint32_t WNNC_NET_LANMAN = 0x00020000;

struct CommonNetworkRelativeLink {
  uint32_t CommonNetworkRelativeLinkFlags = 0;
  uint32_t NetworkProviderType = 0;
  TextRef NetName;  // the Unicode one where there is one
};

struct LinkInfo {
  Bytes Raw;  // the whole structure, LinkInfoSize bytes
  uint32_t LinkInfoHeaderSize = 0;
  uint32_t LinkInfoFlags = 0;
  TextRef LocalBasePath;  // the Unicode one where there is one; so too below
  CommonNetworkRelativeLink NetworkLink;
  TextRef CommonPathSuffix;
};

// ------------------------------------------------------------ 2.4 StringData

struct StringDataAt {
  static constexpr std::size_t CountCharacters = 0, String = 2;
};

// The strings in the order they follow each other, and the flag of each.
enum class StringField { NameString, RelativePath, WorkingDir, CommandLineArguments,
                         IconLocation };
inline constexpr std::size_t kStringCount = 5;
inline constexpr uint32_t kStringFlags[kStringCount] = {
    HasName, HasRelativePath, HasWorkingDir, HasArguments, HasIconLocation};

struct StringData {
  Bytes Raw[kStringCount];     // each with its CountCharacters; empty when absent
  TextRef Text[kStringCount];  // the characters
  const TextRef& operator[](StringField f) const { return Text[static_cast<std::size_t>(f)]; }
};

// ------------------------------------------------------------ 2.5 ExtraData

// BlockSize and BlockSignature start every block; a BlockSize below 4 is
// the TerminalBlock.
struct DataBlockAt {
  static constexpr std::size_t BlockSize = 0, BlockSignature = 4, Data = 8;
};
inline constexpr uint32_t kTerminalBlockBelow = 4;
inline constexpr std::size_t kTerminalBlockSize = 4;

enum BlockSignature : uint32_t {
  EnvironmentVariableDataBlockSignature = 0xA0000001,
  ConsoleDataBlockSignature = 0xA0000002,
  TrackerDataBlockSignature = 0xA0000003,
  ConsoleFEDataBlockSignature = 0xA0000004,
  SpecialFolderDataBlockSignature = 0xA0000005,
  DarwinDataBlockSignature = 0xA0000006,
  IconEnvironmentDataBlockSignature = 0xA0000007,
  ShimDataBlockSignature = 0xA0000008,
  PropertyStoreDataBlockSignature = 0xA0000009,
  KnownFolderDataBlockSignature = 0xA000000B,
  VistaAndAboveIDListDataBlockSignature = 0xA000000C,
};

// 2.5.3, 2.5.4, 2.5.5: the Darwin, EnvironmentVariable and IconEnvironment
// blocks have one shape, a text in a 260-byte ANSI field and in a 520-byte
// Unicode one.
struct EnvironmentVariableDataBlockAt {
  static constexpr std::size_t TargetAnsi = 0x008, TargetUnicode = 0x10C;
};
inline constexpr uint32_t kEnvironmentBlockSize = 0x00000314;
inline constexpr std::size_t kEnvironmentAnsiSize = 260;
inline constexpr std::size_t kEnvironmentUnicodeSize = 520;
static_assert(EnvironmentVariableDataBlockAt::TargetAnsi + kEnvironmentAnsiSize ==
                  EnvironmentVariableDataBlockAt::TargetUnicode &&
              EnvironmentVariableDataBlockAt::TargetUnicode + kEnvironmentUnicodeSize ==
                  kEnvironmentBlockSize);
// Longest text an environment block holds, in UTF-16 units.
inline constexpr std::size_t kEnvironmentMaxUnits = kEnvironmentUnicodeSize / 2 - 1;

// 2.5.10 TrackerDataBlock: its Length counts from itself to the block's end.
struct TrackerDataBlockAt {
  static constexpr std::size_t Length = 0x08;
};
inline constexpr uint32_t kTrackerDataBlockSize = 0x00000060;

// The least BlockSize of each block the document defines: its size, or
// where that varies, the least it allows.
struct BlockMinSize {
  uint32_t Signature;
  uint32_t MinSize;
};
inline constexpr BlockMinSize kBlockMinSizes[] = {
    {ConsoleDataBlockSignature, 0x000000CC},
    {ConsoleFEDataBlockSignature, 0x0000000C},
    {DarwinDataBlockSignature, kEnvironmentBlockSize},
    {EnvironmentVariableDataBlockSignature, kEnvironmentBlockSize},
    {IconEnvironmentDataBlockSignature, kEnvironmentBlockSize},
    {KnownFolderDataBlockSignature, 0x0000001C},
    {PropertyStoreDataBlockSignature, 0x0000000C},
    {ShimDataBlockSignature, 0x00000088},
    {SpecialFolderDataBlockSignature, 0x00000010},
    {TrackerDataBlockSignature, kTrackerDataBlockSize},
    {VistaAndAboveIDListDataBlockSignature, DataBlockAt::Data + kTerminalIDSize},
};

// One block as it stands in the file.
struct DataBlock {
  Bytes Raw;  // BlockSize bytes
  uint32_t BlockSignature = 0;
  bool Present() const { return !Raw.empty(); }
};

// The blocks of a checked ExtraData in file order, one view each.
class DataBlockList {
 public:
  explicit DataBlockList(Bytes blocks) : blocks_(blocks) {}
  struct Iterator {
    Bytes Rest;
    uint32_t U32(std::size_t at) const {
      return Rest[at] | (Rest[at + 1] << 8) | (Rest[at + 2] << 16) |
             (static_cast<uint32_t>(Rest[at + 3]) << 24);
    }
    DataBlock operator*() const {
      return {Rest.first(U32(DataBlockAt::BlockSize)), U32(DataBlockAt::BlockSignature)};
    }
    Iterator& operator++() {
      Rest = Rest.subspan(U32(DataBlockAt::BlockSize));
      return *this;
    }
    bool operator!=(const Iterator& other) const { return Rest.size() != other.Rest.size(); }
  };
  Iterator begin() const { return {blocks_}; }
  Iterator end() const { return {blocks_.last(0)}; }

 private:
  Bytes blocks_;
};

// The two blocks whose texts the object gives.
struct EnvironmentVariableDataBlock : DataBlock {  // also IconEnvironment
  TextRef TargetAnsi;
  TextRef TargetUnicode;
};
using IconEnvironmentDataBlock = EnvironmentVariableDataBlock;

struct ExtraData {
  Bytes Blocks;  // every block, as they stand, up to the TerminalBlock
  Bytes Tail;    // the TerminalBlock and any bytes after it; empty when
                 // the file simply ends after the last block
  DataBlockList List() const { return DataBlockList(Blocks); }

  // Where a signature comes twice, the last.
  EnvironmentVariableDataBlock EnvironmentVariable;
  IconEnvironmentDataBlock IconEnvironment;
};

// ------------------------------------------------------------ the file

struct ShellLink {
  ShellLinkHeader Header;
  LinkTargetIDList IDList;  // when HasLinkTargetIDList
  LinkInfo Info;            // when HasLinkInfo
  StringData Strings;
  ExtraData Extra;
};

}  // namespace shllink
