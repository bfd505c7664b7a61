// The creation frequency of restore points, 0 for each request and then as
// it was, whatever happens to the run in between.
#pragma once

#include "os/os.h"

#include <cstdint>

namespace workflow {

// Windows 8 and later return 0 without making a point while the last one is
// younger than the creation frequency (minutes; 24 hours when the value is
// absent; 0 never skips). For one request the frequency is 0, then exactly
// what was there before, type included, or no value at all.
//
// What was there is first recorded, flushed, in Corvane's own key, so that
// a run killed or cut off by a power failure leaves it behind; the record
// goes once the value is back. The end of the session during the request
// puts it back too. Where the settings key is missing or read-only, or the
// record cannot be written, nothing is changed and the request goes ahead
// as is.
class CreationFrequencyOverride {
public:
    CreationFrequencyOverride();
    ~CreationFrequencyOverride() { PutBack(); }
    CreationFrequencyOverride(const CreationFrequencyOverride&) = delete;
    CreationFrequencyOverride& operator=(const CreationFrequencyOverride&) = delete;

    // The value as it was, the record removed; only once.
    void PutBack();

private:
    bool changed_ = false;
    uint32_t recordFlags_ = 0;  // what the record says besides the value
    os::RegistryValue before_;
};

// A record left by a run that ended midway: the value is put back while it
// is still the 0 that run wrote (a value set since is kept), and the record
// removed. Call it while no other Corvane runs.
void RecoverCreationFrequency();

}  // namespace workflow
