// The Shell Link Binary File Format, [MS-SHLLINK].
//
// One struct per structure of the document, fields named as it names them.
// Parsed structures are views into the caller's buffer: texts stay where
// they are in the file, as a TextRef, until someone converts them.
// Everything is little-endian and read byte by byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace shllink {

using Bytes = std::span<const uint8_t>;

// ------------------------------------------------------------ reading bytes

// A bounds-checked little-endian reader over a byte range.
class ByteReader {
 public:
  explicit ByteReader(Bytes data) : data_(data) {}
  std::size_t size() const { return data_.size(); }
  bool Has(std::size_t offset, std::size_t length) const {
    return offset <= data_.size() && length <= data_.size() - offset;
  }
  [[nodiscard]] bool ReadU8(std::size_t offset, uint8_t* value) const;
  [[nodiscard]] bool ReadU16LE(std::size_t offset, uint16_t* value) const;
  [[nodiscard]] bool ReadU32LE(std::size_t offset, uint32_t* value) const;
  [[nodiscard]] bool ReadU64LE(std::size_t offset, uint64_t* value) const;
  // The bytes [offset, offset + length), or false if they are not all there.
  [[nodiscard]] bool Slice(std::size_t offset, std::size_t length,
                           Bytes* slice) const;

 private:
  Bytes data_;
};

// ------------------------------------------------------------ texts

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

// Converts a TextRef into UTF-8, cut at a character boundary to fit
// capacity - 1 bytes, terminated.  Returns false when it was cut.
bool TextToUtf8(const TextRef& text, char* out, std::size_t capacity);

// ------------------------------------------------------------ 2.1 ShellLinkHeader

inline constexpr uint32_t kHeaderSize = 0x0000004C;
inline constexpr uint8_t kLinkCLSID[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00,
                                           0x00, 0x00, 0xC0, 0x00, 0x00, 0x00,
                                           0x00, 0x00, 0x00, 0x46};

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

struct ShellLinkHeader {
  uint32_t HeaderSize = kHeaderSize;  // 0x00
  // LinkCLSID                           0x04, 16 bytes
  uint32_t LinkFlags = 0;             // 0x14
  uint32_t FileAttributes = 0;        // 0x18
  uint64_t CreationTime = 0;          // 0x1C
  uint64_t AccessTime = 0;            // 0x24
  uint64_t WriteTime = 0;             // 0x2C
  uint32_t FileSize = 0;              // 0x34
  int32_t IconIndex = 0;              // 0x38
  uint32_t ShowCommand = 1;           // 0x3C
  uint16_t HotKey = 0;                // 0x40
  // Reserved1 (2), Reserved2 (4), Reserved3 (4): 0x42..0x4C, zero
};

// ------------------------------------------------------------ 2.2 LinkTargetIDList

struct LinkTargetIDList {
  uint16_t IDListSize = 0;
  Bytes IDList;  // the ItemIDs and the TerminalID
};

// ------------------------------------------------------------ 2.3 LinkInfo

enum LinkInfoFlags : uint32_t {
  VolumeIDAndLocalBasePath = 0x00000001,
  CommonNetworkRelativeLinkAndPathSuffix = 0x00000002,
};

// 2.3.1 VolumeID
struct VolumeID {
  uint32_t VolumeIDSize = 0;
  uint32_t DriveType = 0;
  uint32_t DriveSerialNumber = 0;
  uint32_t VolumeLabelOffset = 0;
  uint32_t VolumeLabelOffsetUnicode = 0;
  TextRef VolumeLabel;
};

// 2.3.2 CommonNetworkRelativeLink
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

