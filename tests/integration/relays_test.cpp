// Relays from the host's side: switching, toggling, pulses that end by
// themselves, the functions the outputs are assigned, names and states.
#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "host_fixture.h"

namespace q7host {
namespace {

using RelayTest = HostTest;
using Lines = std::vector<std::string>;
using std::chrono::milliseconds;

struct Relay {
  int result;
  int capabilities;
  int state;
  std::string name;
};

Relay ReadRelay(const Api& a, int handle, int relay) {
  VRT_RelayRecord record;
  std::memset(&record, 0x5A, sizeof record);
  record.handle = handle;
  record.relay = relay;
  Relay out{a.VRT_CamGetRelay(&record), 0, 0, ""};
  if (out.result == 1) {
    out.capabilities = record.capabilities;
    out.state = record.state;
    EXPECT_EQ(record.name[32], '\0');
    out.name = record.name;
  }
  return out;
}

int RelayCount(const Api& a, int handle) {
  VRT_RelayRecord record;
  std::memset(&record, 0x5A, sizeof record);
  record.handle = handle;
  record.relay = -1;
  return a.VRT_CamGetRelay(&record);
}

TEST_F(RelayTest, SwitchAndToggleTheAuxiliaryOutputs) {
  const int handle = StartCamera();
  const Api& a = api();
  EXPECT_EQ(RelayCount(a, handle), 3);
  for (int i = 0; i < 3; ++i) {
    const Relay relay = ReadRelay(a, handle, i);
    EXPECT_EQ(relay.result, 1);
    EXPECT_EQ(relay.name, "Relay" + std::to_string(i + 1));
    EXPECT_EQ(relay.capabilities, 7);
    EXPECT_EQ(relay.state, 1);
  }
  EXPECT_TRUE(HasLogLine("CAM.GetRelayState: relay = 2 OK.(TavoID 1)"));
  EXPECT_EQ(ReadRelay(a, handle, 3).result, -27);
  EXPECT_EQ(ReadRelay(a, handle, -2).result, -27);

  EXPECT_EQ(a.VRT_CamSetRelay(handle, 0, 1, 0), 1);
  EXPECT_EQ(Wire(), Lines{"@5,18"});
  EXPECT_TRUE(Simulator(1).State(128, 5).aux1);
  EXPECT_TRUE(HasLogLine("RELAY.Set: Relay 'Relay1' SUCCESFULLY set to state 1"));
  EXPECT_TRUE(HasLogLine("CAM.SetRelay: OK (TavoID 1), relay: 0 mode: 1, time: 0"));
  EXPECT_EQ(a.VRT_CamSetRelay(handle, 0, 0, 0), 1);
  EXPECT_EQ(Wire(), Lines{"@6,18"});
  EXPECT_EQ(ReadRelay(a, handle, 0).state, 0);
  EXPECT_FALSE(Simulator(1).State(128, 5).aux1);
  // Toggle: off to on and back.
  EXPECT_EQ(a.VRT_CamSetRelay(handle, 0, 2, 0), 1);
  EXPECT_EQ(ReadRelay(a, handle, 0).state, 1);
  EXPECT_EQ(a.VRT_CamSetRelay(handle, 0, 2, 0), 1);
  EXPECT_EQ(ReadRelay(a, handle, 0).state, 0);
  EXPECT_EQ(Wire(), (Lines{"@5,18", "@6,18"}));
  // Another mode switches off and leaves the state as it was.
  EXPECT_EQ(a.VRT_CamSetRelay(handle, 2, 1, 0), 1);
  EXPECT_EQ(a.VRT_CamSetRelay(handle, 2, 9, 0), 1);
  EXPECT_EQ(a.VRT_CamSetRelay(handle, 2, -1, 0), 1);
  EXPECT_EQ(ReadRelay(a, handle, 2).state, 1);
  EXPECT_EQ(Wire(), (Lines{"@5,24", "@6,24", "@6,24"}));
  // No such relay: nothing sent, nothing logged.
  const size_t logLines = LogLines().size();
  EXPECT_EQ(a.VRT_CamSetRelay(handle, 3, 1, 0), -27);
  EXPECT_EQ(a.VRT_CamSetRelay(handle, -1, 1, 0), -27);
  EXPECT_EQ(LogLines().size(), logLines);
  EXPECT_EQ(Wire(), Lines());
}

TEST_F(RelayTest, AssignedFunctions) {
  CameraConfig camera;
  camera.extraKeys = {{"Aux1Func", "1"}, {"Aux2Func", "3"}, {"Aux3Func", "2"}};
  CameraConfig other;
  other.name = "Yard";
  other.tavoId = 1;
  other.sysId = 6;
  other.extraKeys = {{"Aux1Func", "-1"}, {"Aux2Func", "7"}, {"Aux3Func", "3"}};
  WriteSettings({{"Line 1", 1, "96,E,8,1", {camera, other}}});
  Simulator(1);
  ASSERT_EQ(Init(), 1);
  const int gate = Open(0);
  const int yard = Open(1);
  Wire();
  const Api& a = api();
  // Toggles, so that relay 1 starts no wash pulse.
  for (int relay = 0; relay < 3; ++relay) {
    EXPECT_EQ(a.VRT_CamSetRelay(gate, relay, 2, 0), 1);
    EXPECT_EQ(a.VRT_CamSetRelay(gate, relay, 2, 0), 1);
  }
  // The line had Yard selected: Gate's relays are Gate's.
  EXPECT_EQ(Wire(), (Lines{"@2,1", "@3,5", "@6,12", "@5,12", "@6,21", "@5,21", "@6,19", "@5,19"}));
  // Values outside 0 to 3 in the file load as the outputs' own functions.
  for (int relay = 0; relay < 3; ++relay) EXPECT_EQ(a.VRT_CamSetRelay(yard, relay, 0, 0), 1);
  EXPECT_EQ(Wire(), (Lines{"@2,1", "@3,6", "@6,18", "@6,13", "@6,21"}));
  const domesim::DomeState gateDome = Simulator(1).State(128, 5);
  EXPECT_TRUE(gateDome.washer);
  EXPECT_TRUE(gateDome.lamps);
  EXPECT_TRUE(gateDome.wiper);
  EXPECT_FALSE(Simulator(1).State(128, 6).lamps);
}

TEST_F(RelayTest, RelaysBeyondTheThirdDriveNothing) {
  CameraConfig camera;
  camera.nofRelays = 5;
  const int handle = StartCamera(camera);
  const Api& a = api();
  EXPECT_EQ(RelayCount(a, handle), 5);
  EXPECT_EQ(ReadRelay(a, handle, 4).name, "Relay5");
  EXPECT_EQ(a.VRT_CamSetRelay(handle, 3, 1, 0), 1);
  EXPECT_EQ(a.VRT_CamSetRelay(handle, 4, 0, 0), 1);
  EXPECT_EQ(a.VRT_CamSetRelay(handle, 4, 3, 100), 1);
  EXPECT_TRUE(HasLogLine("CAM.SetRelay: OK (TavoID 1), relay: 3 mode: 1, time: 0"));
  EXPECT_EQ(a.VRT_CamSetRelay(handle, 5, 1, 0), -27);
  // Once the pulse's end is logged (after the switch-off's own line), it too
  // has sent nothing.
  EXPECT_TRUE(WaitForLogLine("RELAY.Set: Relay 'Relay5' SUCCESFULLY set to state 0", 2000, 2));
  EXPECT_EQ(Wire(), Lines());
  EXPECT_EQ(ReadRelay(a, handle, 4).state, 0);  // the pulse ended
  VRT_CameraProperties properties{};
  properties.handle = handle;
  ASSERT_EQ(a.VRT_CamGetProperties(&properties), 1);
  EXPECT_EQ(properties.relayCount, 5);
}

// Milliseconds between the receipt of two lines.
int64_t Between(const domesim::ReceivedLine& first, const domesim::ReceivedLine& second) {
  return std::chrono::duration_cast<milliseconds>(second.when - first.when).count();
}

TEST_F(RelayTest, TimedPulseEndsByItself) {
  const int handle = StartCamera();
  const Api& a = api();
  domesim::DomeSimulator& sim = Simulator(1);
  EXPECT_EQ(a.VRT_CamSetRelay(handle, 0, 3, 500), 1);
  EXPECT_EQ(ReadRelay(a, handle, 0).state, 1);
  ASSERT_TRUE(sim.WaitForLines(2, 3000));
  const std::vector<domesim::ReceivedLine> records = sim.Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].line, "@5,18");
  EXPECT_EQ(records[1].line, "@6,18");
  EXPECT_GE(Between(records[0], records[1]), 480);
  EXPECT_LE(Between(records[0], records[1]), 1000);
  // Written by the line's worker after the dome answered.
  EXPECT_TRUE(WaitForLogLine("RELAY.Set: Relay 'Relay1' SUCCESFULLY set to state 0", 2000));
  EXPECT_EQ(ReadRelay(a, handle, 0).state, 0);
  EXPECT_FALSE(sim.State(128, 5).aux1);
}

