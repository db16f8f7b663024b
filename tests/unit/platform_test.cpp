// The small POSIX services: file names, ticks, the log file, warnings and the
// list of serial ports.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/log_file.h"
#include "platform/message_box.h"
#include "platform/module_path.h"
#include "platform/posix/serial_device_posix.h"
#include "platform/serial_port_list.h"
#include "platform/tick_clock.h"

namespace {

class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/q7-platform-XXXXXX";
    if (mkdtemp(name) != nullptr) path_ = name;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

TEST(ModulePathTest, NamesAreAbsoluteExistingFiles) {
  EXPECT_EQ(platform::kPathSeparator, '/');
  std::string program;
  ASSERT_TRUE(platform::ProgramFileName(&program));
  ASSERT_FALSE(program.empty());
  EXPECT_EQ(program[0], '/');
  EXPECT_TRUE(Exists(program));

  // The core is linked into this test program, so it is the "library" here.
  std::string library;
  ASSERT_TRUE(platform::LibraryFileName(&library));
  EXPECT_EQ(library[0], '/');
  EXPECT_TRUE(Exists(library));
  char* a = realpath(library.c_str(), nullptr);
  char* b = realpath(program.c_str(), nullptr);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_STREQ(a, b);
  free(a);
  free(b);

  EXPECT_FALSE(platform::LibraryFileName(nullptr));
  EXPECT_FALSE(platform::ProgramFileName(nullptr));
}

TEST(TickClockTest, TicksAdvanceWithSleepAndTimeIsSane) {
  uint32_t previous = platform::TickCount();
  for (int i = 0; i < 1000; ++i) {
    const uint32_t now = platform::TickCount();
    EXPECT_LE(static_cast<uint32_t>(now - previous), 1000u);  // never backwards
    previous = now;
  }
  const uint32_t before = platform::TickCount();
  platform::SleepMs(30);
  const uint32_t slept = platform::TickCount() - before;
  EXPECT_GE(slept, 30u);
  EXPECT_LT(slept, 1000u);

  const platform::LocalTime t = platform::Now();
  EXPECT_GE(t.year, 2020);
  EXPECT_TRUE(t.month >= 1 && t.month <= 12);
  EXPECT_TRUE(t.day >= 1 && t.day <= 31);
  EXPECT_TRUE(t.hour >= 0 && t.hour <= 23);
  EXPECT_TRUE(t.minute >= 0 && t.minute <= 59);
  EXPECT_TRUE(t.second >= 0 && t.second <= 60);
}

TEST(LogFileTest, AppendsWithCrLf) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string log = dir.path() + "/QUARO7K7_PTZ.log";
  const std::string first = "DRIVER SESSION STARTED. Version 0x12000\n";
  platform::AppendLogText(log, first.data(), first.size());
  const std::string second = "a\nb\r\n\nc";
  platform::AppendLogText(log, second.data(), second.size());
  platform::AppendLogText(log, "\nignored", 1);
  EXPECT_EQ(ReadFile(log), "DRIVER SESSION STARTED. Version 0x12000\r\na\r\nb\r\n\r\nc\r\n");

  const std::string before = ReadFile(log);
  platform::AppendLogText(log, nullptr, 5);
  platform::AppendLogText("", "x", 1);
  EXPECT_EQ(ReadFile(log), before);
}

TEST(LogFileTest, LostWhenDirectoryMissingOrFileHeld) {
  TempDir dir;
  const std::string missing = dir.path() + "/no-such-dir/QUARO7K7_PTZ.log";
  platform::AppendLogText(missing, "x\n", 2);
  EXPECT_FALSE(Exists(missing));

  const std::string log = dir.path() + "/held.log";
  const int holder = open(log.c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  platform::AppendLogText(log, "lost\n", 5);
  EXPECT_EQ(ReadFile(log), "");
  close(holder);
  platform::AppendLogText(log, "kept\n", 5);
  EXPECT_EQ(ReadFile(log), "kept\r\n");
}

TEST(MessageBoxTest, WarningGoesToStandardError) {
  testing::internal::CaptureStderr();
  platform::ShowWarning("COM3 is in use");
  platform::ShowWarning(nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "QUARO7K7_PTZ: COM3 is in use\nQUARO7K7_PTZ: \n");
}

TEST(SerialPortListTest, ListsLinkedPortsSortedAndUnique) {
  TempDir dir;
  for (const char* name : {"COM12", "COM3", "COM255", "COM1", "COM0", "COM256", "COM03", "COMx",
                           "COM", "com4", "ttyS2"}) {
    ASSERT_EQ(symlink("/dev/null", (dir.path() + "/" + name).c_str()), 0);
  }
  platform::SetPortDirectoryForTesting(dir.path());
  const std::vector<int> ports = platform::ListSerialPorts();
  platform::SetPortDirectoryForTesting("");

  EXPECT_TRUE(std::is_sorted(ports.begin(), ports.end()));
  EXPECT_EQ(std::adjacent_find(ports.begin(), ports.end()), ports.end());
  for (const int n : {1, 3, 12, 255}) {
    EXPECT_NE(std::find(ports.begin(), ports.end(), n), ports.end()) << n;
  }
  for (const int n : ports) {
    EXPECT_GE(n, 1);
    EXPECT_LE(n, 255);
  }
  // Without the links only built-in ports with a UART remain; COM12 and
  // COM255 are never among them on an ordinary machine.
  platform::SetPortDirectoryForTesting(dir.path() + "/missing");
  const std::vector<int> builtIn = platform::ListSerialPorts();
  platform::SetPortDirectoryForTesting("");
  for (const int n : builtIn) EXPECT_TRUE(Exists("/dev/ttyS" + std::to_string(n - 1))) << n;
}

}  // namespace
