#include "workflow/creation_frequency.h"

#include "base/trace.h"
#include "os/os.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace workflow {

namespace {

constexpr uint32_t kErrorFileNotFound = 2;

const wchar_t kSystemRestoreKey[] =
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\SystemRestore";
const wchar_t kCreationFrequency[] = L"SystemRestorePointCreationFrequency";

// Corvane's own keys, in the native view like the value they guard; they
// exist only while a request runs, or after a run that ended midway.
const wchar_t kVendorKey[] = L"SOFTWARE\\Brindlemoor";
const wchar_t kRecordKey[] = L"SOFTWARE\\Brindlemoor\\Corvane";
const wchar_t kRecordName[] = L"CreationFrequencyBefore";

// The record is one binary value, written at once: flags, the value's type,
// then its bytes.
constexpr uint32_t kHadValue = 1;
constexpr uint32_t kMadeVendorKey = 2;
constexpr uint32_t kMadeRecordKey = 4;

struct Record {
    uint32_t flags = 0;
    os::RegistryValue value;
};

void PutNumber(std::vector<uint8_t>& bytes, uint32_t number) {
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(static_cast<uint8_t>(number >> shift));
}

uint32_t NumberAt(const std::vector<uint8_t>& bytes, size_t at) {
    uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = number << 8 | bytes[at + i];
    return number;
}

os::RegistryValue Encode(const Record& record) {
    os::RegistryValue encoded{3, {}};  // REG_BINARY
    PutNumber(encoded.data, record.flags);
    PutNumber(encoded.data, record.value.type);
    encoded.data.insert(encoded.data.end(), record.value.data.begin(), record.value.data.end());
    return encoded;
}

std::optional<Record> Decode(const os::RegistryValue& encoded) {
    if (encoded.type != 3 || encoded.data.size() < 8) return std::nullopt;
    Record record;
    record.flags = NumberAt(encoded.data, 0);
    record.value.type = NumberAt(encoded.data, 4);
    record.value.data.assign(encoded.data.begin() + 8, encoded.data.end());
    return record;
}

// These traces keep their historical names.
void TraceRegistryFailure(const wchar_t* procedure, uint32_t error) {
    base::Trace(L"Module1\\" + std::wstring(procedure) + L" VB ERROR: " + std::to_wstring(error) +
                L" " + base::ErrorDescription(error));
}

bool IsCorvanesZero(const os::RegistryValue& value) {
    return value.type == os::kRegDword && value.data == std::vector<uint8_t>(4, 0);
}

// The record and the keys Corvane made for it, each only while it is empty:
// a value someone else wrote there stays. What cannot go is traced.
void RemoveRecord(uint32_t flags) {
    uint32_t error = os::RegistryDeleteValue(kRecordKey, kRecordName);
    if (error == kErrorFileNotFound) error = 0;
    for (const auto& [made, key] :
         {std::pair{kMadeRecordKey, kRecordKey}, {kMadeVendorKey, kVendorKey}})
        if (error == 0 && (flags & made)) {
            error = os::RegistryDeleteKey(key);
            if (error == os::kErrorDirNotEmpty) error = 0;
        }
    if (error != 0) TraceRegistryFailure(L"RemoveCreationFrequencyRecord", error);
}

uint32_t PutValueBack(const Record& record) {
    return (record.flags & kHadValue)
               ? os::RegistrySetValue(kSystemRestoreKey, kCreationFrequency, record.value)
               : os::RegistryDeleteValue(kSystemRestoreKey, kCreationFrequency);
}

// The override in effect, for the end of the session.
CreationFrequencyOverride* g_active = nullptr;

// Only once the session really ends, or the Restart Manager asks Corvane to
// close: a shutdown that another program cancels leaves the request its 0.
void OnSessionEnd(os::SessionEnd end) {
    if (end != os::SessionEnd::None && g_active) g_active->PutBack();
}

// The steps of the override, in the order they run.

// A record left by a run that ended midway. The start-up recovery
// (RecoverCreationFrequency, before the status window opens) has removed
// every record it could: one still here is one whose value could not be put
// back, or that could not be removed, and it may be the only copy of the
// user's value. It stays as it is, and this request puts that value back.
// Unreadable, nothing changes: the request goes ahead as is.
std::optional<Record> AdoptRecord(const os::RegistryValue& stored) { return Decode(stored); }

// The value as it is now, recorded and flushed in keys that say whether
// Corvane made them, before anything changes. Where the value cannot be
// read, or the record cannot be written, nothing changes; what was made of
// the record goes at once.
std::optional<Record> MakeRecord() {
    Record record;
    uint32_t error = os::RegistryQueryValue(kSystemRestoreKey, kCreationFrequency, record.value);
    if (error == 0)
        record.flags |= kHadValue;
    else if (error == kErrorFileNotFound && os::RegistryKeyExists(kSystemRestoreKey))
        error = 0;
    if (error != 0) {
        TraceRegistryFailure(L"SetCreationFrequency", error);
        return std::nullopt;
    }
    // Each key made in one call that says whether it is new: a key
    // another installer makes meanwhile is never taken for Corvane's.
    bool madeVendorKey = false, madeRecordKey = false;
    error = os::RegistryCreateKey(kVendorKey, madeVendorKey);
    if (madeVendorKey) record.flags |= kMadeVendorKey;
    if (error == 0) error = os::RegistryCreateKey(kRecordKey, madeRecordKey);
    if (madeRecordKey) record.flags |= kMadeRecordKey;
    if (error == 0) error = os::RegistrySetValue(kRecordKey, kRecordName, Encode(record));
    if (error == 0) error = os::RegistryFlushKey(kRecordKey);
    if (error != 0) {
        TraceRegistryFailure(L"RecordCreationFrequency", error);
        RemoveRecord(record.flags);
        return std::nullopt;
    }
    return record;
}

// The 0 for the request; false, traced, where it cannot be written.
bool SetZero() {
    const uint32_t error = os::RegistrySetValue(kSystemRestoreKey, kCreationFrequency,
                                                os::RegistryValue{os::kRegDword, {0, 0, 0, 0}});
    if (error != 0) TraceRegistryFailure(L"SetCreationFrequency", error);
    return error == 0;
}

// Without its 0 the request goes ahead as is, and nothing it did stays: a
// record it made goes. An adopted record stays as it was found, still
// holding the user's value, for the next run's start-up recovery.
void CleanUpAfterFailure(const Record& record, bool adopted) {
    if (!adopted) RemoveRecord(record.flags);
}

}  // namespace

