// The import files, one per store: the "GUIDMask" values a silent fix would write, one section
// per adapter key, as reg export writes a file (UTF-16LE with a byte-order mark, CR LF line ends),
// so that reg import sets those values and nothing else.
#pragma once

#include "audit/audit_record.h"

#include <cstddef>
#include <string>

// The file's bytes, for the adapters of the store numbered store.
std::string RegImportFile(const AuditReport& report, std::size_t store);

// Writes one store's import file into directory for each store read, named after the store's
// path (each separator as "_", ending in ".reg"). False when a file could not be written (said
// on standard error). Two stores whose paths give one name would overwrite each other's file:
// the second is refused; so is a file that is one of the stores audited.
bool WriteImportFiles(const std::wstring& directory, const AuditReport& report);
