#include "fix/adapter_pass.h"

#include "console/console.h"
#include "fix/decision_table.h"
#include "registry/registry_access.h"

#include <cwchar>

const wchar_t AdapterClassKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002bE10318}";

namespace {

const wchar_t kIpoibComponentId[] = L"iba\\ipoib";
const std::size_t kIpoibComponentIdLength = 9;

// Adapter keys are opened for reading only; a write opens its own handle.
void VisitAdapter(HKEY classKey, DWORD index, PassState* state) {
    wchar_t adapterName[kSubkeyNameBufferLength];
    if (!SubkeyName(classKey, index, adapterName)) {
        return;
    }
    HKEY adapterKey;
    if (RegOpenKeyExW(classKey, adapterName, 0, KEY_READ, &adapterKey) != ERROR_SUCCESS) {
        return;
    }
    wchar_t value[kStringValueBufferLength];
    if (!ReadStringValue(adapterKey, L"ComponentId", value) || !IsIpoibComponentId(value)) {
        RegCloseKey(adapterKey);
        return;
    }
    ++state->counters.ipoibAdaptersSeen;
    if (!ReadStringValue(adapterKey, L"NetCfgInstanceId", value)) {
        RegCloseKey(adapterKey);
        return;
    }
    const IpoibInstance* instance = FindInstance(ProcessInstanceTable(), value);
    if (instance == nullptr) {
        if (state->settings.interactive) {
            PrintMessage(L"No IPoIB device with NetCfgInstanceId %s has been found in Network "
                         L"instances.\n",
                         value);
        }
    } else {
        CarryOutDecision(classKey, adapterName, *instance, state);
        PrintText(L"\n");
    }
    RegCloseKey(adapterKey);
}

void PrintClosingLines(const PassCounters& counters) {
    if (counters.ipoibAdaptersSeen == 0) {
        PrintText(L"No IPoIB devices have been found. Please check your installation.\n");
    }
    if (counters.changesMade > 0) {
        PrintText(L"For the changes to take affect, please disable and re-enable IPoIB devices "
                  L"via \"Device Manager\".\n");
    }
}

} // namespace

bool IsIpoibComponentId(const wchar_t* componentId) {
    return std::wcsncmp(componentId, kIpoibComponentId, kIpoibComponentIdLength) == 0;
}

const IpoibInstance* FindInstance(const InstanceTable* table, const wchar_t* netCfgInstanceId) {
    for (std::size_t index = 0; index < table->count; ++index) {
        if (std::wcscmp(table->records[index].instanceName, netCfgInstanceId) == 0) {
            return &table->records[index];
        }
    }
    return nullptr;
}

PassCounters CheckAndFixAdapters(const RunSettings& settings) {
    PassState state = {settings, PassCounters{0, 0, 0}, false, WriteFailureLog{}};
    HKEY classKey;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, AdapterClassKey, 0, KEY_READ, &classKey) !=
        ERROR_SUCCESS) {
        return state.counters;
    }
    const DWORD subkeyCount = CountSubkeys(classKey);
    if (subkeyCount == 0) {
        RegCloseKey(classKey);
        return state.counters;
    }
    for (DWORD index = 0; index < subkeyCount; ++index) {
        VisitAdapter(classKey, index, &state);
    }
    if (settings.interactive) {
        PrintClosingLines(state.counters);
    }
    RegCloseKey(classKey);
    return state.counters;
}
