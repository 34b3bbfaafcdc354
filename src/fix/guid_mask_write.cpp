#include "fix/adapter_pass.h"

bool WriteGuidMask(HKEY classKey, const wchar_t* adapterName, GuidMask mask) {
    HKEY adapterKey;
    if (RegOpenKeyExW(classKey, adapterName, 0, KEY_SET_VALUE, &adapterKey) != ERROR_SUCCESS) {
        return false;
    }
    const GuidMaskValueText text = FormatGuidMaskValue(mask);
    const LSTATUS status =
        RegSetValueExW(adapterKey, L"GUIDMask", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(text.characters), text.byteCount);
    RegCloseKey(adapterKey);
    return status == ERROR_SUCCESS;
}
