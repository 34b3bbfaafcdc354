// A hive file as a reader must see it: a dirty hive replayed from the transaction logs beside
// it, in memory, the file and its logs left as they are.
#pragma once

#include "registry/store/hive/hive_log_replay.h"

#include <string>

struct HiveImage {
    std::string readPath; // the name to open: the file's own, or that of the image in memory
    int memoryFd;         // the image in memory, or -1 when the file is read as it is
    HiveReplayResult state;
    std::string problem; // when Incomplete: why the hive could not be brought up to date
};

// Prepares the hive open on fd, whose name is openPath and whose logs sit beside path. False,
// with what saying why, when the file or a log cannot be read or the image cannot be held.
bool PrepareHiveImage(int fd, const std::string& openPath, const std::string& path,
                      HiveImage* image, std::string* what);

void ReleaseHiveImage(HiveImage* image);

// Replays the hive open on fd, length bytes long, from the logs into a new file in memory when
// they bring it up to date: outcome is then Replayed and imageFd the file's descriptor, else
// imageFd is -1. The bins of the image are checked on the way. False, with errno set, when the
// hive cannot be read or the image cannot be held.
bool ReplayHiveFile(int fd, std::size_t length, const HiveLogBytes* logs, std::size_t logCount,
                    HiveReplay* outcome, int* imageFd);
