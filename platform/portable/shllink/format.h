// The Shell Link Binary File Format, [MS-SHLLINK]: its structures in the
// order of the document, fields named as it names them.
//
// A parsed link is a model of its file: each structure is a view of the
// bytes it was read from (Raw) and the fields read out of them.  Texts stay
// where they are in the file, as a TextRef, until someone converts them.
// Everything is little-endian.
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

inline constexpr uint32_t kHeaderSize = 0x0000004C;
inline constexpr uint8_t kLinkCLSID[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00,
                                           0x00, 0x00, 0xC0, 0x00, 0x00, 0x00,
                                           0x00, 0x00, 0x00, 0x46};

// Where each field of the header lies.
enum HeaderOffset : std::size_t {
  kHeaderSizeAt = 0x00,
  kLinkCLSIDAt = 0x04,
  kLinkFlagsAt = 0x14,
  kFileAttributesAt = 0x18,
  kCreationTimeAt = 0x1C,
  kAccessTimeAt = 0x24,
  kWriteTimeAt = 0x2C,
  kFileSizeAt = 0x34,
  kIconIndexAt = 0x38,
  kShowCommandAt = 0x3C,
  kHotKeyAt = 0x40,
  kReservedAt = 0x42,  // Reserved1 (2), Reserved2 (4), Reserved3 (4), zero
};

// 2.1.1 LinkFlags
enum LinkFlags : uint32_t {
  HasLinkTargetIDList = 0x00000001,
  HasLinkInfo = 0x00000002,
  HasName = 0x00000004,
  HasRelativePath = 0x00000008,
  HasWorkingDir = 0x00000010,
  HasArguments = 0x00000020,
  HasIconLocation = 0x00000040,
  IsUnicode = 0x00000080,
  ForceNoLinkInfo = 0x00000100,
  HasExpString = 0x00000200,
  RunInSeparateProcess = 0x00000400,
  HasDarwinID = 0x00001000,
  RunAsUser = 0x00002000,
  HasExpIcon = 0x00004000,
  NoPidlAlias = 0x00008000,
  RunWithShimLayer = 0x00020000,
  ForceNoLinkTrack = 0x00040000,
  EnableTargetMetadata = 0x00080000,
  DisableLinkPathTracking = 0x00100000,
  DisableKnownFolderTracking = 0x00200000,
  DisableKnownFolderAlias = 0x00400000,
  AllowLinkToLink = 0x00800000,
  UnaliasOnSave = 0x01000000,
  PreferEnvironmentPath = 0x02000000,
  KeepLocalIDListForUNCTarget = 0x04000000,
};

// 2.1.3 ShowCommand
inline constexpr uint32_t SW_SHOWNORMAL = 0x00000001;

struct ShellLinkHeader {
  Bytes Raw;  // kHeaderSize bytes
  uint32_t HeaderSize = kHeaderSize;
  uint32_t LinkFlags = 0;
  uint32_t FileAttributes = 0;
  uint64_t CreationTime = 0;
  uint64_t AccessTime = 0;
  uint64_t WriteTime = 0;
  uint32_t FileSize = 0;
  int32_t IconIndex = 0;
  uint32_t ShowCommand = SW_SHOWNORMAL;
  uint16_t HotKey = 0;
};

// ------------------------------------------------------------ 2.2 LinkTargetIDList

struct LinkTargetIDList {
  Bytes Raw;  // IDListSize and the list
  uint16_t IDListSize = 0;
  Bytes IDList;  // the ItemIDs and the TerminalID (2.2.1, 2.2.2)
};

// ------------------------------------------------------------ 2.3 LinkInfo

// LinkInfoHeaderSize: 0x1C without the Unicode offsets, at least 0x24 with
// LocalBasePathOffsetUnicode and CommonPathSuffixOffsetUnicode.
inline constexpr uint32_t kLinkInfoHeaderSize = 0x1C;
inline constexpr uint32_t kLinkInfoHeaderSizeUnicode = 0x24;

