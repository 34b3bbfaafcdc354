#include "audit/store_arguments.h"

#include "audit/audit_document.h"
#include "audit/audit_host.h"

#include <algorithm>

namespace {

const std::size_t kHeadBytes = 4096;

const wchar_t kNotDocument[] =
    L"not a JSON document of the audit; this program reads the machine's registry, and the "
    L"documents ipoib-guidmask-audit --json writes, not .reg files or hives";

// Up to limit bytes from where the file stands, appended.
void ReadUpTo(std::FILE* file, std::size_t limit, std::string* bytes) {
    char buffer[65536];
    while (bytes->size() < limit) {
        const std::size_t wanted = std::min(sizeof buffer, limit - bytes->size());
        const std::size_t read = std::fread(buffer, 1, wanted, file);
        bytes->append(buffer, read);
        if (read < wanted) {
            return;
        }
    }
}

} // namespace

StoreFileKind ReadStoreFile(const std::wstring& path, std::string* bytes, std::wstring* why) {
    bytes->clear();
    std::FILE* file = OpenStoreFile(path, why);
    if (file == nullptr) {
        return AuditTakesStores() ? kRegistryFile : kRefusedFile;
    }
    ReadUpTo(file, kHeadBytes, bytes);
    const bool document = LooksLikeDocument(bytes->data(), bytes->size());
    if (document) {
        // One byte more than a document may hold, so that a larger one is told apart.
        ReadUpTo(file, kMaxDocumentBytes + 1, bytes);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (document && failed) {
        *why = L"cannot be read";
        return kRefusedFile;
    }
    if (document) {
        return kDocumentFile;
    }
    bytes->clear();
    *why = kNotDocument;
    return AuditTakesStores() ? kRegistryFile : kRefusedFile;
}
