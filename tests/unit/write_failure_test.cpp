// Why a failed write failed: the store's error codes for each cause, and the one line each
// code gets on standard error.
#include "fix/write_failure.h"
#include "registry/store/store_lock.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <string>

namespace {

const struct {
    int error;
    LSTATUS status;
} kErrnoRows[] = {
    {EACCES, ERROR_ACCESS_DENIED},     {EPERM, ERROR_ACCESS_DENIED}, {EROFS, ERROR_ACCESS_DENIED},
    {ENOSPC, ERROR_DISK_FULL},         {EDQUOT, ERROR_DISK_FULL},    {ENOENT, ERROR_FILE_NOT_FOUND},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY}, {EIO, ERROR_WRITE_FAULT},     {EFBIG, ERROR_WRITE_FAULT},
};

TEST(WriteFailure, TheStoreGivesEachCauseItsOwnCode) {
    for (const auto& row : kErrnoRows) {
        SCOPED_TRACE(row.error);
        EXPECT_EQ(row.status, ErrorFromErrno(row.error));
    }
}

const std::wstring kLead = L"ipoib-guidmask: \"GUIDMask\" could not be written: ";

const struct {
    LSTATUS status;
    const wchar_t* why;
} kLineRows[] = {
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
    {ERROR_INVALID_PARAMETER, L"error 87; run the fix again"},
};

TEST(WriteFailure, EachCauseHasOneLineThatSaysWhatToDo) {
    for (const auto& row : kLineRows) {
        SCOPED_TRACE(row.status);
        EXPECT_EQ(kLead + row.why + L"\n", WriteFailureLine(row.status));
    }
}

TEST(WriteFailure, ARunSaysEachCauseOnce) {
    WriteFailureLog log;
    testing::internal::CaptureStderr();
    TellWriteFailure(ERROR_ACCESS_DENIED, &log);
    TellWriteFailure(ERROR_DISK_FULL, &log);
    TellWriteFailure(ERROR_ACCESS_DENIED, &log);
    const std::string told = testing::internal::GetCapturedStderr();
    EXPECT_EQ("ipoib-guidmask: \"GUIDMask\" could not be written: access denied: the registry "
              "store file or its directory is not writable; give the user who runs the fix "
              "write permission on both\n"
              "ipoib-guidmask: \"GUIDMask\" could not be written: no space left on the file "
              "system that holds the registry store (or the disk quota is used up); free some "
              "space and run the fix again\n",
              told);
}

} // namespace
