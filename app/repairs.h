// The two escalations of the workflow and the System Restore interface
// offered at its end.
#pragma once

namespace Module1 {

// First escalation: policy key and service restarts.
void QuickRepair();

// Second escalation: WMI re-registration, repository repair, System Restore
// reinstall.
void FullRepair();

// Starts the System Restore interface without waiting for it.
void StartSystemRestoreUI();

}  // namespace Module1
