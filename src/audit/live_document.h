// The live facts of an audit document read back (a store's "live", an adapter's
// "networkAddress" and "interface"), so that a host's live state joins a merged audit. Only
// facts are read; the states and findings are judged again by the run that reads them.
#pragma once

#include "audit/live_adapter.h"
#include "audit/live_interfaces.h"

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

// A store's "live": null (or absent: a document of an older build) is no live host. False with
// why (a phrase) when it is not as the audit writes it.
bool ReadStoreLive(const nlohmann::json& store, LiveAvailability* availability,
                   std::vector<LiveNeighbor>* neighbors, std::string* why);

// An adapter's "networkAddress" and "interface" into live (absent: none). False with why.
bool ReadAdapterLive(const nlohmann::json& adapter, LiveAdapter* live, std::string* why);
