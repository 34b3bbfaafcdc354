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

// The store label, the subkey and the connection's name where it has one: "host-a 0001 "ib0"".
std::wstring AdapterPlace(const AuditReport& report, std::size_t record);

// The address one reading gives, or the one address of a symmetric mask.
std::string AddressText(const DerivedAddress& address);

// The name of a state, a class and the like as a cell: "-" for none.
std::wstring NameCell(const char* name);

// Registry text as a cell: "-" for none.
std::wstring TextCell(const std::string& utf8);

// The cell cut to width, its end shown as "...".
std::wstring ClipCell(const std::wstring& cell, std::size_t width);

// "known:0xe7", "workaround:0x..", "unrecognized", "-".
std::wstring ClassCell(const AuditRecord& record);

// The stored "GUIDMask" as stored, in quotes when it is no mask, "-" when absent.
std::wstring StoredCell(const AuditRecord& record);

// What the silent fix does to "GUIDMask": "->231" (nothing stored), "219>231" (replaced),
// "\"0xe7\">231" (text that is no mask), or the stored value alone when it stays.
std::wstring MaskChangeCell(const AuditRecord& record);

// What an interactive fix does: "write:0xe7", "nothing", "prompt", "-".
std::wstring FixCell(const AuditRecord& record);

// An address with "(group)" where it is a group address; "built-in(undocumented)" or "-"
// where none is derived. A mask that reads two ways shows "lsb:...,msb:...".
std::wstring AddressCell(const DerivedAddress& address, bool builtIn);

// The same, the two readings of a mask that reads two ways as "lsb-first/msb-first".
std::wstring ShortAddressCell(const DerivedAddress& address, bool builtIn);

// A known GUID whose silent fix writes nothing keeps the driver's own mapping.
bool KeepsBuiltInMapping(const AuditRecord& record);
