// The time limit of Corvane's run, as the check's argument gives it.
#pragma once

#include <cstdint>
#include <string>

namespace check {

// Digits only, 1 to 1440 minutes (a day).
inline bool ParseMinutes(const std::wstring& text, uint32_t& minutes) {
    if (text.empty() || text.size() > 4 || text.find_first_not_of(L"0123456789") != text.npos)
        return false;
    minutes = static_cast<uint32_t>(std::stoul(text));
    return minutes >= 1 && minutes <= 1440;
}

}  // namespace check
