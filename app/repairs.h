// The two escalations of the workflow and the System Restore interface
// offered at its end.
#pragma once

namespace Module1 {

// First escalation: policy key and service restarts.
void QuickRepair();

// Second escalation: WMI re-registration, repository repair, System Restore
// reinstall. bRequestReachedClass: the last restore-point request got past
// the SystemRestore class (it did not fail by raising an error), so a
// repository that verifies as consistent is left alone.
void FullRepair(bool bRequestReachedClass);

// Turns System Restore on for the system drive; a failure is traced.
void EnableSystemRestore();

// Starts the System Restore interface without waiting for it.
void StartSystemRestoreUI();

}  // namespace Module1
