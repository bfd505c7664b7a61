#include "common/exists.h"

#include "common/redirection.h"
#include "common/trace.h"
#include "os/os.h"

namespace CommonModule {

namespace {

// Only paths whose second character is ":" or "\" are tested: drive paths,
// UNC paths and one-letter relative folders such as .\dir. Everything else
// (empty, rooted without a drive, dir\sub, ..\dir) is False at once.
bool PassesPathRule(const std::wstring& path) {
    return path.size() >= 2 && (path[1] == L':' || path[1] == L'\\');
}

}  // namespace

bool DoesDirExist(const std::wstring& sPathOnly, bool bDebug) {
    if (!PassesPathRule(sPathOnly)) return false;

    const FSRedirOff nativeSystem;
    uint32_t attributes = 0, error = 0;
    // A file that cannot be opened is still not a directory: only the
    // directory attribute says so.
    const bool result = os::QueryFileAttributes(sPathOnly, attributes, error) &&
                        (attributes & os::kAttributeDirectory) != 0;
    if (bDebug) {
        DPrint(L"CommonModule\\DoesDirExist: ");
        DPrint(L"\t- Passed: " + sPathOnly);
        DPrint(L"\t- Returns: " + BoolText(result));
    }
    return result;
}

bool DoesFileExist(const std::wstring& sFile, bool bDebug) {
    if (!PassesPathRule(sFile)) return false;

    int32_t opened = -1;
    {
        const FSRedirOff nativeSystem;
        opened = os::OpenFileExists(sFile);
    }
    const bool result = opened != -1;
    if (bDebug) {
        DPrint(L"CommonModule\\DoesFileExist: " + std::to_wstring(opened));
        DPrint(L"\t- Passed: " + sFile);
        DPrint(L"\t- Returns: " + BoolText(result));
    }
    return result;
}

std::wstring SystemProgramPath(const std::wstring& program) {
    if (program.find(L'\\') != std::wstring::npos) return {};
    const std::wstring candidate = os::SystemDirectory() + L"\\" + program;
    return DoesFileExist(candidate) ? candidate : std::wstring();
}

}  // namespace CommonModule