TEST_F(RelayTest, SecondRelaySwitchedOnWashesForTheCameraPulseTime) {
  CameraConfig camera;
  camera.washPulseTime = 300;
  const int handle = StartCamera(camera);
  const Api& a = api();
  domesim::DomeSimulator& sim = Simulator(1);
  EXPECT_EQ(a.VRT_CamSetRelay(handle, 1, 1, 0), 1);
  ASSERT_TRUE(sim.WaitForLines(2, 3000));
  const std::vector<domesim::ReceivedLine> records = sim.Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].line, "@5,13");
  EXPECT_EQ(records[1].line, "@6,13");
  EXPECT_GE(Between(records[0], records[1]), 280);
  EXPECT_LE(Between(records[0], records[1]), 800);
  // The first relay switched on stays on.
  sim.ClearLines();
  EXPECT_EQ(a.VRT_CamSetRelay(handle, 0, 1, 0), 1);
  std::this_thread::sleep_for(milliseconds(500));
  EXPECT_EQ(Wire(), Lines{"@5,18"});
}

TEST_F(RelayTest, ANewCommandCancelsThePendingSwitchOff) {
  CameraConfig camera;
  camera.washPulseTime = 300;
  const int handle = StartCamera(camera);
  const Api& a = api();
  EXPECT_EQ(a.VRT_CamSetRelay(handle, 0, 3, 300), 1);
  EXPECT_EQ(a.VRT_CamSetRelay(handle, 0, 1, 0), 1);
  EXPECT_EQ(a.VRT_CamSetRelay(handle, 1, 1, 0), 1);
  EXPECT_EQ(a.VRT_CamSetRelay(handle, 1, 2, 0), 1);  // toggled off before its end
  std::this_thread::sleep_for(milliseconds(800));
  EXPECT_EQ(Wire(), (Lines{"@5,18", "@5,18", "@5,13", "@6,13"}));
  EXPECT_EQ(ReadRelay(a, handle, 0).state, 1);
  EXPECT_EQ(ReadRelay(a, handle, 1).state, 0);
  // Closing the camera drops a pulse without its off command.
  EXPECT_EQ(a.VRT_CamSetRelay(handle, 2, 3, 200), 1);
  EXPECT_EQ(a.VRT_CamClose(handle), 1);
  std::this_thread::sleep_for(milliseconds(400));
  EXPECT_EQ(Wire(), Lines{"@5,24"});
}

