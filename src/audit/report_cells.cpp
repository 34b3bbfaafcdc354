#include "audit/report_cells.h"

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

std::string GuidText(PortGuid guid) {
    std::string text = "0x";
    for (int index = 0; index < 8; ++index) {
        text += HexByte(PortGuidByte(guid, index));
    }
    return text;
}

std::string MaskText(GuidMask mask) {
    return "0x" + HexByte(mask);
}

std::string WrittenText(GuidMask mask) {
    return EncodeUtf8(FormatGuidMaskValue(mask).characters);
}

std::wstring AdapterPlace(const AuditReport& report, std::size_t record) {
    const AuditRecord& adapter = report.records[record];
    return Printable(Wide(report.stores[adapter.store].label + " " + adapter.subkey));
}

std::string AddressText(const DerivedAddress& address) {
    if (address.symmetric) {
        return FormatMacAddress(address.lsbFirst);
    }
    return "lsb:" + FormatMacAddress(address.lsbFirst) +
           ",msb:" + FormatMacAddress(address.msbFirst);
}
