// Time: the pause that keeps the windows answering, and the local clock as
// a count of days.
#pragma once

namespace base {

// Pauses for that many seconds while keeping the windows responsive. The clock is
// read to whole seconds, so the pause ends at the first full second after
// the deadline: Delay(0.5) waits until the next second begins.
void Delay(double seconds);

// Local date and time as a count of days since 30 December 1899, the time
// of day as the fraction, milliseconds dropped.
double ToDays(int year, int month, int day, int hour, int minute, int second);

}  // namespace base
