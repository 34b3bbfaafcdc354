#include "registry/registry_session.h"

bool OpenRegistry(const wchar_t* const*, std::size_t, bool, std::string*) {
    return true;
}

void CloseRegistry() {}
