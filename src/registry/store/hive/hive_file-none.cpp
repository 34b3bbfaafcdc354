// The hive store of a build without hivex: a hive file is recognized and refused.
#include "registry/store/hive/hive_file.h"

bool ReadHiveFile(const char*, const std::vector<std::u16string>&, KeyTree* tree,
                  std::uint32_t* systemKey, std::string* what) {
    InitKeyTree(tree);
    *systemKey = kNoIndex;
    *what = "this is a registry hive file, but this build has no hive support (libhivex)";
    return false;
}

LSTATUS CommitHiveValue(const char*, const char*, const std::vector<std::u16string>&,
                        const ValueToWrite&) {
    return ERROR_BADDB;
}
