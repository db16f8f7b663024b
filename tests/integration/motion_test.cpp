// Pan, tilt and lens requests as the dome receives them: the lines, their
// order, camera selection, speed percents and the follow-up function.
#include <cstring>

#include "host_fixture.h"

namespace q7host {
namespace {

using MotionTest = HostTest;
using Lines = std::vector<std::string>;

class TwoCameraTest : public HostTest {
 protected:
  // Opens Gate (TavoID 0, SysID 5) and then Yard (TavoID 1, SysID 6) on one
  // line, so the line has Yard selected.
  void StartBoth(int node) {
    WriteSettings(
        {{"Line 1", 1, "96,E,8,1", {Camera("Gate", 0, 5, node), Camera("Yard", 1, 6, node)}}});
    Simulator(1);
    ASSERT_EQ(Init(), 1);
    gate_ = Open(0);
    yard_ = Open(1);
    Wire();
  }
  int gate_ = 0;
  int yard_ = 0;
};

TEST_F(TwoCameraTest, LeftOnACameraTheLineHasNotSelected) {
  StartBoth(128);
  const Api& a = api();
  EXPECT_EQ(a.VRT_CamLeft(gate_, 12), 1);
  EXPECT_EQ(Wire(), (Lines{"@2,1", "@3,5", "@5,3", "@7,70,1", "@5,23"}));
  domesim::DomeState gate = Simulator(1).State(128, 5);
  EXPECT_EQ(gate.pan, domesim::PanMotion::kLeft);
  EXPECT_EQ(gate.pan_speed, 70);
  EXPECT_EQ(a.VRT_CamLeft(gate_, 12), 1);
  EXPECT_EQ(Wire(), Lines());
  EXPECT_EQ(a.VRT_CamLeft(gate_, 5), 1);
  EXPECT_EQ(Wire(), Lines{"@7,54,1"});
  EXPECT_EQ(a.VRT_CamLeft(gate_, 0), 1);
  EXPECT_EQ(Wire(), Lines{"@6,3"});
  EXPECT_EQ(Simulator(1).State(128, 5).pan, domesim::PanMotion::kStopped);
  EXPECT_TRUE(HasLogLine("CAM.Left: speed = 12 OK. (TavoID 1)"));
  EXPECT_TRUE(HasLogLine("CAM.Left: speed = 5 OK. (TavoID 1)"));
  EXPECT_TRUE(HasLogLine("COMM.Stop: a_szFunction1 = 3"));
  EXPECT_TRUE(HasLogLine("CAM.Left: speed = 0 OK. (TavoID 1)"));
  // The other camera is selected again before it moves; it was never moved,
  // so it gets the follow-up function too.
  EXPECT_EQ(a.VRT_CamDown(yard_, 1), 1);
  EXPECT_EQ(Wire(), (Lines{"@2,1", "@3,6", "@5,5", "@7,1,54", "@5,23"}));
  EXPECT_EQ(Simulator(1).State(128, 6).tilt, domesim::TiltMotion::kDown);
}

TEST_F(TwoCameraTest, AddressedFormOnANode) {
  StartBoth(7);
  const Api& a = api();
  EXPECT_EQ(a.VRT_CamLeft(gate_, 12), 1);
  EXPECT_EQ(Wire(), (Lines{"$7,2,1", "$7,3,5", "$7,5,3", "$7,7,70,1", "$7,5,23"}));
  EXPECT_EQ(a.VRT_CamLeft(gate_, 5), 1);
  EXPECT_EQ(a.VRT_CamLeft(gate_, 0), 1);
  EXPECT_EQ(Wire(), (Lines{"$7,7,54,1", "$7,6,3"}));
  EXPECT_EQ(Simulator(1).State(7, 5).pan_speed, 54);
}

struct Direction {
  const char* name;
  int (*move)(const Api&, int, int);
  Lines start;  // at speed code 12, camera selected, follow-up already sent
  Lines stop;
};

TEST_F(MotionTest, EveryDirectionStartsAndStops) {
  const int handle = StartCamera();
  const Api& a = api();
  // The first movement sends the follow-up function once.
  ASSERT_EQ(a.VRT_CamRight(handle, 12), 1);
  ASSERT_EQ(a.VRT_CamRight(handle, 0), 1);
  EXPECT_EQ(Wire(), (Lines{"@5,2", "@7,70,1", "@5,23", "@6,2"}));
  const Direction directions[] = {
      {"Left",
       [](const Api& x, int h, int s) { return x.VRT_CamLeft(h, s); },
       {"@5,3", "@7,70,1"},
       {"@6,3"}},
      {"Right",
       [](const Api& x, int h, int s) { return x.VRT_CamRight(h, s); },
       {"@5,2", "@7,70,1"},
       {"@6,2"}},
      {"Up",
       [](const Api& x, int h, int s) { return x.VRT_CamUp(h, s); },
       {"@5,4", "@7,1,70"},
       {"@6,4"}},
      {"Down",
       [](const Api& x, int h, int s) { return x.VRT_CamDown(h, s); },
       {"@5,5", "@7,1,70"},
       {"@6,5"}},
      {"UpLeft",
       [](const Api& x, int h, int s) { return x.VRT_CamUpLeft(h, s); },
       {"@5,3", "@5,4", "@7,75,70"},
       {"@6,3", "@6,4"}},
      {"UpRight",
       [](const Api& x, int h, int s) { return x.VRT_CamUpRight(h, s); },
       {"@5,2", "@5,4", "@7,75,70"},
       {"@6,2", "@6,4"}},
      {"DownLeft",
       [](const Api& x, int h, int s) { return x.VRT_CamDownLeft(h, s); },
       {"@5,3", "@5,5", "@7,75,70"},
       {"@6,3", "@6,5"}},
      {"DownRight",
       [](const Api& x, int h, int s) { return x.VRT_CamDownRight(h, s); },
       {"@5,2", "@5,5", "@7,75,70"},
       {"@6,2", "@6,5"}},
  };
  for (const Direction& d : directions) {
    SCOPED_TRACE(d.name);
    EXPECT_EQ(d.move(a, handle, 12), 1);
    EXPECT_EQ(Wire(), d.start);
    EXPECT_EQ(d.move(a, handle, 0), 1);
    EXPECT_EQ(Wire(), d.stop);
    EXPECT_TRUE(HasLogLine(Format("CAM.%s: speed = 12 OK. (TavoID 1)", d.name)));
    EXPECT_TRUE(HasLogLine(Format("CAM.%s: speed = 0 OK. (TavoID 1)", d.name)));
  }
  const domesim::DomeState dome = Simulator(1).State(128, 5);
  EXPECT_EQ(dome.pan, domesim::PanMotion::kStopped);
  EXPECT_EQ(dome.tilt, domesim::TiltMotion::kStopped);
  EXPECT_TRUE(dome.functions.empty() || dome.functions == std::vector<int>{23});
}

TEST_F(MotionTest, SpeedOutOfRangeIsRefusedBeforeAnythingIsSent) {
  const int handle = StartCamera();
  const Api& a = api();
  EXPECT_EQ(a.VRT_CamLeft(handle, 17), -3);
  EXPECT_EQ(a.VRT_CamUpLeft(handle, 17), -3);
  EXPECT_EQ(a.VRT_CamDown(handle, -1), -3);
  EXPECT_EQ(a.VRT_CamZoom(handle, 0, 17), -3);
  EXPECT_EQ(a.VRT_CamIris(handle, 1, -1), -3);
  EXPECT_EQ(Wire(), Lines());
  EXPECT_TRUE(HasLogLine("CAM.Left: speed = 17 FAILED (error -3, TavoID 1)."));
  EXPECT_TRUE(HasLogLine("CAM.Down: speed = -1 FAILED (error -3, TavoID 1)."));
  EXPECT_TRUE(HasLogLine("CAM.Zoom: mode = 0 speed = 17 FAILED (error -3)."));
  // 16 is the top speed.
  EXPECT_EQ(a.VRT_CamLeft(handle, 16), 1);
  EXPECT_EQ(Wire(), (Lines{"@5,3", "@7,70,1", "@5,23"}));
}

// The percent a dome gets for a pan at each speed code, by camera speed level.
TEST_F(MotionTest, SpeedPercentsByLevelAndBand) {
  // {level, band A, band B, band C}; 0 where the value is not fixed.
  const int table[][4] = {
      {0, 24, 26, 30},  // below 1: as level 2
      {1, 18, 18, 18},  {2, 24, 26, 30}, {3, 24, 32, 40},     {4, 36, 42, 50},
      {5, 44, 52, 60},  {6, 54, 62, 70}, {7, 64, 0, 80},      {8, 72, 80, 90},
      {9, 83, 91, 100}, {10, 0, 0, 0},   {11, 100, 100, 100}, {12, 70, 70, 70},  // above 11
  };
  const size_t count = sizeof table / sizeof table[0];
  std::vector<CameraConfig> cameras;
  for (size_t i = 0; i < count; ++i) {
    CameraConfig camera =
        Camera(("Level" + std::to_string(i)).c_str(), static_cast<int>(i), static_cast<int>(i) + 1);
    camera.camAccFactor = table[i][0];
    cameras.push_back(camera);
  }
  WriteSettings({{"Line 1", 1, "96,E,8,1", cameras}});
  Simulator(1);
  ASSERT_EQ(Init(), 1);
  const Api& a = api();
  for (size_t i = 0; i < count; ++i) {
    const int level = table[i][0];
    SCOPED_TRACE("level " + std::to_string(level));
    const int handle = Open(static_cast<int>(i));
    Wire();
    // The band edges: 1 and 7 are band A, 8 and 9 band B, 10 and 16 band C.
    const int codes[] = {1, 7, 8, 9, 10, 16};
    std::vector<int> percents;
    for (int code : codes) {
      ASSERT_EQ(a.VRT_CamLeft(handle, code), 1);
      const Lines lines = Wire();
      ASSERT_FALSE(lines.empty());
      int percent = -1, tilt = -1;
      ASSERT_EQ(std::sscanf(lines.back() == "@5,23" ? lines[lines.size() - 2].c_str()
                                                    : lines.back().c_str(),
                            "@7,%d,%d", &percent, &tilt),
                2)
          << lines.back();
      EXPECT_EQ(tilt, 1);
      percents.push_back(percent);
      ASSERT_EQ(a.VRT_CamLeft(handle, 0), 1);
      Wire();
    }
    const int bands[] = {0, 0, 1, 1, 2, 2};
    for (size_t k = 0; k < percents.size(); ++k) {
      const int fixed = table[i][1 + bands[k]];
      if (fixed != 0) {
        EXPECT_EQ(percents[k], fixed) << "speed code " << codes[k];
      } else {
        // Not fixed by the level table: still grows with the code and the
        // level.
        EXPECT_GE(percents[k], table[i - 1][1 + bands[k]]) << "speed code " << codes[k];
        EXPECT_LE(percents[k], 100);
      }
      if (k > 0) {
        EXPECT_GE(percents[k], percents[k - 1]);
      }
    }
  }
}

TEST_F(MotionTest, DiagonalPanRunsFivePointsAheadUpToAHundred) {
  CameraConfig slow = Camera("Slow", 0, 5);
  CameraConfig fast = Camera("Fast", 1, 6);
  fast.camAccFactor = 9;
  CameraConfig top = Camera("Top", 2, 7);
  top.camAccFactor = 11;
  WriteSettings({{"Line 1", 1, "96,E,8,1", {slow, fast, top}}});
  Simulator(1);
  ASSERT_EQ(Init(), 1);
  const int h0 = Open(0), h1 = Open(1), h2 = Open(2);
  Wire();
  const Api& a = api();
  EXPECT_EQ(a.VRT_CamUpLeft(h0, 1), 1);
  EXPECT_EQ(Wire(), (Lines{"@2,1", "@3,5", "@5,3", "@5,4", "@7,59,54", "@5,23"}));
  EXPECT_EQ(a.VRT_CamUpLeft(h0, 8), 1);  // a new speed only
  EXPECT_EQ(Wire(), Lines{"@7,67,62"});
  EXPECT_EQ(a.VRT_CamDownRight(h1, 8), 1);
  EXPECT_EQ(Wire(), (Lines{"@2,1", "@3,6", "@5,2", "@5,5", "@7,96,91", "@5,23"}));
  EXPECT_EQ(a.VRT_CamUpRight(h2, 16), 1);
  EXPECT_EQ(Wire(), (Lines{"@2,1", "@3,7", "@5,2", "@5,4", "@7,100,100", "@5,23"}));
  EXPECT_EQ(a.VRT_CamUpRight(h1, 16), 1);
  EXPECT_EQ(Wire(), (Lines{"@2,1", "@3,6", "@7,100,100"}));
  const domesim::DomeState dome = Simulator(1).State(128, 6);
  EXPECT_EQ(dome.pan_speed, 100);
  EXPECT_EQ(dome.tilt_speed, 100);
}

TEST_F(MotionTest, LensStartsAndStops) {
  const int handle = StartCamera();
  const Api& a = api();
  struct Lens {
    const char* name;
    int (*call)(const Api&, int, int, int);
    const char* mode0;
    const char* mode1;
  };
  const Lens lenses[] = {
      {"Zoom", [](const Api& x, int h, int m, int s) { return x.VRT_CamZoom(h, m, s); }, "6", "7"},
      {"Focus", [](const Api& x, int h, int m, int s) { return x.VRT_CamFocus(h, m, s); }, "8",
       "9"},
      {"Iris", [](const Api& x, int h, int m, int s) { return x.VRT_CamIris(h, m, s); }, "11",
       "10"},
  };
  for (const Lens& lens : lenses) {
    SCOPED_TRACE(lens.name);
    for (int mode : {0, 1}) {
      const std::string code = mode == 0 ? lens.mode0 : lens.mode1;
      EXPECT_EQ(lens.call(a, handle, mode, 4), 1);
      EXPECT_EQ(Wire(), Lines{"@5," + code});
      EXPECT_EQ(lens.call(a, handle, mode, 0), 1);
      EXPECT_EQ(Wire(), Lines{"@6," + code});
      EXPECT_TRUE(
          HasLogLine(Format("CAM.%s: mode = %d speed = 4 OK. (TavoID 1)", lens.name, mode)));
      EXPECT_TRUE(
          HasLogLine(Format("CAM.%s: mode = %d speed = 0 OK. (TavoID 1)", lens.name, mode)));
    }
    // A stop with nothing running sends nothing.
    EXPECT_EQ(lens.call(a, handle, 0, 0), 1);
    EXPECT_EQ(Wire(), Lines());
  }
  // Focus has no upper speed bound; a negative speed sends nothing.
  EXPECT_EQ(a.VRT_CamFocus(handle, 1, 40), 1);
  EXPECT_EQ(a.VRT_CamFocus(handle, 1, 0), 1);
  EXPECT_EQ(a.VRT_CamFocus(handle, 1, -2), 1);
  EXPECT_EQ(Wire(), (Lines{"@5,9", "@6,9"}));
}

TEST_F(MotionTest, OneMovementAtATime) {
  const int handle = StartCamera();
  const Api& a = api();
  ASSERT_EQ(a.VRT_CamLeft(handle, 5), 1);
  Wire();
  // While the camera pans, lens starts and other directions only adjust.
  EXPECT_EQ(a.VRT_CamZoom(handle, 0, 5), 1);
  EXPECT_EQ(a.VRT_CamIris(handle, 1, 5), 1);
  EXPECT_EQ(a.VRT_CamFocus(handle, 0, 5), 1);
  EXPECT_EQ(Wire(), Lines());
  EXPECT_EQ(a.VRT_CamRight(handle, 5), 1);
  EXPECT_EQ(Wire(), Lines());
  EXPECT_EQ(a.VRT_CamUp(handle, 12), 1);
  EXPECT_EQ(Wire(), Lines{"@7,1,70"});
  EXPECT_EQ(a.VRT_CamLeft(handle, 0), 1);
  EXPECT_EQ(Wire(), Lines{"@6,3"});
  // While the lens runs, a direction only sets a speed; the zoom's own stop
  // ends it.
  EXPECT_EQ(a.VRT_CamZoom(handle, 1, 5), 1);
  EXPECT_EQ(a.VRT_CamLeft(handle, 5), 1);
  EXPECT_EQ(a.VRT_CamZoom(handle, 1, 0), 1);
  EXPECT_EQ(Wire(), (Lines{"@5,7", "@7,54,1", "@6,7"}));
}

TEST_F(MotionTest, FocusStartMakesTheNextMovementSendTheFollowUpAgain) {
  const int handle = StartCamera();
  const Api& a = api();
  ASSERT_EQ(a.VRT_CamLeft(handle, 5), 1);
  ASSERT_EQ(a.VRT_CamLeft(handle, 0), 1);
  EXPECT_EQ(Wire(), (Lines{"@5,3", "@7,54,1", "@5,23", "@6,3"}));
  // Without a focus start in between, the follow-up is not sent again.
  ASSERT_EQ(a.VRT_CamLeft(handle, 5), 1);
  ASSERT_EQ(a.VRT_CamLeft(handle, 0), 1);
  EXPECT_EQ(Wire(), (Lines{"@5,3", "@7,54,1", "@6,3"}));
  ASSERT_EQ(a.VRT_CamFocus(handle, 0, 3), 1);
  ASSERT_EQ(a.VRT_CamFocus(handle, 0, 0), 1);
  EXPECT_EQ(Wire(), (Lines{"@5,8", "@6,8"}));
  ASSERT_EQ(a.VRT_CamUp(handle, 5), 1);
  EXPECT_EQ(Wire(), (Lines{"@5,4", "@7,1,54", "@5,23"}));
  ASSERT_EQ(a.VRT_CamUp(handle, 0), 1);
  // Zoom and iris starts do not count.
  ASSERT_EQ(a.VRT_CamZoom(handle, 0, 3), 1);
  ASSERT_EQ(a.VRT_CamZoom(handle, 0, 0), 1);
  ASSERT_EQ(a.VRT_CamIris(handle, 0, 3), 1);
  ASSERT_EQ(a.VRT_CamIris(handle, 0, 0), 1);
  Wire();
  ASSERT_EQ(a.VRT_CamUp(handle, 5), 1);
  EXPECT_EQ(Wire(), (Lines{"@5,4", "@7,1,54"}));
}

TEST_F(TwoCameraTest, LensRequestsGoToTheRequestedCamera) {
  StartBoth(128);
  const Api& a = api();
  // The line has Yard selected: Gate must be selected before its zoom
  // starts, or the dome switched on would be Yard.
  EXPECT_EQ(a.VRT_CamZoom(gate_, 1, 5), 1);
  EXPECT_EQ(Simulator(1).State(128, 5).zoom, 1);
  EXPECT_EQ(Simulator(1).State(128, 6).zoom, -1);
  EXPECT_EQ(a.VRT_CamZoom(gate_, 1, 0), 1);
  EXPECT_EQ(a.VRT_CamFocus(yard_, 0, 5), 1);
  EXPECT_EQ(Simulator(1).State(128, 6).focus, 0);
  EXPECT_EQ(Simulator(1).State(128, 5).focus, -1);
  EXPECT_EQ(a.VRT_CamIris(gate_, 0, 5), 1);
  EXPECT_EQ(Simulator(1).State(128, 5).iris, 0);
  EXPECT_EQ(Simulator(1).State(128, 6).iris, -1);
}

TEST_F(TwoCameraTest, PropertiesReportAndReselect) {
  StartBoth(128);
  const Api& a = api();
  VRT_CameraProperties properties;
  std::memset(&properties, 0x5A, sizeof properties);
  properties.handle = gate_;
  EXPECT_EQ(a.VRT_CamGetProperties(&properties), 1);
  for (int flag : properties.capability) EXPECT_EQ(flag, 1);
  EXPECT_EQ(properties.relayCount, 3);
  EXPECT_EQ(properties.storageLocations, 99);
  EXPECT_EQ(properties.presetCount, 0);
  EXPECT_EQ(properties.reserved[0], 0);
  EXPECT_EQ(properties.reserved[1], 0);
  // The first report only arms the reselection; every later one switches
  // the dome onto its monitor again.
  EXPECT_EQ(Wire(), Lines());
  properties.handle = gate_;
  EXPECT_EQ(a.VRT_CamGetProperties(&properties), 1);
  EXPECT_EQ(Wire(), (Lines{"@2,1", "@3,5"}));
  // The line now has Gate selected, so Yard is selected again to move.
  EXPECT_EQ(a.VRT_CamLeft(yard_, 5), 1);
  EXPECT_EQ(Wire(), (Lines{"@2,1", "@3,6", "@5,3", "@7,54,1", "@5,23"}));
  EXPECT_EQ(Simulator(1).State(128, 6).pan, domesim::PanMotion::kLeft);
  EXPECT_EQ(Simulator(1).State(128, 5).pan, domesim::PanMotion::kStopped);
}

TEST_F(TwoCameraTest, StopsAndSpeedChangesReachTheMovingCamera) {
  StartBoth(128);
  const Api& a = api();
  ASSERT_EQ(a.VRT_CamLeft(gate_, 5), 1);
  ASSERT_EQ(a.VRT_CamRight(yard_, 5), 1);
  Wire();
  // The line has Yard selected; Gate's new speed and its stop are for Gate.
  EXPECT_EQ(a.VRT_CamLeft(gate_, 12), 1);
  EXPECT_EQ(Simulator(1).State(128, 5).pan_speed, 70);
  EXPECT_EQ(Simulator(1).State(128, 6).pan_speed, 54);
  EXPECT_EQ(a.VRT_CamRight(yard_, 0), 1);
  EXPECT_EQ(a.VRT_CamLeft(gate_, 0), 1);
  EXPECT_EQ(Simulator(1).State(128, 5).pan, domesim::PanMotion::kStopped);
  EXPECT_EQ(Simulator(1).State(128, 6).pan, domesim::PanMotion::kStopped);
  EXPECT_EQ(Wire(),
            (Lines{"@2,1", "@3,5", "@7,70,1", "@2,1", "@3,6", "@6,2", "@2,1", "@3,5", "@6,3"}));
}

}  // namespace
}  // namespace q7host
