// A settings file with any content: the store either refuses it or opens
// it, and then reads and writes keys in it without crashing.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "settings/xml_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string dir = [] {
    char pattern[] = "/tmp/q7-fuzz-XXXXXX";
    return std::string(mkdtemp(pattern));
  }();
  const std::string path = dir + "/QUARO7K7_PTZ.xml";
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  CXMLSettingsAPI store;
  store.Folder = dir;
  try {
    if (store.OpenDocument("QUARO7K7_PTZ.xml", 0, 0) != kSettingsOk) return 0;
    for (int n = 1; n <= 3; ++n) {
      const std::string key = "settings/comm" + std::to_string(n);
      if (store.KeyExists(key)) store.GetValue(key + "/Name");
      store.GetValue(key + "/cam1/TavoID");
    }
    store.SetValue("x", "settings/comm1/Name");
    store.CreateKey("settings/comm2/cam1");
    store.DeleteKey("settings/comm1");
  } catch (const SettingsError&) {
    // a document the component cannot work with: reported, not a crash
  }
  return 0;
}
