#include "cli/command_line.h"
#include "console/console.h"

void PrintUsage(const wchar_t* programPath) {
    const wchar_t* programName = programPath;
    for (const wchar_t* at = programPath; *at != L'\0'; ++at) {
        if (*at == L'\\') {
            programName = at + 1;
        }
    }
    PrintMessage(L"Usage: %s [-h] [-f] [-s] [-d <mask>]\n", programName);
    PrintText(L"\t-h: Print this help message and exit.\n");
    PrintText(L"\t-f: This is a fix operation. Default operation is check.\n");
    PrintText(L"\t-s: Silent mode. Default mode is interactive.\n");
    PrintText(L"\t-d <mask>: Change the GUID mask used in silent mode. Default mask is 0xe7.\n");
}
