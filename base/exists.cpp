#include "base/exists.h"

#include "base/redirection.h"
#include "os/os.h"

namespace base {

namespace {

// Only paths whose second character is ":" or "\" are tested: drive paths,
// UNC paths and one-letter relative folders such as .\dir. Everything else
// (empty, rooted without a drive, dir\sub, ..\dir) is False at once.
bool PassesPathRule(const std::wstring& path) {
    return path.size() >= 2 && (path[1] == L':' || path[1] == L'\\');
}

}  // namespace

bool DoesDirExist(const std::wstring& directory) {
    if (!PassesPathRule(directory)) return false;

    const RedirectionOff nativeSystem;
    uint32_t attributes = 0, error = 0;
    // A file that cannot be opened is still not a directory: only the
    // directory attribute says so.
    return os::QueryFileAttributes(directory, attributes, error) &&
           (attributes & os::kAttributeDirectory) != 0;
}

bool DoesFileExist(const std::wstring& file) {
    if (!PassesPathRule(file)) return false;

    const RedirectionOff nativeSystem;
    return os::OpenFileExists(file) != -1;
}

}  // namespace base
