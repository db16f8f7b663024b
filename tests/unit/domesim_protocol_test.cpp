// The dome simulator's reading of command lines and its dome model, without a
// pseudo-terminal: lines are parsed and applied at chosen points in time.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "domesim/domesim.h"

namespace domesim {
namespace {

struct LineCase {
  const char* line;
  const char* text;
};

TEST(DomesimProtocol, DescribesEveryCommandTheDomeUnderstands) {
  const LineCase cases[] = {
      {"@2,1", "select monitor 1"},
      {"$7,2,16", "node 7: select monitor 16"},
      {"@3,0", "select camera 0"},
      {"$127,3,5", "node 127: select camera 5"},
      {"$0,4", "node 0: reset dome (erases presets)"},
      {"@4", "reset dome (erases presets)"},
      {"@5,3", "start pan left"},
      {"$7,5,3", "node 7: start pan left"},
      {"@6,2", "stop pan right"},
      {"@5,4", "start tilt up"},
      {"@6,5", "stop tilt down"},
      {"@5,6", "start zoom mode 0"},
      {"@5,7", "start zoom mode 1"},
      {"@5,8", "start focus mode 0"},
      {"@6,9", "stop focus mode 1"},
      {"@5,10", "start iris mode 1"},
      {"@6,11", "stop iris mode 0"},
      {"@5,12", "washer on"},
      {"@5,13", "AUX2 on"},
      {"@6,18", "AUX1 off"},
      {"@5,19", "wiper on"},
      {"@6,21", "lamps off"},
      {"@5,22", "lens slow on"},
      {"@5,23", "follow-up on"},
      {"@6,24", "AUX3 off"},
      {"@7,70,1", "speed pan 70% tilt 1%"},
      {"$3,7,100,98", "node 3: speed pan 100% tilt 98%"},
      {"@8,4", "go to preset 4 at full speed"},
      {"@9,256", "store preset 256"},
      {"@16,1,90", "go to preset 1 at 90%"},
      {"@47,0", "menu key Set"},
      {"@47,4", "menu key Left"},
      {"@47,5", "menu key Menu (open/close)"},
      {"@55", "version query"},
  };
  for (const LineCase& c : cases) {
    Command command = ParseLine(c.line);
    EXPECT_TRUE(command.valid) << c.line << ": " << command.error;
    EXPECT_EQ(DescribeLine(c.line), c.text) << c.line;
  }
}

TEST(DomesimProtocol, RejectsWhatADomeCannotRead) {
  const std::string too_long = "@3," + std::string(61, '1');  // 64 bytes
  const LineCase cases[] = {
      {"", "empty line"},
      {"5,3", "no @ or $ at the start"},
      {"@", "bad number ''"},
      {"@5,", "bad number ''"},
      {"@5,,3", "bad number ''"},
      {"@5, 3", "bad number ' 3'"},
      {"@+5,3", "bad number '+5'"},
      {"@-,3", "bad number '-'"},
      {"@5,3\n", "bad number '3\\n'"},
      {"@5,3\r", "bad number '3\\r'"},
      {"@3,12345678901", "bad number '12345678901'"},
      {"@99", "unknown command 99"},
      {"@-2,1", "unknown command -2"},
      {"@5,1", "unknown function 1"},
      {"@5,14", "unknown function 14"},
      {"@6,25", "unknown function 25"},
      {"@5", "command 5 takes 1 argument(s), got 0"},
      {"@5,3,1", "command 5 takes 1 argument(s), got 2"},
      {"@4,1", "command 4 takes 0 argument(s), got 1"},
      {"@7,70", "command 7 takes 2 argument(s), got 1"},
      {"$7", "no command number"},
      {"$128,2,1", "node 128 out of range 0..127"},
      {"$-1,2,1", "node -1 out of range 0..127"},
      {"@2,0", "monitor 0 out of range 1..16"},
      {"@2,17", "monitor 17 out of range 1..16"},
      {"@3,-1", "camera address -1 out of range"},
      {"@7,0,1", "speed 0% out of range 1..100"},
      {"@7,1,101", "speed 101% out of range 1..100"},
      {"@8,0", "preset location 0 out of range 1..256"},
      {"@9,257", "preset location 257 out of range 1..256"},
      {"@16,4,0", "speed 0% out of range 1..100"},
      {"@16,0,50", "preset location 0 out of range 1..256"},
      {"@47,6", "menu key 6 out of range 0..5"},
      {too_long.c_str(), "line too long (64 bytes)"},
  };
  for (const LineCase& c : cases) {
    Command command = ParseLine(c.line);
    EXPECT_FALSE(command.valid) << c.line;
    EXPECT_EQ(command.error, c.text) << c.line;
    EXPECT_NE(DescribeCommand(command).find("not understood: " + command.error), std::string::npos)
        << c.line;
  }
  // The longest line a dome takes is 63 bytes; that one fails for its number.
  EXPECT_EQ(ParseLine(too_long.substr(0, 63)).error.rfind("bad number", 0), 0u);
  EXPECT_EQ(DescribeLine("$7,5,17"), "node 7: not understood: unknown function 17");
}

TEST(DomesimProtocol, ReplyModeNamesRoundTrip) {
  EXPECT_EQ(AllReplyModes().size(), 8u);
  for (ReplyMode mode : AllReplyModes()) {
    EXPECT_EQ(ParseReplyMode(ReplyModeName(mode)), mode);
  }
  EXPECT_FALSE(ParseReplyMode("OK").has_value());
  EXPECT_FALSE(ParseReplyMode("").has_value());
}

TEST(DomesimProtocol, EscapesBytesForPrinting) {
  EXPECT_EQ(EscapeBytes(std::string("OK\r\n\\ \x00\x7f\xff", 9)), "OK\\r\\n\\\\ \\x00\\x7F\\xFF");
}

// ------------------------------------------------------------------ model

class DomesimModel : public ::testing::Test {
 protected:
  using Clock = DomeModel::Clock;

