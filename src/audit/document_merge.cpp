#include "audit/document_merge.h"

#include "audit/adapter_audit.h"
#include "audit/report_cells.h"
#include "console/console.h"
#include "guid/guid_classification.h"
#include "text/utf8.h"

#include <set>
#include <vector>

namespace {

const std::size_t kLeftOut = static_cast<std::size_t>(-1);

// The labels of the report's stores, taken in as the report grows; a report smaller than what
// was taken in is a new audit (one audit in a process, but a fuzz target makes many).
std::set<std::string> gLabels;
std::size_t gLabelsTaken = 0;

void PrintTrouble(const std::wstring& line) {
    PrintErrorText((L"ipoib-guidmask-audit: " + line + L"\n").c_str());
}

// The adapter's facts planned as the audit plans an adapter read from a registry: the port
// GUID classified by this build's tables, the fix's own decision rows for this -d mask.
AuditRecord PlannedRecord(const DocumentAdapter& adapter, std::size_t store, GuidMask silentMask) {
    AuditRecord record = EmptyRecord(store, adapter.subkey);
    record.driverDesc = adapter.driverDesc;
    record.instanceId = adapter.instanceId;
    record.connectionName = adapter.connectionName;
    record.live = adapter.live;
    if (adapter.stored) {
        SetStoredValue(adapter.storedType, adapter.storedText, &record);
    }
    if (adapter.instanceFound) {
        IpoibInstance instance = {};
        const GuidClassification classification = ClassifyPortGuid(adapter.guid);
        instance.portGuid = adapter.guid;
        instance.known = classification.known ? 1 : 0;
        instance.knownMask = classification.knownMask;
        instance.workaroundMask = classification.workaroundMask;
        PlanAdapter(instance, silentMask, &record);
    }
    return record;
}

// Each store of the document that is not yet in the audit: its index in the report, or
// kLeftOut.
std::vector<std::size_t> MergeStores(const std::wstring& argument, const DocumentFacts& facts,
                                     AuditReport* report) {
    std::vector<std::size_t> indexes(facts.stores.size(), kLeftOut);
    for (std::size_t index = 0; index < facts.stores.size(); ++index) {
        const DocumentStore& store = facts.stores[index];
        if (LabelInAudit(*report, store.label)) {
            AddTroubleStore(argument,
                            L"host " + Printable(Wide(store.label)) +
                                L" is already in the audit; left out, so that it is not counted "
                                L"as two hosts",
                            report);
            continue;
        }
        if (!store.read) {
            PrintTrouble(Printable(argument) + L": " + Printable(Wide(store.label)) +
                         L" could not be read where the document was written: " +
                         Printable(Wide(store.problem)));
        }
        indexes[index] = report->stores.size();
        report->stores.push_back(StoreOutcome{store.label, store.read, store.problem, store.warning,
                                              store.live, store.neighbors});
    }
    return indexes;
}

} // namespace

bool LabelInAudit(const AuditReport& report, const std::string& label) {
    if (gLabelsTaken > report.stores.size()) {
        gLabels.clear();
        gLabelsTaken = 0;
    }
    for (; gLabelsTaken < report.stores.size(); ++gLabelsTaken) {
        gLabels.insert(report.stores[gLabelsTaken].label);
    }
    return gLabels.count(label) > 0;
}

void AddTroubleStore(const std::wstring& argument, const std::wstring& why, AuditReport* report) {
    const std::wstring problem = Printable(argument) + L": " + why;
    PrintTrouble(problem);
    report->stores.push_back(
        StoreOutcome{EncodeUtf8(argument), false, EncodeUtf8(problem), "", kLiveNoHost, {}});
}

void MergeDocument(const std::wstring& argument, const std::string& bytes, GuidMask silentMask,
                   AuditReport* report) {
    DocumentFacts facts;
    std::string problem;
    if (!ReadAuditDocument(bytes, &facts, &problem)) {
        AddTroubleStore(argument, L"not a document the audit can merge: " + Wide(problem), report);
        return;
    }
    const std::vector<std::size_t> indexes = MergeStores(argument, facts, report);
    for (const DocumentAdapter& adapter : facts.adapters) {
        if (indexes[adapter.store] != kLeftOut) {
            report->records.push_back(PlannedRecord(adapter, indexes[adapter.store], silentMask));
        }
    }
}
