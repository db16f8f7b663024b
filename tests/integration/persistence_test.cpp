// What a host stores survives the end of the module and a new load of the
// library: presets with their locations, relay names, and names with
// characters that mean something in XML or in key paths.
#include <sys/stat.h>

#include <cstring>

#include "host_fixture.h"

namespace q7host {
namespace {

using PersistenceTest = HostTest;
using Lines = std::vector<std::string>;

std::string PresetName(const Api& a, int handle, int position) {
  VRT_PresetRecord record;
  std::memset(&record, 0, sizeof record);
  record.handle = handle;
  record.position = position;
  return a.VRT_CamGetPrePosition(&record) == 1 ? std::string(record.name) : "<none>";
}

std::string RelayName(const Api& a, int handle, int relay) {
  VRT_RelayRecord record;
  std::memset(&record, 0, sizeof record);
  record.handle = handle;
  record.relay = relay;
  return a.VRT_CamGetRelay(&record) == 1 ? std::string(record.name) : "<none>";
}

int PresetCount(const Api& a, int handle) {
  VRT_PresetRecord record{};
  record.handle = handle;
  record.position = -1;
  return a.VRT_CamGetPrePosition(&record);
}

class ReloadTest : public HostTest {
 protected:
  // Ends the module, unloads the library and loads it again from the same
  // directory, as a host that is restarted; returns the camera's new handle.
  int Restart() {
    EXPECT_EQ(Exit(), 1);
    Unload();
    EXPECT_EQ(Init(), 1);
    const int handle = Open(0);
    Wire();
    return handle;
  }
};

TEST_F(ReloadTest, PresetsAndRelayNamesSurviveARestart) {
  int handle = StartCamera();
  const Api* a = &api();
  ASSERT_EQ(a->VRT_CamSetPrePosition(handle, 0, "Door"), 1);
  ASSERT_EQ(a->VRT_CamSetPrePositionName(handle, "Yard"), 1);
  ASSERT_EQ(a->VRT_CamSetPrePositionName(handle, "Gone"), 1);
  ASSERT_EQ(a->VRT_CamSetPrePosition(handle, 3, "Roof"), 1);
  ASSERT_EQ(a->VRT_CamDeletePrePositionName(handle, "Gone"), 1);
  ASSERT_EQ(a->VRT_CamSetRelayName(handle, 0, "Pump"), 1);
  ASSERT_EQ(a->VRT_CamSetRelayName(handle, 2, "Light"), 1);
  Wire();

  handle = Restart();
  a = &api();
  EXPECT_EQ(PresetCount(*a, handle), 3);
  EXPECT_EQ(PresetName(*a, handle, 0), "Door");
  EXPECT_EQ(PresetName(*a, handle, 1), "Yard");
  EXPECT_EQ(PresetName(*a, handle, 2), "Roof");
  EXPECT_EQ(RelayName(*a, handle, 0), "Pump");
  EXPECT_EQ(RelayName(*a, handle, 1), "Relay2");
  EXPECT_EQ(RelayName(*a, handle, 2), "Light");
  // Each preset keeps its location in the dome.
  EXPECT_EQ(a->VRT_CamMoveToPrePositionName(handle, "Roof", 1), 1);
  EXPECT_EQ(a->VRT_CamMoveToPrePosition(handle, 1, 1), 1);
  EXPECT_EQ(a->VRT_CamMoveToPrePositionName(handle, "Gone", 1), -23);
  EXPECT_EQ(Wire(), (Lines{"@16,4,90", "@16,2,90"}));
  // The location of the deleted preset is the free one.
  EXPECT_EQ(a->VRT_CamSetPrePositionName(handle, "New"), 1);
  EXPECT_EQ(Wire(), Lines{"@9,3"});

  // A second restart reads back what the first one wrote.
  ASSERT_EQ(a->VRT_CamDeletePrePositionName(handle, "Door"), 1);
  handle = Restart();
  a = &api();
  EXPECT_EQ(PresetCount(*a, handle), 3);
  EXPECT_EQ(PresetName(*a, handle, 0), "Yard");
  EXPECT_EQ(PresetName(*a, handle, 2), "New");
  EXPECT_EQ(a->VRT_CamMoveToPrePositionName(handle, "New", 1), 1);
  EXPECT_EQ(Wire(), Lines{"@16,3,90"});
  EXPECT_EQ(RelayName(*a, handle, 0), "Pump");
}

TEST_F(ReloadTest, NamesWithSpecialCharactersRoundTrip) {
  const std::vector<std::string> names = {
      "Front door",
      "50% zoom",
      "a/b/c",
      "[1]",
      "say \"hi\"",
      "<tag> & more",
      "it's",
      "Caf\xe9",
      "%s%d%n",
      "comm1/cam1",
      "Gr\xfc\xdf"
      "e \xa9",
      "  padded  ",
  };
  int handle = StartCamera();
  const Api* a = &api();
  for (const std::string& name : names)
    ASSERT_EQ(a->VRT_CamSetPrePositionName(handle, name.c_str()), 1) << name;
  ASSERT_EQ(a->VRT_CamSetRelayName(handle, 1, "Pump <1> & \"2\" %d"), 1);
  ASSERT_EQ(a->VRT_CamSetRelayName(handle, 2, "L\xe4mpchen"), 1);
  Wire();
  // The file is ISO-8859-1: a Latin-1 name is one byte per letter there.
  const std::string file = ReadFile(SettingsPath());
  EXPECT_EQ(file.find("Caf\xc3\xa9"), std::string::npos);

  handle = Restart();
  a = &api();
  ASSERT_EQ(PresetCount(*a, handle), static_cast<int>(names.size()));
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(PresetName(*a, handle, static_cast<int>(i)), names[i]);
    EXPECT_EQ(a->VRT_CamMoveToPrePositionName(handle, names[i].c_str(), 1), 1) << names[i];
    EXPECT_EQ(Wire(), Lines{"@16," + std::to_string(i + 1) + ",90"}) << names[i];
  }
  EXPECT_EQ(RelayName(*a, handle, 1), "Pump <1> & \"2\" %d");
  EXPECT_EQ(RelayName(*a, handle, 2), "L\xe4mpchen");
  EXPECT_EQ(RelayName(*a, handle, 0), "Relay1");
}

TEST_F(ReloadTest, OtherCamerasAndConnectionsAreKept) {
  CameraConfig gate;
  CameraConfig yard;
  yard.name = "Yard";
  yard.tavoId = 4;
  yard.sysId = 9;
  yard.nodeAddress = 3;
  yard.camAccFactor = 9;
  yard.extraKeys = {{"Aux2Func", "3"}};
  CameraConfig hall;
  hall.name = "Hall";
  hall.tavoId = 2;
  hall.sysId = 1;
  WriteSettings({{"Line 1", 1, "96,E,8,1", {gate, yard}}, {"Line 2", 2, "96,E,8,1", {hall}}});
  Simulator(1);
  Simulator(2);
  ASSERT_EQ(Init(), 1);
  int handle = Open(0);
  ASSERT_EQ(api().VRT_CamSetPrePositionName(handle, "Door"), 1);
  ASSERT_EQ(api().VRT_CamSetRelayName(handle, 0, "Pump"), 1);
  handle = Restart();
  VRT_ModuleProperties properties{};
  ASSERT_EQ(api().VRT_CamGetModuleProperties(&properties), 1);
  EXPECT_EQ(int{properties.cameraCount}, 3);
  EXPECT_EQ(int{properties.connections}, 200);
  // The other camera keeps its settings: node, speed level, relay function.
  int yardHandle = Open(4);
  Wire();
  EXPECT_EQ(api().VRT_CamLeft(yardHandle, 12), 1);
  EXPECT_EQ(api().VRT_CamSetRelay(yardHandle, 1, 0, 0), 1);
  EXPECT_EQ(Wire(), (Lines{"$3,5,3", "$3,7,100,1", "$3,5,23", "$3,6,21"}));
  const int hallHandle = Open(2);
  EXPECT_EQ(api().VRT_CamRight(hallHandle, 1), 1);
  EXPECT_EQ(Wire(2),
            (Lines{"@2,1", "@3,1", "@5,23", "@2,1", "@3,1", "@6,22", "@5,2", "@7,54,1", "@5,23"}));
  EXPECT_EQ(PresetName(api(), handle, 0), "Door");
  EXPECT_EQ(RelayName(api(), handle, 0), "Pump");
}

TEST_F(ReloadTest, PresetNumbersSurviveARestart) {
  int handle = StartCamera();
  const Api* a = &api();
  ASSERT_EQ(a->VRT_CamSetPrePositionName(handle, "A"), 1);
  ASSERT_EQ(a->VRT_CamSetPrePositionName(handle, "B"), 1);
  ASSERT_EQ(a->VRT_CamSetPrePositionName(handle, "C"), 1);
  ASSERT_EQ(a->VRT_CamDeletePrePositionName(handle, "B"), 1);
  // By number at the end: it takes the location B had.
  ASSERT_EQ(a->VRT_CamSetPrePosition(handle, 2, "D"), 1);
  ASSERT_EQ(a->VRT_CamSetPrePosition(handle, 3, "E"), 1);
  EXPECT_EQ(Wire(), (Lines{"@9,1", "@9,2", "@9,3", "@9,2", "@9,4"}));
  const Lines before = {"A", "C", "D", "E"};
  for (size_t i = 0; i < before.size(); ++i)
    EXPECT_EQ(PresetName(*a, handle, static_cast<int>(i)), before[i]);

  handle = Restart();
  a = &api();
  ASSERT_EQ(PresetCount(*a, handle), 4);
  for (size_t i = 0; i < before.size(); ++i)
    EXPECT_EQ(PresetName(*a, handle, static_cast<int>(i)), before[i]) << i;
  // Each number recalls the location it recalled before.
  for (int i = 0; i < 4; ++i) ASSERT_EQ(a->VRT_CamMoveToPrePosition(handle, i, 1), 1);
  EXPECT_EQ(Wire(), (Lines{"@16,1,90", "@16,3,90", "@16,2,90", "@16,4,90"}));
}

TEST_F(ReloadTest, AStoreWhoseSaveFailedLeavesNoPreset) {
  int handle = StartCamera();
  const Api* a = &api();
  ASSERT_EQ(a->VRT_CamSetPrePositionName(handle, "A"), 1);
  ASSERT_EQ(chmod(SettingsPath().c_str(), 0444), 0);
  EXPECT_EQ(a->VRT_CamSetPrePositionName(handle, "X"), -22);
  EXPECT_EQ(a->VRT_CamSetPrePosition(handle, 1, "Y"), -22);
  EXPECT_EQ(PresetCount(*a, handle), 1);
  EXPECT_TRUE(LacksLogLine("CAM.SetPrePositionName: name = 'X' OK."));
  ASSERT_EQ(chmod(SettingsPath().c_str(), 0644), 0);
  // The next write of the file holds only what the host was told of.
  ASSERT_EQ(a->VRT_CamDeletePrePositionName(handle, "A"), 1);
  handle = Restart();
  a = &api();
  EXPECT_EQ(PresetCount(*a, handle), 0);

  // The location of a failed store is free again.
  ASSERT_EQ(a->VRT_CamSetPrePositionName(handle, "B"), 1);
  ASSERT_EQ(chmod(SettingsPath().c_str(), 0444), 0);
  EXPECT_EQ(a->VRT_CamSetPrePosition(handle, 1, "Z"), -22);
  ASSERT_EQ(chmod(SettingsPath().c_str(), 0644), 0);
  ASSERT_EQ(a->VRT_CamSetPrePositionName(handle, "C"), 1);
  EXPECT_EQ(Wire(), (Lines{"@9,1", "@9,2", "@9,2"}));
}

}  // namespace
}  // namespace q7host
