#include "audit/live_report.h"

#include "audit/live_state.h"
#include "audit/report_cells.h"
#include "text/utf8.h"

namespace {

typedef nlohmann::ordered_json Json;

Json LinkJson(const LinkAddress& address) {
    return address.length == 0 ? Json(nullptr) : Json(FormatLinkAddress(address));
}

Json InterfaceJson(const AuditRecord& record) {
    if (!record.live.interfaceFound) {
        return Json(nullptr);
    }
    const LiveInterface& facts = record.live.interfaceFacts;
    return Json{{"guid", FormatInterfaceGuid(facts.guid)},
                {"currentAddress", LinkJson(facts.current)},
                {"permanentAddress", LinkJson(facts.permanent)},
                {"operStatus", LinkStatusName(facts.status)}};
}

Json ExpectedJson(const DerivedAddress& address) {
    if (!address.derived) {
        return Json(nullptr);
    }
    Json json = {{"mask", (MaskText(address.mask))}, {"symmetric", address.symmetric}};
    json["lsbFirst"] = (FormatMacAddress(address.lsbFirst));
    json["msbFirst"] = (FormatMacAddress(address.msbFirst));
    return json;
}

Json NeighborJson(const LiveNeighbor& neighbor) {
    return Json{{"interfaceGuid", FormatInterfaceGuid(neighbor.interfaceGuid)},
                {"family", neighbor.family},
                {"address", neighbor.address},
                {"linkAddress", LinkJson(neighbor.link)},
                {"state", NeighborStateName(neighbor.state)}};
}

} // namespace

std::string LiveStateCell(const AuditRecord& record) {
    const char* state = LiveStateName(record.live.state);
    if (state == nullptr) {
        return "-";
    }
    const char* reading = ReadingName(record.live.reading);
    return reading == nullptr ? std::string(state) : std::string(state) + "(" + reading + ")";
}

std::string MacNowCell(const AuditRecord& record) {
    const std::string text = FormatLinkAddress(record.live.interfaceFacts.current);
    return !record.live.interfaceFound || text.empty() ? "-" : text;
}

std::string MacExpectedCell(const AuditRecord& record) {
    return record.live.expected.derived ? (AddressText(record.live.expected)) : "-";
}

std::string RestartCell(const AuditRecord& record) {
    return record.live.restartNeeded ? "yes" : "no";
}

std::string LiveFindingText(const Finding& finding) {
    std::string text = (FormatMacAddress(finding.address));
    for (std::size_t index = 0; index < finding.neighbors.size(); ++index) {
        text += (index == 0 ? " (" : " ") + finding.neighbors[index];
    }
    return finding.neighbors.empty() ? text : text + ")";
}

void AddLiveAdapterJson(const AuditRecord& record, Json* adapter) {
    const LiveAdapter& live = record.live;
    const char* state = LiveStateName(live.state);
    const char* reading = ReadingName(live.reading);
    (*adapter)["networkAddress"] =
        live.networkAddress.empty() ? Json(nullptr) : Json(live.networkAddress);
    (*adapter)["liveState"] = state == nullptr ? Json(nullptr) : Json(state);
    (*adapter)["liveReading"] = reading == nullptr ? Json(nullptr) : Json(reading);
    (*adapter)["interface"] = InterfaceJson(record);
    (*adapter)["macExpected"] = ExpectedJson(live.expected);
    (*adapter)["restartNeeded"] = live.restartNeeded;
}

Json StoreLiveJson(const StoreOutcome& store) {
    if (store.live == kLiveNoHost) {
        return Json(nullptr);
    }
    Json neighbors = Json::array();
    for (const LiveNeighbor& neighbor : store.neighbors) {
        neighbors.push_back(NeighborJson(neighbor));
    }
    return Json{{"read", store.live == kLiveRead}, {"neighbors", neighbors}};
}

void AddLiveFindingJson(const Finding& finding, Json* json) {
    (*json)["address"] = (FormatMacAddress(finding.address));
    if (finding.kind == kNeighborCollision) {
        (*json)["neighbors"] = finding.neighbors;
    }
}
