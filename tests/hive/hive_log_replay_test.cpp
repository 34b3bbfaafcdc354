// The replay of transaction logs, on the real hives: SYSTEM_B with the logs Windows left beside
// it, and the clean SYSTEM with logs made from a copy of it changed by hivex, one rule a row.
#include "hive_log_builder.h"

#include "registry/store/hive/hive_log_replay.h"
#include "registry/store/hive/marvin32.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <hivex.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string Unpacked(const std::string& name) {
    const std::string command = "xz -dc '" HIVE_TEST_DATA "/" + name + ".xz'";
    FILE* pipe = popen(command.c_str(), "r");
    std::string bytes;
    char buffer[1 << 16];
    for (std::size_t got; pipe != nullptr && (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        bytes.append(buffer, got);
    }
    EXPECT_TRUE(pipe != nullptr && pclose(pipe) == 0) << command;
    return bytes;
}

std::vector<unsigned char> Unsigned(const std::string& bytes) {
    return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

std::string Signed(const std::vector<unsigned char>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// The clean hive with a key and a value added by hivex.
std::string ChangedByHivex(const std::string& hive) {
    char in[] = "/tmp/replay-in-XXXXXX";
    char out[] = "/tmp/replay-out-XXXXXX";
    const int inFd = mkstemp(in);
    const int outFd = mkstemp(out);
    EXPECT_EQ(static_cast<ssize_t>(hive.size()), write(inFd, hive.data(), hive.size()));
    hive_h* handle = hivex_open(in, HIVEX_OPEN_WRITE);
    EXPECT_NE(nullptr, handle);
    const hive_node_h key = hivex_node_add_child(handle, hivex_root(handle), "ReplayProbe");
    char name[] = "Mask";
    char data[] = "\xE7\0\0";
    hive_set_value value{name, hive_t_REG_DWORD, 4, data};
    EXPECT_EQ(0, hivex_node_set_value(handle, key, &value, 0));
    EXPECT_EQ(0, hivex_commit(handle, out, 0));
    hivex_close(handle);
    std::string changed(static_cast<std::size_t>(lseek(outFd, 0, SEEK_END)), '\0');
    EXPECT_EQ(static_cast<ssize_t>(changed.size()), pread(outFd, &changed[0], changed.size(), 0));
    close(inFd);
    close(outFd);
    unlink(in);
    unlink(out);
    return changed;
}

enum class Logs {
    OneLog,          // A and B in one log
    TwoLogs,         // A in the first log, B in the second
    SecondEarlier,   // B in the first log, A in the second
    OldEntryBehind,  // A, B, then the remnant of an entry older than both
    Gap,             // A, then B numbered one too high
    BadHash1,        // B's pages changed behind its hashes
    BadHash2,        // B's header changed behind its hashes
    UnevenBinsSize,  // B's bins size 512 bytes more, hashes set again
    GrowsPastPages,  // B's bins size a page more than its pages reach, hashes set again
    GrowsPastBytes,  // as GrowsPastPages, B's last page moved to the new end: the new room is
                     // more than B's pages can fill
    DoubledBins,     // B's bins size twice what it is, hashes set again, an entry C behind it
    ZeroSizePage,    // B's first page 0 bytes long, hashes set again, an entry C behind it
    DamagedBin,      // B writes a page that breaks the bin at its start, hashes set again
    BadLogBaseBlock, // the log's base-block copy fails its checksum
    BelowTheHive,    // one entry, numbered below the hive's secondary sequence number
    OldFormat,       // a log of the format before Windows 8.1
};

enum class Image { Original, FirstOnly, Changed, Unspecified };

struct ReplayCase {
    const char* name;
    bool dirty;
    Logs logs;
    HiveReplayResult result;
    std::uint32_t entries;
    Image image;
    int declinedLater; // the entries after the one declined; -1: the chain ends as on Windows
};

const ReplayCase kReplayCases[] = {
    {"one log", true, Logs::OneLog, HiveReplayResult::Replayed, 2, Image::Changed, -1},
    {"earlier log first", true, Logs::TwoLogs, HiveReplayResult::Replayed, 2, Image::Changed, -1},
    {"later log first", true, Logs::SecondEarlier, HiveReplayResult::Replayed, 2, Image::Changed,
     -1},
    {"old entry behind", true, Logs::OldEntryBehind, HiveReplayResult::Replayed, 2, Image::Changed,
     -1},
    {"gap", true, Logs::Gap, HiveReplayResult::Replayed, 1, Image::FirstOnly, -1},
    {"bad Hash-1", true, Logs::BadHash1, HiveReplayResult::Replayed, 1, Image::FirstOnly, -1},
    {"bad Hash-2", true, Logs::BadHash2, HiveReplayResult::Replayed, 1, Image::FirstOnly, -1},
    {"bins size not whole pages", true, Logs::UnevenBinsSize, HiveReplayResult::Replayed, 1,
     Image::FirstOnly, -1},
    {"grows past its pages", true, Logs::GrowsPastPages, HiveReplayResult::Incomplete, 1,
     Image::FirstOnly, 0},
    {"grows past its bytes", true, Logs::GrowsPastBytes, HiveReplayResult::Incomplete, 1,
     Image::FirstOnly, 0},
    {"doubled bins size", true, Logs::DoubledBins, HiveReplayResult::Incomplete, 1,
     Image::FirstOnly, 1},
    {"page of size 0", true, Logs::ZeroSizePage, HiveReplayResult::Incomplete, 1, Image::FirstOnly,
     1},
    {"damaged bin", true, Logs::DamagedBin, HiveReplayResult::Incomplete, 0, Image::Unspecified,
     -1},
    {"invalid log base block", true, Logs::BadLogBaseBlock, HiveReplayResult::Incomplete, 0,
     Image::Original, -1},
    {"entry below the hive", true, Logs::BelowTheHive, HiveReplayResult::Incomplete, 0,
     Image::Unspecified, -1},
    {"old-format log", true, Logs::OldFormat, HiveReplayResult::Incomplete, 0, Image::Original, -1},
    {"clean hive with logs", false, Logs::OneLog, HiveReplayResult::Clean, 0, Image::Original, -1},
};

class HiveLogReplayTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        clean = new std::string(Unpacked("SYSTEM"));
        changed = new std::string(ChangedByHivex(*clean));
        sequence = HiveDword(*clean, 0x04);
        const std::uint32_t cleanBins = HiveDword(*clean, 0x28);
        for (const PageRun& run : DifferingPageRuns(*clean, *changed)) {
            (run.offset < cleanBins ? firstRuns : secondRuns).push_back(run);
        }
    }

    static void TearDownTestSuite() {
        delete clean;
        delete changed;
    }

    // Entry A brings the old bins up to date, entry B adds the new bin hivex appended.
    static std::string EntryA(std::uint32_t number) {
        return HiveLogEntry(*changed, firstRuns, number, HiveDword(*clean, 0x28));
    }
    static std::string EntryB(std::uint32_t number) {
        return HiveLogEntry(*changed, secondRuns, number, HiveDword(*changed, 0x28));
    }

    static std::string Log(std::uint32_t number, const std::string& entries) {
        return HiveLogStart(*clean, number) + entries;
    }

    static std::vector<std::string> LogsFor(Logs logs) {
        const std::uint32_t a = sequence + 1;
        const std::uint32_t b = sequence + 2;
        std::string second = EntryB(b);
        switch (logs) {
        case Logs::OneLog:
            return {Log(a, EntryA(a) + second)};
        case Logs::TwoLogs:
            return {Log(a, EntryA(a)), Log(b, second)};
        case Logs::SecondEarlier:
            return {Log(b, second), Log(a, EntryA(a))};
        case Logs::OldEntryBehind:
            return {Log(a, EntryA(a) + second + EntryA(sequence - 3))};
        case Logs::Gap:
            return {Log(a, EntryA(a) + EntryB(b + 1))};
        case Logs::BadHash1:
            second[second.size() - 1] ^= 1;
            return {Log(a, EntryA(a) + second)};
        case Logs::BadHash2:
            second[0x10] ^= 1;
            return {Log(a, EntryA(a) + second)};
        case Logs::UnevenBinsSize:
            PutHiveDword(&second, 0x10, HiveDword(second, 0x10) + 512);
            break;
        case Logs::GrowsPastPages:
            PutHiveDword(&second, 0x10, HiveDword(second, 0x10) + 0x1000);
            break;
        case Logs::GrowsPastBytes: {
            const std::uint32_t bins = HiveDword(second, 0x10) + 0x1000;
            const std::size_t last = 0x28 + 8 * (secondRuns.size() - 1);
            PutHiveDword(&second, 0x10, bins);
            PutHiveDword(&second, last, bins - HiveDword(second, last + 4));
            break;
        }
        case Logs::DoubledBins:
            PutHiveDword(&second, 0x10, 2 * HiveDword(second, 0x10));
            SealHiveLogEntry(&second, 0);
            return {Log(a, EntryA(a) + second + EntryB(b + 1))};
        case Logs::ZeroSizePage:
            PutHiveDword(&second, 0x2C, 0);
            SealHiveLogEntry(&second, 0);
            return {Log(a, EntryA(a) + second + EntryB(b + 1))};
        case Logs::DamagedBin:
            second.replace(0x28 + 8 * secondRuns.size(), 4, "xbin");
            break;
        case Logs::BadLogBaseBlock: {
            std::string log = Log(a, EntryA(a) + second);
            log[0x100] ^= 1;
            return {log};
        }
        case Logs::BelowTheHive:
            return {Log(sequence - 1, EntryA(sequence - 1))};
        case Logs::OldFormat: {
            std::string log = Log(a, "DIRT" + std::string(508, '\xFF'));
            PutHiveDword(&log, 0x1C, 1);
            SealHiveBaseBlock(reinterpret_cast<unsigned char*>(&log[0]));
            return {log};
        }
        }
        SealHiveLogEntry(&second, 0);
        return {Log(a, EntryA(a) + second)};
    }

    static std::string Expected(Image image, const std::string& original) {
        if (image == Image::Changed) {
            return *changed;
        }
        std::string first = original;
        if (image == Image::FirstOnly) {
            for (const PageRun& run : firstRuns) {
                first.replace(kHiveBinsStart + run.offset, run.size,
                              changed->substr(kHiveBinsStart + run.offset, run.size));
            }
        }
        return first;
    }

    static std::string* clean;
    static std::string* changed;
    static std::uint32_t sequence;
    static std::vector<PageRun> firstRuns;
    static std::vector<PageRun> secondRuns;
};

