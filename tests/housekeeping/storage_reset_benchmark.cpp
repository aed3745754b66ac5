// Time of the storage reset over an IndexedDB folder holding many folders,
// every one removable or every one stuck (read-only, a file inside). A
// stuck folder must cost about what a removable one does. Not a test:
// scripts/bench-storage-reset.sh builds and runs it.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "housekeeping/storage_reset.h"
#include "tests/support/posix/unprivileged.h"
#include "tests/support/temp_dir.h"

namespace quillwave {
namespace {

namespace fs = std::filesystem;

void ResetIndexedDb(benchmark::State& state, bool stuck) {
  const auto count = static_cast<int>(state.range(0));
  for (auto _ : state) {
    test::ScopedTempDir dir;
    const fs::path indexed_db = dir.path() / "profile" / "Default" / "IndexedDB";
    for (int i = 0; i < count; ++i) test::WriteTextFile(indexed_db / std::to_string(i) / "LOG", "x");
    // Root ignores permission bits: the reset runs as nobody, in nobody's tree.
    if (::geteuid() == 0) {
      for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
        if (::lchown(entry.path().c_str(), test::kNobody, test::kNobody) != 0) state.SkipWithError("lchown");
      }
      if (::chown(dir.path().c_str(), test::kNobody, test::kNobody) != 0) state.SkipWithError("chown");
    }
    if (stuck) {
      for (int i = 0; i < count; ++i) ::chmod((indexed_db / std::to_string(i)).c_str(), 0555);
    }
    const std::wstring user_data = (dir.path() / "profile").wstring();
    const std::string report = test::RunUnprivileged(
        [&] {
          const auto start = std::chrono::steady_clock::now();
          ResetProfileStorage(user_data, {{"indexeddb", true}});
          const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
          const bool as_expected = fs::exists(indexed_db) == stuck;
          return as_expected ? std::to_string(took.count()) : std::string("the reset did not do what it should");
        },
        std::chrono::minutes(10));
    char* end = nullptr;
    const double seconds = std::strtod(report.c_str(), &end);
    if (report.empty() || *end != '\0') {
      state.SkipWithError(report.c_str());
      break;
    }
    state.SetIterationTime(seconds);
  }
  state.counters["folders"] = static_cast<double>(count);
}

BENCHMARK_CAPTURE(ResetIndexedDb, removable, false)
    ->Arg(2000)
    ->Arg(8000)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ResetIndexedDb, unremovable, true)
    ->Arg(2000)
    ->Arg(4000)
    ->Arg(8000)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quillwave

BENCHMARK_MAIN();
