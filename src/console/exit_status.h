// The programs' exit statuses; scripts tell a run that did all it had to from one that did not.
#pragma once

// Both programs: the arguments were taken, or help was asked for, and the run did all it had
// to: every "GUIDMask" write that was due succeeded, or the audit found every adapter ok.
const int kExitSuccess = 0;

// ipoib-guidmask: bad arguments, a registry that could not be opened, or a failed "GUIDMask"
// write.
const int kExitFailure = -1;

// ipoib-guidmask-audit, from the least to the most serious: a fix would change something or
// an adapter's instance is missing; a conflict between adapters; trouble (bad usage, a store
// that could not be read, an import file that could not be written).
const int kAuditChangesDue = 1;
const int kAuditConflicts = 2;
const int kAuditTrouble = 3;
