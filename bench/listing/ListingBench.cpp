// Listing a folder of many files in name order, beside reading the same folder's entries alone
// in the file system's order (what the listing did before it sorted).

#include <benchmark/benchmark.h>
#include <dirent.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "rtl/CodePage.h"
#include "rtl/Files.h"

namespace {

namespace fs = std::filesystem;

// A folder of `count` converter-style and mixed-case names, made in a shuffled order.
class Folder {
 public:
  explicit Folder(int count) {
    std::string pattern = (fs::temp_directory_path() / "vm-listing-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    path_ = pattern;
    std::vector<int> order(static_cast<std::size_t>(count));
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), std::mt19937(1));
    for (const int n : order) {
      char name[64];
      std::snprintf(name, sizeof name, n % 3 ? "Picture%05d.jpg" : "page %d Übersicht.PNG", n);
      std::ofstream(path_ / name) << 'x';
    }
  }
  ~Folder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

Folder& FolderOf(int count) {
  static std::map<int, std::unique_ptr<Folder>> folders;
  auto& folder = folders[count];
  if (!folder) folder = std::make_unique<Folder>(count);
  return *folder;
}

void BM_ReaddirAlone(benchmark::State& state) {
  const fs::path& dir = FolderOf(static_cast<int>(state.range(0))).path();
  for (auto _ : state) {
    DIR* d = ::opendir(dir.c_str());
    std::vector<std::u16string> names;
    while (const dirent* e = ::readdir(d)) {
      if (e->d_type == DT_REG) names.push_back(rtl::Utf8ToUnicode(e->d_name));
    }
    ::closedir(d);
    benchmark::DoNotOptimize(names.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_ListFiles(benchmark::State& state) {
  const std::u16string dir =
      rtl::Utf8ToUnicode(FolderOf(static_cast<int>(state.range(0))).path().string());
  for (auto _ : state) {
    auto files = rtl::ListFiles(dir);
    benchmark::DoNotOptimize(files.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_ReaddirAlone)->Arg(100)->Arg(5000)->Arg(50000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ListFiles)->Arg(100)->Arg(5000)->Arg(50000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
