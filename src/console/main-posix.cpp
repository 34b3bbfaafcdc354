// The POSIX entry of both programs: the byte arguments are taken as UTF-8 and handed to the
// program's wmain as UTF-16 text.
#include "text/utf8.h"

#include <cstring>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv);

int main(int argc, char** argv) {
    std::vector<std::wstring> arguments;
    for (int index = 0; index < argc; ++index) {
        arguments.push_back(DecodeUtf8(argv[index], std::strlen(argv[index])));
    }
    std::vector<wchar_t*> pointers;
    for (std::wstring& argument : arguments) {
        pointers.push_back(argument.data());
    }
    pointers.push_back(nullptr);
    return wmain(argc, pointers.data());
}
