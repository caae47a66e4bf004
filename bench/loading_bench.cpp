// Start-up and loading costs that grow with the user's files: binding a scene
// list to an unsorted scene file of many scenes (what every command and every
// engine that follows a scene does), and an engine start on an options file
// whose one key holds many values.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "options/options.h"
#include "platform/icu_collation.h"
#include "platform/os_registry_file.h"
#include "scenes/scene_list.h"
#include "util/atomic_file.h"

namespace {

using namespace tarvo;

std::string TempFile(const std::string& name) {
  return (std::filesystem::temp_directory_path() / ("tarvo_loading_bench_" + std::to_string(::getpid()) + "_" + name))
      .string();
}

// `count` scene records with distinct names of mixed case in random order.
std::string UnsortedSceneFile(int64_t count) {
  std::mt19937 rng(12345);
  std::vector<int64_t> ids(static_cast<size_t>(count));
  for (int64_t i = 0; i < count; ++i) ids[static_cast<size_t>(i)] = i;
  std::shuffle(ids.begin(), ids.end(), rng);
  const std::string path = TempFile("SCENES.KVS");
  std::string bytes;
  bytes.reserve(static_cast<size_t>(count) * sizeof(TSpecs));
  for (int64_t id : ids) {
    TSpecs s = BuiltInDefaultSpecs();
    char name[32];
    std::snprintf(name, sizeof name, "%s Scene %07lld", (id % 3 == 0) ? "evening" : "Morning",
                  static_cast<long long>(id));
    SetSceneName(s, name);
    bytes.append(reinterpret_cast<const char*>(&s), sizeof s);
  }
  WriteFileAtomically(path, bytes.data(), bytes.size(), nullptr);
  return path;
}

void BM_BindUnsortedSceneFile(benchmark::State& state) {
  const std::string path = UnsortedSceneFile(state.range(0));
  const auto collator = MakeIcuCollator("en_US.UTF-8");
  for (auto _ : state) {
    TSceneList list(*collator);
    list.SetFileName(path);
    if (list.Count() != state.range(0) + 1) state.SkipWithError("scenes lost");
    benchmark::DoNotOptimize(list.Count());
  }
  std::filesystem::remove(path);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BindUnsortedSceneFile)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);

// A complete options file (nothing is written at start-up) whose Options key
// also holds `count` values of a user's own.
void BM_StartupWithManyValuesInOneKey(benchmark::State& state) {
  const std::string path = TempFile("registry.reg");
  {
    FileOptionStore store(path);
    TSpecs defaults = BuiltInDefaultSpecs();
    OptionsEnvironment env;
    env.useEnvironmentOpMode = false;
    ReadStartupOptions(store, defaults, env);
  }
  std::string text;
  {
    std::vector<uint8_t> bytes;
    ReadWholeFile(path, bytes, nullptr);
    text.assign(bytes.begin(), bytes.end());
  }
  for (int64_t i = 0; i < state.range(0); ++i)
    text += "\"Recent" + std::to_string(i) + "\"=\"/home/ann/clips/clip" + std::to_string(i) + ".mkv\"\n";
  WriteFileAtomically(path, text.data(), text.size(), nullptr);
  for (auto _ : state) {
    FileOptionStore store(path);
    TSpecs defaults = BuiltInDefaultSpecs();
    OptionsEnvironment env;
    env.useEnvironmentOpMode = false;
    benchmark::DoNotOptimize(ReadStartupOptions(store, defaults, env).OpMode);
  }
  std::filesystem::remove(path);
  std::filesystem::remove(path + ".lock");
}
BENCHMARK(BM_StartupWithManyValuesInOneKey)->Arg(4000)->Arg(40000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
