// Reading a link file from memory into its model (format.h).  Every size
// and offset is checked against the bytes that are there before it is used.
#pragma once

#include "format.h"

namespace shllink {

enum class ParseResult {
  Ok,
  NotShellLink,  // wrong header size or class: some other kind of file
  Malformed,     // a size or offset that does not fit the file
};

// Each structure on its own, at the start of data; *consumed tells its size.
ParseResult ParseShellLinkHeader(Bytes data, ShellLinkHeader* header);
ParseResult ParseLinkTargetIDList(Bytes data, LinkTargetIDList* list, std::size_t* consumed);
ParseResult ParseLinkInfo(Bytes data, LinkInfo* info, std::size_t* consumed);
ParseResult ParseStringData(Bytes data, uint32_t linkFlags, StringData* strings,
                            std::size_t* consumed);
// ExtraData runs to the end of the file.
ParseResult ParseExtraData(Bytes data, ExtraData* extra);

// The whole file.
ParseResult ParseShellLink(Bytes file, ShellLink* link);

}  // namespace shllink
