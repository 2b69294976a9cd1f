// The longest text of one field of a link that passes between the tool and
// a shell link object, for both platforms.
#pragma once

#include <cstddef>

// In bytes, without the terminator.  The portable object refuses a longer
// text, and the tool takes no longer one back from either object.  Windows'
// own keeps a description of up to INFOTIPSIZE (1024) characters and the
// other fields less; 4 KiB holds 1024 characters in UTF-8 and in any ANSI
// code page.
inline constexpr std::size_t kMaxLinkTextBytes = 4 * 1024;
