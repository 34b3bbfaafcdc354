#include "guid/guid_mask.h"

int IsValidGuidMask(std::uint32_t value) {
    unsigned remaining = value & 0xFFu;
    if (remaining == 0) {
        return -1;
    }
    int setBits = 0;
    while (remaining != 0) {
        setBits += static_cast<int>(remaining & 1u);
        remaining >>= 1;
    }
    return setBits == 6 ? 0 : -1;
}

GuidMaskValueText FormatGuidMaskValue(GuidMask mask) {
    GuidMaskValueText result = {};
    wchar_t digits[3];
    int count = 0;
    unsigned remaining = mask;
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + remaining % 10);
        remaining /= 10;
    } while (remaining != 0);
    for (int i = 0; i < count; ++i) {
        result.characters[i] = digits[count - 1 - i];
    }
    result.characters[count] = L'\0';
    result.byteCount = static_cast<std::uint32_t>((count + 1) * 2);
    return result;
}
