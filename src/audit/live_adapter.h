// What the audit holds of an adapter's live state: the registry's "NetworkAddress" override
// (every store) and, on a live host, the interface of its "NetCfgInstanceId", with what the
// rules make of them (live_state.h).
#pragma once

#include "audit/live_interfaces.h"
#include "audit/mac_address.h"

#include <string>

enum LiveState {
    kLiveNone,           // no live host (a store file) and no "NetworkAddress": nothing to say
    kLiveUnknown,        // the interface table could not be read
    kLiveInEffect,       // the current address is the stored mask's
    kLivePendingRestart, // a valid mask is stored, the current address is not its address
    kLiveNotPresent,     // no interface for the instance, or one whose hardware is not present
    kLiveOverridden,     // a "NetworkAddress" value decides the address, not the mask
    kLiveBuiltIn,        // no mask stored, a known GUID the driver maps on its own
    kLiveNoMask,         // no mask stored, the address the predefined or default mask gives
    kLiveUnexplained,    // an address that none of the above explains
};

struct LiveAdapter {
    std::string networkAddress; // the "NetworkAddress" value; empty: none
    bool interfaceFound = false;
    LiveInterface interfaceFacts; // when found
    LiveState state = kLiveNone;
    AddressReading reading = kBothReadings; // what the address settled of a non-symmetric mask
    DerivedAddress expected; // the address the mask in question gives (stored, else predefined)
    bool restartNeeded = false;
};
