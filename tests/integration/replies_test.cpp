// What the driver makes of the dome's answers: accepted codes, re-sent lines,
// a silent dome, a node off line, and a port that vanishes under an open
// camera.

#include "host_fixture.h"

namespace q7host {
namespace {

using ReplyTest = HostTest;
using Lines = std::vector<std::string>;
using domesim::ReplyMode;

TEST_F(ReplyTest, NotImplementedIsAnAnswer) {
  const int handle = StartCamera();
  Simulator(1).SetReplyMode(ReplyMode::kNi);
  EXPECT_EQ(api().VRT_CamSetRelay(handle, 0, 1, 0), 1);
  EXPECT_EQ(api().VRT_CamLeft(handle, 12), 1);
  EXPECT_EQ(Wire(), (Lines{"@5,18", "@5,3", "@7,70,1", "@5,23"}));
}

TEST_F(ReplyTest, ErrorsAndGarbageAreResentThreeTimes) {
  const int handle = StartCamera();
  for (ReplyMode mode : {ReplyMode::kEr, ReplyMode::kGarbage}) {
    SCOPED_TRACE(domesim::ReplyModeName(mode));
    Simulator(1).SetReplyMode(mode);
    EXPECT_EQ(api().VRT_CamSetRelay(handle, 0, 0, 0), 1);
    EXPECT_EQ(Wire(), Lines(4, "@6,18"));
  }
  // A single bad answer costs one re-send.
  Simulator(1).SetReplyMode(ReplyMode::kOk);
  Simulator(1).QueueReply("XY\r");
  EXPECT_EQ(api().VRT_CamSetRelay(handle, 0, 1, 0), 1);
  EXPECT_EQ(Wire(), Lines(2, "@5,18"));
  EXPECT_TRUE(Simulator(1).State(128, 5).aux1);
}

// The open sequence reads the lens-slow answer once and goes on without it.
// When that answer comes after the read gave up, it waits in the receive
// buffer: the next command must not take it for its own answer, or every
// later call of the line returns before the dome has acted on its command.
TEST_F(ReplyTest, AnAnswerLaterThanItsReadIsNotTakenForTheNextLines) {
  WriteSettings({{"Line 1", 1, "96,E,8,1", {Camera("Gate", 0, 5)}}});
  // The open sequence: the selection twice, function 23, the lens-slow state
  // last. Its answer comes 300 ms after the driver's 2 s read gave up.
  for (int i = 0; i < 5; ++i) Simulator(1).QueueReply("OK\r");
  Simulator(1).QueueReply("OK\r", 2300);
  ASSERT_EQ(Init(), 1);
  const int handle = Open(0);
  ASSERT_EQ(Wire(), (Lines{"@2,1", "@3,5", "@5,23", "@2,1", "@3,5", "@6,22"}));
  ASSERT_EQ(Simulator(1).QueuedReplies(), 0u);
  // Until the late answer is in.
  ASSERT_TRUE(Simulator(1).WaitForAnswered(6, 3000));
  // The pan start is refused once: it is sent again, not answered by the
  // late "OK" of the lens-slow line.
  Simulator(1).QueueReply("ER\r");
  EXPECT_EQ(api().VRT_CamLeft(handle, 12), 1);
  EXPECT_EQ(Wire(), (Lines{"@5,3", "@5,3", "@7,70,1", "@5,23"}));
  // Each call returns once the dome has its command.
  EXPECT_EQ(Simulator(1).State(128, 5).pan, domesim::PanMotion::kLeft);
  EXPECT_EQ(api().VRT_CamLeft(handle, 0), 1);
  EXPECT_EQ(Simulator(1).State(128, 5).pan, domesim::PanMotion::kStopped);
  EXPECT_EQ(Wire(), (Lines{"@6,3"}));
}

TEST_F(ReplyTest, ShortRepliesAreResentWithoutWaitingOutTheTimeOut) {
  for (ReplyMode mode : {ReplyMode::kShort, ReplyMode::kCr}) {
    SCOPED_TRACE(domesim::ReplyModeName(mode));
    WriteSettings({{"Line 1", 1, "96,E,8,1", {CameraConfig()}}});
    Simulator(1).SetReplyMode(mode);
    ASSERT_EQ(Init(), 1);
    int64_t start = NowMs();
    const int handle = Open(0);
    EXPECT_LT(NowMs() - start, 2000);
    // Six lines, each sent four times but lens slow, whose reply is not
    // looked at.
    EXPECT_EQ(Wire().size(), 21u);
    start = NowMs();
    EXPECT_EQ(api().VRT_CamLeft(handle, 0), 1);
    EXPECT_LT(NowMs() - start, 1000);
    EXPECT_EQ(Wire(), Lines(4, "@6,3"));
    EXPECT_EQ(Exit(), 1);
  }
}

TEST_F(ReplyTest, NodeOffLineIsLogged) {
  CameraConfig camera;
  camera.nodeAddress = 3;
  const int handle = StartCamera(camera);
  Simulator(1).SetReplyMode(ReplyMode::kOl);
  EXPECT_EQ(api().VRT_CamRight(handle, 5), 1);
  EXPECT_EQ(Wire(), (Lines{"$3,5,2", "$3,7,54,1", "$3,5,23"}));
  EXPECT_TRUE(LogContains("Serial.ReadData: Remote node off line"));
  EXPECT_TRUE(HasLogLine("CAM.Right: speed = 5 OK. (TavoID 1)"));
}

// The one slow test: every read waits its full time-out.
TEST_F(ReplyTest, SilentDomeCostsFourReads) {
  const int handle = StartCamera();
  Simulator(1).SetReplyMode(ReplyMode::kSilent);
  const int64_t start = NowMs();
  EXPECT_EQ(api().VRT_CamLeft(handle, 0), 1);  // a stop: one line
  const int64_t took = NowMs() - start;
  EXPECT_GE(took, 7500);
  EXPECT_LE(took, 12000);
  EXPECT_EQ(Wire(), Lines(4, "@6,3"));
  EXPECT_TRUE(HasLogLine("CAM.Left: speed = 0 OK. (TavoID 1)"));
}

TEST_F(ReplyTest, VanishedPortFailsFastAndComesBack) {
  const int handle = StartCamera();
  const Api& a = api();
  Simulator(1).Hangup();
  int64_t start = NowMs();
  EXPECT_EQ(a.VRT_CamLeft(handle, 5), -4);
  EXPECT_LT(NowMs() - start, 1500);
  EXPECT_TRUE(HasLogLine("COMM.SendMsg: data write error: -4"));
  EXPECT_TRUE(HasLogLine("CAM.Left: speed = 5 FAILED (error -4, TavoID 1)."));
  // Whatever comes next answers at once and never hangs.
  start = NowMs();
  EXPECT_EQ(a.VRT_CamLeft(handle, 0), 1);  // a stop always answers 1
  EXPECT_EQ(a.VRT_CamSetRelay(handle, 0, 1, 0), -4);
  EXPECT_EQ(a.VRT_CamSetPrePositionName(handle, "Door"), -4);
  EXPECT_EQ(a.VRT_CamZoom(handle, 0, 4), -4);
  EXPECT_EQ(a.VRT_CamZoom(handle, 0, 0), 1);
  VRT_CameraProperties properties{};
  properties.handle = handle;
  EXPECT_EQ(a.VRT_CamGetProperties(&properties), 1);
  EXPECT_EQ(properties.presetCount, 0);
  EXPECT_LT(NowMs() - start, 3000);
  EXPECT_TRUE(HasLogLine("CAM.SetPrePositionName: name = 'Door' FAILED (error -4)."));
  // The host closes and opens the camera again once the port is back.
  EXPECT_EQ(a.VRT_CamClose(handle), 1);
  Simulator(1).Reopen();
  const int again = Open(0);
  ASSERT_NE(again, 0);
  Wire();
  EXPECT_EQ(a.VRT_CamLeft(again, 5), 1);
  EXPECT_EQ(Wire(), (Lines{"@5,3", "@7,54,1", "@5,23"}));
}

TEST_F(ReplyTest, PortClosedForGoodWhileCamerasAreOpen) {
  CameraConfig second;
  second.name = "Yard";
  second.tavoId = 1;
  second.sysId = 6;
  WriteSettings({{"Line 1", 1, "96,E,8,1", {CameraConfig(), second}}});
  Simulator(1);
  ASSERT_EQ(Init(), 1);
  const int gate = Open(0);
  const int yard = Open(1);
  Simulator(1).Close();
  const Api& a = api();
  const int64_t start = NowMs();
  EXPECT_EQ(a.VRT_CamUp(gate, 3), -4);
  EXPECT_EQ(a.VRT_CamDown(yard, 3), -4);
  EXPECT_EQ(a.VRT_CamMoveToPrePosition(yard, 0, 3), -23);
  EXPECT_EQ(a.VRT_CamClose(gate), 1);
  EXPECT_EQ(a.VRT_CamClose(yard), 1);
  EXPECT_LT(NowMs() - start, 3000);
  EXPECT_EQ(Exit(), 1);
}

}  // namespace
}  // namespace q7host
