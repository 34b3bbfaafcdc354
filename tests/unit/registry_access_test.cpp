// CountSubkeys, SubkeyName and ReadStringValue at the registry contract's limits, on the store.
#include "store_files.h"

#include "registry/registry_access.h"
#include "registry/registry_api.h"

#include <gtest/gtest.h>
#include <string>

namespace {

std::string HexUnits(char unit, int count) {
    std::string out;
    for (int at = 0; at < count; ++at) {
        out += std::string(at == 0 ? "" : ",") + (unit == 'x' ? "78,00" : "79,00");
    }
    return out;
}

const std::string kLimits = "Windows Registry Editor Version 5.00\n\n"
                            "[HKEY_LOCAL_MACHINE\\Limits\\" +
                            std::string(254, 'a') +
                            "]\n"
                            "[HKEY_LOCAL_MACHINE\\Limits\\" +
                            std::string(255, 'b') +
                            "]\n"
                            "[HKEY_LOCAL_MACHINE\\Limits\\c]\n"
                            "[HKEY_LOCAL_MACHINE\\Values]\n"
                            "\"Fits\"=\"" +
                            std::string(253, 'x') +
                            "\"\n"
                            "\"FitsUnended\"=hex(1):" +
                            HexUnits('x', 254) +
                            "\n"
                            "\"TooLong\"=\"" +
                            std::string(254, 'y') +
                            "\"\n"
                            "\"TooLongUnended\"=hex(1):" +
                            HexUnits('y', 255) +
                            "\n"
                            "\"Unended\"=hex(1):41,00,42,00\n"
                            "\"Odd\"=hex(1):41,00,42\n"
                            "\"Number\"=dword:00000041\n";

class RegistryAccessTest : public StoreTest {
  protected:
    void SetUp() override {
        StoreTest::SetUp();
        LoadStore(kLimits);
    }
};

TEST_F(RegistryAccessTest, NamesSubkeysOfAtMost254Characters) {
    HKEY limits = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Limits", 0, KEY_READ, &limits));
    EXPECT_EQ(3u, CountSubkeys(limits));
    wchar_t name[kSubkeyNameBufferLength];
    ASSERT_TRUE(SubkeyName(limits, 0, name));
    EXPECT_EQ(std::wstring(254, L'a'), name);
    std::fill(name, name + kSubkeyNameBufferLength, L'-');
    EXPECT_FALSE(SubkeyName(limits, 1, name));
    EXPECT_EQ(std::wstring(kSubkeyNameBufferLength, L'-'),
              std::wstring(name, kSubkeyNameBufferLength));
    ASSERT_TRUE(SubkeyName(limits, 2, name)) << "the length is reset after a failure";
    EXPECT_EQ(std::wstring(L"c"), name);
    EXPECT_FALSE(SubkeyName(limits, 3, name));
    RegCloseKey(limits);
}

struct ReadCase {
    const wchar_t* name;
    bool read;
    std::wstring text;
};

const ReadCase kReadCases[] = {
    {L"Fits", true, std::wstring(253, L'x')},
    // Text data given in hex without a terminating zero get one, as Windows' import adds it.
    {L"FitsUnended", false, L""},
    {L"TooLong", false, L""},
    {L"TooLongUnended", false, L""},
    {L"Unended", true, L"AB"},
    {L"Odd", true, L"A"}, // an odd number of bytes: kept as they are
    {L"Number", true, L"A"},
    {L"Absent", false, L""},
};

TEST_F(RegistryAccessTest, ReadsStringValuesOfAtMost508Bytes) {
    HKEY values = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Values", 0, KEY_READ, &values));
    for (const ReadCase& row : kReadCases) {
        SCOPED_TRACE(testing::Message() << "value #" << (&row - kReadCases));
        wchar_t buffer[kStringValueBufferLength];
        std::fill(buffer, buffer + kStringValueBufferLength, L'-');
        EXPECT_EQ(row.read, ReadStringValue(values, row.name, buffer));
        if (row.read) {
            EXPECT_EQ(row.text, buffer);
        } else {
            EXPECT_EQ(std::wstring(kStringValueBufferLength, L'-'),
                      std::wstring(buffer, kStringValueBufferLength));
        }
    }
    RegCloseKey(values);
}

TEST_F(RegistryAccessTest, CountsNoSubkeysWhenTheQueryFails) {
    HKEY limits = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Limits", 0, KEY_SET_VALUE, &limits));
    EXPECT_EQ(0u, CountSubkeys(limits)) << "no right to query";
    RegCloseKey(limits);
    EXPECT_EQ(0u, CountSubkeys(limits)) << "a closed handle";
    EXPECT_EQ(2u, CountSubkeys(HKEY_LOCAL_MACHINE));
    UnloadRegistryStore();
    EXPECT_EQ(0u, CountSubkeys(HKEY_LOCAL_MACHINE)) << "no store";
}

} // namespace
