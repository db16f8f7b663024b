// What a host may pass at the edges: the largest camera number, from the
// host and from the settings file. Meant for the AddressSanitizer + UBSan
// build too.
#include <climits>

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

}  // namespace
}  // namespace q7host
