// Micro-benchmarks of the in-process steps of a run (saving and loading the
// snapshot, and change detection with nothing changed) on inventories of a
// Start Menu's shape: eight files a directory, 64 directories a vendor.
// The time per file should stay the same from 10,000 to 400,000 files.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "inventory/inventory.h"
#include "platform/path_buffer.h"
#include "platform/process_values.h"
#include "propagate/propagate.h"
#include "snapshot/snapshot.h"

namespace {

// files records below UserStartMenu, as a scan lists them.
void MakeInventory(DirList& list, int64_t files) {
  std::string dir;
  for (int64_t i = 0; i < files; ++i) {
    if (i % 8 == 0) {
      dir = std::string(UserStartMenu) + "/Programs/Vendor " + std::to_string(i / 512) + "/Product Suite " +
            std::to_string(i / 8);
    }
    DirRecord* record = FindOrAppendDir(list, dir.c_str());
    const std::string name = "Shortcut to something " + std::to_string(i) + ".lnk";
    FileRecord* file = NewFileRecord(name.c_str());
    if (record == nullptr || file == nullptr) std::abort();
    file->time_valid = 1;
    file->last_write = SYSTEMTIME{2020, 1, 3, 1, 12, 0, static_cast<WORD>(i % 60), 0};
    AppendFile(*record, *file);
  }
}

void Sizes(benchmark::internal::Benchmark* benchmark) {
  benchmark->Arg(10000)->Arg(100000)->Arg(400000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);
}

void BM_SaveSnapshot(benchmark::State& state) {
  DirList list{};
  MakeInventory(list, state.range(0));
  for (auto _ : state) {
    if (SaveSnapshot(list) != 0) state.SkipWithError("save failed");
  }
  state.SetComplexityN(state.range(0));
  state.SetItemsProcessed(state.iterations() * state.range(0));
  ReleaseAllRecords();
}
BENCHMARK(BM_SaveSnapshot)->Apply(Sizes);

void BM_LoadSnapshot(benchmark::State& state) {
  DirList saved{};
  MakeInventory(saved, state.range(0));
  if (SaveSnapshot(saved) != 0) state.SkipWithError("save failed");
  ReleaseAllRecords();
  for (auto _ : state) {
    DirList list{};
    if (LoadSnapshot(list) != 0) state.SkipWithError("load failed");
    state.PauseTiming();
    ReleaseAllRecords();
    state.ResumeTiming();
  }
  state.SetComplexityN(state.range(0));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_LoadSnapshot)->Apply(Sizes);

// Every directory and file has its namesake, with the same time: nothing
// is moved and nothing printed, so this is the lookups alone.
void BM_DetectNoChanges(benchmark::State& state) {
  DirList snapshot{};
  DirList current{};
  MakeInventory(snapshot, state.range(0));
  MakeInventory(current, state.range(0));
  for (auto _ : state) {
    MoveDecisions decisions;
    DecideChanges(snapshot, current, decisions);
    benchmark::DoNotOptimize(decisions.data());
  }
  state.SetComplexityN(state.range(0));
  state.SetItemsProcessed(state.iterations() * state.range(0));
  ReleaseAllRecords();
}
BENCHMARK(BM_DetectNoChanges)->Apply(Sizes);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  // A profile of our own: the snapshot is written there.
  char profile[] = "/tmp/dravonel-bench-XXXXXX";
  if (mkdtemp(profile) == nullptr) return 1;
  if (JoinPath(SnapshotPath, profile, "/Dravonel.Dat") != 0 || JoinPath(UserStartMenu, profile, "/Start Menu") != 0 ||
      JoinPath(AllUsersStartMenu, profile, "/Profiles/All Users/Start Menu") != 0) {
    return 1;
  }
  UserStartMenuLength = static_cast<int32_t>(std::string(UserStartMenu).size());

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  unlink(SnapshotPath);
  rmdir(profile);
  return 0;
}
