// What a host may pass at the edges: the largest camera number, from the
// host and from the settings file, and a channel record whose log directory
// has no terminating zero. Meant for the AddressSanitizer + UBSan build too.
#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <cstring>

#include "host_fixture.h"

namespace q7host {
namespace {

using HostLimitsTest = HostTest;

// Log lines count cameras from 1; the largest number shows as the smallest.
TEST_F(HostLimitsTest, LargestCameraNumberIsLoggedWithoutOverflow) {
  WriteSettings({{"Line 1", 1, "96,E,8,1", {Camera("Gate", INT_MAX, 5)}}});
  Simulator(1);
  ASSERT_EQ(Init(), 1);
  EXPECT_TRUE(HasLogLine("CAM.Load: TAVO Camera -2147483648 (physical ID 5) load OK."));
  const Api& a = api();
  int missing = 0;
  EXPECT_EQ(a.VRT_CamOpen(INT_MAX - 1, &missing), -13);
  EXPECT_TRUE(HasLogLine("DRV.OpenCamera: TAVO Camera 2147483647 not found (error -13)."));
  const int handle = Open(INT_MAX);
  EXPECT_TRUE(LogContains("DRV.OpenCamera: TAVO Camera -2147483648 opened with handle"));
  EXPECT_EQ(a.VRT_CamOpen(INT_MAX, &missing), -20);
  EXPECT_TRUE(HasLogLine("CAM.Open: TAVO Camera -2147483648 busy."));
  EXPECT_EQ(a.VRT_CamLeft(handle, 3), 1);
  EXPECT_TRUE(HasLogLine("CAM.Left: speed = 3 OK. (TavoID -2147483648)"));
  EXPECT_EQ(a.VRT_CamZoom(handle, 0, 0), 1);
  EXPECT_TRUE(HasLogLine("CAM.Zoom: mode = 0 speed = 0 OK. (TavoID -2147483648)"));
  EXPECT_EQ(a.VRT_CamSetPrePositionName(handle, "Door"), 1);
  VRT_PresetRecord preset{};
  preset.handle = handle;
  preset.position = 5;
  EXPECT_EQ(a.VRT_CamGetPrePosition(&preset), -23);
  EXPECT_TRUE(
      HasLogLine("CAM.GetPrePosition: TAVO Camera -2147483648 doesn't have preposition 5 (error "
                 "-23)."));
  EXPECT_EQ(a.VRT_CamSetRelay(handle, 0, 1, 0), 1);
  EXPECT_TRUE(HasLogLine("CAM.SetRelay: OK (TavoID -2147483648), relay: 0 mode: 1, time: 0"));
  EXPECT_EQ(a.VRT_CamSetRelayName(handle, 0, "Pump"), 1);
  EXPECT_TRUE(HasLogLine("CAM.SetRelayName: OK (TavoID -2147483648), name: 'Pump'"));
  EXPECT_EQ(a.VRT_CamClose(handle), 1);
}

TEST_F(HostLimitsTest, OpenWithTheLargestNumberAnswersNotFound) {
  ASSERT_EQ(Init(), 1);
  int handle = 0;
  EXPECT_EQ(api().VRT_CamOpen(INT_MAX, &handle), -13);
  EXPECT_EQ(handle, -1);
  EXPECT_TRUE(HasLogLine("DRV.OpenCamera: TAVO Camera -2147483648 not found (error -13)."));
}

// A channel record for code 1 placed so that its log directory field ends
// exactly where readable memory ends: whatever the field holds, the driver
// must not read past it.
class ChannelRecordAtPageEnd {
 public:
  static constexpr size_t kDirectoryOffset = 69;
  static constexpr size_t kPathBytes = 260;  // a Windows path, its zero included

  ChannelRecordAtPageEnd() {
    page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* memory =
        mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return;
    base_ = static_cast<char*>(memory);
    if (mprotect(base_ + page_, page_, PROT_NONE) != 0) return;
    record_ = base_ + page_ - (kDirectoryOffset + kPathBytes);
    std::memset(record_, 0, kDirectoryOffset);
  }
  ~ChannelRecordAtPageEnd() {
    if (base_ != nullptr) munmap(base_, 2 * page_);
  }
  ChannelRecordAtPageEnd(const ChannelRecordAtPageEnd&) = delete;
  ChannelRecordAtPageEnd& operator=(const ChannelRecordAtPageEnd&) = delete;

  bool ok() const { return record_ != nullptr; }
  char* record() { return record_; }
  char* directory() { return record_ + kDirectoryOffset; }
  void SetLogSwitch(int32_t value) { std::memcpy(record_, &value, sizeof value); }

 private:
  size_t page_ = 0;
  char* base_ = nullptr;
  char* record_ = nullptr;
};

TEST_F(HostLimitsTest, ChannelInitReadsTheLogDirectoryNoFurtherThanAPathCanReach) {
  const Api& a = Load();
  ChannelRecordAtPageEnd record;
  ASSERT_TRUE(record.ok());
  record.SetLogSwitch(1);
  // No terminating zero in the 260 bytes a path can hold: refused, and
  // nothing is started.
  std::memset(record.directory(), 'a', ChannelRecordAtPageEnd::kPathBytes);
  EXPECT_EQ(a.TAVOPZTChannel(6, 1, record.record()), -3);
  EXPECT_FALSE(FileExists(LogPath()));
  int handle = 0;
  EXPECT_EQ(a.VRT_CamOpen(0, &handle), -13);
}

TEST_F(HostLimitsTest, ChannelInitTakesALogDirectoryThatFillsThePath) {
  WriteSettings({{"Line 1", 1, "96,E,8,1", {Camera("Gate", 0, 5)}}});
  const Api& a = Load();
  ChannelRecordAtPageEnd record;
  ASSERT_TRUE(record.ok());
  record.SetLogSwitch(1);
  // The test directory padded with slashes to 259 characters, its zero the
  // last readable byte.
  std::string directory = Dir();
  ASSERT_LT(directory.size(), ChannelRecordAtPageEnd::kPathBytes - 1);
  directory.resize(ChannelRecordAtPageEnd::kPathBytes - 1, '/');
  std::memcpy(record.directory(), directory.c_str(), directory.size() + 1);
  EXPECT_EQ(a.TAVOPZTChannel(6, 1, record.record()), 1);
  EXPECT_TRUE(HasLogLine("VRT_CamInitModule: Load OK."));
  EXPECT_EQ(a.TAVOPZTChannel(6, 2, nullptr), 1);
}

}  // namespace
}  // namespace q7host
