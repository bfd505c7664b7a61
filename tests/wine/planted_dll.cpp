// A stand-in for a DLL that someone dropped beside Corvane.exe or into the
// current directory: when any process loads it, it creates
// "<its own path>.loaded". It exports nothing, so a caller that goes on to
// look up a function in it falls back as it would for a missing DLL.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    wchar_t marker[MAX_PATH + 8] = {};
    if (reason == DLL_PROCESS_ATTACH && ::GetModuleFileNameW(self, marker, MAX_PATH) < MAX_PATH)
        ::CloseHandle(::CreateFileW(::lstrcatW(marker, L".loaded"), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return TRUE;
}
