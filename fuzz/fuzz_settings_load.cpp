// A settings file with any content, loaded as a host loads the driver: the
// module is started on it with VRT_CamInitModule. Afterwards the file is
// either exactly the input (refused, or accepted without a change) or a
// file the driver opens again; started once more on that file, the driver
// answers as before, holds the same configuration and writes nothing.
#include <cstddef>
#include <cstdint>
#include <string>

#include "driver/driver.h"
#include "fuzz_common.h"
#include "quaro7k7_ptz.h"
#include "settings/xml_settings.h"

namespace {

int Start() {
  q7fuzz::RemoveFile(q7fuzz::LogPath());
  return VRT_CamInitModule(1, nullptr, q7fuzz::WorkDir().c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using q7fuzz::Fail;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::string& path = q7fuzz::SettingsPath();
  q7fuzz::EndModule();
  q7fuzz::WriteFile(path, input);

  const int first = Start();
  const bool opened = Driver().Settings.OpenCount() > 0;
  const std::string configuration = q7fuzz::ConfigurationText();
  const std::string afterFirst = q7fuzz::ReadFile(path);
  q7fuzz::Trace(opened ? "start (opened)" : "start (refused)", first, 0);
  q7fuzz::Trace(configuration.c_str(), 0, 0);
  q7fuzz::EndModule();

  if (!opened) {
    // Refused: the installer's file stays as it was, byte for byte.
    if (afterFirst != input) Fail("a refused settings file was changed");
    if (first == 1) Fail("a refused settings file answered 1");
    return 0;
  }
  if (afterFirst != input) {
    CXMLSettingsAPI store;
    store.Folder = path.substr(0, path.rfind('/'));
    if (store.OpenDocument(CVRTDriver::kSettingsFileName, 0, 0) != kSettingsOk)
      Fail("the driver left a settings file it does not open again", afterFirst);
  }

  const int second = Start();
  if (Driver().Settings.OpenCount() == 0) Fail("the settings file the driver wrote is refused");
  const std::string reloaded = q7fuzz::ConfigurationText();
  const std::string afterSecond = q7fuzz::ReadFile(path);
  q7fuzz::EndModule();
  if (second != first)
    Fail("a second start answers " + std::to_string(second) + ", the first " +
         std::to_string(first));
  if (reloaded != configuration)
    Fail("the configuration read back differs",
         "first:\n" + configuration + "second:\n" + reloaded);
  if (afterSecond != afterFirst)
    Fail("a second start on the written file writes it again",
         "first:\n" + afterFirst + "\nsecond:\n" + afterSecond);
  return 0;
}
