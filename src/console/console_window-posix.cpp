// A terminal outlives the program that writes to it: nothing to keep open.
#include "console/console.h"

void KeepOwnConsoleOpen() {}
