#include "fix/guid_mask_write.h"

LSTATUS WriteGuidMask(HKEY classKey, const wchar_t* adapterName, GuidMask mask) {
    HKEY adapterKey;
    const LSTATUS opened = RegOpenKeyExW(classKey, adapterName, 0, KEY_SET_VALUE, &adapterKey);
    if (opened != ERROR_SUCCESS) {
        return opened;
    }
    const GuidMaskValueText text = FormatGuidMaskValue(mask);
    const LSTATUS status =
        RegSetValueExW(adapterKey, L"GUIDMask", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(text.characters), text.byteCount);
    RegCloseKey(adapterKey);
    return status;
}
