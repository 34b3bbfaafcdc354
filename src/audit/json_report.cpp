#include "audit/json_report.h"

#include "audit/report_cells.h"
#include "text/utf8.h"

#include <nlohmann/json.hpp>

namespace {

typedef nlohmann::ordered_json Json;

std::string Utf8(const std::wstring& text) {
    std::string bytes;
    AppendUtf8(text.data(), text.size(), &bytes);
    return bytes;
}

Json TextOrNull(const std::wstring& text) {
    return text.empty() ? Json(nullptr) : Json(Utf8(text));
}

Json NameOrNull(const char* name) {
    return name == nullptr ? Json(nullptr) : Json(name);
}

Json AddressJson(const DerivedAddress& address) {
    if (!address.derived) {
        return Json(nullptr);
    }
    Json json = {{"mask", Utf8(MaskText(address.mask))}, {"symmetric", address.symmetric}};
    if (address.symmetric) {
        json["address"] = Utf8(FormatMacAddress(address.lsbFirst));
    }
    json["lsbFirst"] = Utf8(FormatMacAddress(address.lsbFirst));
    json["msbFirst"] = Utf8(FormatMacAddress(address.msbFirst));
    json["group"] = HasGroupAddress(address);
    return json;
}

Json StoredJson(const AuditRecord& record) {
    if (record.storedKind == kStoredAbsent) {
        return Json(nullptr);
    }
    Json json = {{"text", Utf8(record.storedText)},
                 {"validMask", record.storedKind == kStoredMask}};
    json["mask"] =
        record.storedKind == kStoredMask ? Json(Utf8(MaskText(record.storedMask))) : Json(nullptr);
    return json;
}

Json AdapterJson(const AuditReport& report, const AuditRecord& record) {
    const bool found = record.guidClass != kClassNone;
    const bool predefined = record.guidClass == kClassKnown || record.guidClass == kClassWorkaround;
    Json json = {
        {"store", Utf8(report.stores[record.store].label)},
        {"subkey", Utf8(record.subkey)},
        {"driverDesc", TextOrNull(record.driverDesc)},
        {"netCfgInstanceId", TextOrNull(record.instanceId)},
        {"connectionName", TextOrNull(record.connectionName)},
        {"portGuid", found ? Json(Utf8(GuidText(record.guid))) : Json(nullptr)},
        {"classification", NameOrNull(ClassName(record.guidClass))},
        {"predefinedMask",
         predefined ? Json(Utf8(MaskText(record.predefinedMask))) : Json(nullptr)},
        {"stored", StoredJson(record)},
        {"silentFixWrites",
         record.silentFixWrites ? Json(Utf8(WrittenText(record.silentFixMask))) : Json(nullptr)},
        {"maskFromArgument", record.maskFromArgument},
        {"fixAction", NameOrNull(FixActionName(record.fixAction))},
        {"state", StateName(record.state)},
        {"macAfterFix", AddressJson(record.afterFix)},
        {"builtInMapping", record.guidClass == kClassKnown && !record.silentFixWrites},
        {"macStored", AddressJson(record.stored)},
    };
    return json;
}

Json FindingJson(const AuditReport& report, const Finding& finding) {
    Json json = {{"kind", FindingName(finding.kind)}};
    if (finding.kind == kMacCollision || finding.kind == kGroupAddress) {
        json["address"] = Utf8(FormatMacAddress(finding.address));
        json["reading"] = NameOrNull(ReadingName(finding.reading));
    } else if (finding.kind != kZeroGuid) {
        json["portGuid"] = Utf8(GuidText(finding.guid));
    }
    Json adapters = Json::array();
    for (std::size_t record : finding.records) {
        const AuditRecord& adapter = report.records[record];
        adapters.push_back({{"store", Utf8(report.stores[adapter.store].label)},
                            {"subkey", Utf8(adapter.subkey)},
                            {"portGuid", Utf8(GuidText(adapter.guid))}});
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
                {"warnings", report.warnings.size()}};
}

} // namespace

std::string JsonReport(const AuditReport& report, int status) {
    Json document = {{"format", kJsonFormatVersion},
                     {"silentMask", Utf8(MaskText(report.silentMask))}};
    Json stores = Json::array();
    for (const StoreOutcome& store : report.stores) {
        stores.push_back({{"label", Utf8(store.label)},
                          {"read", store.read},
                          {"problem", TextOrNull(store.problem)}});
    }
    document["stores"] = stores;
    Json adapters = Json::array();
    for (const AuditRecord& record : report.records) {
        adapters.push_back(AdapterJson(report, record));
    }
    document["adapters"] = adapters;
    Json conflicts = Json::array();
    for (const Finding& finding : report.conflicts) {
        conflicts.push_back(FindingJson(report, finding));
    }
    document["conflicts"] = conflicts;
    Json warnings = Json::array();
    for (const Finding& finding : report.warnings) {
        warnings.push_back(FindingJson(report, finding));
    }
    document["warnings"] = warnings;
    document["maskDependentAdapters"] = report.maskDependentCount;
    Json suggested = Json::array();
    for (GuidMask mask : report.suggestedMasks) {
        suggested.push_back(Utf8(MaskText(mask)));
    }
    document["suggestedMasks"] = suggested;
    document["summary"] = SummaryJson(report);
    document["status"] = status;
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}