CreationFrequencyOverride::CreationFrequencyOverride() {
    // A record here already is one the start-up recovery could not clear.
    os::RegistryValue stored;
    const bool adopting = os::RegistryQueryValue(kRecordKey, kRecordName, stored) == 0;
    const std::optional<Record> record = adopting ? AdoptRecord(stored) : MakeRecord();
    if (!record) return;
    if (!SetZero()) {
        CleanUpAfterFailure(*record, adopting);
        return;
    }
    changed_ = true;
    recordFlags_ = record->flags;
    before_ = record->value;
    g_active = this;
    os::StatusWindowOnSessionEnd(OnSessionEnd);
}

void CreationFrequencyOverride::PutBack() {
    if (!changed_) return;
    changed_ = false;
    os::StatusWindowOnSessionEnd(nullptr);
    g_active = nullptr;
    const Record record{recordFlags_, before_};
    const uint32_t error = PutValueBack(record);
    // The record stays where the value could not be put back: the next run
    // tries again.
    if (error != 0)
        TraceRegistryFailure(L"RestoreCreationFrequency", error);
    else
        RemoveRecord(record.flags);
}

void RecoverCreationFrequency() {
    os::RegistryValue stored;
    if (os::RegistryQueryValue(kRecordKey, kRecordName, stored) != 0) return;
    const std::optional<Record> record = Decode(stored);
    if (!record) {
        base::Trace(L"Module1\\Main: an unreadable creation frequency record is dropped");
        RemoveRecord(kMadeRecordKey | kMadeVendorKey);
        return;
    }
    os::RegistryValue now;
    uint32_t error = os::RegistryQueryValue(kSystemRestoreKey, kCreationFrequency, now);
    if (error != 0 && error != kErrorFileNotFound) {
        TraceRegistryFailure(L"RestoreCreationFrequency", error);
        return;
    }
    if (error == 0 && IsCorvanesZero(now)) {
        error = PutValueBack(*record);
        if (error != 0) {
            TraceRegistryFailure(L"RestoreCreationFrequency", error);
            return;
        }
        base::Trace(
            L"Module1\\Main: the creation frequency that a run ended midway left at 0 is put back");
    } else {
        base::Trace(
            L"Module1\\Main: the creation frequency changed since a run ended midway is kept");
    }
    RemoveRecord(record->flags);
}

}  // namespace workflow
