// Transaction logs for test hives, made as Windows makes them: a log is a copy of the hive's
// base block followed by entries, each bringing the hive's pages up to a later state.
#pragma once

#include "registry/store/hive/hive_log_replay.h"

#include <cstdint>
#include <string>
#include <vector>

struct PageRun {
    std::uint32_t offset; // relative to the first bin
    std::uint32_t size;
};

// The runs of 4 KiB pages of after's bins that differ from before's (or lie beyond them).
std::vector<PageRun> DifferingPageRuns(const std::string& before, const std::string& after);

// A log's first 512 bytes for the hive: its base block, file type 6, both sequence numbers
// sequence, sealed.
std::string HiveLogStart(const std::string& hive, std::uint32_t sequence);

// An entry with sequence number sequence and bins size binsSize, carrying these runs of
// after's pages, padded to a multiple of 512 and both hashes set.
std::string HiveLogEntry(const std::string& after, const std::vector<PageRun>& runs,
                         std::uint32_t sequence, std::uint32_t binsSize);

// Sets both hashes of the entry at `at` in log again, after a test has changed it.
void SealHiveLogEntry(std::string* log, std::size_t at);

// The hive's base block with sequence numbers primary/secondary, sealed.
void SetHiveSequence(std::string* hive, std::uint32_t primary, std::uint32_t secondary);

// The replay on a hive and logs held in vectors; image ends at the replayed hive's length.
HiveReplay ReplayInVector(std::vector<unsigned char>* image,
                          const std::vector<std::vector<unsigned char>>& logs);

std::uint32_t HiveDword(const std::string& bytes, std::size_t at);
void PutHiveDword(std::string* bytes, std::size_t at, std::uint32_t value);
