// Feeds the audit's document reader with arbitrary files, as a fleet's hosts might send them:
// every input is read or refused with a reason, never a crash, and a document that is read
// gives adapters of stores that were read, and merges into an audit as that many adapters,
// planned and checked across hosts.
#include "audit/audit_document.h"
#include "audit/conflicts.h"
#include "audit/document_merge.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    DocumentFacts facts;
    std::string problem;
    if (!ReadAuditDocument(bytes, &facts, &problem)) {
        if (problem.empty()) {
            std::abort();
        }
        return 0;
    }
    for (const DocumentAdapter& adapter : facts.adapters) {
        if (adapter.store >= facts.stores.size() || !facts.stores[adapter.store].read) {
            std::abort();
        }
    }
    AuditReport report = {};
    report.silentMask = size > 0 ? data[size - 1] : 0xE7;
    MergeDocument(L"document.json", bytes, report.silentMask, &report);
    if (report.records.size() != facts.adapters.size()) {
        std::abort();
    }
    FindConflicts(&report);
    return 0;
}
