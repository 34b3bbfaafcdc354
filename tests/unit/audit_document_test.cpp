#include "audit/audit_document.h"

#include <gtest/gtest.h>
#include <string>

namespace {

const char kStore[] = R"({"label":"NODE01","read":true,"problem":null,"warning":null})";

// A document of one store and the given adapters.
std::string Document(const std::string& adapters) {
    return std::string(R"({"format":1,"stores":[)") + kStore + R"(],"adapters":[)" + adapters +
           "]}";
}

const char kAdapter[] = R"({"store":"NODE01","subkey":"0001","portGuid":"0x00aabbccddeeff01",)"
                        R"("stored":{"text":"231","type":1,"validMask":false}})";

std::string Repeated(const std::string& text, std::size_t count) {
    std::string repeated;
    for (std::size_t index = 0; index < count; ++index) {
        repeated += text;
    }
    return repeated;
}

TEST(AuditDocument, HostileOrBrokenDocumentsAreRefusedWithTheReason) {
    const struct {
        std::string document;
        const char* problem;
    } rows[] = {
        {Document(kAdapter).substr(0, 60), "it is not a valid JSON document"},
        {Repeated("[", 1000000), "it nests more than 16 levels deep"},
        {R"({"a":)" + Repeated(R"({"a":)", 20) + "1" + Repeated("}", 21),
         "it nests more than 16 levels deep"},
        {"{\"x\":\"" + std::string(17u << 20, 'x') + "\"}", "it is larger than 16 MB"},
        {R"({"format":1,"stores":[{"label":")" + std::string(70000, 'x') +
             R"(","read":true}],"adapters":[]})",
         "store 1: it is longer than 65536 bytes"},
        {R"({"format":2,"stores":[],"adapters":[]})",
         "it is of format 2; this program reads format 1"},
        {R"({"format":"1","stores":[],"adapters":[]})", "its \"format\" is not a number"},
        {R"({"stores":[],"adapters":[]})", "it has no \"format\""},
        {R"({"format":1,"adapters":[]})", "its \"stores\" is missing"},
        {R"({"format":1,"stores":{},"adapters":[]})", "its \"stores\" is not an array"},
        {R"({"format":1,"stores":[{"label":7,"read":true}],"adapters":[]})",
         "store 1: its \"label\" is not text"},
        {R"({"format":1,"stores":[{"label":"a"}],"adapters":[]})",
         "store 1: its \"read\" is not true or false"},
        {Document(R"({"store":"NODE02","subkey":"1","portGuid":null,"stored":null})"),
         "adapter 1: its store is not among the document's stores"},
        {Document(R"({"store":"NODE01","subkey":1,"portGuid":null,"stored":null})"),
         "adapter 1: its \"subkey\" is not text"},
        {Document(
             R"({"store":"NODE01","subkey":"1","portGuid":"0x00aabbccddeeff0g","stored":null})"),
         "adapter 1: its \"portGuid\" is not a port GUID (0x and 16 hexadecimal digits)"},
        {Document(R"({"store":"NODE01","subkey":"1","portGuid":"{1A1B2C3D}","stored":null})"),
         "adapter 1: its \"portGuid\" is not a port GUID (0x and 16 hexadecimal digits)"},
        {Document(R"({"store":"NODE01","subkey":"1","stored":null})"),
         "adapter 1: it has no \"portGuid\""},
        {Document(
             R"({"store":"NODE01","subkey":"1","portGuid":null,"stored":{"text":"231","type":-1}})"),
         "adapter 1: its stored \"type\" is not a registry type"},
        {Document(R"({"store":"NODE01","subkey":"1","portGuid":null,"stored":{"type":1}})"),
         "adapter 1: it has no \"text\""},
        {Document(Repeated(std::string(kAdapter) + ",", kMaxDocumentAdapters) + kAdapter),
         "it holds more than 100000 adapters"},
    };
    for (const auto& row : rows) {
        DocumentFacts facts;
        std::string problem;
        EXPECT_FALSE(ReadAuditDocument(row.document, &facts, &problem)) << row.problem;
        EXPECT_EQ(row.problem, problem);
    }
}

// Facts only: derived keys are not read (here they contradict the facts), a missing type is
// REG_SZ, a null GUID is an instance not found, and the text's escapes are decoded.
TEST(AuditDocument, ReadsTheFactsOfEachAdapter) {
    const std::string document =
        "\xEF\xBB\xBF \r\n" +
        Document(std::string(kAdapter) + "," +
                 R"x({"store":"NODE01","subkey":"0002","connectionName":"f\u00fcr",)x"
                 R"x("portGuid":null,"state":"ok","stored":{"text":"(a REG_DWORD value)"}})x");
    ASSERT_TRUE(LooksLikeDocument(document.data(), document.size()));
    DocumentFacts facts;
    std::string problem;
    ASSERT_TRUE(ReadAuditDocument(document, &facts, &problem)) << problem;
    ASSERT_EQ(1u, facts.stores.size());
    EXPECT_EQ("NODE01", facts.stores[0].label);
    ASSERT_EQ(2u, facts.adapters.size());
    EXPECT_TRUE(facts.adapters[0].instanceFound);
    EXPECT_EQ(0x01ffeeddccbbaa00u, facts.adapters[0].guid);
    EXPECT_TRUE(facts.adapters[0].stored);
    EXPECT_EQ("231", facts.adapters[0].storedText);
    EXPECT_FALSE(facts.adapters[1].instanceFound);
    EXPECT_EQ("f\xC3\xBCr", facts.adapters[1].connectionName);
    EXPECT_EQ(1u, facts.adapters[1].storedType);
}

TEST(AuditDocument, ToldByItsFirstCharacter) {
    const struct {
        std::string head;
        bool document;
    } rows[] = {
        {"{", true},
        {"\xEF\xBB\xBF{", true},
        {" \t\r\n{\"format\"", true},
        {"Windows Registry Editor Version 5.00", false},
        {"\xFF\xFEW\0i\0", false},
        {"regf", false},
        {"[{}]", false},
        {"", false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.document, LooksLikeDocument(row.head.data(), row.head.size())) << row.head;
    }
}

} // namespace
