#include "audit/audit_document.h"

#include "audit/json_report.h"
#include "audit/live_document.h"

#include <nlohmann/json.hpp>

#include <map>

namespace {

typedef nlohmann::json Json;

const std::size_t kMaxLabelBytes = 4096;   // a path on POSIX, a computer's name on Windows
const std::size_t kMaxNameBytes = 1024;    // registry text: at most 255 UTF-16 units
const std::size_t kMaxProblemBytes = 4096; // one stderr line
const std::uint64_t kMaxRegistryType = 0xFFFFFFFFu;
const std::uint32_t kRegSz = 1;

// Where a value, or a member's key, lies in the document's bytes.
struct Span {
    std::size_t begin;
    std::size_t end; // 0: not found
};

bool IsSpace(char byte) {
    return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r';
}

std::size_t SkipSpace(const std::string& bytes, std::size_t at) {
    while (at < bytes.size() && IsSpace(bytes[at])) {
        ++at;
    }
    return at;
}

std::size_t ByteOrderMarkLength(const std::string& bytes) {
    return bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
}

// One past the string whose opening quote is at at.
std::size_t StringEnd(const std::string& bytes, std::size_t at) {
    for (++at; at < bytes.size(); ++at) {
        if (bytes[at] == '\\') {
            ++at;
        } else if (bytes[at] == '"') {
            return at + 1;
        }
    }
    return bytes.size();
}

// Whether no object or array opens deeper than the limit, outside strings. Up to the first
// error this reads the bytes as the parser does, so the parser's stack stays as small.
bool NestingWithin(const std::string& bytes, std::size_t limit) {
    std::size_t depth = 0;
    std::size_t at = 0;
    while (at < bytes.size()) {
        const char byte = bytes[at];
        if (byte == '"') {
            at = StringEnd(bytes, at);
            continue;
        }
        if ((byte == '{' || byte == '[') && ++depth > limit) {
            return false;
        }
        if ((byte == '}' || byte == ']') && depth > 0) {
            --depth;
        }
        ++at;
    }
    return true;
}

// One past the value that begins at at, in bytes already known to be valid JSON.
std::size_t ValueEnd(const std::string& bytes, std::size_t at) {
    if (bytes[at] == '"') {
        return StringEnd(bytes, at);
    }
    std::size_t depth = 0;
    while (at < bytes.size()) {
        const char byte = bytes[at];
        if (byte == '"') {
            at = StringEnd(bytes, at);
            continue;
        }
        if (depth == 0 && (IsSpace(byte) || byte == ',' || byte == '}' || byte == ']')) {
            return at;
        }
        ++at;
        if (byte == '{' || byte == '[') {
            ++depth;
        } else if ((byte == '}' || byte == ']') && --depth == 0) {
            return at;
        }
    }
    return at;
}

// The next member (key and value) of the object, or element (value) of the array, whose
// opening at has passed; false at its end. The document is parsed an element at a time, so
// that a fleet's document is never held as one tree.
bool NextItem(const std::string& bytes, bool object, std::size_t* at, Span* key, Span* value) {
    std::size_t here = SkipSpace(bytes, *at);
    if (here < bytes.size() && bytes[here] == ',') {
        here = SkipSpace(bytes, here + 1);
    }
    if (here >= bytes.size() || bytes[here] == '}' || bytes[here] == ']') {
        *at = here + 1;
        return false;
    }
    if (object) {
        *key = Span{here, StringEnd(bytes, here)};
        here = SkipSpace(bytes, SkipSpace(bytes, key->end) + 1);
    }
    *value = Span{here, ValueEnd(bytes, here)};
    *at = value->end;
    return true;
}

Json ParseSpan(const std::string& bytes, Span span) {
    return Json::parse(bytes.begin() + static_cast<std::ptrdiff_t>(span.begin),
                       bytes.begin() + static_cast<std::ptrdiff_t>(span.end), nullptr, false);
}

// The text member name of object, at most limit bytes: "" when absent or null, unless it is
// required. False with why.
bool ReadText(const Json& object, const char* name, bool required, std::size_t limit,
              std::string* text, std::string* why) {
    const Json::const_iterator found = object.find(name);
    text->clear();
    if (found == object.end() || found->is_null()) {
        *why = std::string("it has no \"") + name + "\"";
        return !required;
    }
    if (!found->is_string()) {
        *why = std::string("its \"") + name + "\" is not text";
        return false;
    }
    if (found->get_ref<const std::string&>().size() > limit) {
        *why =
            std::string("its \"") + name + "\" is longer than " + std::to_string(limit) + " bytes";
        return false;
    }
    *text = found->get_ref<const std::string&>();
    return true;
}

bool ReadStore(const Json& store, DocumentStore* fact, std::string* why) {
    if (!store.is_object()) {
        *why = "it is not an object";
        return false;
    }
    const Json::const_iterator read = store.find("read");
    if (read == store.end() || !read->is_boolean()) {
        *why = "its \"read\" is not true or false";
        return false;
    }
    fact->read = read->get<bool>();
    return ReadText(store, "label", true, kMaxLabelBytes, &fact->label, why) &&
           ReadText(store, "problem", false, kMaxProblemBytes, &fact->problem, why) &&
           ReadText(store, "warning", false, kMaxProblemBytes, &fact->warning, why) &&
           ReadStoreLive(store, &fact->live, &fact->neighbors, why);
}

int HexDigit(char digit) {
    if (digit >= '0' && digit <= '9') {
        return digit - '0';
    }
    if ((digit | 0x20) >= 'a' && (digit | 0x20) <= 'f') {
        return (digit | 0x20) - 'a' + 10;
    }
    return -1;
}

// "0x" and bytes 0 to 7 in hexadecimal, as the audit writes a port GUID.
bool ReadGuid(const std::string& text, PortGuid* guid) {
    if (text.size() != 18 || text.compare(0, 2, "0x") != 0) {
        return false;
    }
    *guid = 0;
    for (std::size_t index = 0; index < 8; ++index) {
        const int high = HexDigit(text[2 + 2 * index]);
        const int low = HexDigit(text[3 + 2 * index]);
        if (high < 0 || low < 0) {
            return false;
        }
        *guid |= static_cast<PortGuid>(high * 16 + low) << (8 * index);
    }
    return true;
}

bool ReadPortGuid(const Json& adapter, DocumentAdapter* fact, std::string* why) {
    const Json::const_iterator found = adapter.find("portGuid");
    if (found == adapter.end()) {
        *why = "it has no \"portGuid\"";
        return false;
    }
    fact->instanceFound = !found->is_null();
    fact->guid = 0;
    if (fact->instanceFound &&
        (!found->is_string() || !ReadGuid(found->get_ref<const std::string&>(), &fact->guid))) {
        *why = "its \"portGuid\" is not a port GUID (0x and 16 hexadecimal digits)";
        return false;
    }
    return true;
}

bool ReadStored(const Json& adapter, DocumentAdapter* fact, std::string* why) {
    const Json::const_iterator found = adapter.find("stored");
    if (found == adapter.end()) {
        *why = "it has no \"stored\"";
        return false;
    }
    fact->stored = !found->is_null();
    fact->storedType = kRegSz;
    if (!fact->stored) {
        return true;
    }
    if (!found->is_object()) {
        *why = "its \"stored\" is not an object";
        return false;
    }
    const Json::const_iterator type = found->find("type");
    if (type != found->end()) {
        if (!type->is_number_unsigned() || type->get<std::uint64_t>() > kMaxRegistryType) {
            *why = "its stored \"type\" is not a registry type";
            return false;
        }
        fact->storedType = static_cast<std::uint32_t>(type->get<std::uint64_t>());
    }
    return ReadText(*found, "text", true, kMaxNameBytes, &fact->storedText, why);
}

bool ReadAdapter(const Json& adapter, const std::map<std::string, std::size_t>& labels,
                 const DocumentFacts& facts, DocumentAdapter* fact, std::string* why) {
    if (!adapter.is_object()) {
        *why = "it is not an object";
        return false;
    }
    std::string label;
    if (!ReadText(adapter, "store", true, kMaxLabelBytes, &label, why)) {
        return false;
    }
    const std::map<std::string, std::size_t>::const_iterator store = labels.find(label);
    if (store == labels.end() || !facts.stores[store->second].read) {
        *why = store == labels.end() ? "its store is not among the document's stores"
                                     : "its store is one that could not be read";
        return false;
    }
    fact->store = store->second;
    return ReadText(adapter, "subkey", true, kMaxNameBytes, &fact->subkey, why) &&
           ReadText(adapter, "driverDesc", false, kMaxNameBytes, &fact->driverDesc, why) &&
           ReadText(adapter, "netCfgInstanceId", false, kMaxNameBytes, &fact->instanceId, why) &&
           ReadText(adapter, "connectionName", false, kMaxNameBytes, &fact->connectionName, why) &&
           ReadPortGuid(adapter, fact, why) && ReadStored(adapter, fact, why) &&
           ReadAdapterLive(adapter, &fact->live, why);
}

// Each element of the array at span: the stores, or the adapters once the stores are read.
bool ReadArray(const std::string& bytes, Span span, bool stores, DocumentFacts* facts,
               std::string* problem) {
    const std::string name = stores ? "store" : "adapter";
    const std::string member = name + "s";
    if (span.end == 0 || bytes[span.begin] != '[') {
        *problem = "its \"" + member + "\" is " + (span.end == 0 ? "missing" : "not an array");
        return false;
    }
    std::map<std::string, std::size_t> labels;
    for (std::size_t index = 0; index < facts->stores.size(); ++index) {
        labels.emplace(facts->stores[index].label, index);
    }
    std::size_t at = span.begin + 1;
    std::size_t count = 0;
    Span key = {0, 0};
    Span value = {0, 0};
    while (NextItem(bytes, false, &at, &key, &value)) {
        std::string why;
        const std::size_t limit = stores ? kMaxDocumentStores : kMaxDocumentAdapters;
        if (++count > limit) {
            *problem = "it holds more than " + std::to_string(limit) + " " + member;
            return false;
        }
        bool read = value.end - value.begin <= kMaxDocumentElementBytes;
        why = "it is longer than " + std::to_string(kMaxDocumentElementBytes) + " bytes";
        if (read && stores) {
            facts->stores.emplace_back();
            read = ReadStore(ParseSpan(bytes, value), &facts->stores.back(), &why);
        } else if (read) {
            facts->adapters.emplace_back();
            read =
                ReadAdapter(ParseSpan(bytes, value), labels, *facts, &facts->adapters.back(), &why);
        }
        if (!read) {
            *problem = name + " " + std::to_string(count) + ": " + why;
            return false;
        }
    }
    return true;
}

bool ReadFormat(const std::string& bytes, Span span, std::string* problem) {
    if (span.end == 0) {
        *problem = "it has no \"format\"";
        return false;
    }
    const Json format = ParseSpan(bytes, span);
    if (format.is_number_unsigned() &&
        format.get<std::uint64_t>() == static_cast<std::uint64_t>(kJsonFormatVersion)) {
        return true;
    }
    *problem = format.is_number_integer()
                   ? "it is of format " + std::to_string(format.get<std::int64_t>()) +
                         "; this program reads format " + std::to_string(kJsonFormatVersion)
                   : std::string("its \"format\" is not a number");
    return false;
}

} // namespace

