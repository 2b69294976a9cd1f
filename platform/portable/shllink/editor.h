// Editing a link.  An edit is a plan: for each structure of the old file,
// in file order, keep its own bytes, drop it, or place the new bytes a
// small builder made.  Write places what the plan says in a buffer of its
// own, down to unknown blocks and whatever follows the TerminalBlock, sets
// the header's presence flags from the steps, reads the new file into its
// model, and checks that the read found each structure where it was
// placed.  Texts come in UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format.h"

namespace shllink {

enum class EditResult {
  Ok,
  BadText,   // not valid UTF-8, or longer than kMaxLinkTextBytes
  TooLong,   // longer than the environment block that must hold it
  NoRoom,    // the file, or one of its structures, cannot hold the result
  Internal,  // the bytes placed are not what a read of them finds: a fault here
};

// A link file in memory: Size bytes at Data, room for Capacity.
struct Image {
  uint8_t* Data = nullptr;
  std::size_t Capacity = 0;
  std::size_t Size = 0;
};

// What becomes of one structure.
enum class Action : uint8_t { Keep, Drop, New };
struct Step {
  Action What = Action::Keep;
  Bytes Made;  // the bytes of a New structure
};
inline constexpr Step kDrop{Action::Drop, Bytes()};

// A step for each structure in file order; the ExtraData blocks by their
// signature, 0xA0000001 to 0xA000000C.  A block of any other signature is
// kept.  A New block takes the place of every old block of its signature,
// after the blocks kept.
//
// The header's presence flags follow from the steps when the plan is
// written: a structure kept keeps its flag as read, one dropped clears it,
// one made anew sets it.  So too IsUnicode, with ToUnicode.  Every other
// flag is the header's own field.
inline constexpr uint32_t kFirstBlockSignature = EnvironmentVariableDataBlockSignature;
inline constexpr std::size_t kBlockKinds = 12;
struct Plan {
  Step Header;
  Step IDList;
  Step Info;
  Step Strings[kStringCount];
  bool ToUnicode = false;  // the strings turn UTF-16: each one there is New
  Step Blocks[kBlockKinds];
  Step Tail;  // the TerminalBlock and what follows it
  Step& Block(BlockSignature signature) { return Blocks[signature - kFirstBlockSignature]; }
};

// The new file of a plan over the old file from, and its model.
EditResult Write(const ShellLink& from, const Plan& plan, Image* to, ShellLink* model);

// An empty link: no target, no texts, ShowCommand 1, Unicode strings.
EditResult NewShellLink(Image* to, ShellLink* model);

// The target, in the form CanonicalTarget gives it.  What described the
// old target goes: the ID list, LinkInfo, relative path, the environment,
// tracker, Darwin, special and known folder and Vista ID list blocks, and
// the header's file attributes, times and size.
EditResult EditTarget(const ShellLink& from, const char* target, Image* to, ShellLink* model);

// One StringData text; empty removes it.  Strings stay in the file's
// encoding where the new text fits it, else all of them become Unicode.
EditResult EditString(const ShellLink& from, StringField field, const char* text, Image* to,
                      ShellLink* model);

// The icon: its location string, its IconEnvironmentDataBlock (for a
// location with %NAME%) and the header's IconIndex.
EditResult EditIcon(const ShellLink& from, const char* icon, int32_t index, Image* to,
                    ShellLink* model);

// The header's ShowCommand and HotKey.
EditResult EditShowCommand(const ShellLink& from, uint32_t showCommand, Image* to,
                           ShellLink* model);
EditResult EditHotKey(const ShellLink& from, uint16_t hotKey, Image* to, ShellLink* model);

}  // namespace shllink
