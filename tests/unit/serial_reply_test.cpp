// The port's reply check: which replies are accepted, how often the last
// line is re-sent, and how a failing device is reported.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "camera/camera.h"
#include "comm/serial.h"

namespace {

// A device whose reads answer from a script; every write is recorded.
class ScriptedDevice : public platform::SerialDevice {
 public:
  struct Step {
    bool ok;
    std::string bytes;
  };
  std::deque<Step>* reads;
  std::vector<std::string>* writes;
  int* purges;
  bool open = false;
  bool applyFails = false;

  ScriptedDevice(std::deque<Step>* r, std::vector<std::string>* w, int* p)
      : reads(r), writes(w), purges(p) {}
  std::string DevicePath(int n) const override { return "COM" + std::to_string(n); }
  uint32_t Open(int n) override {
    if (n == 2) return platform::kErrorFileNotFound;
    open = true;
    return 0;
  }
  bool BuildSettings(const std::string& mode) override { return mode == "96,E,8,1"; }
  uint32_t ApplySettings() override { return applyFails ? 31 : 0; }
  uint32_t SetTimeouts() override { return 0; }
  bool IsOpen() const override { return open; }
  uint32_t ClearError() override { return 0; }
  bool Read(void* buffer, size_t count, size_t* got) override {
    *got = 0;
    if (reads->empty()) return true;  // silent
    Step r = reads->front();
    reads->pop_front();
    const size_t n = r.bytes.size() < count ? r.bytes.size() : count;
    r.bytes.copy(static_cast<char*>(buffer), n);
    *got = n;
    return r.ok;
  }
  bool Write(const void* data, size_t count, size_t* written) override {
    writes->emplace_back(static_cast<const char*>(data), count);
    *written = count;
    return true;
  }
  void PurgeReceive() override { ++*purges; }
  uint32_t Close() override {
    open = false;
    return 0;
  }
  uint32_t LastError() const override { return 0; }
};

class SerialReplyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ =
        std::make_unique<CVRTSerial>(std::make_unique<ScriptedDevice>(&reads_, &writes_, &purges_));
    port_->SetMode("96,E,8,1");
    ASSERT_EQ(port_->Open(1), 0);
    ASSERT_EQ(port_->Write("@5,3\r", 5), 5);
  }
  int ReadReply() {
    char buffer[4] = {0};
    return port_->ReadData(buffer, 3);
  }
  size_t Resends() const { return writes_.size() - 1; }

  std::deque<ScriptedDevice::Step> reads_;
  std::vector<std::string> writes_;
  int purges_ = 0;
  std::unique_ptr<CVRTSerial> port_;
};

TEST_F(SerialReplyTest, AcceptedRepliesAreNotResent) {
  for (const char* reply : {"OK\r", "NI\r", "OL\r"}) {
    reads_ = {{true, reply}};
    writes_.resize(1);
    EXPECT_EQ(ReadReply(), 3) << reply;
    EXPECT_EQ(Resends(), 0u) << reply;
  }
  // Once before the line went out, then after each accepted reply.
  EXPECT_EQ(purges_, 1 + 3);
}

TEST_F(SerialReplyTest, BadRepliesResendTheLastLineThreeTimes) {
  reads_ = {{true, "ER\r"}, {true, "XX\r"}, {true, "??\r"}, {true, "ER\r"}};
  EXPECT_EQ(ReadReply(), 3);
  ASSERT_EQ(Resends(), 3u);
  for (const std::string& line : writes_) EXPECT_EQ(line, "@5,3\r");
}

TEST_F(SerialReplyTest, AGoodReplyAfterAResendEndsTheRead) {
  reads_ = {{true, "ER\r"}, {true, "OK\r"}};
  EXPECT_EQ(ReadReply(), 3);
  EXPECT_EQ(Resends(), 1u);
}

TEST_F(SerialReplyTest, ASilentDomeGivesNothingAfterFourReads) {
  EXPECT_EQ(ReadReply(), 0);
  EXPECT_EQ(Resends(), 3u);
}

TEST_F(SerialReplyTest, ThreeFailedReadsAreALineError) {
  reads_ = {{false, ""}, {false, ""}, {false, ""}};
  EXPECT_EQ(ReadReply(), -4);
  EXPECT_EQ(port_->GetState(), CVRTSerial::kFailed);
  EXPECT_EQ(Resends(), 0u);
}

TEST_F(SerialReplyTest, ReadForCameraLooksAtNothingAndResendsNothing) {
  CVRTCamera camera(nullptr);
  char buffer[4] = {0};
  camera.WaitForResponse = 0;
  reads_ = {{true, "ER\r"}};
  EXPECT_EQ(port_->ReadForCamera(buffer, 3, &camera), 0);
  EXPECT_EQ(reads_.size(), 1u);  // the port was not touched
  camera.WaitForResponse = 1;
  EXPECT_EQ(port_->ReadForCamera(buffer, 3, &camera), 3);
  EXPECT_EQ(Resends(), 0u);
}

TEST_F(SerialReplyTest, LinesThatDoNotFitTheResendBufferAreRefused) {
  const std::string longLine(CVRTSerial::kLastLineSize, 'x');
  EXPECT_EQ(port_->Write(longLine.data(), longLine.size()), -4);
  EXPECT_STREQ(port_->LastLine(), "@5,3\r");
  const std::string fits(CVRTSerial::kLastLineSize - 1, 'y');
  EXPECT_EQ(port_->Write(fits.data(), fits.size()), 63);
}

TEST(SerialOpen, ResultsOfTheOpenSteps) {
  std::deque<ScriptedDevice::Step> reads;
  std::vector<std::string> writes;
  int purges = 0;
  CVRTSerial missing(std::make_unique<ScriptedDevice>(&reads, &writes, &purges));
  missing.SetMode("96,E,8,1");
  EXPECT_EQ(missing.Open(2), 2);
  EXPECT_EQ(missing.GetState(), CVRTSerial::kFailed);
  EXPECT_EQ(missing.Close(), 0);

  CVRTSerial badMode(std::make_unique<ScriptedDevice>(&reads, &writes, &purges));
  badMode.SetMode("");
  EXPECT_EQ(badMode.Open(1), -10);

  auto device = std::make_unique<ScriptedDevice>(&reads, &writes, &purges);
  device->applyFails = true;
  CVRTSerial rejected(std::move(device));
  rejected.SetMode("96,E,8,1");
  EXPECT_EQ(rejected.Open(1), 31);

  CVRTSerial good(std::make_unique<ScriptedDevice>(&reads, &writes, &purges));
  EXPECT_EQ(good.Close(), 0);  // never opened
  good.SetMode("96,E,8,1");
  EXPECT_EQ(good.Open(3), 0);
  EXPECT_EQ(good.GetPort(), 3);
  EXPECT_EQ(good.Close(), 1);
  EXPECT_EQ(good.Close(), 0);  // already closed
}

}  // namespace
