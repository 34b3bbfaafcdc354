// Standard input as each platform hands it over (console_input-posix.cpp, -win32.cpp), read by
// console_input.cpp one byte at a time.
#pragma once

struct InputSource {
    bool typed;          // a console or a terminal: replies come as they are typed
    bool endsAtControlZ; // a Ctrl-Z character ends the input, as the platform's text mode has it
};

// Looks at standard input once, before its first byte is read, and readies it for reading.
InputSource OpenInputSource();

// The next byte of standard input, or -1 at its end.
int ReadInputByte();
