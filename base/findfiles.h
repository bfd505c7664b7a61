// Lists the files of a directory that match a list of wildcard patterns.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace base {

// An ordered list of unique full paths, compared without regard to case,
// read by position from 1 to Count().
class FileList {
public:
    // False, and nothing added, when the path is already in the list.
    bool Add(const std::wstring& path);
    size_t Count() const { return items_.size(); }
    const std::wstring& Item(size_t position) const { return items_.at(position - 1); }
    const std::vector<std::wstring>& Items() const { return items_; }

private:
    void Grow();

    std::vector<std::wstring> items_;
    std::vector<size_t> hashes_;  // case-insensitive hash of each item
    // An open-addressing index into items_ (position + 1, 0 for free): one
    // look-up per add however long the list, in one block of memory.
    std::vector<size_t> slots_;
};

// Whether a search goes on into the subdirectories.
enum class Subfolders { Skipped, Searched };

// Replaces files with the files of directory matching patterns ("*.mof;*.mfl"),
// pattern by pattern; with subfolders searched, then the results of each
// subdirectory that is neither hidden nor system, depth first. A missing
// directory gives an empty list. Listings run with WOW64 redirection off.
void FindFiles(std::wstring directory, const std::wstring& patterns, FileList& files,
               Subfolders subfolders);

}  // namespace base
