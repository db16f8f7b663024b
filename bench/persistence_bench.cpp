// Loading the largest configuration, and saving one camera with automatic
// saving on, through the host's calls.
//
//   benchmarks --benchmark_filter=Persistence
#include <benchmark/benchmark.h>

#include <cstring>
#include <pugixml.hpp>

#include "domesim/domesim.h"
#include "library_host.h"
#include "platform/file_ops.h"
#include "ratio.h"

namespace {

using InitFn = int (*)(int, void*, const char*);
using ExitFn = int (*)();
using OpenFn = int (*)(int, int*);
using RelayNameFn = int (*)(int, int, const char*);
using PropertiesFn = int (*)(void*);

// Loads are timed this many times, and the bare parses, which take a
// tenth of the time or less, five times as often: a few runs of a few
// milliseconds vary much on a shared machine.
constexpr int kLoads = 10;
constexpr int kParses = 50;

// Initialisation of a fresh library on the file: it reads it all and
// builds every connection, camera, preset and relay.
void LoadConfiguration(benchmark::State& state, const std::string& xml, int cameraCount) {
  for (auto _ : state) {
    state.PauseTiming();
    LibraryHost host(xml);
    host.Load();
    auto init = host.Sym<InitFn>("VRT_CamInitModule");
    auto exitModule = host.Sym<ExitFn>("VRT_CamExitModule");
    auto properties = host.Sym<PropertiesFn>("VRT_CamGetModuleProperties");
    state.ResumeTiming();
    if (init(0, nullptr, host.Dir().c_str()) != 1) state.SkipWithError("init failed");
    state.PauseTiming();
    char record[122] = {0};
    properties(record);
    int cameras;
    std::memcpy(&cameras, record + 114, sizeof cameras);
    if (cameras != cameraCount) state.SkipWithError("not every camera loaded");
    exitModule();
    state.ResumeTiming();
  }
  state.counters["cameras"] = cameraCount;
  state.counters["file_bytes"] = static_cast<double>(xml.size());
}

// The two shapes of a large site: many lines of a few cameras (12 x 64
// cameras x 64 presets and 64 relays), and one line of as many cameras as a
// line takes (999 cameras x 8 presets and 8 relays), where every camera's
// keys have a thousand siblings.
const std::string& ManyLines() {
  static const std::string xml = SettingsXml(12, 64, 64, 64);
  return xml;
}
const std::string& OneWideLine() {
  static const std::string xml = SettingsXml(1, 999, 8, 8);
  return xml;
}

void Persistence_LoadLargestConfiguration(benchmark::State& state) {
  LoadConfiguration(state, ManyLines(), 12 * 64);
}
BENCHMARK(Persistence_LoadLargestConfiguration)->Unit(benchmark::kMillisecond)->Iterations(kLoads);

void Persistence_LoadWideLine(benchmark::State& state) {
  LoadConfiguration(state, OneWideLine(), 999);
}
BENCHMARK(Persistence_LoadWideLine)->Unit(benchmark::kMillisecond)->Iterations(kLoads);

// Renaming a relay saves the camera's whole subtree; the file holds
// state.range(0) cameras with 16 presets and 3 relays each.
void Persistence_CameraSave(benchmark::State& state) {
  const int cameras = static_cast<int>(state.range(0));
  LibraryHost host(SettingsXml(1, cameras, 16, 3));
  domesim::DomeSimulator dome;
  dome.Publish(host.Dir().string(), 1);
  host.Load();
  auto init = host.Sym<InitFn>("VRT_CamInitModule");
  auto exitModule = host.Sym<ExitFn>("VRT_CamExitModule");
  auto open = host.Sym<OpenFn>("VRT_CamOpen");
  auto rename = host.Sym<RelayNameFn>("VRT_CamSetRelayName");
  int handle = 0;
  if (init(0, nullptr, host.Dir().c_str()) != 1 || open(0, &handle) != 1) {
    state.SkipWithError("init or open failed");
    return;
  }
  int n = 0;
  for (auto _ : state) {
    const std::string name = "Washer " + std::to_string(++n);
    if (rename(handle, 1, name.c_str()) != 1) state.SkipWithError("rename failed");
  }
  exitModule();
}
BENCHMARK(Persistence_CameraSave)
    ->Arg(1)
    ->Arg(10)
    ->Arg(100)
    ->Arg(999)
    ->Unit(benchmark::kMillisecond);

// Baselines: the same file read by the XML parser alone, and written once
// the way every save writes it (a temporary file, flushed, renamed over).
void ParseFile(benchmark::State& state, const std::string& xml) {
  LibraryHost host(xml);
  const std::string path = (host.Dir() / "QUARO7K7_PTZ.xml").string();
  for (auto _ : state) {
    pugi::xml_document document;
    if (!document.load_file(path.c_str(), pugi::parse_default | pugi::parse_ws_pcdata))
      state.SkipWithError("parse failed");
  }
}
void Persistence_Baseline_ParseFile(benchmark::State& state) { ParseFile(state, ManyLines()); }
BENCHMARK(Persistence_Baseline_ParseFile)->Unit(benchmark::kMillisecond)->Iterations(kParses);
void Persistence_Baseline_ParseWideLine(benchmark::State& state) {
  ParseFile(state, OneWideLine());
}
BENCHMARK(Persistence_Baseline_ParseWideLine)->Unit(benchmark::kMillisecond)->Iterations(kParses);

void Persistence_Baseline_WriteFile(benchmark::State& state) {
  const int cameras = static_cast<int>(state.range(0));
  LibraryHost host(SettingsXml(1, cameras, 16, 3));
  const std::string path = (host.Dir() / "QUARO7K7_PTZ.xml").string();
  pugi::xml_document document;
  document.load_file(path.c_str(), pugi::parse_default | pugi::parse_ws_pcdata);
  for (auto _ : state) {
    const std::string temporary = platform::TemporaryFileBeside(path);
    if (!document.save_file(temporary.c_str(), "", pugi::format_raw, pugi::encoding_latin1) ||
        platform::ReplaceWithTemporaryFile(temporary, path) != 0)
      state.SkipWithError("write failed");
  }
}
BENCHMARK(Persistence_Baseline_WriteFile)
    ->Arg(1)
    ->Arg(10)
    ->Arg(100)
    ->Arg(999)
    ->Unit(benchmark::kMillisecond);

static const bench::CompareTo kLoadRatio({"Persistence_LoadLargestConfiguration/iterations:10"},
                                         "Persistence_Baseline_ParseFile/iterations:50");
static const bench::CompareTo kWideLoadRatio({"Persistence_LoadWideLine/iterations:10"},
                                             "Persistence_Baseline_ParseWideLine/iterations:50");
static const bench::CompareTo kSave1({"Persistence_CameraSave/1"},
                                     "Persistence_Baseline_WriteFile/1");
static const bench::CompareTo kSave10({"Persistence_CameraSave/10"},
                                      "Persistence_Baseline_WriteFile/10");
static const bench::CompareTo kSave100({"Persistence_CameraSave/100"},
                                       "Persistence_Baseline_WriteFile/100");
static const bench::CompareTo kSave999({"Persistence_CameraSave/999"},
                                       "Persistence_Baseline_WriteFile/999");

}  // namespace
