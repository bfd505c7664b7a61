// DLL search path hardening, looked up at run time: both functions are newer
// than some of the Windows versions Corvane runs on. The common controls.
#include "os/win32/startup.h"

#include "os/win32/helpers.h"

#include <windows.h>
// After windows.h, which it relies on.
#include <commctrl.h>

// Older SDK headers (or _WIN32_WINNT below Windows 8) leave it out.
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace win32 {

namespace {

// Typed by hand: the SDK declares them only for newer targets.
using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD directoryFlags);
using SetDllDirectoryWFunction = BOOL(WINAPI*)(LPCWSTR pathName);

}  // namespace

bool RestrictDllSearchPath() {
    // Windows 8 and later, and Vista or 7 with KB2533623: System32 only, for
    // every LoadLibrary without an explicit search flag and for the
    // dependencies of what it loads. Neither the application directory nor
    // the current directory is searched any more.
    if (const auto setDefaultDllDirectories =
            Kernel32Function<SetDefaultDllDirectoriesFunction>("SetDefaultDllDirectories")) {
        if (setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) return true;
    }
    // XP SP1 and later: an empty string takes the current directory out of
    // the search. The application directory stays first in the search on
    // these systems; nothing short of the above removes it.
    if (const auto setDllDirectoryW =
            Kernel32Function<SetDllDirectoryWFunction>("SetDllDirectoryW")) {
        if (setDllDirectoryW(L"")) return true;
    }
    return false;
}

bool LoadCommonControls() {
    // Loaded by name, not imported: an import would load the library, and
    // the DLLs it needs (uxtheme.dll), before RestrictDllSearchPath, from the
    // program's directory too. The manifest still picks version 6. It stays
    // loaded for the life of the process, as the classes it registers must.
    HMODULE comctl32 = ::LoadLibraryW(L"comctl32.dll");
    if (!comctl32) return false;
    const auto initCommonControlsEx = reinterpret_cast<decltype(&::InitCommonControlsEx)>(
        reinterpret_cast<void*>(::GetProcAddress(comctl32, "InitCommonControlsEx")));
    if (!initCommonControlsEx) return false;
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_STANDARD_CLASSES;
    return initCommonControlsEx(&controls) != FALSE;
}

}  // namespace win32
