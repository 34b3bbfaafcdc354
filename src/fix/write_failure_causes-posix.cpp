// On POSIX hosts the registry is a store file; its writes fail for what befalls that file.
#include "fix/write_failure.h"

const WriteFailureCause kWriteFailureCauses[] = {
    {ERROR_ACCESS_DENIED, L"access denied: the registry store file or its directory is not "
                          L"writable; give the user who runs the fix write permission on both"},
    {ERROR_DISK_FULL, L"no space left on the file system that holds the registry store (or the "
                      L"disk quota is used up); free some space and run the fix again"},
    {ERROR_BADDB, L"the registry store file has changed since it was loaded into one the fix "
                  L"cannot read or write (replaced or damaged by another program); check the "
                  L"file, then run the fix again"},
    {ERROR_KEY_DELETED, L"the adapter's key has been removed from the registry store by another "
                        L"program since the run read it; run the fix again"},
    {ERROR_FILE_NOT_FOUND, L"the registry store file has been removed or renamed since it was "
                           L"loaded; run the fix again on the file as it is now"},
    {ERROR_NOT_ENOUGH_MEMORY, L"not enough memory; run the fix again with more memory free"},
    {ERROR_WRITE_FAULT, L"the registry store file could not be written (an input/output error, "
                        L"or the file system refused an operation); check the file system, then "
                        L"run the fix again"},
};
const std::size_t kWriteFailureCauseCount =
    sizeof kWriteFailureCauses / sizeof *kWriteFailureCauses;

const wchar_t kOtherWriteFailure[] = L"error %d; run the fix again";
