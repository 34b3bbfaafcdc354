// The end-to-end tests' hive tool:
//   hive_tool empty OUT                      the empty hive
//   hive_tool build STORE.reg OUT [--no-select | --current N]
//                                            a hive from a .reg store (see hive_builder.h)
//   hive_tool dump HIVE                      every key and value, as hive_builder.h prints them
#include "empty_hive.h"
#include "hive_builder.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

int Fail(const std::string& problem) {
    std::fputs(("hive_tool: " + problem + "\n").c_str(), stderr);
    return 2;
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
    return Fail("usage: hive_tool empty OUT | build STORE.reg OUT [--no-select | --current N] | "
                "dump HIVE");
}
