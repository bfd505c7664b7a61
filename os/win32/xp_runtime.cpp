// Keeps the MinGW runtime that is linked into Corvane.exe loadable on
// Windows XP.
//
// The posix-thread runtime (winpthread, used by libstdc++ for exception
// handling and static initialisation) imports GetTickCount64, which exists
// from Vista on. A missing import stops the loader before Corvane's first
// line runs, so the runtime's import slot is defined here instead: linked
// as an object ahead of the import libraries, it takes the place of
// kernel32's, and the real function is looked up on first use.
//
// The imports test lists every function Corvane.exe imports; a runtime
// update that brings in another post-XP import shows up there.
#include <windows.h>

#include <atomic>

namespace {

using TickCount64Function = ULONGLONG(WINAPI*)();

// Milliseconds since an arbitrary start, without the 49.7-day wrap of
// GetTickCount. QueryPerformanceCounter exists on every Windows Corvane
// supports and never fails from XP on.
ULONGLONG WINAPI PerformanceCounterMilliseconds() {
    LARGE_INTEGER frequency{}, counter{};
    if (!::QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0 ||
        !::QueryPerformanceCounter(&counter))
        return ::GetTickCount();
    const ULONGLONG ticks = static_cast<ULONGLONG>(counter.QuadPart);
    const ULONGLONG perSecond = static_cast<ULONGLONG>(frequency.QuadPart);
    // Split so that the multiplication cannot overflow.
    return ticks / perSecond * 1000 + ticks % perSecond * 1000 / perSecond;
}

// No function-local static: its guard would call back into winpthread,
// the very caller of this function.
std::atomic<TickCount64Function> resolved{nullptr};

ULONGLONG WINAPI TickCount64() {
    TickCount64Function function = resolved.load(std::memory_order_acquire);
    if (!function) {
        HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
        function = kernel32 ? reinterpret_cast<TickCount64Function>(reinterpret_cast<void*>(
                                  ::GetProcAddress(kernel32, "GetTickCount64")))
                            : nullptr;
        if (!function) function = &PerformanceCounterMilliseconds;
        resolved.store(function, std::memory_order_release);
    }
    return function();
}

}  // namespace

// The import slot the runtime calls through: "__imp_" plus the function's
// symbol, which on x86 is the decorated stdcall name and on x64 the plain one.
#ifdef _WIN64
#define CORVANE_TICKCOUNT64_SLOT "__imp_GetTickCount64"
#else
#define CORVANE_TICKCOUNT64_SLOT "__imp__GetTickCount64@0"
#endif
extern "C" TickCount64Function const corvaneGetTickCount64Import __asm__(CORVANE_TICKCOUNT64_SLOT) =
    &TickCount64;
