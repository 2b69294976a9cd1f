// How a link target is stored, and the canonical form of a path target.
#pragma once

#include <cstddef>

namespace shllink {

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
// Any other target is copied exactly as written.  None also when the
// target does not fit out.
TargetForm CanonicalTarget(const char* target, char* out, std::size_t capacity, bool* folder);

// True when text holds a %NAME% reference.
bool HasEnvironmentReference(const char* text);

}  // namespace shllink
