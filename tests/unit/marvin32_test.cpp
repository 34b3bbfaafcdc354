// Marvin32 against its published self-test answer and vectors worked out by hand from its
// definition with the registry's seed.
#include "registry/store/hive/marvin32.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>

namespace {

struct MarvinCase {
    const char* name;
    std::uint64_t seed;
    std::string input;
    std::uint64_t hash;
};

std::string CountingBytes(std::size_t count) {
    std::string bytes;
    for (std::size_t at = 0; at < count; ++at) {
        bytes.push_back(static_cast<char>(at));
    }
    return bytes;
}

const MarvinCase kMarvinCases[] = {
    {"default seed, abc", 0xD53CD9CECD0893B7u, "abc", 0x22C74339492769BFu},
    {"registry seed, empty", kHiveLogMarvinSeed, "", 0xB39EFCA403966E08u},
    {"registry seed, HvLE", kHiveLogMarvinSeed, "HvLE", 0x914527932CF336DDu},
    {"registry seed, 0x00 to 0x1F", kHiveLogMarvinSeed, CountingBytes(32), 0xC64FEEE425C2E24Cu},
};

TEST(Marvin32Test, GivesTheKnownHashes) {
    for (const MarvinCase& test : kMarvinCases) {
        EXPECT_EQ(test.hash,
                  Marvin32(test.seed, reinterpret_cast<const unsigned char*>(test.input.data()),
                           test.input.size()))
            << test.name;
    }
}

} // namespace
