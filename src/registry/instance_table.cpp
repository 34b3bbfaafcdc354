#include "registry/instance_table.h"

#include "guid/guid_classification.h"
#include "guid/hex_conversion.h"
#include "registry/registry_access.h"
#include "registry/registry_api.h"

#include <cstdlib>
#include <cwchar>

const wchar_t NetworkInstancesKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}";

namespace {

const wchar_t kIpoibPrefix[] = L"IBA\\IPOIB\\";
const std::size_t kIpoibPrefixLength = 10;
const std::size_t kGuidDigits = 16;
const wchar_t kConnectionSuffix[] = L"\\Connection";

InstanceTable gProcessTable = {nullptr, 0};

void ReleaseInstanceTable() {
    std::free(gProcessTable.records);
    gProcessTable = InstanceTable{nullptr, 0};
}

// Reads the Plug and Play identifier of one instance; false when it has none.
bool ReadPnpInstanceId(HKEY instancesKey, const wchar_t* instanceName, wchar_t* value) {
    wchar_t path[kMaxSubkeyNameLength + (sizeof kConnectionSuffix / sizeof(wchar_t))];
    std::wcscpy(path, instanceName);
    std::wcscat(path, kConnectionSuffix);
    HKEY connectionKey;
    if (RegOpenKeyExW(instancesKey, path, 0, KEY_READ, &connectionKey) != ERROR_SUCCESS) {
        return false;
    }
    const bool read = ReadStringValue(connectionKey, L"PnpInstanceID", value);
    RegCloseKey(connectionKey);
    return read;
}

void AddInstance(const wchar_t* instanceName, wchar_t* pnpInstanceId) {
    IpoibInstance* record = &gProcessTable.records[gProcessTable.count];
    std::wcscpy(record->instanceName, instanceName);
    // Only the 16 characters behind the prefix carry the GUID.
    wchar_t* guidText = pnpInstanceId + kIpoibPrefixLength;
    if (std::wcslen(guidText) > kGuidDigits) {
        guidText[kGuidDigits] = L'\0';
    }
    PortGuid guid = 0;
    if (ConvertHexText(guidText, kGuidDigits, &guid)) {
        record->portGuid = guid;
    }
    const GuidClassification classification = ClassifyPortGuid(record->portGuid);
    record->known = classification.known ? 1 : 0;
    record->knownMask = classification.knownMask;
    record->workaroundMask = classification.workaroundMask;
    ++gProcessTable.count;
}

void CollectInstance(HKEY instancesKey, DWORD index) {
    wchar_t name[kSubkeyNameBufferLength];
    wchar_t pnpInstanceId[kStringValueBufferLength];
    if (!SubkeyName(instancesKey, index, name) ||
        !ReadPnpInstanceId(instancesKey, name, pnpInstanceId)) {
        return;
    }
    if (std::wcsncmp(pnpInstanceId, kIpoibPrefix, kIpoibPrefixLength) != 0) {
        return;
    }
    AddInstance(name, pnpInstanceId);
}

} // namespace

void CollectIpoibInstances() {
    ReleaseInstanceTable();
    HKEY instancesKey;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, NetworkInstancesKey, 0, KEY_READ, &instancesKey) !=
        ERROR_SUCCESS) {
        return;
    }
    const DWORD subkeyCount = CountSubkeys(instancesKey);
    if (subkeyCount != 0) {
        gProcessTable.records =
            static_cast<IpoibInstance*>(std::calloc(subkeyCount, sizeof(IpoibInstance)));
    }
    if (gProcessTable.records != nullptr) {
        for (DWORD index = 0; index < subkeyCount; ++index) {
            CollectInstance(instancesKey, index);
        }
    }
    RegCloseKey(instancesKey);
}

const InstanceTable* ProcessInstanceTable() {
    return &gProcessTable;
}
