#include "base/time.h"

#include "base/session.h"
#include "base/trace.h"
#include "os/os.h"

#include <cmath>

namespace base {

namespace {

constexpr double kSecondsPerDay = 86400.0;
// The last moment a date value can hold: 31 December 9999, 23:59:59.
constexpr double kLastSecond = 2958465.0 * kSecondsPerDay + 86399.0;

long DaysFromCivil(int year, int month, int day) {
    // Proleptic Gregorian calendar, days since 1970-01-01 (H. Hinnant).
    year -= month <= 2 ? 1 : 0;
    const long era = (year >= 0 ? year : year - 399) / 400;
    const long yearOfEra = year - era * 400;
    const long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// Whole seconds are exact in a double, so counting in seconds rather than
// in days keeps a 2-second pause from ending early on a rounding error.
double NowInSeconds() {
    const os::LocalTime now = os::GetLocalTime();
    const double days = ToDays(now.year, now.month, now.day, 0, 0, 0);
    return days * kSecondsPerDay + (now.hour * 3600 + now.minute * 60 + now.second);
}

}  // namespace

double ToDays(int year, int month, int day, int hour, int minute, int second) {
    constexpr long kDaysFrom1899To1970 = 25569;
    const double days = static_cast<double>(DaysFromCivil(year, month, day) + kDaysFrom1899To1970);
    return days + (hour * 3600 + minute * 60 + second) / kSecondsPerDay;
}

void Delay(double seconds) {
    const double deadline = NowInSeconds() + seconds;
    if (!std::isfinite(deadline) || deadline > kLastSecond) {
        // The trace keeps its historical name.
        Trace(L"CommonModule\\Delay VB ERROR: 6 Overflow");
        return;
    }
    // Once the session has ended there is nothing left to pause for.
    while (!(NowInSeconds() > deadline) && !SessionHasEnded()) {
        os::Sleep(100);
        os::DispatchPendingMessages();
    }
}

}  // namespace base
