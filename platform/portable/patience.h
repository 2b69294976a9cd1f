// How long one read, or one save, waits for others in all: for a lock or a
// file someone holds, and in tries again at names that others keep
// changing.  Anyone who can read a folder can hold its lock, anyone who can
// write it can change its names, and any client of a share can hold a file
// open there, so nothing of theirs may keep a run waiting longer.  The file
// code (files/) and the share code (smb/) wait on the same clock.
#pragma once

namespace portable {

inline constexpr long long kPatienceMs = 2000;

// A read or a save begins: the time it may wait is whole again.
void StartPatience();

// Whether the read or save may still wait or try again; its first call
// starts the clock.
bool Patient();

// Waits the milliseconds given where the run may still wait; false where
// not.
bool WaitAMoment(long milliseconds = 1);

}  // namespace portable
