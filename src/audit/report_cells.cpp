#include "audit/report_cells.h"

#include "console/console_format.h"
#include "text/utf8.h"

std::wstring Wide(const std::string& utf8) {
    return DecodeUtf8(utf8.data(), utf8.size());
}

namespace {

// Control characters (C0, DEL, C1) and the marks that turn text's direction around: either
// could make a row read as something it is not.
bool IsHiddenControl(unsigned unit) {
    return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F) || (unit >= 0x202A && unit <= 0x202E) ||
           (unit >= 0x2066 && unit <= 0x2069);
}

} // namespace

std::wstring Printable(const std::wstring& text) {
    std::wstring cell = text;
    for (wchar_t& unit : cell) {
        if (IsHiddenControl(static_cast<unsigned>(unit))) {
            unit = L'?';
        }
    }
    return cell;
}

std::wstring GuidText(PortGuid guid) {
    std::wstring text = L"0x";
    for (int index = 0; index < 8; ++index) {
        text += ExpandMessage(L"%02x", nullptr, PortGuidByte(guid, index));
    }
    return text;
}

std::wstring MaskText(GuidMask mask) {
    return ExpandMessage(L"0x%02x", nullptr, mask);
}

std::wstring WrittenText(GuidMask mask) {
    return FormatGuidMaskValue(mask).characters;
}

std::wstring AdapterPlace(const AuditReport& report, std::size_t record) {
    const AuditRecord& adapter = report.records[record];
    return Printable(report.stores[adapter.store].label + L" " + Wide(adapter.subkey));
}

std::wstring AddressText(const DerivedAddress& address) {
    if (address.symmetric) {
        return FormatMacAddress(address.lsbFirst);
    }
    return L"lsb:" + FormatMacAddress(address.lsbFirst) + L",msb:" +
           FormatMacAddress(address.msbFirst);
}
