// Starting programs and waiting for them.
#include "os/os.h"
#include "os/win32/handles.h"

#include <vector>

namespace os {

CreatedProcess LaunchProcess(const std::wstring& applicationName, const std::wstring& commandLine,
                             int showWindow) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(showWindow);
    // CreateProcessW may write into the command line.
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');

    PROCESS_INFORMATION info{};
    CreatedProcess created;
    if (!::CreateProcessW(applicationName.empty() ? nullptr : applicationName.c_str(), line.data(),
                          nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        const DWORD error = ::GetLastError();
        created.error = error != 0 ? error : ERROR_GEN_FAILURE;  // never a failure read as a start
        return created;
    }
    ::CloseHandle(info.hThread);
    created.processId = info.dwProcessId;
    created.process = reinterpret_cast<Handle>(info.hProcess);
    return created;
}

Handle OpenProcess(uint32_t access, bool inheritHandle, uint32_t processId, uint32_t& error) {
    HANDLE process = ::OpenProcess(access, inheritHandle ? TRUE : FALSE, processId);
    if (!process) error = ::GetLastError();
    return reinterpret_cast<Handle>(process);
}

bool GetExitCodeProcess(Handle process, uint32_t& exitCode) {
    DWORD code = 0;
    if (!::GetExitCodeProcess(reinterpret_cast<HANDLE>(process), &code)) return false;
    exitCode = code;
    return true;
}

void CloseHandle(Handle handle) {
    if (handle) ::CloseHandle(reinterpret_cast<HANDLE>(handle));
}

}  // namespace os
