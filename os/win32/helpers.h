// Small helpers shared by the Win32 side of the seam.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace win32 {

// The text in the system's ANSI code page, for the "A" functions;
// characters outside it become the code page's default character.
inline std::string ToAnsi(const std::wstring& text) {
    const int size =
        ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return {};
    std::vector<char> ansi(static_cast<size_t>(size));
    ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, ansi.data(), size, nullptr, nullptr);
    return ansi.data();
}

// A function of a loaded system library looked up by name, for functions
// that older Windows lacks: importing them would stop the program from
// loading there. Null when the library does not have it.
template <typename FunctionPointer>
FunctionPointer SystemFunction(const wchar_t* library, const char* name) {
    HMODULE module = ::GetModuleHandleW(library);
    return module ? reinterpret_cast<FunctionPointer>(
                        reinterpret_cast<void*>(::GetProcAddress(module, name)))
                  : nullptr;
}

template <typename FunctionPointer>
FunctionPointer Kernel32Function(const char* name) {
    return SystemFunction<FunctionPointer>(L"kernel32.dll", name);
}

// The status window while it is open, else null: the owner of the windows
// that the shell opens for Corvane.
HWND StatusWindowHandle();

// The status window's class, by which those who watch a run find it.
extern const wchar_t kStatusWindowClass[];

}  // namespace win32
