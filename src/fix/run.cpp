#include "fix/run.h"

#include "console/exit_status.h"
#include "fix/adapter_pass.h"
#include "registry/instance_table.h"

const wchar_t* const kRunRegistryAreas[] = {NetworkInstancesKey, AdapterClassKey};
const std::size_t kRunRegistryAreaCount = sizeof kRunRegistryAreas / sizeof kRunRegistryAreas[0];

int RunChecks(const RunSettings& settings) {
    CollectIpoibInstances();
    const PassCounters counters = CheckAndFixAdapters(settings);
    return counters.failedWrites == 0 ? kExitSuccess : kExitFailure;
}
