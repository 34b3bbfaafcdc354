#include "audit/audit_main.h"

int wmain(int argc, wchar_t** argv) {
    return AuditMain(argc, argv);
}
