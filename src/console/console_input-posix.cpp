#include "console/input_source.h"

#include <cstdio>
#include <unistd.h>

InputSource OpenInputSource() {
    return InputSource{isatty(STDIN_FILENO) != 0, false};
}

int ReadInputByte() {
    const int byte = std::getchar();
    return byte == EOF ? -1 : byte;
}
