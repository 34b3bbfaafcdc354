#include "fix/run.h"

#include "fix/adapter_pass.h"
#include "registry/instance_table.h"

int RunChecks(const RunSettings& settings) {
    CollectIpoibInstances();
    const PassCounters counters = CheckAndFixAdapters(settings);
    return counters.failedWrites == 0 ? 0 : -1;
}
