// The driver's log as a file: what each write leaves, byte for byte.
#include "driver/log.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "platform/module_path.h"

namespace {

class LogFileBytesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/q7log-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ASSERT_EQ(log_.SetLogPath(dir_), 1);
    log_.SetEnabled(1);
    std::string library;
    ASSERT_TRUE(platform::LibraryFileName(&library));
    std::string base = std::filesystem::path(library).filename().string();
    base = base.substr(0, base.find_last_of('.'));
    path_ = dir_ + "/" + base + ".log";
    ASSERT_EQ(log_.LogPath(), path_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Bytes() const {
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // The file without its time stamps.
  std::string Unstamped() const {
    static const std::regex stamp(R"(\d{4}/\d{2}/\d{2}, \d{2}:\d{2}\.\d{2}\t)");
    return std::regex_replace(Bytes(), stamp, "<stamp>");
  }

  CVRTLog log_;
  std::string dir_;
  std::string path_;
};

// A lone "\n" of a message becomes CR LF; a CR LF that the message already
// holds (a host's name) stays CR LF; a lone CR stays a CR. The rule holds
// within each write, for stamped lines and plain text alike.
TEST_F(LogFileBytesTest, LineEndsOfMessages) {
  log_.WriteLine("CAM.MoveToPrePositionName: Name = %s speed = %d FAILED (error %d).\n", "c\r\nd",
                 50, -23);
  log_.WriteLog("%s", "\n\n");
  log_.WriteLog("%s", "a\r\r\nb\rc\r\n\n");
  log_.WriteTimeStamp();
  log_.WriteLog("DRIVER SESSION STARTED. Version 0x%x\n", 0x12000);
  EXPECT_EQ(Unstamped(),
            "<stamp>CAM.MoveToPrePositionName: Name = c\r\nd speed = 50 FAILED (error -23).\r\n"
            "\r\n\r\n"
            "a\r\r\nb\rc\r\n\r\n"
            "<stamp>DRIVER SESSION STARTED. Version 0x12000\r\n");
}

// The message is cut to the buffer before its line ends are written, so a
// message at the limit may grow by its CRs, never by more of its text.
TEST_F(LogFileBytesTest, LongMessageIsCutBeforeItsLineEnds) {
  const std::string text(1500, 'x');
  log_.WriteLog("%s\n%s", text.substr(0, 1020).c_str(), text.c_str());
  const std::string bytes = Bytes();
  ASSERT_EQ(bytes.size(), CVRTLog::kMaxMessage);
  EXPECT_EQ(bytes.substr(1018, 5), "xx\r\nx");
  EXPECT_EQ(bytes.find('\n'), 1021u);
}

}  // namespace
