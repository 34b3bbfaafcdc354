// The import file of one store: the "GUIDMask" values a silent fix would write, one section per
// adapter key, as reg export writes a file (UTF-16LE with a byte-order mark, CR LF line ends),
// so that reg import sets those values and nothing else.
#pragma once

#include "audit/audit_record.h"

#include <cstddef>
#include <string>

// The file's bytes, for the adapters of the store numbered store.
std::string RegImportFile(const AuditReport& report, std::size_t store);
