#include "guid/mask_argument.h"

#include "console/console_format.h"
#include "guid/hex_conversion.h"

#include <cstddef>
#include <cstdint>

bool ReadMaskArgument(const wchar_t* argument, std::uint32_t* value, std::wstring* refusal) {
    std::uint64_t number = 0;
    if (!ConvertHexText(argument, static_cast<std::size_t>(-1), &number)) {
        *refusal = ExpandMessage(
            L"Could not convert argument %s. GUID mask is a 2-digit hexadecimal number.\n",
            argument, 0);
        return false;
    }
    const std::uint32_t read = static_cast<std::uint32_t>(number);
    if (IsValidGuidMask(read) != 0) {
        *refusal = ExpandMessage(
            L"Invalid GUID mask 0x%02x. GUID mask must contain exactly 6 non-zero bits.\n", nullptr,
            read & 0xFFu);
        return false;
    }
    *value = read;
    return true;
}
