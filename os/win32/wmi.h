// WMI queries on the Windows side.
#pragma once

#include "os/os.h"
#include "os/win32/handles.h"

#include <windows.h>
// After windows.h, which it relies on.
#include <wbemidl.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace win32 {

// Runs a WQL query in a namespace of the local computer (e.g. root\default)
// and hands each instance to visit, in the order WMI yields them; a failure
// visit returns ends the query. The first failure, or S_OK; waits for an
// instance at most two minutes (WBEM_E_TIMED_OUT). COM is set up for the call.
HRESULT ForEachWmiInstance(const std::wstring& nameSpace, const std::wstring& query,
                           const std::function<HRESULT(IWbemClassObject*)>& visit);

// Hands every object of an enumeration to visit, in order, asking Next for
// several at a time and waiting at most two minutes for each call. Objects
// that arrive with the end of the enumeration (WBEM_S_FALSE) are visited
// too; a time-out (WBEM_S_TIMEDOUT) fails it with WBEM_E_TIMED_OUT, as the
// list is then incomplete.
HRESULT VisitEnumeration(IEnumWbemClassObject* instances,
                         const std::function<HRESULT(IWbemClassObject*)>& visit);

// Runs work on a thread of its own and waits for it at most limitMs (0: no
// limit), handling this thread's window messages meanwhile, so that the
// status window keeps answering and hears the end of the session. Work that
// runs out of time is left behind with what it shares with the caller (a
// hung WMI call cannot be cancelled) and ends with the process. S_OK once
// the thread has ended, WBEM_E_TIMED_OUT, E_ABORT where the session has
// ended (nothing is started then), or why it could not start.
HRESULT RunWithinLimit(std::function<void()> work, uint32_t limitMs);

// Whether a work was left running (out of time, or at the end of the
// session), perhaps inside COM or WMI with their locks held.
bool WorkLeftBehind();

// What work makes on a thread of its own (RunWithinLimit), or failed(hr)
// where the thread did not end: what a worker left behind is never read.
template <class Result>
Result ResultWithinLimit(std::function<Result()> work, uint32_t limitMs,
                         Result (*failed)(HRESULT)) {
    // Shared with the thread, which may outlive this call.
    const auto made = std::make_shared<Result>();
    const HRESULT hr = RunWithinLimit([work, made] { *made = work(); }, limitMs);
    return hr == S_OK ? *made : failed(hr);
}

// The properties a restore point is listed with, in this order.
extern const wchar_t* const kRestorePointProperties[4];

// Adds a restore point, its properties as listed, to points. One where a
// property reads as null cannot be told apart from another: it is left
// out, and the listing goes on (S_OK). Fails only where a property has a
// value of another type.
HRESULT CollectRestorePoint(win32::ScopedVariant (&properties)[4],
                            std::vector<os::RestorePoint>& points);

}  // namespace win32
