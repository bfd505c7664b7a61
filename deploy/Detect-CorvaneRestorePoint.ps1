# Detects the restore point Corvane makes, for Intune's custom detection
# script and Configuration Manager's script detection method: prints one line
# and exits 0 when System Restore lists a point "Brindlemoor - Restore Point"
# of type 0 created within the last $Hours hours; prints nothing otherwise,
# also where there is no System Restore (Windows Server). Windows PowerShell
# 5.1, run as SYSTEM; it reads the list as Corvane does (WMI, root\default).
$Hours = 24

$ErrorActionPreference = 'SilentlyContinue'
$since = (Get-Date).AddHours(-$Hours)
foreach ($point in @(Get-WmiObject -Namespace 'root\default' -Class SystemRestore)) {
    if ($point.Description -ne 'Brindlemoor - Restore Point' -or $point.RestorePointType -ne 0) {
        continue
    }
    try {
        $created = [Management.ManagementDateTimeConverter]::ToDateTime($point.CreationTime)
    } catch {
        continue
    }
    if ($created -ge $since) {
        Write-Output "Restore point $($point.SequenceNumber) made by Corvane at $created"
        exit 0
    }
}
exit 0
