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
    std::string place = report.stores[adapter.store].label + " " + adapter.subkey;
    if (!adapter.connectionName.empty()) {
        place += " \"" + adapter.connectionName + "\"";
    }
    return Printable(Wide(place));
}

std::string AddressText(const DerivedAddress& address) {
    if (address.symmetric) {
        return FormatMacAddress(address.lsbFirst);
    }
    return "lsb:" + FormatMacAddress(address.lsbFirst) +
           ",msb:" + FormatMacAddress(address.msbFirst);
}

std::wstring NameCell(const char* name) {
    return name == nullptr ? std::wstring(L"-")
                           : std::wstring(name, name + std::char_traits<char>::length(name));
}

std::wstring TextCell(const std::string& utf8) {
    return utf8.empty() ? std::wstring(L"-") : Printable(Wide(utf8));
}

std::wstring ClipCell(const std::wstring& cell, std::size_t width) {
    if (cell.size() <= width || width < 4) {
        return cell;
    }
    return cell.substr(0, width - 3) + L"...";
}

std::wstring ClassCell(const AuditRecord& record) {
    if (record.guidClass == kClassNone || record.guidClass == kClassUnrecognized) {
        return NameCell(ClassName(record.guidClass));
    }
    return NameCell(ClassName(record.guidClass)) + L":" + Wide(MaskText(record.predefinedMask));
}

std::wstring StoredCell(const AuditRecord& record) {
    switch (record.storedKind) {
    case kStoredMask:
        return Printable(Wide(record.storedText));
    case kStoredNotMask:
        return L"\"" + Printable(Wide(record.storedText)) + L"\"";
    default:
        return L"-";
    }
}

namespace {

// Text that is no mask, such as "(a REG_DWORD value)", is cut short: the wide table shows it.
const std::size_t kStoredTextWidth = 8;

} // namespace

std::wstring MaskChangeCell(const AuditRecord& record) {
    std::wstring stored = StoredCell(record);
    if (record.storedKind == kStoredNotMask) {
        stored = L"\"" + ClipCell(Printable(Wide(record.storedText)), kStoredTextWidth) + L"\"";
    }
    const bool changes = record.state == kStateWouldWrite || record.state == kStateWouldReplace;
    if (!changes || !record.silentFixWrites) {
        return stored;
    }
    return stored + L">" + Wide(WrittenText(record.silentFixMask));
}

std::wstring FixCell(const AuditRecord& record) {
    switch (record.fixAction) {
    case kFixWritesPredefined:
        return L"write:" + Wide(MaskText(record.predefinedMask));
    case kFixNothingToFix:
        return L"nothing";
    case kFixPrompts:
        return L"prompt";
    default:
        return L"-";
    }
}

std::wstring AddressCell(const DerivedAddress& address, bool builtIn) {
    if (!address.derived) {
        return builtIn ? L"built-in(undocumented)" : L"-";
    }
    return Wide(AddressText(address)) + (HasGroupAddress(address) ? L"(group)" : L"");
}

std::wstring ShortAddressCell(const DerivedAddress& address, bool builtIn) {
    if (!address.derived || address.symmetric) {
        return AddressCell(address, builtIn);
    }
    return Wide(FormatMacAddress(address.lsbFirst) + "/" + FormatMacAddress(address.msbFirst)) +
           (HasGroupAddress(address) ? L"(group)" : L"");
}

bool KeepsBuiltInMapping(const AuditRecord& record) {
    return record.guidClass == kClassKnown && !record.silentFixWrites;
}
