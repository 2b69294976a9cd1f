// Editing a link.  An edit makes the whole file anew from the model of the
// old one: the structures the edited field owns are built afresh, every
// other one is copied from its own bytes, down to unknown blocks and
// whatever follows the TerminalBlock.  The new file goes to a buffer of
// its own, and its model is read from each structure as it is placed.
// Texts come in UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format.h"

namespace shllink {

// Longest text a field takes, in UTF-8 bytes: the description holds up to
// 1024 characters on Windows (INFOTIPSIZE), the other fields less.
inline constexpr std::size_t kMaxTextBytes = 4 * 1024;

enum class EditResult {
  Ok,
  BadText,  // not valid UTF-8, or longer than kMaxTextBytes
  TooLong,  // longer than the environment block that must hold it
  NoRoom,   // the file, or one of its structures, cannot hold the result
};

// A link file in memory: Size bytes at Data, room for Capacity.
struct Image {
  uint8_t* Data = nullptr;
  std::size_t Capacity = 0;
  std::size_t Size = 0;
};

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

// Header fields, changed in place in the file and its model.
void SetShowCommand(Image* image, ShellLink* model, uint32_t showCommand);
void SetHotKey(Image* image, ShellLink* model, uint16_t hotKey);

}  // namespace shllink
