// The audit's words for what opening a store came to: the store's problem and warning, and the
// lines for standard error, made from the facts the registry session hands back.
#pragma once

#include "audit/audit_record.h"
#include "registry/registry_session.h"

#include <string>

// The outcome of the store labelled label. A store that holds none of the keys the audit reads
// is not read, though it was opened: it is most often an export of another key, with nothing to
// audit, and passing it as clean would tell an engine that the host needs nothing. lines gets
// the lines for standard error (UTF-8), one for the problem and one for each warning.
StoreOutcome StoreOutcomeOf(const std::string& label, const RegistryOpening& opening,
                            std::string* lines);
