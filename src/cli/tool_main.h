// The whole program behind the platform's entry: the command line, then the run.
#pragma once

// argv holds wide strings of UTF-16 code units. Returns the exit status: 0 or -1.
int ToolMain(int argc, const wchar_t* const* argv);
