// The -d value as both programs read it: a hexadecimal number whose low 8 bits must be a
// valid mask.
#pragma once

#include "guid/guid_mask.h"

#include <cstdint>
#include <string>

// True with the number read in *value (its low 8 bits are the mask); false with the message that
// refuses the argument (one line, with its line feed) in *refusal.
bool ReadMaskArgument(const wchar_t* argument, std::uint32_t* value, std::wstring* refusal);
