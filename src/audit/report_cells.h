// The text both reports show for a record's values.
#pragma once

#include "audit/audit_record.h"

#include <string>

std::wstring Wide(const std::string& utf8);

// Registry text or a path as one text cell: each control character (a line feed in a
// "DriverDesc", say) becomes "?", so that a row stays one line and no text can pose as the
// report's own lines.
std::wstring Printable(const std::wstring& text);

// "0x" and bytes 0 to 7, as the first program prints a port GUID.
std::wstring GuidText(PortGuid guid);

// "0xe7".
std::wstring MaskText(GuidMask mask);

// The decimal text a fix stores in "GUIDMask": "231".
std::wstring WrittenText(GuidMask mask);

// The store label and the subkey: "host-a 0001".
std::wstring AdapterPlace(const AuditReport& report, std::size_t record);

// The address one reading gives, or the one address of a symmetric mask.
std::wstring AddressText(const DerivedAddress& address);
