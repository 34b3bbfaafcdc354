#include "cli/tool_main.h"

int wmain(int argc, wchar_t** argv) {
    return ToolMain(argc, argv);
}
