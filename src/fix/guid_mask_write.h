// The one write of the tool: an adapter's "GUIDMask" value.
#pragma once

#include "guid/guid_mask.h"
#include "registry/registry_api.h"

// Writes "GUIDMask" into the adapter's subkey below the class key, opening it for writing
// just for this. ERROR_SUCCESS, or the error code of the registry call that failed.
LSTATUS WriteGuidMask(HKEY classKey, const wchar_t* adapterName, GuidMask mask);
