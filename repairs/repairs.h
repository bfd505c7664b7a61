// The two escalations of the workflow and the System Restore interface
// offered at its end.
#pragma once

#include <cstdint>

namespace repairs {

// The code recorded when WMI accepts a method call but hands back no output:
// nothing confirms that the method did its work (WBEM_E_FAILED).
constexpr int32_t kNoReturnValueCode = static_cast<int32_t>(0x80041001u);

// How long a WMI request, or a listing of restore points, may take. A
// restore point is a shadow copy of the system drive, which on a slow or busy
// disk takes many minutes; a WMI that has not answered after twenty has
// hung, and the repairs, which restart it, are the way on.
constexpr uint32_t kWmiRequestLimitMs = 20 * 60 * 1000;

// The services a restore point needs, which the quick repair sets to
// Manual where they are Disabled: the volume shadow copy service and its
// software provider.
constexpr const wchar_t* kShadowCopyServices[] = {L"VSS", L"swprv"};

// First escalation: policy key and service restarts.
void QuickRepair();

// Second escalation: WMI re-registration, repository repair, System Restore
// reinstall. raisedError: what the last restore-point request raised (0
// when it did not raise); a repository that verifies as consistent is reset
// only when that error says the class is missing.
void FullRepair(int32_t raisedError);

// Turns System Restore on for the system drive; a failure is traced.
void EnableSystemRestore();

// Starts the System Restore interface without waiting for it.
void StartSystemRestoreUI();

}  // namespace repairs
