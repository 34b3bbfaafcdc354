// The instance table, the decision rows a shipped table cannot reach, and the prompt's reading.
#include "console_capture.h"
#include "store_files.h"

#include "fix/adapter_pass.h"
#include "fix/decision_table.h"
#include "fix/mask_prompt.h"
#include "registry/instance_table.h"
#include "registry/registry_access.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

namespace {

const std::string kNet = "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Network\\"
                         "{4D36E972-E325-11CE-BFC1-08002BE10318}";
const std::string kClass = "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\"
                           "{4D36E972-E325-11CE-BFC1-08002bE10318}";

std::string Instance(const std::string& name, const std::string& pnpInstanceId) {
    return kNet + "\\" + name + "\\Connection]\n\"PnpInstanceID\"=\"" + pnpInstanceId + "\"\n\n";
}

const std::string kInstances =
    "Windows Registry Editor Version 5.00\n\n" +
    Instance("{b}", "IBA\\\\IPOIB\\\\5EA7030003C90200") +
    Instance("{a}", "IBA\\\\IPOIB\\\\563412ffff48300077") + kNet + "\\{c}]\n\n" +
    Instance("{d}", "iba\\\\ipoib\\\\563412FFFF483000") + Instance("{e}", "IBA\\\\IPOIB\\\\") +
    Instance("{f}", "IBA\\\\IPOIB\\\\ 0x2301") + Instance("{g}", "PCI\\\\VEN_8086") +
    Instance("{h}", "IBA\\\\IPOIB\\\\5EA7030003C90200");

using InstanceTableTest = StoreTest;

TEST_F(InstanceTableTest, KeepsIpoibInstancesInRegistryOrderWithTheirGuidsClassified) {
    LoadStore(kInstances);
    CollectIpoibInstances();
    const InstanceTable* table = ProcessInstanceTable();
    const struct {
        const wchar_t* name;
        PortGuid guid;
        int known;
        GuidMask knownMask;
    } expected[] = {
        {L"{a}", 0x563412FFFF483000u, 1, 0xE7},
        {L"{b}", 0x5EA7030003C90200u, 1, 0x00},
        {L"{e}", 0, 0, 0x00},
        {L"{f}", 0x2301u, 0, 0x00},
        {L"{h}", 0x5EA7030003C90200u, 1, 0x00},
    };
    ASSERT_EQ(5u, table->count);
    for (std::size_t at = 0; at < table->count; ++at) {
        SCOPED_TRACE(at);
        EXPECT_EQ(std::wstring(expected[at].name), table->records[at].instanceName);
        EXPECT_EQ(expected[at].guid, table->records[at].portGuid);
        EXPECT_EQ(expected[at].known, table->records[at].known);
        EXPECT_EQ(expected[at].knownMask, table->records[at].knownMask);
        EXPECT_EQ(0x00, table->records[at].workaroundMask);
    }
    EXPECT_EQ(&table->records[0], FindInstance(table, L"{a}"));
    EXPECT_EQ(nullptr, FindInstance(table, L"{A}")) << "identifiers compare with case counting";
    EXPECT_EQ(nullptr, FindInstance(table, L"{a"));
    EXPECT_EQ(nullptr, FindInstance(table, L"{d}"));
}

TEST_F(InstanceTableTest, IsEmptyWithoutTheNetworkInstancesKey) {
    LoadStore("Windows Registry Editor Version 5.00\n\n" + kClass + "\\0000]\n");
    CollectIpoibInstances();
    EXPECT_EQ(0u, ProcessInstanceTable()->count);
    LoadStore(kInstances);
    CollectIpoibInstances();
    LoadStore("Windows Registry Editor Version 5.00\n\n" + kNet + "]\n");
    CollectIpoibInstances();
    EXPECT_EQ(0u, ProcessInstanceTable()->count) << "collecting again starts a new table";
}

TEST(DecisionTable, HasOneRowForEveryStandingOperationAndMode) {
    for (GuidStanding standing :
         {kKnownNothingToWrite, kKnownWithMask, kWorkaround, kUnrecognized}) {
        for (bool fix : {false, true}) {
            for (bool interactive : {false, true}) {
                const DecisionRow* row = SelectDecisionRow(standing, fix, interactive);
                ASSERT_NE(nullptr, row);
                EXPECT_EQ(interactive, row->opening != nullptr);
                EXPECT_EQ(fix && standing != kKnownNothingToWrite, row->writes);
                EXPECT_EQ(standing == kKnownWithMask || standing == kWorkaround ||
                              (fix && standing == kUnrecognized),
                          row->mask != kNoMask);
            }
        }
    }
}

// The work-around table ships empty, so its rows can only be reached with a record made here.
const std::string kOneAdapter = "Windows Registry Editor Version 5.00\n\n" + kClass +
                                "\\0007]\n\"ComponentId\"=\"iba\\\\ipoib\"\n";

IpoibInstance WorkaroundInstance() {
    IpoibInstance instance = {};
    instance.portGuid = 0x0123456789ABCD00u;
    instance.workaroundMask = 0x3F;
    return instance;
}

struct DecisionOutcome {
    std::string output;
    PassCounters counters;
    std::wstring guidMask; // empty when no value was written
};

DecisionOutcome CarryOut(const IpoibInstance& instance, bool fix, bool interactive) {
    PassState state = {RunSettings{fix, interactive, 0xE7}, PassCounters{0, 0, 0}, false,
                       WriteFailureLog{}};
    HKEY classKey;
    EXPECT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, AdapterClassKey, 0, KEY_READ, &classKey));
    BeginConsoleCapture();
    CarryOutDecision(classKey, L"0007", instance, &state);
    DecisionOutcome outcome = {EndConsoleCapture(), state.counters, L""};
    HKEY adapterKey;
    wchar_t value[kStringValueBufferLength];
    if (RegOpenKeyExW(classKey, L"0007", 0, KEY_READ, &adapterKey) == ERROR_SUCCESS) {
        if (ReadStringValue(adapterKey, L"GUIDMask", value)) {
            outcome.guidMask = value;
        }
        RegCloseKey(adapterKey);
    }
    RegCloseKey(classKey);
    return outcome;
}

