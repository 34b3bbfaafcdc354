#include "cli/command_line.h"
#include "console_capture.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

const char kUsage[] =
    "Usage: check.exe [-h] [-f] [-s] [-d <mask>]\n"
    "\t-h: Print this help message and exit.\n"
    "\t-f: This is a fix operation. Default operation is check.\n"
    "\t-s: Silent mode. Default mode is interactive.\n"
    "\t-d <mask>: Change the GUID mask used in silent mode. Default mask is 0xe7.\n";

struct ParseRow {
    std::vector<const wchar_t*> arguments;
    bool run;
    int status;
    const char* output; // nullptr: the usage text
    RunSettings settings;
};

const char kNothing[] = "";
const RunSettings kDefaults = {false, true, 0xE7};

const ParseRow kParseRows[] = {
    {{}, true, 0, kNothing, kDefaults},
    {{L"-f", L"-s", L"-d", L"3f"}, true, 0, kNothing, {true, false, 0x3F}},
    {{L"-d", L"0x3F"}, true, 0, kNothing, {false, true, 0x3F}},
    {{L"-d", L"1e7"}, true, 0, kNothing, {false, true, 0x1E7}},
    {{L"-d", L"3fzz"}, true, 0, kNothing, {false, true, 0x3F}},
    {{L"-d", L"1234567e7"}, true, 0, kNothing, {false, true, 0x234567E7}},
    {{L"-d", L" \t+7e"}, true, 0, kNothing, {false, true, 0x7E}},
    {{L"-fs"}, true, 0, kNothing, {true, true, 0xE7}},
    {{L"-dx", L"fc"}, true, 0, kNothing, {false, true, 0xFC}},
    {{L"-s", L"-s", L"-d", L"3f", L"-d", L"e7"}, true, 0, kNothing, {false, false, 0xE7}},
    {{L"-h"}, false, 0, nullptr, kDefaults},
    {{L"-h", L"-x"}, false, 0, nullptr, kDefaults},
    {{L"report"}, false, 0, nullptr, kDefaults},
    {{L"-f", L""}, false, 0, nullptr, kDefaults},
    {{L"-x", L"-h"}, false, -1, nullptr, kDefaults},
    {{L"-"}, false, -1, nullptr, kDefaults},
    {{L"-F"}, false, -1, nullptr, kDefaults},
    {{L"-S"}, false, -1, nullptr, kDefaults},
    {{L"-H"}, false, -1, nullptr, kDefaults},
    {{L"-D", L"3f"}, false, -1, nullptr, kDefaults},
    {{L"-d"}, false, -1, nullptr, kDefaults},
    {{L"-f", L"-d"}, false, -1, nullptr, kDefaults},
    {{L"-d", L"zz"},
     false,
     -1,
     "Could not convert argument zz. GUID mask is a 2-digit hexadecimal number.\n",
     kDefaults},
    {{L"-d", L""},
     false,
     -1,
     "Could not convert argument . GUID mask is a 2-digit hexadecimal number.\n",
     kDefaults},
    {{L"-d", L"-"},
     false,
     -1,
     "Could not convert argument -. GUID mask is a 2-digit hexadecimal number.\n",
     kDefaults},
    {{L"-d", L"0xzz"},
     false,
     -1,
     "Could not convert argument 0xzz. GUID mask is a 2-digit hexadecimal number.\n",
     kDefaults},
    {{L"-d", L"ff"},
     false,
     -1,
     "Invalid GUID mask 0xff. GUID mask must contain exactly 6 non-zero bits.\n",
     kDefaults},
    {{L"-d", L"100"},
     false,
     -1,
     "Invalid GUID mask 0x00. GUID mask must contain exactly 6 non-zero bits.\n",
     kDefaults},
    {{L"-d", L"-f"},
     false,
     -1,
     "Invalid GUID mask 0xf1. GUID mask must contain exactly 6 non-zero bits.\n",
     kDefaults},
    {{L"-d", L"3f", L"-d", L"ff"},
     false,
     -1,
     "Invalid GUID mask 0xff. GUID mask must contain exactly 6 non-zero bits.\n",
     kDefaults},
    {{L"-d", L"ff", L"-h"},
     false,
     -1,
     "Invalid GUID mask 0xff. GUID mask must contain exactly 6 non-zero bits.\n",
     kDefaults},
};

TEST(CommandLine, EachRowEndsAsExpected) {
    for (const ParseRow& row : kParseRows) {
        SCOPED_TRACE(testing::Message() << "row #" << (&row - kParseRows));
        std::vector<const wchar_t*> argv = {L"C:\\tools\\check.exe"};
        argv.insert(argv.end(), row.arguments.begin(), row.arguments.end());
        RunSettings settings = {true, false, 0};
        BeginConsoleCapture();
        const CommandLineOutcome outcome =
            ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &settings);
        const std::string output = EndConsoleCapture();
        EXPECT_EQ(row.run, outcome.run);
        EXPECT_EQ(row.status, outcome.status);
        EXPECT_EQ(row.output != nullptr ? row.output : kUsage, output);
        if (row.run) {
            EXPECT_EQ(row.settings.fix, settings.fix);
            EXPECT_EQ(row.settings.interactive, settings.interactive);
            EXPECT_EQ(row.settings.silentMask, settings.silentMask);
        }
    }
}

TEST(Usage, NamesTheProgramBehindTheLastBackslash) {
    const struct {
        const wchar_t* path;
        const char* firstLine;
    } rows[] = {
        {L"C:\\tools\\check.exe", "Usage: check.exe [-h] [-f] [-s] [-d <mask>]\n"},
        {L"check.exe", "Usage: check.exe [-h] [-f] [-s] [-d <mask>]\n"},
        {L"/usr/bin/ipoib-guidmask", "Usage: /usr/bin/ipoib-guidmask [-h] [-f] [-s] [-d <mask>]\n"},
        {L"a\\b/c\\", "Usage:  [-h] [-f] [-s] [-d <mask>]\n"},
        {L"C:\\%s%d\\t%n\u00e9", "Usage: t%n\xc3\xa9 [-h] [-f] [-s] [-d <mask>]\n"},
    };
    for (const auto& row : rows) {
        BeginConsoleCapture();
        PrintUsage(row.path);
        const std::string output = EndConsoleCapture();
        EXPECT_EQ(row.firstLine, output.substr(0, output.find('\n') + 1));
        EXPECT_EQ(std::string(kUsage).substr(std::string(kUsage).find('\n') + 1),
                  output.substr(output.find('\n') + 1));
    }
}

} // namespace
