// The program's exit statuses; scripts tell a run that did all it had to from one that did not.
#pragma once

// The arguments were taken, or help was asked for, and every "GUIDMask" write that was due
// succeeded.
const int kExitSuccess = 0;
// Bad arguments, a registry that could not be opened, or a failed "GUIDMask" write.
const int kExitFailure = -1;
