// Three small operations on the registry API that every reader of the registry shares.
#pragma once

#include "registry/registry_api.h"

#include <cstddef>

// Limits of the registry contract, in UTF-16 characters.
const std::size_t kMaxSubkeyNameLength = 254;
const std::size_t kSubkeyNameBufferLength = kMaxSubkeyNameLength + 1;
const std::size_t kStringValueBufferLength = 256;
const DWORD kStringValueByteLimit = 508; // 254 characters

// The number of subkeys; 0 when the query fails.
DWORD CountSubkeys(HKEY key);

// The name of subkey number index; fails for names longer than 254 characters.
bool SubkeyName(HKEY key, DWORD index, wchar_t name[kSubkeyNameBufferLength]);

// A value's text, zero-terminated behind its data; fails for data longer than 508 bytes.
bool ReadStringValue(HKEY key, const wchar_t* valueName, wchar_t buffer[kStringValueBufferLength]);
