#include "audit/live_document.h"

namespace {

typedef nlohmann::json Json;

// Longer than any IP address text, link address or name the audit writes.
const std::size_t kMaxFactBytes = 64;
const std::size_t kMaxNetworkAddressBytes = 1024;

// The text member name of object ("" when absent or null); false with why when it is no text
// of at most limit bytes.
bool FactText(const Json& object, const char* name, std::size_t limit, std::string* text,
              std::string* why) {
    text->clear();
    const Json::const_iterator found = object.find(name);
    if (found == object.end() || found->is_null()) {
        return true;
    }
    if (!found->is_string() || found->get_ref<const std::string&>().size() > limit) {
        *why = std::string("its \"") + name + "\" is not text of at most " + std::to_string(limit) +
               " bytes";
        return false;
    }
    *text = found->get_ref<const std::string&>();
    return true;
}

bool LinkFact(const Json& object, const char* name, LinkAddress* address, std::string* why) {
    std::string text;
    if (!FactText(object, name, kMaxFactBytes, &text, why)) {
        return false;
    }
    if (!ParseLinkAddress(text, address)) {
        *why = std::string("its \"") + name + "\" is not a link-layer address";
        return false;
    }
    return true;
}

bool GuidFact(const Json& object, const char* name, InterfaceGuid* guid, std::string* why) {
    std::string text;
    if (!FactText(object, name, kMaxFactBytes, &text, why) || !ParseInterfaceGuid(text, guid)) {
        *why = std::string("its \"") + name + "\" is not a GUID";
        return false;
    }
    return true;
}

bool NeighborFact(const Json& neighbor, LiveNeighbor* fact, std::string* why) {
    std::string state;
    std::string reason = "it is not an object";
    if (!neighbor.is_object() ||
        !GuidFact(neighbor, "interfaceGuid", &fact->interfaceGuid, &reason) ||
        !LinkFact(neighbor, "linkAddress", &fact->link, &reason) ||
        !FactText(neighbor, "address", kMaxFactBytes, &fact->address, &reason) ||
        !FactText(neighbor, "state", kMaxFactBytes, &state, &reason)) {
        *why = "a neighbor: " + reason;
        return false;
    }
    const Json::const_iterator family = neighbor.find("family");
    if (family == neighbor.end() || !family->is_number_unsigned() ||
        (family->get<std::uint64_t>() != 4 && family->get<std::uint64_t>() != 6)) {
        *why = "a neighbor's \"family\" is not 4 or 6";
        return false;
    }
    fact->family = static_cast<int>(family->get<std::uint64_t>());
    if (!NeighborStateOfName(state, &fact->state)) {
        *why = "a neighbor's \"state\" is not one the audit writes";
        return false;
    }
    return true;
}

} // namespace

bool ReadStoreLive(const Json& store, LiveAvailability* availability,
                   std::vector<LiveNeighbor>* neighbors, std::string* why) {
    *availability = kLiveNoHost;
    neighbors->clear();
    const Json::const_iterator live = store.find("live");
    if (live == store.end() || live->is_null()) {
        return true;
    }
    const Json::const_iterator read = live->is_object() ? live->find("read") : live->end();
    const Json::const_iterator list = live->is_object() ? live->find("neighbors") : live->end();
    if (read == live->end() || !read->is_boolean() || list == live->end() || !list->is_array()) {
        *why = "its \"live\" is not null or an object with \"read\" and \"neighbors\"";
        return false;
    }
    *availability = read->get<bool>() ? kLiveRead : kLiveFailed;
    for (const Json& neighbor : *list) {
        neighbors->emplace_back();
        if (!NeighborFact(neighbor, &neighbors->back(), why)) {
            return false;
        }
    }
    return true;
}

bool ReadAdapterLive(const Json& adapter, LiveAdapter* live, std::string* why) {
    *live = LiveAdapter();
    if (!FactText(adapter, "networkAddress", kMaxNetworkAddressBytes, &live->networkAddress, why)) {
        return false;
    }
    const Json::const_iterator facts = adapter.find("interface");
    if (facts == adapter.end() || facts->is_null()) {
        return true;
    }
    std::string status;
    std::string reason = "it is not an object";
    LiveInterface& found = live->interfaceFacts;
    if (!facts->is_object() || !GuidFact(*facts, "guid", &found.guid, &reason) ||
        !LinkFact(*facts, "currentAddress", &found.current, &reason) ||
        !LinkFact(*facts, "permanentAddress", &found.permanent, &reason) ||
        !FactText(*facts, "operStatus", kMaxFactBytes, &status, &reason)) {
        *why = "its \"interface\": " + reason;
        return false;
    }
    if (!LinkStatusOfName(status, &found.status)) {
        *why = "its \"interface\": its \"operStatus\" is not one the audit writes";
        return false;
    }
    live->interfaceFound = true;
    return true;
}
