// The text both reports show for a record's values: UTF-8 cells (ASCII but for registry text and
// paths), which the text report widens and the JSON report takes as they are.
#pragma once

#include "audit/audit_record.h"

#include <string>

// The console's wide text of UTF-8 text.
std::wstring Wide(const std::string& utf8);

// Registry text or a path as one text cell: each control character (a line feed in a
// "DriverDesc", say) becomes "?", so that a row stays one line and no text can pose as the
// report's own lines.
std::wstring Printable(const std::wstring& text);

// "0x" and bytes 0 to 7, as the first program prints a port GUID.
std::string GuidText(PortGuid guid);

// "0xe7".
std::string MaskText(GuidMask mask);

// The decimal text a fix stores in "GUIDMask": "231".
std::string WrittenText(GuidMask mask);

// The store label and the subkey: "host-a 0001".
std::wstring AdapterPlace(const AuditReport& report, std::size_t record);

// The address one reading gives, or the one address of a symmetric mask.
std::string AddressText(const DerivedAddress& address);
