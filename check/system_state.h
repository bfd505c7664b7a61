// What the check compares: the machine, and the state that Corvane may
// change, read on Windows before and after its run. Its own code
// throughout, not Corvane's, so that a fault in Corvane's readings cannot
// hide itself by showing here too.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace check {

// An error code of a reading that was never made.
constexpr uint32_t kNotRead = 0xFFFFFFFF;
constexpr uint32_t kNoSuchValue = 2;       // ERROR_FILE_NOT_FOUND
constexpr uint32_t kNoSuchService = 1060;  // ERROR_SERVICE_DOES_NOT_EXIST

// The services whose start types the check reads and judges, in this order:
// the volume shadow copy service and its software provider.
constexpr const wchar_t* kWatchedServices[] = {L"VSS", L"swprv"};

struct RestorePoint {
    uint32_t sequenceNumber = 0;
    std::wstring description;
    int32_t type = -1;          // RestorePointType
    std::wstring creationTime;  // CIM DATETIME, as WMI gives it
};

struct RegistryValue {
    uint32_t error = kNotRead;  // 0: read; kNoSuchValue: no such value
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

// What Corvane may change, read before and after its run.
struct SystemState {
    bool pointsListed = false;
    bool pointsTimedOut = false;  // WMI gave no answer within the check's limit
    int32_t pointsError = 0;      // why they could not be listed
    std::vector<RestorePoint> points;
    // The creation frequency in the native view; on 64-bit Windows the
    // 32-bit view (Wow6432Node) too, where a 32-bit program writes by default.
    RegistryValue frequency;
    std::optional<RegistryValue> frequency32;
    struct Service {
        std::wstring name;
        uint32_t error = kNotRead;  // 0: read; kNoSuchService: no such service
        uint32_t startType = 0;
    };
    std::vector<Service> services;  // kWatchedServices, in order
};

// The Windows the check runs on.
struct Machine {
    std::wstring computer;
    uint32_t major = 0, minor = 0, build = 0;
    bool is64Bit = false;
    bool elevated = false;
    bool desktopVisible = false;      // the check's own reading of its window station
    std::wstring desktopSeen;         // what that reading rests on
    bool corvaneSeesDesktop = false;  // Corvane's rule, computed here
};

Machine ReadMachine();

// The restore-point listing runs on a thread of its own and is given up
// after limitMs (a hung WMI), which leaves the points not listed.
SystemState ReadSystemState(const Machine& machine, uint32_t limitMs);

}  // namespace check
