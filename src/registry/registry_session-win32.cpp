#include "registry/registry_session.h"

bool OpenRegistry() {
    return true;
}

void CloseRegistry() {}