std::string* HiveLogReplayTest::clean = nullptr;
std::string* HiveLogReplayTest::changed = nullptr;
std::uint32_t HiveLogReplayTest::sequence = 0;
std::vector<PageRun> HiveLogReplayTest::firstRuns;
std::vector<PageRun> HiveLogReplayTest::secondRuns;

TEST_F(HiveLogReplayTest, FollowsWindowsRules) {
    ASSERT_FALSE(firstRuns.empty());
    ASSERT_FALSE(secondRuns.empty());
    for (const ReplayCase& test : kReplayCases) {
        std::string primary = *clean;
        if (test.dirty) {
            SetHiveSequence(&primary, sequence + 1, sequence);
        }
        std::vector<std::vector<unsigned char>> logs;
        for (const std::string& log : LogsFor(test.logs)) {
            logs.push_back(Unsigned(log));
        }
        std::vector<unsigned char> image = Unsigned(primary);
        const HiveReplay replay = ReplayInVector(&image, logs);
        EXPECT_EQ(test.result, replay.result) << test.name;
        EXPECT_EQ(test.entries, replay.entries) << test.name;
        EXPECT_EQ(test.result == HiveReplayResult::Incomplete, !replay.problem.empty())
            << test.name;
        EXPECT_EQ(test.declinedLater >= 0, replay.end == HiveChainEnd::Declined) << test.name;
        if (test.declinedLater >= 0) {
            EXPECT_EQ(sequence + test.entries + 1, replay.declined.sequence) << test.name;
            EXPECT_EQ(static_cast<std::uint32_t>(test.declinedLater), replay.declined.laterEntries)
                << test.name;
        }
        const std::string result = Signed(image);
        if (test.image == Image::Original) {
            EXPECT_TRUE(result == primary) << test.name;
        } else if (test.image != Image::Unspecified) {
            const std::string expected = Expected(test.image, primary);
            ASSERT_GE(result.size(), expected.size()) << test.name;
            EXPECT_TRUE(result.compare(kHiveBinsStart, expected.size() - kHiveBinsStart, expected,
                                       kHiveBinsStart, std::string::npos) == 0)
                << test.name;
            // Clean, at the last entry applied, with that entry's bins size.
            const HiveBaseBlock block = ReadHiveBaseBlock(image.data(), image.size());
            EXPECT_TRUE(block.valid) << test.name;
            EXPECT_EQ(sequence + test.entries, block.primarySequence) << test.name;
            EXPECT_EQ(sequence + test.entries, block.secondarySequence) << test.name;
            EXPECT_EQ(HiveDword(expected, 0x28), block.binsSize) << test.name;
        }
    }
}

