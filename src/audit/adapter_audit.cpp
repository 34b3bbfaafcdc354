#include "audit/adapter_audit.h"

#include "fix/adapter_pass.h"
#include "fix/decision_table.h"
#include "registry/instance_table.h"
#include "registry/registry_access.h"
#include "registry/registry_api.h"

#include "text/utf8.h"

#include <string>

namespace {

const char kTooLongText[] = "(254 characters or more)";

std::string StringValue(HKEY key, const wchar_t* name) {
    wchar_t value[kStringValueBufferLength];
    return ReadStringValue(key, name, value) ? EncodeUtf8(value) : std::string();
}

// The connection's name, below the network instance's Connection key.
std::string ConnectionName(const wchar_t* instanceId) {
    const std::wstring path =
        std::wstring(NetworkInstancesKey) + L"\\" + instanceId + L"\\Connection";
    HKEY connectionKey;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &connectionKey) !=
        ERROR_SUCCESS) {
        return std::string();
    }
    const std::string name = StringValue(connectionKey, L"Name");
    RegCloseKey(connectionKey);
    return name;
}

// What stands for a stored value of another type than the REG_SZ a fix writes.
std::string OtherTypeText(DWORD type) {
    switch (type) {
    case REG_EXPAND_SZ:
        return "(a REG_EXPAND_SZ value)";
    case REG_BINARY:
        return "(a REG_BINARY value)";
    case REG_DWORD:
        return "(a REG_DWORD value)";
    case REG_MULTI_SZ:
        return "(a REG_MULTI_SZ value)";
    default:
        return "(a value of type " + std::to_string(type) + ")";
    }
}

// A value too long to read, or of another type than REG_SZ, is still stored, and is no mask:
// a silent fix writes over it.
void ReadStored(HKEY adapterKey, AuditRecord* record) {
    DWORD type = 0;
    DWORD byteCount = 0;
    if (RegQueryValueExW(adapterKey, L"GUIDMask", nullptr, &type, nullptr, &byteCount) !=
        ERROR_SUCCESS) {
        return;
    }
    if (type != REG_SZ) {
        SetStoredValue(type, OtherTypeText(type), record);
        return;
    }
    wchar_t value[kStringValueBufferLength];
    const bool read = ReadStringValue(adapterKey, L"GUIDMask", value);
    SetStoredValue(type, read ? EncodeUtf8(value) : std::string(kTooLongText), record);
}

GuidClass ClassOf(GuidStanding standing) {
    switch (standing) {
    case kKnownNothingToWrite:
    case kKnownWithMask:
        return kClassKnown;
    case kWorkaround:
        return kClassWorkaround;
    default:
        return kClassUnrecognized;
    }
}

// The rows of the pass's own decision table for -f -s (what is written) and -f (what is done).
void PlanFix(const IpoibInstance& instance, GuidMask silentMask, AuditRecord* record) {
    const RunSettings silentFix = {true, false, silentMask};
    const GuidStanding standing = StandingOf(instance);
    const DecisionRow* silentRow = SelectDecisionRow(standing, true, false);
    record->silentFixWrites = silentRow->writes;
    record->silentFixMask = MaskOfSource(silentRow->mask, instance, silentFix);
    record->maskFromArgument = silentRow->mask == kSilentMask;
    const DecisionRow* fixRow = SelectDecisionRow(standing, true, true);
    record->fixAction = fixRow->mask == kPromptedMask ? kFixPrompts
                        : fixRow->writes              ? kFixWritesPredefined
                                                      : kFixNothingToFix;
    record->guidClass = ClassOf(standing);
    record->predefinedMask = instance.known != 0 ? instance.knownMask : instance.workaroundMask;
}

AuditState StateOf(const AuditRecord& record) {
    if (!record.silentFixWrites) {
        return kStateOk;
    }
    if (record.storedKind != kStoredMask) {
        return kStateWouldWrite;
    }
    return record.storedMask == record.silentFixMask ? kStateOk : kStateWouldReplace;
}

} // namespace

AuditRecord EmptyRecord(std::size_t store, const std::string& subkey) {
    AuditRecord record;
    record.store = store;
    record.subkey = subkey;
    return record;
}

void SetStoredValue(std::uint32_t type, const std::string& text, AuditRecord* record) {
    record->storedType = type;
    record->storedText = text;
    record->storedKind =
        type == REG_SZ ? ReadStoredMask(text, &record->storedMask) : kStoredNotMask;
}

void PlanAdapter(const IpoibInstance& instance, GuidMask silentMask, AuditRecord* record) {
    record->guid = instance.portGuid;
    PlanFix(instance, silentMask, record);
    record->state = StateOf(*record);
    if (record->silentFixWrites) {
        record->afterFix = DeriveAddress(record->guid, record->silentFixMask);
    }
    if (record->storedKind == kStoredMask) {
        record->stored = DeriveAddress(record->guid, record->storedMask);
    }
}

namespace {

void AuditAdapter(HKEY adapterKey, AuditRecord* record, GuidMask silentMask) {
    record->driverDesc = StringValue(adapterKey, L"DriverDesc");
    ReadStored(adapterKey, record);
    // The adapter's own address, set in its advanced properties: the driver takes it over the
    // address the mask gives.
    record->live.networkAddress = StringValue(adapterKey, L"NetworkAddress");
    wchar_t instanceId[kStringValueBufferLength];
    if (!ReadStringValue(adapterKey, L"NetCfgInstanceId", instanceId)) {
        return;
    }
    record->instanceId = EncodeUtf8(instanceId);
    record->connectionName = ConnectionName(instanceId);
    const IpoibInstance* instance = FindInstance(ProcessInstanceTable(), instanceId);
    if (instance != nullptr) {
        PlanAdapter(*instance, silentMask, record);
    }
}

void VisitSubkey(HKEY classKey, DWORD index, std::size_t store, GuidMask silentMask,
                 std::vector<AuditRecord>* records) {
    wchar_t name[kSubkeyNameBufferLength];
    HKEY adapterKey;
    if (!SubkeyName(classKey, index, name) ||
        RegOpenKeyExW(classKey, name, 0, KEY_READ, &adapterKey) != ERROR_SUCCESS) {
        return;
    }
    wchar_t componentId[kStringValueBufferLength];
    if (ReadStringValue(adapterKey, L"ComponentId", componentId) &&
        IsIpoibComponentId(componentId)) {
        AuditRecord record = EmptyRecord(store, EncodeUtf8(name));
        AuditAdapter(adapterKey, &record, silentMask);
        records->push_back(record);
    }
    RegCloseKey(adapterKey);
}

} // namespace

StoredMaskKind ReadStoredMask(const std::string& text, GuidMask* mask) {
    for (std::size_t index = 0; index < kMaskCandidateCount; ++index) {
        const GuidMaskValueText written = FormatGuidMaskValue(kMaskCandidates[index]);
        if (text == EncodeUtf8(written.characters)) {
            *mask = kMaskCandidates[index];
            return kStoredMask;
        }
    }
    return kStoredNotMask;
}

void AuditOpenRegistry(std::size_t store, GuidMask silentMask, std::vector<AuditRecord>* records) {
    CollectIpoibInstances();
    HKEY classKey;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, AdapterClassKey, 0, KEY_READ, &classKey) !=
        ERROR_SUCCESS) {
        return;
    }
    const DWORD subkeyCount = CountSubkeys(classKey);
    for (DWORD index = 0; index < subkeyCount; ++index) {
        VisitSubkey(classKey, index, store, silentMask, records);
    }
    RegCloseKey(classKey);
}
