// One of the audit's own JSON documents (--json), read back as the facts it records of each
// store and adapter, so that documents written on many hosts join one audit. Only facts are
// read: what was found in the registry. What the audit derived from them (states, masks,
// addresses, findings) is planned again by the run that reads the document.
#pragma once

#include "audit/live_adapter.h"
#include "audit/live_interfaces.h"
#include "guid/port_guid.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A document is refused beyond these bounds, so that a file from any host is read in bounded
// time and memory (about a second and 60 MB at worst). A host's document is a few KB, an
// adapter about 1 KB: 16 MB holds the merged document of some 3,000 hosts.
const std::size_t kMaxDocumentBytes = 16u << 20;
const std::size_t kMaxDocumentDepth = 16;
const std::size_t kMaxDocumentStores = 100000;
const std::size_t kMaxDocumentAdapters = 100000;
const std::size_t kMaxDocumentElementBytes = 64u << 10;

struct DocumentStore {
    std::string label; // UTF-8, as all the document's text
    bool read;
    std::string problem;                 // empty: none
    std::string warning;                 // empty: none
    LiveAvailability live;               // no live host: a store file, or an older document
    std::vector<LiveNeighbor> neighbors; // of the store's IPoIB interfaces
};

struct DocumentAdapter {
    std::size_t store; // index into DocumentFacts::stores
    std::string subkey;
    std::string driverDesc; // empty when absent
    std::string instanceId;
    std::string connectionName;
    bool instanceFound; // a port GUID is recorded
    PortGuid guid;
    bool stored; // a "GUIDMask" value is stored
    std::uint32_t storedType;
    std::string storedText;
    LiveAdapter live; // the "NetworkAddress" override and the interface, facts only
};

struct DocumentFacts {
    std::vector<DocumentStore> stores;
    std::vector<DocumentAdapter> adapters;
};

// Whether the bytes begin as a JSON object does: "{" after white space and an optional UTF-8
// byte-order mark. A .reg file or a hive never does.
bool LooksLikeDocument(const char* bytes, std::size_t length);

// The facts of a document of format 1; false with the reason in problem (a phrase, UTF-8).
// A document of an older build without a stored value's "type" reads it as REG_SZ: a value of
// another type was recorded with a text that is no mask, which plans alike.
bool ReadAuditDocument(const std::string& bytes, DocumentFacts* facts, std::string* problem);
