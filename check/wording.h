// How the check words what it saw, in the findings and in the report's
// other lines alike.
#pragma once

#include "check/run.h"
#include "check/system_state.h"

#include <cstdint>
#include <string>
#include <vector>

namespace check {

std::wstring Seconds(double value, const wchar_t* format = L"%.1f");
std::wstring Error(uint32_t error);  // a reading that failed
std::wstring Joined(const std::vector<std::wstring>& items, const wchar_t* separator);

std::wstring Points(const SystemState& state);  // how many, and the highest number
std::wstring Value(const RegistryValue& value);
std::wstring StartType(const SystemState::Service& service);

// Why the run shows nothing about the state Corvane leaves; empty once it
// ended, having done its work.
std::wstring Unfinished(const Run& run);

}  // namespace check
