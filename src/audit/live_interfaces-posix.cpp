#include "audit/live_interfaces.h"

// A store file is not a live host: no interface or neighbor is invented for it.
LiveTables ReadLiveTables() {
    LiveTables tables;
    tables.availability = kLiveNoHost;
    return tables;
}
