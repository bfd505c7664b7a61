// Process-wide settings that must be made before Corvane loads anything.
#pragma once

namespace win32 {

// Limits where DLLs loaded at run time (by Corvane, COM, WMI or any system
// DLL) are looked for, so that a DLL dropped beside Corvane.exe or into the
// current directory (a Downloads folder, a USB stick) is never loaded with
// administrator rights. Returns false when this Windows offers no way to do
// it. Call it first, before any other code can load a DLL.
bool RestrictDllSearchPath();

}  // namespace win32
