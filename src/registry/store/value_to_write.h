// A value as a write hands it to the store: its name, its type and its data, all borrowed from
// the caller for the length of the call.
#pragma once

#include <cstddef>
#include <cstdint>

struct ValueToWrite {
    const char16_t* name; // UTF-16 units, not zero-terminated; empty for the default value
    std::size_t nameLength;
    std::uint32_t type;
    const unsigned char* data;
    std::size_t dataLength;
};
