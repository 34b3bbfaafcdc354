#include "audit/report_cells.h"

#include <gtest/gtest.h>
#include <string>

namespace {

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

TEST(ReportCells, GuidMaskShowsWhatTheSilentFixDoes) {
    const struct {
        StoredMaskKind kind;
        const char* storedText;
        AuditState state;
        bool writes;
        GuidMask written;
        const char* cell;
    } rows[] = {
        {kStoredAbsent, "", kStateWouldWrite, true, 0xe7, "->231"},
        {kStoredMask, "219", kStateWouldReplace, true, 0xe7, "219>231"},
        {kStoredMask, "231", kStateOk, true, 0xe7, "231"},
        {kStoredNotMask, "0xe7", kStateWouldWrite, true, 0xe7, "\"0xe7\">231"},
        {kStoredNotMask, "(a REG_DWORD value)", kStateWouldWrite, true, 0xdb, "\"(a RE...\">219"},
        {kStoredAbsent, "", kStateOk, false, 0x00, "-"},
        {kStoredMask, "63", kStateNoInstance, false, 0x00, "63"},
    };
    for (const auto& row : rows) {
        AuditRecord record = AuditRecord();
        record.storedKind = row.kind;
        record.storedText = row.storedText;
        record.state = row.state;
        record.silentFixWrites = row.writes;
        record.silentFixMask = row.written;
        EXPECT_EQ(row.cell, Narrow(MaskChangeCell(record))) << row.storedText;
    }
}

TEST(ReportCells, ClipKeepsShortCellsAndMarksTheCut) {
    EXPECT_EQ("Ethernet 3", Narrow(ClipCell(L"Ethernet 3", 12)));
    EXPECT_EQ("Storage n...", Narrow(ClipCell(L"Storage network 7", 12)));
    EXPECT_EQ("abcdef", Narrow(ClipCell(L"abcdef", 3))); // too narrow to mark: left whole
}

TEST(ReportCells, AddressOfAMaskThatReadsTwoWays) {
    PortGuid guid = 0;
    const unsigned char bytes[8] = {0x00, 0xaa, 0x22, 0xcc, 0xdd, 0xee, 0xff, 0x01};
    for (int index = 0; index < 8; ++index) {
        guid |= static_cast<PortGuid>(bytes[index]) << (8 * index);
    }
    EXPECT_EQ("00-aa-22-cc-dd-ee/22-cc-dd-ee-ff-01",
              Narrow(ShortAddressCell(DeriveAddress(guid, 0x3f), false)));
    EXPECT_EQ("lsb:00-aa-22-cc-dd-ee,msb:22-cc-dd-ee-ff-01",
              Narrow(AddressCell(DeriveAddress(guid, 0x3f), false)));
    EXPECT_EQ("00-aa-22-ee-ff-01", Narrow(ShortAddressCell(DeriveAddress(guid, 0xe7), false)));
    EXPECT_EQ("built-in(undocumented)", Narrow(ShortAddressCell(NoAddress(), true)));
    EXPECT_EQ("-", Narrow(ShortAddressCell(NoAddress(), false)));
}

} // namespace
