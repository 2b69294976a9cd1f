// The link store: the one shell link a run works on, and its moves between
// LinkRecord and a link file through the platform's shell link object.
#pragma once

#include <cstdint>

#include "platform.h"
#include "text.h"

struct LINK_RECORD {
  char FileName[kTextSize];
  char TargetPath[kTextSize];
  char TargetPathExpanded[kTextSize];
  char Arguments[kTextSize];
  char ArgumentsExpanded[kTextSize];
  char WorkingDirectory[kTextSize];
  char WorkingDirectoryExpanded[kTextSize];
  int32_t RunStyle;
  char IconLocation[kTextSize];
  char IconLocationExpanded[kTextSize];
  int32_t IconIndex;
  uint16_t HotKey;  // low byte virtual-key code, high byte HOTKEYF_ flags
  char Description[kTextSize];
};

// Zero at start: every text empty, every number 0.
extern LINK_RECORD LinkRecord;

// The record as the last successful ShellLinkQuery read it, and whether
// there was one; zero and false at start.
extern LINK_RECORD LoadedRecord;
extern bool RecordLoaded;

// Writes every field of LinkRecord (never the expanded ones) to a new shell
// link object and saves it as FileName, replacing an existing file.
// After a successful ShellLinkQuery (an Edit), the object loads FileName
// first and is given only the fields that differ from LoadedRecord, so
// that every part of the link the record does not hold, and every text
// longer than the record holds, is written back as it was.
// Returns 0 or the failing call's HRESULT; never a positive value.
[[nodiscard]] HRESULT ShellLinkCreate();

// Loads FileName, resolves it without touching the file, and reads its
// fields into LinkRecord, each text also with its environment references
// expanded; on success LoadedRecord is a copy of LinkRecord.  Returns 0 or the failing call's HRESULT; never a positive value.
[[nodiscard]] HRESULT ShellLinkQuery();