enum LinkInfoFlags : uint32_t {
  VolumeIDAndLocalBasePath = 0x00000001,
  CommonNetworkRelativeLinkAndPathSuffix = 0x00000002,
};

// 2.3.1 VolumeID: 0x10 bytes of fields, then the label, so VolumeIDSize
// "MUST be greater than 0x00000010"; a VolumeLabelOffset of 0x14 says the
// label is Unicode, at VolumeLabelOffsetUnicode.
inline constexpr uint32_t kVolumeIDFieldsSize = 0x10;
inline constexpr uint32_t kVolumeIDMinSize = kVolumeIDFieldsSize + 1;
inline constexpr uint32_t kVolumeLabelOffsetUnicodeFollows = 0x14;
inline constexpr uint32_t DRIVE_FIXED = 3;

struct VolumeID {
  uint32_t VolumeIDSize = 0;
  uint32_t DriveType = 0;
  uint32_t DriveSerialNumber = 0;
  uint32_t VolumeLabelOffset = 0;
  uint32_t VolumeLabelOffsetUnicode = 0;
  TextRef VolumeLabel;
};

// 2.3.2 CommonNetworkRelativeLink: 0x14 bytes of fields; a NetNameOffset
// above 0x14 says NetNameOffsetUnicode and DeviceNameOffsetUnicode follow,
// making 0x1C.
inline constexpr uint32_t kNetworkLinkSize = 0x14;
inline constexpr uint32_t kNetworkLinkSizeUnicode = 0x1C;

enum CommonNetworkRelativeLinkFlags : uint32_t {
  ValidDevice = 0x00000001,
  ValidNetType = 0x00000002,
};
inline constexpr uint32_t WNNC_NET_LANMAN = 0x00020000;

struct CommonNetworkRelativeLink {
  uint32_t CommonNetworkRelativeLinkSize = 0;
  uint32_t CommonNetworkRelativeLinkFlags = 0;
  uint32_t NetNameOffset = 0;
  uint32_t DeviceNameOffset = 0;
  uint32_t NetworkProviderType = 0;
  uint32_t NetNameOffsetUnicode = 0;
  uint32_t DeviceNameOffsetUnicode = 0;
  TextRef NetName;
  TextRef DeviceName;
};

struct LinkInfo {
  Bytes Raw;  // the whole structure, LinkInfoSize bytes
  uint32_t LinkInfoSize = 0;
  uint32_t LinkInfoHeaderSize = 0;
  uint32_t LinkInfoFlags = 0;
  uint32_t VolumeIDOffset = 0;
  uint32_t LocalBasePathOffset = 0;
  uint32_t CommonNetworkRelativeLinkOffset = 0;
  uint32_t CommonPathSuffixOffset = 0;
  uint32_t LocalBasePathOffsetUnicode = 0;     // when LinkInfoHeaderSize >= 0x24
  uint32_t CommonPathSuffixOffsetUnicode = 0;  // when LinkInfoHeaderSize >= 0x24
  VolumeID Volume;
  TextRef LocalBasePath;
  CommonNetworkRelativeLink NetworkLink;
  TextRef CommonPathSuffix;
};

// ------------------------------------------------------------ 2.4 StringData

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

// BlockSize and BlockSignature start every block; a BlockSize below 4 is
// the TerminalBlock.
inline constexpr uint32_t kBlockHeaderSize = 8;
inline constexpr uint32_t kTerminalBlockBelow = 4;

