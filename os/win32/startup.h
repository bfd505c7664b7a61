// Process-wide settings that must be made before Corvane loads anything.
#pragma once

namespace win32 {

// Limits where DLLs loaded at run time (by Corvane, COM, WMI or any system
// DLL) are looked for, so that a DLL dropped beside Corvane.exe or into the
// current directory (a Downloads folder, a USB stick) is never loaded with
// administrator rights. Returns false when this Windows offers no way to do
// it. Call it first, before any other code can load a DLL.
bool RestrictDllSearchPath();

// InitCommonControlsEx for the standard classes. The manifest asks for
// version 6 of the common controls, to which user32 of Windows XP redirects
// the static and button classes; unless the program has loaded that library
// first, the status label and the message box cannot be created there.
// Call it before the first window.
bool LoadCommonControls();

}  // namespace win32
