// The registry API over the process's registry store. Handles hold a key's path, not the key,
// and are looked up again at each call, so that a store re-read by a write never leaves a
// handle pointing at a key of the old tree.
#include "registry/registry_api-posix.h"
#include "registry/store/registry_store.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

struct RegistryKeyHandle {
    std::u16string path; // below HKEY_LOCAL_MACHINE, names separated by single backslashes
    REGSAM access;
};

namespace {

// Rights that change a key.
const REGSAM kWriteRights =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;

// HKEY_LOCAL_MACHINE itself may be read; values are never written at the root.
const RegistryKeyHandle kLocalMachine = {std::u16string(), KEY_READ};

std::vector<RegistryKeyHandle*> gOpenHandles;

LSTATUS ResolveHandle(HKEY key, const RegistryKeyHandle** handle) {
    if (!RegistryStoreLoaded()) {
        return ERROR_INVALID_HANDLE;
    }
    if (key == HKEY_LOCAL_MACHINE) {
        *handle = &kLocalMachine;
        return ERROR_SUCCESS;
    }
    if (std::find(gOpenHandles.begin(), gOpenHandles.end(), key) == gOpenHandles.end()) {
        return ERROR_INVALID_HANDLE;
    }
    *handle = key;
    return ERROR_SUCCESS;
}

// The handle's key in the current tree; a key that a re-read no longer finds was deleted.
LSTATUS ResolveKey(HKEY key, const RegistryKeyHandle** handle, std::uint32_t* index) {
    const LSTATUS resolved = ResolveHandle(key, handle);
    if (resolved != ERROR_SUCCESS) {
        return resolved;
    }
    *index = FindStoreKey((*handle)->path.data(), (*handle)->path.size());
    return *index == kNoIndex ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

// A caller's text: UTF-16 units, one per wchar_t element.
std::u16string UnitsOf(const wchar_t* text) {
    std::u16string units;
    for (; text != nullptr && *text != 0; ++text) {
        units.push_back(static_cast<char16_t>(static_cast<std::uint32_t>(*text) & 0xFFFFu));
    }
    return units;
}

// base\subKey; a trailing backslash is ignored, a leading one or an empty name is refused.
LSTATUS JoinKeyPath(const std::u16string& base, const wchar_t* subKey, std::u16string* path) {
    std::u16string relative = UnitsOf(subKey);
    if (!relative.empty() && relative.back() == u'\\') {
        relative.pop_back();
    }
    if ((!relative.empty() && relative.front() == u'\\') ||
        relative.find(u"\\\\") != std::u16string::npos) {
        return ERROR_BAD_PATHNAME;
    }
    *path = base;
    if (!base.empty() && !relative.empty()) {
        path->push_back(u'\\');
    }
    path->append(relative);
    return ERROR_SUCCESS;
}

void CopyUnitsOut(const char16_t* units, std::size_t length, wchar_t* out) {
    for (std::size_t at = 0; at < length; ++at) {
        out[at] = static_cast<wchar_t>(units[at]);
    }
    out[length] = 0;
}

// Data bytes go out as UTF-16 units, one per wchar_t element; an odd last byte fills the low
// byte of one more element.
void CopyDataOut(const unsigned char* data, std::size_t length, BYTE* out) {
    for (std::size_t at = 0; at < length; at += 2) {
        const unsigned high = at + 1 < length ? data[at + 1] : 0u;
        const wchar_t unit = static_cast<wchar_t>(data[at] | (high << 8));
        std::memcpy(out + (at / 2) * sizeof(wchar_t), &unit, sizeof unit);
    }
}

std::vector<unsigned char> DataIn(const BYTE* data, DWORD length) {
    std::vector<unsigned char> bytes(length);
    for (std::size_t at = 0; at < length; ++at) {
        wchar_t unit;
        std::memcpy(&unit, data + (at / 2) * sizeof(wchar_t), sizeof unit);
        bytes[at] = static_cast<unsigned char>(
            (static_cast<std::uint32_t>(unit) >> (8 * (at % 2))) & 0xFFu);
    }
    return bytes;
}

} // namespace

LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) {
    static_cast<void>(options);
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *result = nullptr;
    const RegistryKeyHandle* base = nullptr;
    std::uint32_t baseKey = kNoIndex;
    LSTATUS status = ResolveKey(key, &base, &baseKey);
    std::u16string path;
    if (status == ERROR_SUCCESS) {
        status = JoinKeyPath(base->path, subKey, &path);
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (FindStoreKey(path.data(), path.size()) == kNoIndex) {
        return ERROR_FILE_NOT_FOUND;
    }
    if ((access & kWriteRights) != 0 && !StoreFileWritable()) {
        return ERROR_ACCESS_DENIED;
    }
    RegistryKeyHandle* handle = new RegistryKeyHandle{path, access};
    gOpenHandles.push_back(handle);
    *result = handle;
    return ERROR_SUCCESS;
}

LSTATUS RegQueryInfoKeyW(HKEY key, LPWSTR className, LPDWORD classLength, LPDWORD reserved,
                         LPDWORD subKeys, LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                         LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                         LPDWORD securityDescriptorLength, PFILETIME lastWriteTime) {
    const RegistryKeyHandle* handle = nullptr;
    std::uint32_t index = kNoIndex;
    const LSTATUS status = ResolveKey(key, &handle, &index);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (reserved != nullptr || (className != nullptr && classLength == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    if ((handle->access & KEY_QUERY_VALUE) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    if (className != nullptr && *classLength == 0) {
        return ERROR_MORE_DATA; // no room even for the empty class name's zero
    }
    const KeyTree& tree = StoreTree();
    const TreeKey& record = tree.keys[index];
    DWORD longestSubkey = 0;
    for (std::uint32_t child = 0; child < record.childCount; ++child) {
        longestSubkey =
            std::max(longestSubkey, tree.keys[ChildKeyAt(tree, index, child)].nameLength);
    }
    DWORD longestName = 0;
    DWORD longestData = 0;
    for (std::uint32_t at = record.firstValue; at != kNoIndex; at = tree.values[at].next) {
        if (tree.values[at].live) {
            longestName = std::max(longestName, tree.values[at].nameLength);
            longestData = std::max(longestData, tree.values[at].dataLength);
        }
    }
    const DWORD outputs[] = {
        0, record.childCount, longestSubkey, 0, record.valueCount, longestName, longestData, 0};
    LPDWORD targets[] = {
        classLength,        subKeys,        maxSubKeyLength,         maxClassLength, values,
        maxValueNameLength, maxValueLength, securityDescriptorLength};
    for (std::size_t at = 0; at < sizeof outputs / sizeof outputs[0]; ++at) {
        if (targets[at] != nullptr) {
            *targets[at] = outputs[at];
        }
    }
    if (className != nullptr) {
        className[0] = 0;
    }
    if (lastWriteTime != nullptr) {
        *lastWriteTime = StoreLastWriteTime();
    }
    return ERROR_SUCCESS;
}

LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                      LPWSTR className, LPDWORD classLength, PFILETIME lastWriteTime) {
    const RegistryKeyHandle* handle = nullptr;
    std::uint32_t parent = kNoIndex;
    const LSTATUS status = ResolveKey(key, &handle, &parent);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (reserved != nullptr || name == nullptr || nameLength == nullptr ||
        (className != nullptr && classLength == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    if ((handle->access & KEY_ENUMERATE_SUB_KEYS) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    const KeyTree& tree = StoreTree();
    const std::uint32_t child = ChildKeyAt(tree, parent, index);
    if (child == kNoIndex) {
        return ERROR_NO_MORE_ITEMS;
    }
    // The name and its terminating zero must fit; a name is never cut.
    const TreeKey& record = tree.keys[child];
    if (record.nameLength >= *nameLength || (className != nullptr && *classLength == 0)) {
        return ERROR_MORE_DATA;
    }
    CopyUnitsOut(record.name, record.nameLength, name);
    *nameLength = record.nameLength;
    if (className != nullptr) {
        className[0] = 0;
    }
    if (classLength != nullptr) {
        *classLength = 0;
    }
    if (lastWriteTime != nullptr) {
        *lastWriteTime = StoreLastWriteTime();
    }
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD dataLength) {
    const RegistryKeyHandle* handle = nullptr;
    std::uint32_t index = kNoIndex;
    const LSTATUS status = ResolveKey(key, &handle, &index);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (reserved != nullptr || (data != nullptr && dataLength == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    if ((handle->access & KEY_QUERY_VALUE) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    const KeyTree& tree = StoreTree();
    const std::u16string name = UnitsOf(valueName);
    const std::uint32_t found = FindValue(tree, index, name.data(), name.size());
    if (found == kNoIndex) {
        return ERROR_FILE_NOT_FOUND;
    }
    const TreeValue& value = tree.values[found];
    if (type != nullptr) {
        *type = value.type;
    }
    if (data != nullptr && value.dataLength > *dataLength) {
        *dataLength = value.dataLength; // the room needed; nothing is cut
        return ERROR_MORE_DATA;
    }
    if (data != nullptr) {
        CopyDataOut(value.data, value.dataLength, data);
    }
    if (dataLength != nullptr) {
        *dataLength = value.dataLength;
    }
    return ERROR_SUCCESS;
}

LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD dataLength) {
    const RegistryKeyHandle* handle = nullptr;
    const LSTATUS status = ResolveHandle(key, &handle);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (reserved != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    if ((handle->access & KEY_SET_VALUE) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    if (data == nullptr && dataLength != 0) {
        return ERROR_NOACCESS;
    }
    const std::u16string name = UnitsOf(valueName);
    if (name.size() > kMaxValueNameLength) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::vector<unsigned char> bytes = DataIn(data, dataLength);
    return WriteStoreValue(handle->path.data(), handle->path.size(),
                           {name.data(), name.size(), type, bytes.data(), bytes.size()});
}

LSTATUS RegCloseKey(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE) {
        return ERROR_SUCCESS;
    }
    const std::vector<RegistryKeyHandle*>::iterator found =
        std::find(gOpenHandles.begin(), gOpenHandles.end(), key);
    if (found == gOpenHandles.end()) {
        return ERROR_INVALID_HANDLE;
    }
    delete *found;
    gOpenHandles.erase(found);
    return ERROR_SUCCESS;
}
