// What a contract test needs from the machine it runs on, besides the seam
// itself: arranging a situation and looking at the result. The native build
// answers from the simulated machine, the Windows build from Windows.
#pragma once

#include <string>

namespace platform {

void Prepare();  // a clean state before each test

// The file name of the running test program.
std::wstring ExecutableName();

struct WindowView {
    bool exists = false;
    bool visible = false;
    std::wstring caption;
    std::wstring label;
    int clientWidth = 0;  // pixels
    int clientHeight = 0;
};
WindowView StatusWindow();
int ScreenDpi();

bool Is64BitWindows();
// A scratch directory for the test's own files, without a trailing backslash.
std::wstring ScratchDirectory();
void CreateDirectoryAt(const std::wstring& path);
void CreateFileAt(const std::wstring& path);
// Places a file in the native system directory (System32 as a 64-bit
// program sees it), and removes it again.
std::wstring PlaceNativeSystemFile(const std::wstring& name);
void RemoveNativeSystemFile(const std::wstring& name);

// A small program that records how it was started, placed in a directory;
// its log holds one "command line|show=N" line a start.
std::wstring RecorderAt(const std::wstring& directory);
std::wstring RecordedStarts(const std::wstring& recorder);

}  // namespace platform
