// The dome's replies as the DLL reads them under Wine, next to the Linux
// library: a reply ends at its carriage return. Skipped unless
// scripts/wine-tests.sh has set up Wine.
#include "wine_host.h"

namespace q7wine {
namespace {

using Lines = std::vector<std::string>;

TEST_F(WineHostTest, ShortRepliesEndAtTheirCarriageReturn) {
  constexpr int kCom = 37;
  RunBoth([](Session& s) {
    s.WriteSettings(OneCameraSettings(kCom));
    s.Sim(kCom);
    s.Load();
    ASSERT_EQ(s.Init(), 1);
    ASSERT_EQ(s.Open(0), 1);
    s.Wire(kCom);
    for (domesim::ReplyMode mode : {domesim::ReplyMode::kShort, domesim::ReplyMode::kCr}) {
      SCOPED_TRACE(domesim::ReplyModeName(mode));
      s.Sim(kCom).SetReplyMode(mode);
      // The first try and three re-sends, none waiting out the 2 s time-out.
      const Reply stop = s.Call("VRT_CamLeft {h} 0");
      EXPECT_EQ(stop.result, 1);
      EXPECT_LT(stop.ms, 1500);
      EXPECT_EQ(s.Wire(kCom), Lines(4, "@6,3"));
    }
    s.Sim(kCom).SetReplyMode(domesim::ReplyMode::kOk);
    EXPECT_EQ(s.Call("VRT_CamExitModule").result, 1);
  });
}

}  // namespace
}  // namespace q7wine
