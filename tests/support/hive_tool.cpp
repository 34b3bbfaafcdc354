// The end-to-end tests' hive tool:
//   hive_tool empty OUT                      the empty hive
//   hive_tool build STORE.reg OUT [--no-select | --current N]
//                                            a hive from a .reg store (see hive_builder.h)
//   hive_tool dump HIVE                      every key and value, as hive_builder.h prints them
//   hive_tool replay HIVE OUT LOG...         the hive brought up to date from the logs
//   hive_tool log-entry BEFORE AFTER LOG [--bins-size N]
//                                            appends to LOG, behind its last entry, the entry
//                                            that brings BEFORE to AFTER (claiming bins size N)
#include "empty_hive.h"
#include "hive_builder.h"
#include "hive_log_builder.h"

#include "registry/store/hive/hive_log_replay.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

int Fail(const std::string& problem) {
    std::fputs(("hive_tool: " + problem + "\n").c_str(), stderr);
    return 2;
}

std::string ReadBytes(const char* path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool WriteBytes(const char* path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

std::vector<unsigned char> Unsigned(const std::string& bytes) {
    return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

int Replay(int argc, char** argv) {
    std::vector<unsigned char> image = Unsigned(ReadBytes(argv[2]));
    std::vector<std::vector<unsigned char>> logs;
    for (int at = 4; at < argc; ++at) {
        logs.push_back(Unsigned(ReadBytes(argv[at])));
    }
    const HiveReplay replay = ReplayInVector(&image, logs);
    if (replay.result != HiveReplayResult::Replayed) {
        return Fail("not replayed: " + replay.problem);
    }
    return WriteBytes(argv[3], std::string(image.begin(), image.end()))
               ? 0
               : Fail(std::string("cannot write ") + argv[3]);
}

int AppendLogEntry(int argc, char** argv) {
    const std::string before = ReadBytes(argv[2]);
    const std::string after = ReadBytes(argv[3]);
    std::string log = ReadBytes(argv[4]);
    std::size_t at = kHiveBaseBlockSize;
    std::uint32_t sequence = HiveDword(log, 0x04);
    while (at + 0x28 <= log.size() && log.compare(at, 4, "HvLE") == 0) {
        sequence = HiveDword(log, at + 0x0C) + 1;
        at += HiveDword(log, at + 0x04);
    }
    const std::uint32_t binsSize =
        argc == 7 ? static_cast<std::uint32_t>(std::strtoul(argv[6], nullptr, 0))
                  : HiveDword(after, 0x28);
    const std::string entry =
        HiveLogEntry(after, DifferingPageRuns(before, after), sequence, binsSize);
    log.resize(std::max(log.size(), at + entry.size()), '\0');
    log.replace(at, entry.size(), entry);
    return WriteBytes(argv[4], log) ? 0 : Fail(std::string("cannot write ") + argv[4]);
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    std::string error;
    if (command == "empty" && argc == 3) {
        std::ofstream file(argv[2], std::ios::binary | std::ios::trunc);
        const std::string bytes = EmptyHiveBytes();
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return file ? 0 : Fail(std::string("cannot write ") + argv[2]);
    }
    if (command == "build" && (argc == 4 || argc == 5 || argc == 6)) {
        HiveBuildOptions options = kStandardHive;
        const std::string option = argc > 4 ? argv[4] : "";
        if (option == "--no-select" && argc == 5) {
            options.select = false;
        } else if (option == "--current" && argc == 6) {
            options.current = static_cast<std::uint32_t>(std::strtoul(argv[5], nullptr, 10));
        } else if (!option.empty()) {
            return Fail("unknown option " + option);
        }
        return BuildHiveFromRegFile(argv[2], argv[3], options, &error) ? 0 : Fail(error);
    }
    if (command == "dump" && argc == 3) {
        std::string dump;
        if (!DumpHive(argv[2], &dump, &error)) {
            return Fail(error);
        }
        std::fputs(dump.c_str(), stdout);
        return 0;
    }
    if (command == "replay" && argc >= 4) {
        return Replay(argc, argv);
    }
    if (command == "log-entry" &&
        (argc == 5 || (argc == 7 && std::string(argv[5]) == "--bins-size"))) {
        return AppendLogEntry(argc, argv);
    }
    return Fail("usage: hive_tool empty OUT | build STORE.reg OUT [--no-select | --current N] | "
                "dump HIVE | replay HIVE OUT LOG... | log-entry BEFORE AFTER LOG [--bins-size N]");
}
