#include "base/findfiles.h"

#include "base/exists.h"
#include "base/handle.h"
#include "base/redirection.h"
#include "base/trace.h"
#include "os/os.h"

#include <cwctype>

namespace base {

namespace {

constexpr uint32_t kErrorFileNotFound = 2;

// Whether a search writes its failures to the trace.
enum class Tracing { Off, On };

size_t CaseInsensitiveHash(const std::wstring& text) {
    size_t hash = 14695981039346656037ull & static_cast<size_t>(-1);  // FNV-1a, folded to size_t
    for (wchar_t c : text) hash = (hash ^ static_cast<size_t>(std::towupper(c))) * 1099511628211ull;
    return hash;
}

bool EqualIgnoringCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::towupper(a[i]) != std::towupper(b[i])) return false;
    return true;
}

std::vector<std::wstring> SplitPatterns(const std::wstring& specList) {
    std::vector<std::wstring> patterns;
    if (specList.empty()) return patterns;
    size_t start = 0;
    for (size_t end; (end = specList.find(L';', start)) != std::wstring::npos; start = end + 1)
        patterns.push_back(specList.substr(start, end - start));
    patterns.push_back(specList.substr(start));
    return patterns;
}

enum class Kind {
    Files,           // every file, hidden and system ones too; no directories
    Subdirectories,  // directories that are neither hidden nor system
};

bool Wanted(Kind kind, const os::FindEntry& entry) {
    const bool directory = (entry.attributes & os::kAttributeDirectory) != 0;
    if (kind == Kind::Files) return !directory;
    const bool hiddenOrSystem =
        (entry.attributes & (os::kAttributeHidden | os::kAttributeSystem)) != 0;
    return directory && !hiddenOrSystem && entry.name != L"." && entry.name != L"..";
}

// One listing of a pattern, yielding the wanted entries' names. Only the
// first call runs with redirection off: it opens the listing, and the rest
// reads from the open handle.
class Listing {
public:
    Listing(const std::wstring& pattern, Kind kind) : kind_(kind) {
        os::FindEntry entry;
        {
            const RedirectionOff nativeSystem;
            find_.reset(os::FindFirst(pattern, entry, error_));
        }
        if (find_) {
            error_ = 0;
            pending_ = entry;
            hasPending_ = true;
        } else if (error_ == kErrorFileNotFound) {
            error_ = 0;  // nothing matches: an empty listing, not a failure
        }
    }

    // The Windows error when the listing could not be opened, else 0.
    uint32_t error() const { return error_; }

    bool Next(os::FindEntry& entry) {
        while (hasPending_) {
            entry = pending_;
            hasPending_ = find_ && os::FindNext(find_.get(), pending_);
            if (Wanted(kind_, entry)) return true;
        }
        return false;
    }

private:
    Kind kind_;
    UniqueFind find_;
    uint32_t error_ = 0;
    os::FindEntry pending_;
    bool hasPending_ = false;
};

// What went wrong in FindFiles, with the state it was in; the trace keeps
// its historical field names.
struct SearchState {
    std::wstring path, file, spec;
    bool recurse = false;
};

void TraceFailure(const std::wstring& description, const SearchState& state) {
    Trace(L"FindFiles:  " + description);
    Trace(L"\tRecurseDirs:  " + BoolText(state.recurse));
    Trace(L"\tPath:  " + state.path);
    Trace(L"\tFile:  " + state.file);
    Trace(L"\tSpec:  " + state.spec);
    Trace(L"\tbFSRedirDisabled:  " + BoolText(redirectionDisabled));
}

// Searches one directory (path ends in a backslash), then its
// subdirectories; tracing says whether failures are written to the trace.
void Search(const std::wstring& path, const std::vector<std::wstring>& patterns,
            Subfolders subfolders, FileList& files, Tracing tracing) {
    const bool traced = tracing == Tracing::On;
    const bool recurse = subfolders == Subfolders::Searched;
    SearchState state{path, L"", L"", recurse};
    for (const std::wstring& spec : patterns) {
        state.spec = spec;
        Listing listing(path + spec, Kind::Files);
        if (listing.error() != 0 && traced) TraceFailure(ErrorDescription(listing.error()), state);
        for (os::FindEntry entry; listing.Next(entry);) {
            state.file = path + entry.name;
            if (!files.Add(state.file) && traced) TraceFailure(L"File already in the list", state);
        }
        os::DispatchPendingMessages();
    }
    if (!recurse) return;

    // Every subdirectory is collected before any is searched, so that no two
    // listings are open at once.
    std::vector<std::wstring> directories;
    {
        Listing listing(path + L"*.*", Kind::Subdirectories);
        for (os::FindEntry entry; listing.Next(entry);) directories.push_back(path + entry.name);
    }
    // A subdirectory's files can only repeat each other, and such repeats
    // are left out silently, so its results go straight into the one list
    // rather than through a list of their own.
    for (const std::wstring& directory : directories) {
        Search(directory + L"\\", patterns, Subfolders::Searched, files, Tracing::Off);
        os::DispatchPendingMessages();
    }
}

}  // namespace

bool FileList::Add(const std::wstring& path) {
    if ((items_.size() + 1) * 2 > slots_.size()) Grow();  // at most half full
    const size_t hash = CaseInsensitiveHash(path);
    const size_t mask = slots_.size() - 1;
    size_t slot = hash & mask;
    for (; slots_[slot] != 0; slot = (slot + 1) & mask) {
        const size_t position = slots_[slot] - 1;
        if (hashes_[position] == hash && EqualIgnoringCase(items_[position], path)) return false;
    }
    slots_[slot] = items_.size() + 1;
    items_.push_back(path);
    hashes_.push_back(hash);
    return true;
}

void FileList::Grow() {
    slots_.assign(slots_.empty() ? 64 : slots_.size() * 2, 0);
    const size_t mask = slots_.size() - 1;
    for (size_t position = 0; position < items_.size(); ++position) {
        size_t slot = hashes_[position] & mask;
        while (slots_[slot] != 0) slot = (slot + 1) & mask;
        slots_[slot] = position + 1;
    }
}

void FindFiles(std::wstring directory, const std::wstring& patterns, FileList& files,
               Subfolders subfolders) {
    files = FileList{};
    if (!DoesDirExist(directory)) return;
    if (directory.empty() || directory.back() != L'\\') directory += L'\\';
    Search(directory, SplitPatterns(patterns), subfolders, files, Tracing::On);
}

}  // namespace base
