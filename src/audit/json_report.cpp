#include "audit/json_report.h"

#include "audit/live_report.h"
#include "audit/report_cells.h"
#include "console/console.h"
#include "text/utf8.h"

#include <nlohmann/json.hpp>

namespace {

typedef nlohmann::ordered_json Json;

Json TextOrNull(const std::string& text) {
    return text.empty() ? Json(nullptr) : Json(text);
}

Json NameOrNull(const char* name) {
    return name == nullptr ? Json(nullptr) : Json(name);
}

Json AddressJson(const DerivedAddress& address) {
    if (!address.derived) {
        return Json(nullptr);
    }
    Json json = {{"mask", MaskText(address.mask)}, {"symmetric", address.symmetric}};
    if (address.symmetric) {
        json["address"] = FormatMacAddress(address.lsbFirst);
    }
    json["lsbFirst"] = FormatMacAddress(address.lsbFirst);
    json["msbFirst"] = FormatMacAddress(address.msbFirst);
    json["group"] = HasGroupAddress(address);
    return json;
}

Json StoredJson(const AuditRecord& record) {
    if (record.storedKind == kStoredAbsent) {
        return Json(nullptr);
    }
    Json json = {{"text", record.storedText},
                 {"type", record.storedType},
                 {"validMask", record.storedKind == kStoredMask}};
    json["mask"] =
        record.storedKind == kStoredMask ? Json(MaskText(record.storedMask)) : Json(nullptr);
    return json;
}

Json AdapterJson(const AuditReport& report, const AuditRecord& record) {
    const bool found = record.guidClass != kClassNone;
    const bool predefined = record.guidClass == kClassKnown || record.guidClass == kClassWorkaround;
    Json json = {
        {"store", report.stores[record.store].label},
        {"subkey", record.subkey},
        {"driverDesc", TextOrNull(record.driverDesc)},
        {"netCfgInstanceId", TextOrNull(record.instanceId)},
        {"connectionName", TextOrNull(record.connectionName)},
        {"portGuid", found ? Json(GuidText(record.guid)) : Json(nullptr)},
        {"classification", NameOrNull(ClassName(record.guidClass))},
        {"predefinedMask", predefined ? Json(MaskText(record.predefinedMask)) : Json(nullptr)},
        {"stored", StoredJson(record)},
        {"silentFixWrites",
         record.silentFixWrites ? Json(WrittenText(record.silentFixMask)) : Json(nullptr)},
        {"maskFromArgument", record.maskFromArgument},
        {"fixAction", NameOrNull(FixActionName(record.fixAction))},
        {"state", StateName(record.state)},
        {"macAfterFix", AddressJson(record.afterFix)},
        {"builtInMapping", record.guidClass == kClassKnown && !record.silentFixWrites},
        {"macStored", AddressJson(record.stored)},
    };
    AddLiveAdapterJson(record, &json);
    return json;
}

Json FindingJson(const AuditReport& report, const Finding& finding) {
    Json json = {{"kind", FindingName(finding.kind)}};
    if (finding.kind == kMacCollision || finding.kind == kGroupAddress) {
        json["address"] = FormatMacAddress(finding.address);
        json["reading"] = NameOrNull(ReadingName(finding.reading));
    } else if (finding.kind == kNeighborCollision || finding.kind == kLiveCollision) {
        AddLiveFindingJson(finding, &json);
    } else if (finding.kind != kZeroGuid) {
        json["portGuid"] = GuidText(finding.guid);
    }
    Json adapters = Json::array();
    for (std::size_t record : finding.records) {
        const AuditRecord& adapter = report.records[record];
        adapters.push_back({{"store", report.stores[adapter.store].label},
                            {"subkey", adapter.subkey},
                            {"portGuid", GuidText(adapter.guid)}});
    }
    json["adapters"] = adapters;
    return json;
}

Json SummaryJson(const AuditReport& report) {
    const AuditCounts counts = CountAudit(report);
    return Json{{"stores", report.stores.size()},
                {"unreadable", counts.unreadable},
                {"adapters", report.records.size()},
                {"ok", counts.byState[kStateOk]},
                {"wouldWrite", counts.byState[kStateWouldWrite]},
                {"wouldReplace", counts.byState[kStateWouldReplace]},
                {"noInstance", counts.byState[kStateNoInstance]},
                {"conflicts", report.conflicts.size()},
                {"warnings", report.warnings.size()},
                {"pendingRestart", counts.pendingRestart}};
}

// The document goes out a member at a time, and an array an element a line, so that a
// fleet's document is never held whole; nlohmann-json writes every key and value. It is ASCII
// alone, every other character a \u escape, so that no code page or re-encoding between the
// program and a reader can change it.
void PrintJson(const Json& json, const char* before) {
    const std::string text = before + json.dump(-1, ' ', true, Json::error_handler_t::replace);
    PrintText(DecodeUtf8(text.data(), text.size()).c_str());
}

void PrintKey(const char* key, bool first) {
    PrintJson(Json(key), first ? "{" : ",\n");
    PrintText(L":");
}

void PrintElement(const Json& element, std::size_t index) {
    PrintJson(element, index == 0 ? "[\n" : ",\n");
}

void EndArray(std::size_t count) {
    PrintText(count == 0 ? L"[]" : L"\n]");
}

void PrintFindings(const char* key, const AuditReport& report,
                   const std::vector<Finding>& findings) {
    PrintKey(key, false);
    for (std::size_t index = 0; index < findings.size(); ++index) {
        PrintElement(FindingJson(report, findings[index]), index);
    }
    EndArray(findings.size());
}

} // namespace

void PrintJsonReport(const AuditReport& report, int status) {
    PrintKey("format", true);
    PrintJson(Json(kJsonFormatVersion), "");
    PrintKey("silentMask", false);
    PrintJson(Json(MaskText(report.silentMask)), "");
    PrintKey("stores", false);
    for (std::size_t index = 0; index < report.stores.size(); ++index) {
        const StoreOutcome& store = report.stores[index];
        PrintElement(Json{{"label", store.label},
                          {"read", store.read},
                          {"problem", TextOrNull(store.problem)},
                          {"warning", TextOrNull(store.warning)},
                          {"live", StoreLiveJson(store)}},
                     index);
    }
    EndArray(report.stores.size());
    PrintKey("adapters", false);
    for (std::size_t index = 0; index < report.records.size(); ++index) {
        PrintElement(AdapterJson(report, report.records[index]), index);
    }
    EndArray(report.records.size());
    PrintFindings("conflicts", report, report.conflicts);
    PrintFindings("warnings", report, report.warnings);
    PrintKey("maskDependentAdapters", false);
    PrintJson(Json(report.maskDependentCount), "");
    Json suggested = Json::array();
    for (GuidMask mask : report.suggestedMasks) {
        suggested.push_back(MaskText(mask));
    }
    PrintKey("suggestedMasks", false);
    PrintJson(suggested, "");
    PrintKey("firstSuggestionChanges", false);
    PrintJson(report.suggestedMasks.empty() ? Json(nullptr) : Json(report.firstSuggestionChanges),
              "");
    PrintKey("summary", false);
    PrintJson(SummaryJson(report), "");
    PrintKey("status", false);
    PrintJson(Json(status), "");
    PrintText(L"}\n");
}
