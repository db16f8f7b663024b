// One value written into settings documents of growing size: with automatic
// saving (the whole file rewritten, flushed to disk and renamed in place) and
// in memory only (the cost of finding the key).
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "settings/xml_settings.h"

namespace {

const char kName[] = "QUARO7K7_PTZ.xml";

// A scratch directory holding a document of `cameras` cameras on one
// connection, each with a few values, laid out as the store lays them out.
class BenchDocument {
 public:
  explicit BenchDocument(int cameras) {
    char pattern[] = "/tmp/q7settings-bench-XXXXXX";
    const char* made = mkdtemp(pattern);
    Folder = made != nullptr ? made : "/tmp";
    std::string text = "<?xml version='1.0' encoding='iso-8859-1'?>\n<settings><comm1>\n";
    for (int i = 1; i <= cameras; ++i) {
      const std::string n = std::to_string(i);
      text += "\t\t<cam" + n + ">\n";
      for (const char* key : {"Name", "TavoID", "SysID", "NodeAddress"}) {
        text += "\t\t\t\t<" + std::string(key) + " value=\"" + n + "\">\n\t\t\t</" + key + ">\n";
      }
      text += "\t\t</cam" + n + ">\n";
    }
    text += "\t</comm1>\n</settings>\n";
    std::ofstream(Folder + "/" + kName, std::ios::binary) << text;
    Bytes = text.size();
  }
  ~BenchDocument() {
    if (DIR* dir = opendir(Folder.c_str())) {
      while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") unlink((Folder + "/" + name).c_str());
      }
      closedir(dir);
    }
    rmdir(Folder.c_str());
  }
  BenchDocument(const BenchDocument&) = delete;
  BenchDocument& operator=(const BenchDocument&) = delete;

  std::string Folder;
  size_t Bytes = 0;
};

void SetValueOnDocument(benchmark::State& state, int autoSave) {
  const int cameras = static_cast<int>(state.range(0));
  BenchDocument document(cameras);
  CXMLSettingsAPI store;
  store.Folder = document.Folder;
  if (store.OpenDocument(kName, autoSave, 1) != kSettingsOk) {
    state.SkipWithError("settings document did not open");
    return;
  }
  const std::string key = FormatKey("settings/comm1/cam%d/Name", cameras);
  unsigned serial = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(store.SetValue(std::to_string(++serial), key));
  }
  state.counters["file_bytes"] = static_cast<double>(document.Bytes);
}

void BM_SettingsSetValueAutoSave(benchmark::State& state) { SetValueOnDocument(state, 1); }
void BM_SettingsSetValueInMemory(benchmark::State& state) { SetValueOnDocument(state, 0); }

BENCHMARK(BM_SettingsSetValueAutoSave)
    ->RangeMultiplier(4)
    ->Range(4, 1024)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SettingsSetValueInMemory)
    ->RangeMultiplier(4)
    ->Range(4, 1024)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