TEST(HiveLogReplayRealTest, ReplaysSystemBAsWindowsDid) {
    const std::string log1 = Unpacked("SYSTEM_B.LOG1");
    const std::string log2 = Unpacked("SYSTEM_B.LOG2");
    // The hashes of the first entry of LOG1, as the entry stores them.
    const unsigned char* entry = reinterpret_cast<const unsigned char*>(log1.data()) + 0x200;
    EXPECT_EQ(0xDD88C5D7DF48F30Au, Marvin32(kHiveLogMarvinSeed, entry, 0x20));
    EXPECT_EQ(0x4B70B6A1BE2C81C4u, Marvin32(kHiveLogMarvinSeed, entry + 0x28, 0x3E00 - 0x28));
    // LOG2 is given first, but LOG1 holds the earlier entries.
    std::vector<unsigned char> image = Unsigned(Unpacked("SYSTEM_B"));
    const HiveReplay replay = ReplayInVector(&image, {Unsigned(log2), Unsigned(log1)});
    EXPECT_EQ(HiveReplayResult::Replayed, replay.result) << replay.problem;
    EXPECT_EQ(24u, replay.entries);
    EXPECT_EQ(2130u, replay.lastSequence);
    const HiveBaseBlock block = ReadHiveBaseBlock(image.data(), image.size());
    EXPECT_TRUE(block.valid);
    EXPECT_EQ(2130u, block.secondarySequence);
    EXPECT_EQ(0xC02000u, block.binsSize);
}

} // namespace
