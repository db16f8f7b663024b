// A process killed while it saves leaves the old or the new settings file,
// never a broken one.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "settings/xml_settings.h"
#include "settings_test_util.h"

namespace {

using settings_test::ReadFile;
using settings_test::ScratchDir;

const char kName[] = "QUARO7K7_PTZ.xml";
const char kKey[] = "settings/comm1/Name";

// Saves without end, the file growing and shrinking, until it is killed.
// Tells `ready` once its first save is done.
[[noreturn]] void SaveForever(const std::string& folder, int round, int ready) {
  int code = 0;
  try {
    CXMLSettingsAPI store;
    store.Folder = folder;
    if (store.OpenDocument(kName, 1, 1) != kSettingsOk) _exit(2);
    for (unsigned i = 0;; ++i) {
      store.SetValue(FormatKey("r%d-%u-", round, i) + std::string(i % 300, 'v'), kKey);
      if (i == 0 && write(ready, "s", 1) != 1) _exit(4);
      if (i % 3 == 0) store.CreateKey(FormatKey("settings/comm2/cam%u/Name", i % 11));
      if (i % 7 == 0) store.DeleteKey("settings/comm2");
    }
  } catch (...) {
    code = 3;
  }
  _exit(code);
}

TEST(SettingsKillTest, KilledSaverLeavesAWholeFile) {
  ScratchDir dir;
  ASSERT_FALSE(dir.Path.empty());
  {
    CXMLSettingsAPI store;
    store.Folder = dir.Path;
    ASSERT_EQ(store.CreateDocument(kName, "settings", 1), 1);
  }

  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> delayUs(0, 6000);
  for (int round = 0; round < 40; ++round) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) SaveForever(dir.Path, round, ready[1]);
    close(ready[1]);
    pollfd watch{ready[0], POLLIN, 0};
    const bool started = poll(&watch, 1, 20000) == 1;
    std::this_thread::sleep_for(std::chrono::microseconds(delayUs(random)));
    ASSERT_EQ(kill(child, SIGKILL), 0);
    close(ready[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(started);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the saver ended by itself, status " << status;

    const std::string text = ReadFile(dir.File(kName));
    ASSERT_EQ(text.rfind(settings_test::kDeclaration, 0), 0u) << text;
    ASSERT_EQ(text.substr(text.size() - 12), "</settings>\n") << text;
    CXMLSettingsAPI reader;
    reader.Folder = dir.Path;
    ASSERT_EQ(reader.OpenDocument(kName, 0, 1), kSettingsOk) << "round " << round << ":\n" << text;
    // Written in this round: the kill met a file being rewritten.
    EXPECT_EQ(reader.GetValue(kKey).rfind(FormatKey("r%d-", round), 0), 0u);
    // The temporary file of the save that was killed went with the open.
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{kName}) << "round " << round;
  }
}

}  // namespace
