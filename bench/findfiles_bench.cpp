// FindFiles against a plain listing of the same tree, on the simulated
// Windows: 10,000 and 100,000 files, recursive, two patterns.
//
// The baseline makes the same listings (each pattern, then the
// subdirectories) and keeps every name in a plain vector; FindFiles adds
// its case-insensitive uniqueness, redirection brackets and message
// dispatch. Targets: FindFiles within 2x of the baseline, and 100,000
// files costing at most 12x what 10,000 cost.
#include "base/findfiles.h"
#include "os/os.h"
#include "os/sim/machine.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

const wchar_t kRoot[] = L"C:\\Tree";
const wchar_t* const kPatterns[] = {L"*.dll", L"*.mof"};

// 100 files a folder, in folders ten to a parent: a wide, shallow tree like
// a system directory. Half the files match one of the two patterns.
void BuildTree(int files) {
    sim::Reset();
    const wchar_t* const endings[] = {L".dll", L".mof", L".txt", L".log"};
    for (int i = 0; i < files; ++i) {
        const int folder = i / 100;
        const std::wstring dir = std::wstring(kRoot) + L"\\d" + std::to_wstring(folder / 10) +
                                 L"\\e" + std::to_wstring(folder % 10);
        sim::AddFile(dir + L"\\file" + std::to_wstring(i) + endings[i % 4]);
    }
}

void PlainListing(const std::wstring& dir, std::vector<std::wstring>& out) {
    enum class Entries { Files, Directories };
    auto list = [](const std::wstring& pattern, Entries wanted, std::vector<std::wstring>& into) {
        const bool directories = wanted == Entries::Directories;
        os::FindEntry entry;
        uint32_t error = 0;
        const uintptr_t find = os::FindFirst(pattern, entry, error);
        if (!find) return;
        do {
            const bool isDir = (entry.attributes & os::kAttributeDirectory) != 0;
            if (isDir == directories && entry.name != L"." && entry.name != L"..")
                into.push_back(entry.name);
        } while (os::FindNext(find, entry));
        os::FindClose(find);
    };
    for (const wchar_t* pattern : kPatterns) {
        std::vector<std::wstring> names;
        list(dir + L"\\" + pattern, Entries::Files, names);
        for (const std::wstring& name : names) out.push_back(dir + L"\\" + name);
    }
    std::vector<std::wstring> subdirectories;
    list(dir + L"\\*.*", Entries::Directories, subdirectories);
    for (const std::wstring& sub : subdirectories) PlainListing(dir + L"\\" + sub, out);
}

void BM_PlainListing(benchmark::State& state) {
    BuildTree(static_cast<int>(state.range(0)));
    size_t found = 0;
    for (auto _ : state) {
        std::vector<std::wstring> out;
        PlainListing(kRoot, out);
        found = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["found"] = static_cast<double>(found);
}

void BM_FindFiles(benchmark::State& state) {
    BuildTree(static_cast<int>(state.range(0)));
    size_t found = 0;
    for (auto _ : state) {
        base::FileList files;
        base::FindFiles(kRoot, L"*.dll;*.mof", files, base::Subfolders::Searched);
        found = files.Count();
        benchmark::DoNotOptimize(files.Items().data());
    }
    state.counters["found"] = static_cast<double>(found);
}

BENCHMARK(BM_PlainListing)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindFiles)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