// The BlockSize of each known block, or the least one for those whose
// size varies.  2.5.1, 2.5.4, 2.5.5: the three blocks of one shape, a
// 260-byte ANSI text and a 520-byte Unicode one.
inline constexpr uint32_t kEnvironmentBlockSize = 0x00000314;
inline constexpr std::size_t kEnvironmentAnsiSize = 260;
inline constexpr std::size_t kEnvironmentUnicodeSize = 520;
// Longest text an environment block holds, in UTF-16 units.
inline constexpr std::size_t kEnvironmentMaxUnits = kEnvironmentUnicodeSize / 2 - 1;
inline constexpr uint32_t kConsoleBlockSize = 0x000000CC;     // 2.5.2
inline constexpr uint32_t kConsoleFEBlockSize = 0x0000000C;   // 2.5.3
inline constexpr uint32_t kKnownFolderBlockSize = 0x0000001C; // 2.5.6
inline constexpr uint32_t kPropertyStoreMinSize = 0x0000000C; // 2.5.7
inline constexpr uint32_t kShimMinSize = 0x00000088;          // 2.5.8
inline constexpr uint32_t kSpecialFolderBlockSize = 0x00000010; // 2.5.9
inline constexpr uint32_t kTrackerBlockSize = 0x00000060;     // 2.5.10
inline constexpr uint32_t kTrackerLength = 0x00000058;        // 2.5.10
inline constexpr uint32_t kVistaIDListMinSize = 0x0000000A;   // 2.5.11: a TerminalID

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
    DataBlock operator*() const { return {Rest.first(U32(0)), U32(4)}; }
    Iterator& operator++() {
      Rest = Rest.subspan(U32(0));
      return *this;
    }
    bool operator!=(const Iterator& other) const { return Rest.size() != other.Rest.size(); }
  };
  Iterator begin() const { return {blocks_}; }
  Iterator end() const { return {blocks_.last(0)}; }

 private:
  Bytes blocks_;
};

// 2.5.1, 2.5.4, 2.5.5
struct EnvironmentVariableDataBlock : DataBlock {  // also Darwin, IconEnvironment
  TextRef TargetAnsi;
  TextRef TargetUnicode;
};
using IconEnvironmentDataBlock = EnvironmentVariableDataBlock;
using DarwinDataBlock = EnvironmentVariableDataBlock;  // DarwinDataAnsi, ...Unicode

// 2.5.2
struct ConsoleDataBlock : DataBlock {
  uint16_t FillAttributes = 0;
  uint16_t PopupFillAttributes = 0;
  uint32_t FaceFamily = 0;
  uint32_t FontWeight = 0;
  uint32_t HistoryBufferSize = 0;
};

// 2.5.3
struct ConsoleFEDataBlock : DataBlock {
  uint32_t CodePage = 0;
};

// 2.5.6
struct KnownFolderDataBlock : DataBlock {
  Bytes KnownFolderID;
  uint32_t Offset = 0;
};

// 2.5.7
struct PropertyStoreDataBlock : DataBlock {
  Bytes PropertyStore;
};

// 2.5.8
struct ShimDataBlock : DataBlock {
  TextRef LayerName;
};

// 2.5.9
struct SpecialFolderDataBlock : DataBlock {
  uint32_t SpecialFolderID = 0;
  uint32_t Offset = 0;
};

// 2.5.10
struct TrackerDataBlock : DataBlock {
  Bytes MachineID;   // 16 bytes, NUL-padded ANSI
  Bytes Droid;       // 32 bytes
  Bytes DroidBirth;  // 32 bytes
};

// 2.5.11
struct VistaAndAboveIDListDataBlock : DataBlock {
  Bytes IDList;
};

struct ExtraData {
  Bytes Blocks;  // every block, as they stand, up to the TerminalBlock
  Bytes Tail;    // the TerminalBlock and any bytes after it; empty when
                 // the file simply ends after the last block
  DataBlockList List() const { return DataBlockList(Blocks); }

  // The known blocks, read; where a signature comes twice, the last.
  ConsoleDataBlock Console;
  ConsoleFEDataBlock ConsoleFE;
  DarwinDataBlock Darwin;
  EnvironmentVariableDataBlock EnvironmentVariable;
  IconEnvironmentDataBlock IconEnvironment;
  KnownFolderDataBlock KnownFolder;
  PropertyStoreDataBlock PropertyStore;
  ShimDataBlock Shim;
  SpecialFolderDataBlock SpecialFolder;
  TrackerDataBlock Tracker;
  VistaAndAboveIDListDataBlock VistaAndAboveIDList;
  uint32_t UnknownBlocks = 0;  // skipped, counted
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