using WorkaroundRowsTest = StoreTest;

TEST_F(WorkaroundRowsTest, CheckSuggestsTheMaskAndWritesNothing) {
    LoadStore(kOneAdapter);
    DecisionOutcome outcome = CarryOut(WorkaroundInstance(), false, true);
    EXPECT_EQ("An unrecognized port GUID has been found: 0x00cdab8967452301.\nA predefined GUID "
              "mask 0x3f is available to work-around the problem. Re-run the utility with "
              "\"-f\".\n",
              outcome.output);
    EXPECT_EQ(L"", outcome.guidMask);
    outcome = CarryOut(WorkaroundInstance(), false, false);
    EXPECT_EQ("", outcome.output);
    EXPECT_EQ(L"", outcome.guidMask);
}

TEST_F(WorkaroundRowsTest, FixWritesTheWorkaroundMaskInEitherMode) {
    LoadStore(kOneAdapter);
    DecisionOutcome outcome = CarryOut(WorkaroundInstance(), true, true);
    EXPECT_EQ("An unrecognized port GUID has been found: 0x00cdab8967452301.\nA predefined GUID "
              "mask 0x3f has been added to the registry.\n",
              outcome.output);
    EXPECT_EQ(L"63", outcome.guidMask);
    EXPECT_EQ(1u, outcome.counters.changesMade);
    LoadStore(kOneAdapter);
    outcome = CarryOut(WorkaroundInstance(), true, false);
    EXPECT_EQ("", outcome.output);
    EXPECT_EQ(L"63", outcome.guidMask);
    EXPECT_EQ(0u, outcome.counters.failedWrites);
}

TEST_F(WorkaroundRowsTest, AFailedWriteSaysSoAndIsCounted) {
    LoadStore(kOneAdapter);
    ASSERT_EQ(0, chmod(storePath.c_str(), 0444));
    DecisionOutcome outcome = CarryOut(WorkaroundInstance(), true, true);
    EXPECT_EQ("An unrecognized port GUID has been found: 0x00cdab8967452301.\nA predefined GUID "
              "mask 0x3f is available to work-around the problem, but adding it to the registry "
              "has failed.\n",
              outcome.output);
    EXPECT_EQ(0u, outcome.counters.changesMade);
    EXPECT_EQ(1u, outcome.counters.failedWrites);
    outcome = CarryOut(WorkaroundInstance(), true, false);
    EXPECT_EQ("", outcome.output);
    EXPECT_EQ(1u, outcome.counters.failedWrites);
    EXPECT_EQ(L"", outcome.guidMask);
}

// Replies are read from standard input; each test gives it a file of typed text.
void TypeInput(const std::string& directory, const std::string& text) {
    const std::string path = directory + "/input";
    WriteFileBytes(path, text);
    ASSERT_NE(nullptr, std::freopen(path.c_str(), "rb", stdin));
}

using MaskReplyTest = StoreTest;

TEST_F(MaskReplyTest, ReadsOneNumberPerReplyAndDropsALineThatIsNone) {
    TypeInput(directory, "  7e\n0X3F 1e7\nzz 3f\n-1\n0x\n\n\t fc");
    const struct {
        ReplyKind kind;
        std::uint32_t number;
    } expected[] = {
        {kReplyNumber, 0x7E},  {kReplyNumber, 0x3F},        {kReplyNumber, 0x1E7},
        {kReplyNotANumber, 0}, {kReplyNumber, 0xFFFFFFFFu}, {kReplyNotANumber, 0},
        {kReplyNumber, 0xFC},  {kReplyEndOfInput, 0},       {kReplyEndOfInput, 0},
    };
    for (const auto& reply : expected) {
        SCOPED_TRACE(&reply - expected);
        const MaskReply actual = ReadMaskReply();
        EXPECT_EQ(reply.kind, actual.kind);
        EXPECT_EQ(reply.number, actual.number);
    }
    std::freopen("/dev/null", "rb", stdin);
}

} // namespace