  void Send(const std::string& line, double at_seconds = 0) {
    Command command = ParseLine(line);
    ASSERT_TRUE(command.valid) << line << ": " << command.error;
    model_.Apply(command, At(at_seconds));
  }
  Clock::time_point At(double seconds) const {
    return t0_ +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  }
  DomeState State(int node, int camera, double at_seconds = 0) const {
    return model_.State(node, camera, At(at_seconds));
  }

  DomeModel model_;
  Clock::time_point t0_ = Clock::now();
};

TEST_F(DomesimModel, EachNodeKeepsItsOwnMonitorAndCamera) {
  Send("@2,3");
  Send("@3,5");
  Send("$7,2,1");
  Send("$7,3,9");
  EXPECT_EQ(model_.Selection(kDirectNode).monitor, 3);
  EXPECT_EQ(model_.Selection(kDirectNode).camera, 5);
  EXPECT_EQ(model_.Selection(7).monitor, 1);
  EXPECT_EQ(model_.Selection(7).camera, 9);
  EXPECT_EQ(model_.Selection(8).camera, 0);

  Send("$7,5,18");
  EXPECT_TRUE(State(7, 9).aux1);
  EXPECT_FALSE(State(kDirectNode, 5).aux1);
  EXPECT_TRUE(State(kDirectNode, 5).selected);
  EXPECT_EQ(State(kDirectNode, 5).monitor, 3);
  EXPECT_FALSE(State(kDirectNode, 9).known);
  EXPECT_FALSE(State(kDirectNode, 9).selected);

  // A later monitor selection does not move a dome already switched.
  Send("@2,4");
  EXPECT_EQ(State(kDirectNode, 5).monitor, 3);
  Send("@3,5");
  EXPECT_EQ(State(kDirectNode, 5).monitor, 4);
}

TEST_F(DomesimModel, CommandsGoToTheSelectedDome) {
  Send("@5,21");  // nothing selected yet: camera address 0
  EXPECT_TRUE(State(kDirectNode, 0).lamps);
  Send("@3,5");
  Send("@5,3");
  Send("@3,6");
  Send("@5,2");
  EXPECT_EQ(State(kDirectNode, 5).pan, PanMotion::kLeft);
  EXPECT_FALSE(State(kDirectNode, 5).selected);
  EXPECT_EQ(State(kDirectNode, 6).pan, PanMotion::kRight);
  EXPECT_EQ(model_.Domes(At(0)).size(), 3u);
}

TEST_F(DomesimModel, FunctionsAreKeysHeldAndReleased) {
  Send("@5,3");
  Send("@5,4");
  DomeState s = State(kDirectNode, 0);
  EXPECT_EQ(s.pan, PanMotion::kLeft);
  EXPECT_EQ(s.tilt, TiltMotion::kUp);
  EXPECT_EQ(s.functions, (std::vector<int>{3, 4}));
  Send("@5,2");  // opposite keys cancel
  EXPECT_EQ(State(kDirectNode, 0).pan, PanMotion::kStopped);
  Send("@6,3");
  EXPECT_EQ(State(kDirectNode, 0).pan, PanMotion::kRight);
  Send("@6,2");
  Send("@6,4");
  Send("@5,5");
  EXPECT_EQ(State(kDirectNode, 0).tilt, TiltMotion::kDown);
  Send("@6,5");
  s = State(kDirectNode, 0);
  EXPECT_EQ(s.pan, PanMotion::kStopped);
  EXPECT_EQ(s.tilt, TiltMotion::kStopped);
  EXPECT_TRUE(s.functions.empty());
  // Releasing a key that was never held changes nothing.
  Send("@6,2");
  EXPECT_TRUE(State(kDirectNode, 0).functions.empty());
}

TEST_F(DomesimModel, LensFunctionsMapToModes) {
  struct Case {
    int code;
    int DomeState::*mode;
    int value;
  };
  const Case cases[] = {{6, &DomeState::zoom, 0},  {7, &DomeState::zoom, 1},
                        {8, &DomeState::focus, 0}, {9, &DomeState::focus, 1},
                        {11, &DomeState::iris, 0}, {10, &DomeState::iris, 1}};
  for (const Case& c : cases) {
    Send("@5," + std::to_string(c.code));
    EXPECT_EQ(State(kDirectNode, 0).*c.mode, c.value) << c.code;
    Send("@6," + std::to_string(c.code));
    EXPECT_EQ(State(kDirectNode, 0).*c.mode, -1) << c.code;
  }
  Send("@5,6");
  Send("@5,7");  // both zoom keys: no zoom
  EXPECT_EQ(State(kDirectNode, 0).zoom, -1);
}

TEST_F(DomesimModel, OutputsSwitchOnAndOff) {
  struct Case {
    int code;
    bool DomeState::*output;
  };
  const Case cases[] = {{18, &DomeState::aux1},      {13, &DomeState::aux2},
                        {24, &DomeState::aux3},      {12, &DomeState::washer},
                        {19, &DomeState::wiper},     {21, &DomeState::lamps},
                        {22, &DomeState::lens_slow}, {23, &DomeState::follow_up}};
  for (const Case& c : cases) {
    Send("@5," + std::to_string(c.code));
    DomeState on = State(kDirectNode, 0);
    EXPECT_TRUE(on.*c.output) << c.code;
    EXPECT_EQ(on.functions, std::vector<int>{c.code});
    Send("@6," + std::to_string(c.code));
    EXPECT_FALSE(State(kDirectNode, 0).*c.output) << c.code;
  }
}

TEST_F(DomesimModel, PositionFollowsSpeedAndTime) {
  Send("@7,10,20", 0);
  Send("@5,2", 0);
  EXPECT_DOUBLE_EQ(State(kDirectNode, 0, 2).position.pan, 20.0);
  Send("@6,2", 2);
  EXPECT_DOUBLE_EQ(State(kDirectNode, 0, 5).position.pan, 20.0);
  // Pan left wraps below 0; the speed changes while moving.
  Send("@5,3", 5);
  Send("@7,30,20", 6);  // 10 degrees at 10%
  EXPECT_DOUBLE_EQ(State(kDirectNode, 0, 7).position.pan, 340.0);
  Send("@6,3", 7);
  // Tilt stops at 90 below the horizon and at the horizon.
  Send("@5,5", 7);
  EXPECT_DOUBLE_EQ(State(kDirectNode, 0, 9).position.tilt, 40.0);
  EXPECT_DOUBLE_EQ(State(kDirectNode, 0, 20).position.tilt, 90.0);
  Send("@6,5", 20);
  Send("@5,4", 20);
  EXPECT_DOUBLE_EQ(State(kDirectNode, 0, 21).position.tilt, 70.0);
  EXPECT_DOUBLE_EQ(State(kDirectNode, 0, 30).position.tilt, 0.0);
  // Without a speed command the dome does not move.
  Send("@3,1", 30);
  Send("@5,2", 30);
  EXPECT_DOUBLE_EQ(State(kDirectNode, 1, 40).position.pan, 0.0);
}

TEST_F(DomesimModel, PresetsStoreAndRecallThePosition) {
  Send("@7,10,10", 0);
  Send("@5,2", 0);
  Send("@9,1", 3);    // at 30
  Send("@9,256", 5);  // at 50
  Send("@8,1", 6);    // back to 30 and on from there
  DomeState s = State(kDirectNode, 0, 6);
  EXPECT_DOUBLE_EQ(s.position.pan, 30.0);
  EXPECT_EQ(s.last_recalled, 1);
  EXPECT_EQ(s.last_recall_speed, 100);
  EXPECT_EQ(s.presets.size(), 2u);
  EXPECT_DOUBLE_EQ(State(kDirectNode, 0, 7).position.pan, 40.0);
  Send("@6,2", 7);
  Send("@16,256,50", 7);
  EXPECT_DOUBLE_EQ(State(kDirectNode, 0, 8).position.pan, 50.0);
  EXPECT_EQ(State(kDirectNode, 0, 8).last_recall_speed, 50);
  // An empty location: the dome stays where it is.
  Send("@16,7,90", 8);
  EXPECT_DOUBLE_EQ(State(kDirectNode, 0, 8).position.pan, 50.0);
  EXPECT_EQ(State(kDirectNode, 0, 8).last_recalled, 7);
  // Presets belong to one dome.
  Send("@3,2", 8);
  Send("@8,1", 8);
  EXPECT_DOUBLE_EQ(State(kDirectNode, 2, 8).position.pan, 0.0);
}

TEST_F(DomesimModel, ResetStopsHomesAndErasesPresets) {
  Send("@2,2");
  Send("@3,4");
  Send("@7,50,50");
  Send("@5,3");
  Send("@5,21");
  Send("@47,5");
  Send("@9,3", 1);
  Send("@4", 2);
  DomeState s = State(kDirectNode, 4, 3);
  EXPECT_TRUE(s.presets.empty());
  EXPECT_TRUE(s.functions.empty());
  EXPECT_FALSE(s.menu_open);
  EXPECT_EQ(s.pan_speed, 0);
  EXPECT_DOUBLE_EQ(s.position.pan, 0.0);
  EXPECT_EQ(s.resets, 1);
  EXPECT_EQ(s.monitor, 2);
  EXPECT_TRUE(s.selected);
}

TEST_F(DomesimModel, MenuOpensClosesAndCountsKeys) {
  Send("@47,1");  // menu closed: the key does nothing
  EXPECT_EQ(State(kDirectNode, 0).menu_keys, 0);
  EXPECT_EQ(State(kDirectNode, 0).last_menu_key, 1);
  Send("@47,5");
  EXPECT_TRUE(State(kDirectNode, 0).menu_open);
  Send("@47,2");
  Send("@47,0");
  EXPECT_EQ(State(kDirectNode, 0).menu_keys, 2);
  EXPECT_EQ(State(kDirectNode, 0).last_menu_key, 0);
  Send("@47,5");
  EXPECT_FALSE(State(kDirectNode, 0).menu_open);
  Send("$7,47,5");
  EXPECT_TRUE(State(7, 0).menu_open);
  EXPECT_FALSE(State(kDirectNode, 0).menu_open);
}

TEST_F(DomesimModel, VersionQueryAndInvalidLinesTouchNoDome) {
  Send("@55");
  model_.Apply(ParseLine("@5,17"), At(0));
  model_.Apply(ParseLine("$128,3,1"), At(0));
  EXPECT_TRUE(model_.Domes(At(0)).empty());
  EXPECT_EQ(model_.Selection(kDirectNode).camera, 0);
}

TEST_F(DomesimModel, StatusLineShowsMotionLensAndOutputs) {
  Send("$7,2,1");
  Send("$7,3,5");
  Send("$7,7,70,1");
  Send("$7,5,3");
  Send("$7,5,8");
  Send("$7,5,22");
  Send("$7,5,18");
  Send("$7,9,2");
  EXPECT_EQ(FormatStatus(State(7, 5, 1)),
            "[node 7 cam 5] mon 1 | pan left 70% tilt - 1% | zoom - focus 0 iris - | on: AUX1 "
            "lens slow | presets 1 | at 290.0/0.0");
  EXPECT_EQ(FormatStatus(State(7, 5, 1), false).find(" | at "), std::string::npos);
}

}  // namespace
}  // namespace domesim