struct StringData {
  TextRef NameString;
  TextRef RelativePath;
  TextRef WorkingDir;
  TextRef CommandLineArguments;
  TextRef IconLocation;
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

// 2.5.4, 2.5.5 and 2.5.1: the three blocks of this one shape.
inline constexpr uint32_t kEnvironmentBlockSize = 0x00000314;
inline constexpr std::size_t kEnvironmentAnsiSize = 260;
inline constexpr std::size_t kEnvironmentUnicodeSize = 520;

struct EnvironmentVariableDataBlock {  // also IconEnvironmentDataBlock
  bool Present = false;
  TextRef TargetAnsi;
  TextRef TargetUnicode;
};
using IconEnvironmentDataBlock = EnvironmentVariableDataBlock;

struct DarwinDataBlock {
  bool Present = false;
  TextRef DarwinDataAnsi;
  TextRef DarwinDataUnicode;
};

// 2.5.2
struct ConsoleDataBlock {
  bool Present = false;
  uint16_t FillAttributes = 0;
  uint16_t PopupFillAttributes = 0;
  uint32_t FaceFamily = 0;
  uint32_t FontWeight = 0;
  uint32_t HistoryBufferSize = 0;
};

// 2.5.3
struct ConsoleFEDataBlock {
  bool Present = false;
  uint32_t CodePage = 0;
};

// 2.5.6
struct KnownFolderDataBlock {
  bool Present = false;
  Bytes KnownFolderID;
  uint32_t Offset = 0;
};

// 2.5.7
struct PropertyStoreDataBlock {
  bool Present = false;
  Bytes PropertyStore;
};

// 2.5.8
struct ShimDataBlock {
  bool Present = false;
  TextRef LayerName;
};

// 2.5.9
struct SpecialFolderDataBlock {
  bool Present = false;
  uint32_t SpecialFolderID = 0;
  uint32_t Offset = 0;
};

// 2.5.10
struct TrackerDataBlock {
  bool Present = false;
  Bytes MachineID;  // 16 bytes, NUL-padded ANSI
  Bytes Droid;      // 32 bytes
  Bytes DroidBirth; // 32 bytes
};

// 2.5.11
struct VistaAndAboveIDListDataBlock {
  bool Present = false;
  Bytes IDList;
};

struct ExtraData {
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
  Bytes Blocks;  // every block, as they stand, up to the TerminalBlock
  Bytes Tail;    // the TerminalBlock and any bytes after it; empty when
                 // the file simply ends after the last block
};

// ------------------------------------------------------------ the file

struct ShellLink {
  ShellLinkHeader Header;
  LinkTargetIDList IDList;  // when HasLinkTargetIDList
  LinkInfo Info;            // when HasLinkInfo
  StringData Strings;
  ExtraData Extra;
};

enum class ParseResult {
  Ok,
  NotShellLink,  // wrong header size or class: some other kind of file
  Malformed,     // a size or offset that does not fit the file
};

// Each structure on its own, at the start of data; *consumed tells its size.
ParseResult ParseShellLinkHeader(Bytes data, ShellLinkHeader* header);
ParseResult ParseLinkTargetIDList(Bytes data, LinkTargetIDList* list,
                                  std::size_t* consumed);
ParseResult ParseLinkInfo(Bytes data, LinkInfo* info, std::size_t* consumed);
ParseResult ParseStringData(Bytes data, uint32_t linkFlags, StringData* strings,
                            std::size_t* consumed);
ParseResult ParseExtraData(Bytes data, ExtraData* extra, std::size_t* consumed);

// The whole file.
ParseResult ParseShellLink(Bytes file, ShellLink* link);

// The file-system path an ID list names ("C:\dir\file"), in UTF-8; empty
// when the list names no file-system path (a virtual folder, an app).
// Returns false only when the list is malformed.
bool IDListPath(Bytes idList, char* out, std::size_t capacity);

// ------------------------------------------------------------ target forms

// How a target is stored.
enum class TargetForm {
  None,         // empty target: no IDList, no LinkInfo
  LocalPath,    // "X:\...": LinkTargetIDList and LinkInfo with VolumeID
  NetworkPath,  // "\\server\share...": LinkInfo with CommonNetworkRelativeLink
                // and the path in an EnvironmentVariableDataBlock
  Environment,  // %NAME% references, or no folder: EnvironmentVariableDataBlock
};

// The form of a target, and in out the text its structures are made of.
// A drive or network path is made canonical as Windows does it: '/' read
// as '\', runs of separators as one (past the "\\" of a network path),
// "." and ".." resolved, no separator at the end but in a drive's root;
// *folder tells whether it ended in a separator, which marks it a folder.
// Any other target is copied exactly as written.
TargetForm CanonicalTarget(const char* target, char* out, std::size_t capacity,
                           bool* folder);
TargetForm TargetFormOf(const char* target);

// True when text holds a %NAME% reference.
bool HasEnvironmentReference(const char* text);

// Longest text an environment block holds, in UTF-16 units.
inline constexpr std::size_t kEnvironmentMaxUnits = kEnvironmentUnicodeSize / 2 - 1;

// ------------------------------------------------------------ editing

// A link is edited as its file: each edit makes the whole file anew in
// out (capacity bytes, *size its length), with the structures that the
// edited field owns built afresh and every other one copied as it stands.
// What an edit does not own keeps its bytes, down to unknown blocks and
// whatever follows the TerminalBlock.  Texts come in UTF-8.  An edit
// returns false when file is not a well-formed link, a text cannot be
// stored, or the result does not fit.

// An empty link: no target, no texts, ShowCommand 1, Unicode strings.
bool NewShellLink(uint8_t* out, std::size_t capacity, std::size_t* size);

// The target, in the form TargetFormOf gives it.  What described the old
// target goes: the ID list, LinkInfo, relative path, the environment,
// tracker, Darwin, special and known folder and Vista ID list blocks, and
// the header's file attributes, times and size.
bool EditTarget(Bytes file, const char* target, uint8_t* out,
                std::size_t capacity, std::size_t* size);

// One StringData text; empty removes it.  Strings stay in the file's
// encoding where the new text fits it, else all of them become Unicode.
enum class StringField { NameString, RelativePath, WorkingDir, CommandLineArguments,
                         IconLocation };
bool EditString(Bytes file, StringField field, const char* text, uint8_t* out,
                std::size_t capacity, std::size_t* size);

// The icon: its location string, its IconEnvironmentDataBlock (for a
// location with %NAME%) and the header's IconIndex.
bool EditIcon(Bytes file, const char* icon, int32_t index, uint8_t* out,
              std::size_t capacity, std::size_t* size);

// Header fields of a well-formed link, changed in place.
void SetShowCommand(uint8_t* file, uint32_t showCommand);
void SetHotKey(uint8_t* file, uint16_t hotKey);

// What Create writes: a new link with every field set as given.
struct LinkFields {
  const char* Target = "";
  const char* Arguments = "";
  const char* WorkingDirectory = "";
  const char* Description = "";
  const char* IconLocation = "";
  int32_t IconIndex = 0;
  uint32_t ShowCommand = 1;
  uint16_t HotKey = 0;
};
bool WriteShellLink(const LinkFields& fields, uint8_t* out, std::size_t capacity,
                    std::size_t* size);

}  // namespace shllink
