// The transaction logs beside a hive file: <hive>.LOG1, .LOG2 and .LOG, found in any case of
// letters and mapped (or read) whole, for the replay to plan on.
#pragma once

#include "registry/store/hive/hive_log_replay.h"

#include <cstddef>
#include <string>
#include <vector>

// A log mapped from its file, or read whole where it cannot be mapped (empty, or no regular
// file).
struct HiveLogFile {
    void* mapping;
    std::size_t mappedLength;
    std::vector<unsigned char> copy;
    std::string name;
};

// The logs beside the hive at path; one missing is no log. False, with what saying why, when a
// log that is there cannot be read; the logs read so far must still be released.
bool ReadHiveLogs(const std::string& path, std::vector<HiveLogFile>* logs, std::string* what);

HiveLogBytes LogBytes(const HiveLogFile& log);

void ReleaseHiveLogs(std::vector<HiveLogFile>* logs);