TEST_F(RelayTest, RenameARelay) {
  const int handle = StartCamera();
  const Api& a = api();
  EXPECT_EQ(a.VRT_CamSetRelayName(handle, 1, "Washer"), 1);
  EXPECT_TRUE(HasLogLine("CAM.SetRelayName: OK (TavoID 1), name: 'Washer'"));
  EXPECT_EQ(ReadRelay(a, handle, 1).name, "Washer");
  const std::string forty(40, 'r');
  EXPECT_EQ(a.VRT_CamSetRelayName(handle, 2, forty.c_str()), 1);
  EXPECT_EQ(ReadRelay(a, handle, 2).name, std::string(31, 'r'));
  EXPECT_EQ(a.VRT_CamSetRelayName(handle, 3, "None"), -27);
  EXPECT_EQ(a.VRT_CamSetRelay(handle, 1, 2, 0), 1);
  EXPECT_TRUE(HasLogLine("RELAY.Set: Relay 'Washer' SUCCESFULLY set to state 0"));
  EXPECT_EQ(Wire(), Lines{"@6,13"});
}

TEST_F(RelayTest, AFailedSaveIsNotLoggedAsSaved) {
  const int handle = StartCamera();
  const Api& a = api();
  ASSERT_EQ(chmod(SettingsPath().c_str(), 0444), 0);
  EXPECT_EQ(a.VRT_CamSetRelayName(handle, 1, "Washer"), -22);
  EXPECT_TRUE(HasLogLine("Exeption occured: -22"));
  EXPECT_TRUE(LacksLogLine("CAM.Save: TAVO Camera 1 save OK."));
  EXPECT_TRUE(LacksLogLine("CAM.SaveRelays: TAVO Camera 1 relays save OK (3 programs)."));
  EXPECT_TRUE(
      LacksLogLine("CAM.SavePrePositions: TAVO Camera 1 preposition save OK (0 positions)."));
  ASSERT_EQ(chmod(SettingsPath().c_str(), 0644), 0);
  EXPECT_EQ(a.VRT_CamSetRelayName(handle, 1, "Washer"), 1);
  EXPECT_TRUE(HasLogLine("CAM.Save: TAVO Camera 1 save OK."));
  EXPECT_TRUE(HasLogLine("CAM.SaveRelays: TAVO Camera 1 relays save OK (3 programs)."));
  EXPECT_NE(ReadFile(SettingsPath()).find("Washer"), std::string::npos);
}

}  // namespace
}  // namespace q7host
