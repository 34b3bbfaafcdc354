// The command line: -h, -f, -s and -d <mask>, taken from left to right.
#pragma once

#include "fix/run_settings.h"

struct CommandLineOutcome {
    bool run;   // true: the arguments were accepted and the run follows
    int status; // the exit status when run is false
};

// Fills settings from argv[1] onward, or prints the usage text or an error and says how the
// process ends. Nothing here touches the registry.
CommandLineOutcome ParseCommandLine(int argc, const wchar_t* const* argv, RunSettings* settings);

// The usage text, naming the program by the part of programPath behind its last backslash.
void PrintUsage(const wchar_t* programPath);
