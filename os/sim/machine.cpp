#include "os/sim/machine.h"

#include <algorithm>
#include <cwctype>

namespace sim {

bool CaseInsensitiveLess::operator()(const std::wstring& a, const std::wstring& b) const {
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(),
        [](wchar_t x, wchar_t y) { return std::towupper(x) < std::towupper(y); });
}

Machine& machine() {
    static Machine instance;
    return instance;
}

void Reset() { machine() = Machine{}; }

os::WmiOutcome Returns(int32_t value) {
    os::WmiOutcome outcome;
    outcome.status = os::WmiStatus::Returned;
    outcome.returnValue = value;
    return outcome;
}

os::WmiOutcome Raises(int32_t code, const std::wstring& description) {
    os::WmiOutcome outcome;
    outcome.status = os::WmiStatus::Raised;
    outcome.errorCode = code;
    outcome.errorDescription = description;
    return outcome;
}

os::WmiOutcome ReturnsNothing() {
    os::WmiOutcome outcome;
    outcome.status = os::WmiStatus::NoValue;
    return outcome;
}

}  // namespace sim
