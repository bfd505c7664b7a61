#include "base/exists.h"

#include "base/redirection.h"
#include "base/trace.h"
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

bool DoesDirExist(const std::wstring& directory, Tracing tracing) {
    if (!PassesPathRule(directory)) return false;

    const RedirectionOff nativeSystem;
    uint32_t attributes = 0, error = 0;
    // A file that cannot be opened is still not a directory: only the
    // directory attribute says so.
    const bool result = os::QueryFileAttributes(directory, attributes, error) &&
                        (attributes & os::kAttributeDirectory) != 0;
    if (tracing == Tracing::On) {
        // The trace keeps its historical name.
        Trace(L"CommonModule\\DoesDirExist: ");
        Trace(L"\t- Passed: " + directory);
        Trace(L"\t- Returns: " + BoolText(result));
    }
    return result;
}

bool DoesFileExist(const std::wstring& file, Tracing tracing) {
    if (!PassesPathRule(file)) return false;

    int32_t opened = -1;
    {
        const RedirectionOff nativeSystem;
        opened = os::OpenFileExists(file);
    }
    const bool result = opened != -1;
    if (tracing == Tracing::On) {
        // The trace keeps its historical name.
        Trace(L"CommonModule\\DoesFileExist: " + std::to_wstring(opened));
        Trace(L"\t- Passed: " + file);
        Trace(L"\t- Returns: " + BoolText(result));
    }
    return result;
}

}  // namespace base