bool LooksLikeDocument(const char* bytes, std::size_t length) {
    const std::string head(bytes, length);
    const std::size_t at = SkipSpace(head, ByteOrderMarkLength(head));
    return at < head.size() && head[at] == '{';
}

bool ReadAuditDocument(const std::string& bytes, DocumentFacts* facts, std::string* problem) {
    *facts = DocumentFacts();
    if (bytes.size() > kMaxDocumentBytes) {
        *problem = "it is larger than " + std::to_string(kMaxDocumentBytes >> 20) + " MB";
        return false;
    }
    if (!NestingWithin(bytes, kMaxDocumentDepth)) {
        *problem = "it nests more than " + std::to_string(kMaxDocumentDepth) + " levels deep";
        return false;
    }
    std::size_t at = SkipSpace(bytes, ByteOrderMarkLength(bytes));
    if (!Json::accept(bytes) || bytes[at] != '{') {
        *problem = "it is not a valid JSON document";
        return false;
    }
    Span format = {0, 0};
    Span stores = {0, 0};
    Span adapters = {0, 0};
    Span key = {0, 0};
    Span value = {0, 0};
    ++at;
    while (NextItem(bytes, true, &at, &key, &value)) {
        const Json name = ParseSpan(bytes, key);
        if (name == "format") {
            format = value;
        } else if (name == "stores") {
            stores = value;
        } else if (name == "adapters") {
            adapters = value;
        }
    }
    return ReadFormat(bytes, format, problem) && ReadArray(bytes, stores, true, facts, problem) &&
           ReadArray(bytes, adapters, false, facts, problem);
}
