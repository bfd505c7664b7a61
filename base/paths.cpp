#include "base/paths.h"

#include "base/trace.h"
#include "os/os.h"

namespace base {

std::wstring AppPath() {
    std::wstring path = os::ExecutablePath();
    const auto lastBackslash = path.find_last_of(L'\\');
    if (lastBackslash == std::wstring::npos) {
        // The trace keeps its historical name.
        Trace(L"CommonModule\\AppPath VB ERROR: 53 File not found: " + path);
        return L"\\";
    }
    // Keeps the backslash: C:\Tools\Corvane.exe gives C:\Tools\, and a
    // program in the root of a drive gives C:\ without doubling it.
    path.erase(lastBackslash + 1);
    return path;
}

std::wstring FileNameOf(const std::wstring& path) {
    const auto lastBackslash = path.find_last_of(L'\\');
    if (lastBackslash == std::wstring::npos) return path;
    return path.substr(lastBackslash + 1);
}

}  // namespace base
