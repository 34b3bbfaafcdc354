// On Windows the registry is the machine's own; a fix needs an administrator's rights.
#include "fix/write_failure.h"

const WriteFailureCause kWriteFailureCauses[] = {
    {ERROR_ACCESS_DENIED, L"access denied: run the fix from an elevated prompt (a console "
                          L"started with \"Run as administrator\")"},
    {ERROR_DISK_FULL, L"the disk is full; free some space on the system drive and run the fix "
                      L"again"},
    {ERROR_HANDLE_DISK_FULL, L"the disk is full; free some space on the system drive and run the "
                             L"fix again"},
    {ERROR_BADDB, L"the registry reports that its database is damaged; repair the registry, then "
                  L"run the fix again"},
    {ERROR_REGISTRY_CORRUPT, L"the registry reports that its database is damaged; repair the "
                             L"registry, then run the fix again"},
    {ERROR_KEY_DELETED, L"the adapter's key has been marked for deletion since the run read it "
                        L"(the adapter is being removed); run the fix again"},
    {ERROR_FILE_NOT_FOUND, L"the adapter's key has been removed since the run read it; run the "
                           L"fix again"},
    {ERROR_NOT_ENOUGH_MEMORY, L"not enough memory; run the fix again with more memory free"},
    {ERROR_NO_SYSTEM_RESOURCES, L"not enough system resources; run the fix again with more "
                                L"memory free"},
};
const std::size_t kWriteFailureCauseCount =
    sizeof kWriteFailureCauses / sizeof *kWriteFailureCauses;

// net helpmsg prints the system's own text for a Windows error code.
const wchar_t kOtherWriteFailure[] =
    L"Windows error %d (\"net helpmsg %d\" explains it); run the fix again";
