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
// longer than the record holds, is written back as it was.  A new icon
// index for the same icon text sends the object's own text back with it;
// where that text is not the object's exactly (the ANSI code page lacks a
// character of it, ERROR_NO_UNICODE_TRANSLATION, or it is too long to read
// whole, ERROR_FILENAME_EXCED_RANGE), nothing is set and nothing written.
// Returns 0 or the failing call's HRESULT; never a positive value.
[[nodiscard]] HRESULT ShellLinkCreate();

// Loads FileName, resolves it without touching the file, and reads its
// fields into LinkRecord, each text also with its environment references
// expanded.  The texts are read in UTF-16 and kept in the ANSI code page
// without best fit: a character the code page lacks is '?', never a
// look-alike, and a text longer than 260 bytes is cut at a whole character.
// On success LoadedRecord is a copy of LinkRecord.  Returns 0 or the
// failing call's HRESULT; never a positive value.
[[nodiscard]] HRESULT ShellLinkQuery();
