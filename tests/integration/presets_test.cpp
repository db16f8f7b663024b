// Presets from the host's side: store, recall, read and delete, by number and
// by name, with the dome's storage locations behind them.
#include <cstring>

#include "host_fixture.h"

namespace q7host {
namespace {

using PresetTest = HostTest;
using Lines = std::vector<std::string>;

struct Preset {
  int result;
  std::string name;
  int active;
};

Preset ReadPreset(const Api& a, int handle, int position) {
  VRT_PresetRecord record;
  std::memset(&record, 0x5A, sizeof record);
  record.handle = handle;
  record.position = position;
  Preset preset;
  preset.result = a.VRT_CamGetPrePosition(&record);
  if (preset.result == 1) {
    EXPECT_EQ(record.position, position);
    EXPECT_EQ(record.name[32], '\0');
    preset.name = record.name;
    preset.active = record.active;
  }
  return preset;
}

int PresetCount(const Api& a, int handle) {
  VRT_PresetRecord record;
  std::memset(&record, 0x5A, sizeof record);
  record.handle = handle;
  record.position = -1;
  const int count = a.VRT_CamGetPrePosition(&record);
  // The record is left as it was.
  EXPECT_EQ(record.handle, handle);
  EXPECT_EQ(static_cast<unsigned char>(record.name[0]), 0x5Au);
  return count;
}

// A preset stored by name is saved first, then the whole camera: in a file
// whose camera lacks keys, the new preset's node comes before the keys the
// camera's save adds (other readers and diffs see that order), and on a
// second store by name the new node comes after the first.
TEST_F(PresetTest, StoringByNameSavesThePresetBeforeTheCamerasKeys) {
  const int handle = StartCamera();
  const Api& a = api();
  ASSERT_EQ(ReadFile(SettingsPath()).find("<Aux1Func"), std::string::npos);
  ASSERT_EQ(a.VRT_CamSetPrePositionName(handle, "Yard"), 1);
  const std::string file = ReadFile(SettingsPath());
  const size_t preset = file.find("<PrePos1>");
  const size_t added = file.find("<Aux1Func ");
  ASSERT_NE(preset, std::string::npos) << file;
  ASSERT_NE(added, std::string::npos) << file;
  EXPECT_LT(preset, added) << file;
  EXPECT_LT(file.find("<Name value=\"Yard\""), added) << file;
  ASSERT_EQ(a.VRT_CamSetPrePositionName(handle, "Gate"), 1);
  const std::string again = ReadFile(SettingsPath());
  EXPECT_LT(again.find("<PrePos1>"), again.find("<PrePos2>")) << again;
  EXPECT_EQ(ReadPreset(a, handle, 1).name, "Gate");
}

TEST_F(PresetTest, StoreAndRecallByNumberAndByName) {
  const int handle = StartCamera();
  const Api& a = api();
  EXPECT_EQ(PresetCount(a, handle), 0);
  EXPECT_EQ(ReadPreset(a, handle, 0).result, -23);
  EXPECT_TRUE(
      HasLogLine("CAM.GetPrePosition: TAVO Camera 1 doesn't have preposition 0 (error -23)."));

  EXPECT_EQ(a.VRT_CamSetPrePosition(handle, 0, "Door"), 1);
  EXPECT_EQ(a.VRT_CamSetPrePositionName(handle, "Yard"), 1);
  EXPECT_EQ(Wire(), (Lines{"@9,1", "@9,2"}));
  EXPECT_TRUE(HasLogLine("CAM.SetPrePosition: position = 0 name = 'Door' OK."));
  EXPECT_TRUE(HasLogLine("CAM.SetPrePositionName: name = 'Yard' OK."));
  EXPECT_EQ(Simulator(1).State(128, 5).presets.size(), 2u);
  EXPECT_EQ(PresetCount(a, handle), 2);

  EXPECT_EQ(a.VRT_CamMoveToPrePosition(handle, 0, 7), 1);
  EXPECT_EQ(Wire(), Lines{"@16,1,90"});
  EXPECT_TRUE(HasLogLine("CAM.MoveToPrePosition: position = 0 speed = 7 OK."));
  EXPECT_EQ(ReadPreset(a, handle, 0).active, 1);
  EXPECT_EQ(a.VRT_CamMoveToPrePositionName(handle, "Yard", 3), 1);
  EXPECT_EQ(Wire(), Lines{"@16,2,90"});
  EXPECT_TRUE(HasLogLine("CAM.MoveToPrePositionName: Name = Yard speed = 3 OK."));
  EXPECT_EQ(Simulator(1).State(128, 5).last_recalled, 2);
  EXPECT_EQ(Simulator(1).State(128, 5).last_recall_speed, 90);
  // One preset is active at a time.
  const Preset door = ReadPreset(a, handle, 0);
  const Preset yard = ReadPreset(a, handle, 1);
  EXPECT_EQ(door.name, "Door");
  EXPECT_EQ(door.active, 0);
  EXPECT_EQ(yard.name, "Yard");
  EXPECT_EQ(yard.active, 1);
  EXPECT_TRUE(HasLogLine("CAM.GetPrePosition: position = 1 OK."));

  // Iris and focus keep the camera at its preset; a pan or a zoom leaves it.
  EXPECT_EQ(a.VRT_CamIris(handle, 0, 3), 1);
  EXPECT_EQ(a.VRT_CamIris(handle, 0, 0), 1);
  EXPECT_EQ(ReadPreset(a, handle, 1).active, 1);
  EXPECT_EQ(a.VRT_CamZoom(handle, 0, 3), 1);
  EXPECT_EQ(ReadPreset(a, handle, 1).active, 0);
  EXPECT_EQ(a.VRT_CamZoom(handle, 0, 0), 1);
  EXPECT_EQ(a.VRT_CamMoveToPrePosition(handle, 0, 7), 1);
  EXPECT_EQ(a.VRT_CamLeft(handle, 0), 1);
  EXPECT_EQ(ReadPreset(a, handle, 0).active, 0);

  VRT_CameraProperties properties{};
  properties.handle = handle;
  ASSERT_EQ(a.VRT_CamGetProperties(&properties), 1);
  EXPECT_EQ(properties.presetCount, 2);
}

TEST_F(PresetTest, MissingPresetsAreNotRecalled) {
  const int handle = StartCamera();
  const Api& a = api();
  ASSERT_EQ(a.VRT_CamSetPrePositionName(handle, "Door"), 1);
  Wire();
  EXPECT_EQ(a.VRT_CamMoveToPrePosition(handle, 1, 5), -23);
  EXPECT_EQ(a.VRT_CamMoveToPrePosition(handle, -1, 5), -23);
  EXPECT_EQ(a.VRT_CamMoveToPrePositionName(handle, "door", 5), -23);
  EXPECT_EQ(a.VRT_CamMoveToPrePositionName(handle, "", 5), -23);
  EXPECT_EQ(Wire(), Lines());
  EXPECT_TRUE(
      HasLogLine("CAM.MoveToPrePosition: TAVO Camera 1 doesn't have preposition 1 (error -23)."));
}

TEST_F(PresetTest, FullSpeedRecall) {
  CameraConfig camera;
  camera.defaultPreposSpeed = 100;
  const int handle = StartCamera(camera);
  const Api& a = api();
  ASSERT_EQ(a.VRT_CamSetPrePositionName(handle, "Door"), 1);
  ASSERT_EQ(a.VRT_CamSetPrePositionName(handle, "Yard"), 1);
  Wire();
  EXPECT_EQ(a.VRT_CamMoveToPrePositionName(handle, "Yard", 50), 1);
  EXPECT_EQ(Wire(), Lines{"@8,2"});
  EXPECT_EQ(Simulator(1).State(128, 5).last_recall_speed, 100);
}

TEST_F(PresetTest, StoredLocationsFromTheFileBoundTheRecall) {
  // Locations 0 and above the dome's storage are never sent; the top one is.
  CameraConfig camera;
  camera.nofStorageLocations = 4;
  camera.innerXml =
      "<positions>"
      "<PrePos1><Name value=\"Zero\"/><ID value=\"0\"/><MemId value=\"0\"/></PrePos1>"
      "<PrePos2><Name value=\"Top\"/><ID value=\"1\"/><MemId value=\"4\"/></PrePos2>"
      "<PrePos3><Name value=\"Beyond\"/><ID value=\"2\"/><MemId value=\"5\"/></PrePos3>"
      "</positions>";
  const int handle = StartCamera(camera);
  const Api& a = api();
  EXPECT_EQ(PresetCount(a, handle), 3);
  EXPECT_EQ(a.VRT_CamMoveToPrePosition(handle, 0, 5), -3);
  EXPECT_TRUE(HasLogLine("CAM.MoveToPrePosition: position = 0 speed = 5 FAILED (error -3)."));
  EXPECT_EQ(a.VRT_CamMoveToPrePositionName(handle, "Beyond", 5), -3);
  EXPECT_TRUE(HasLogLine("CAM.MoveToPrePositionName: Name = Beyond speed = 5 FAILED (error -3)."));
  EXPECT_EQ(Wire(), Lines());
  EXPECT_EQ(a.VRT_CamMoveToPrePosition(handle, 1, 5), 1);
  EXPECT_EQ(Wire(), Lines{"@16,4,90"});
  // Three presets on a dome with four locations: one more fits, at the
  // lowest location the file leaves free.
  EXPECT_EQ(a.VRT_CamSetPrePositionName(handle, "More"), 1);
  EXPECT_EQ(Wire(), Lines{"@9,1"});
  EXPECT_EQ(a.VRT_CamSetPrePositionName(handle, "Full"), -26);
  EXPECT_EQ(Wire(), Lines());
}

TEST_F(PresetTest, StoreByNumberOnlyAppends) {
  const int handle = StartCamera();
  const Api& a = api();
  EXPECT_EQ(a.VRT_CamSetPrePosition(handle, 1, "Far"), -3);
  EXPECT_TRUE(HasLogLine("CAMERA.SetPrePosition: FAILED, illegal iPosition (1)(TavoID 1)"));
  EXPECT_EQ(a.VRT_CamSetPrePosition(handle, -2, "Low"), -3);
  EXPECT_TRUE(HasLogLine("CAMERA.SetPrePosition: FAILED, illegal iPosition (-2)(TavoID 1)"));
  EXPECT_EQ(a.VRT_CamSetPrePosition(handle, -1, "Minus"), -18);
  ASSERT_EQ(a.VRT_CamSetPrePosition(handle, 0, "First"), 1);
  const size_t lines = LogLines().size();
  EXPECT_EQ(a.VRT_CamSetPrePosition(handle, 0, "Again"), -18);
  EXPECT_EQ(LogLines().size(), lines);  // refused without a log line
  EXPECT_EQ(a.VRT_CamSetPrePosition(handle, 2, "Far"), -3);
  EXPECT_EQ(a.VRT_CamSetPrePosition(handle, 1, "Second"), 1);
  EXPECT_EQ(Wire(), (Lines{"@9,1", "@9,2"}));
  EXPECT_EQ(ReadPreset(a, handle, 1).name, "Second");
}

TEST_F(PresetTest, FullStorageAndDuplicateNames) {
  CameraConfig camera;
  camera.nofStorageLocations = 2;
  const int handle = StartCamera(camera);
  const Api& a = api();
  ASSERT_EQ(a.VRT_CamSetPrePositionName(handle, "A"), 1);
  ASSERT_EQ(a.VRT_CamSetPrePosition(handle, 1, "B"), 1);
  Wire();
  EXPECT_EQ(a.VRT_CamSetPrePosition(handle, 2, "C"), -26);
  EXPECT_TRUE(
      HasLogLine("CAM.SetPrePosition: Camera 1 FAILED, maximum number of prepositions reached."));
  EXPECT_EQ(a.VRT_CamSetPrePositionName(handle, "C"), -26);
  EXPECT_TRUE(HasLogLine(
      "CAM.SetPrePositionName: Camera 1 FAILED, maximum number of prepositions reached."));
  // A name already there is refused first, full or not.
  EXPECT_EQ(a.VRT_CamSetPrePositionName(handle, "A"), -3);
  EXPECT_TRUE(HasLogLine("CAMERA.SetPrePosition: FAILED, position A already exist(TavoID 1)"));
  EXPECT_EQ(Wire(), Lines());
  EXPECT_EQ(PresetCount(a, handle), 2);
}

TEST_F(PresetTest, LongNamesAreCutAndNamesAreCaseSensitive) {
  const int handle = StartCamera();
  const Api& a = api();
  const std::string forty = "0123456789abcdefghijABCDEFGHIJ0123456789";
  ASSERT_EQ(forty.size(), 40u);
  ASSERT_EQ(a.VRT_CamSetPrePositionName(handle, forty.c_str()), 1);
  EXPECT_EQ(ReadPreset(a, handle, 0).name, forty.substr(0, 31));
  EXPECT_EQ(a.VRT_CamMoveToPrePositionName(handle, forty.c_str(), 1), -23);
  EXPECT_EQ(a.VRT_CamMoveToPrePositionName(handle, forty.substr(0, 31).c_str(), 1), 1);
  // A name of exactly 32 bytes without a terminator is read no further.
  char unterminated[32];
  std::memset(unterminated, 'x', sizeof unterminated);
  EXPECT_EQ(a.VRT_CamSetPrePosition(handle, 1, unterminated), 1);
  EXPECT_EQ(ReadPreset(a, handle, 1).name, std::string(31, 'x'));
  ASSERT_EQ(a.VRT_CamSetPrePositionName(handle, "door"), 1);
  ASSERT_EQ(a.VRT_CamSetPrePositionName(handle, "Door"), 1);
  EXPECT_EQ(PresetCount(a, handle), 4);
  Wire();
  EXPECT_EQ(a.VRT_CamMoveToPrePositionName(handle, "Door", 1), 1);
  EXPECT_EQ(a.VRT_CamMoveToPrePositionName(handle, "door", 1), 1);
  EXPECT_EQ(a.VRT_CamMoveToPrePositionName(handle, "DOOR", 1), -23);
  EXPECT_EQ(Wire(), (Lines{"@16,4,90", "@16,3,90"}));
}

TEST_F(PresetTest, DeleteByNameFreesTheLocation) {
  const int handle = StartCamera();
  const Api& a = api();
  ASSERT_EQ(a.VRT_CamSetPrePositionName(handle, "A"), 1);
  ASSERT_EQ(a.VRT_CamSetPrePositionName(handle, "B"), 1);
  Wire();
  EXPECT_EQ(a.VRT_CamDeletePrePositionName(handle, "A"), 1);
  EXPECT_TRUE(HasLogLine("CAM.DeletePrePosition: position = 0 OK."));
  EXPECT_EQ(Wire(), Lines());  // the dome is not told
  EXPECT_EQ(PresetCount(a, handle), 1);
  EXPECT_EQ(ReadPreset(a, handle, 0).name, "B");
  EXPECT_EQ(a.VRT_CamMoveToPrePosition(handle, 0, 1), 1);
  EXPECT_EQ(Wire(), Lines{"@16,2,90"});
  // The freed location is the next one handed out.
  ASSERT_EQ(a.VRT_CamSetPrePositionName(handle, "C"), 1);
  ASSERT_EQ(a.VRT_CamSetPrePositionName(handle, "D"), 1);
  EXPECT_EQ(Wire(), (Lines{"@9,1", "@9,3"}));
  EXPECT_EQ(a.VRT_CamDeletePrePositionName(handle, "A"), -23);
  EXPECT_TRUE(HasLogLine(
      "CAM.DeletePrePositionName: TAVO Camera 1 doesn't have preposition A (error -23)."));
  EXPECT_EQ(a.VRT_CamDeletePrePositionName(handle, "b"), -23);
  // A deleted name can be stored again.
  EXPECT_EQ(a.VRT_CamDeletePrePositionName(handle, "C"), 1);
  EXPECT_EQ(a.VRT_CamSetPrePositionName(handle, "C"), 1);
  EXPECT_EQ(Wire(), Lines{"@9,1"});
}

TEST_F(PresetTest, StoreWithoutWaitingRecordsTheLocation) {
  CameraConfig camera;
  camera.waitForResponse = 0;
  WriteSettings({{"Line 1", 1, "96,E,8,1", {camera}}});
  Simulator(1);
  ASSERT_EQ(Init(), 1);
  const int handle = Open(0);
  // Nothing waits for the dome here: let the open sequence arrive first.
  ASSERT_TRUE(Simulator(1).WaitForLines(6, 2000));
  Wire();
  const Api& a = api();
  ASSERT_EQ(a.VRT_CamSetPrePositionName(handle, "A"), 1);
  ASSERT_EQ(a.VRT_CamMoveToPrePositionName(handle, "A", 1), 1);
  ASSERT_TRUE(Simulator(1).WaitForLines(2, 2000));
  EXPECT_EQ(Wire(), (Lines{"@9,1", "@16,1,90"}));
}

TEST_F(PresetTest, LongNamesThatCutToTheSameNameAreDuplicates) {
  // Names are cut to 31 characters before the duplicate test: two presets
  // that could not be told apart by name are refused.
  const int handle = StartCamera();
  const Api& a = api();
  const std::string forty = "0123456789abcdefghijABCDEFGHIJ0123456789";
  const std::string other = forty.substr(0, 31) + "-other-";
  ASSERT_EQ(a.VRT_CamSetPrePositionName(handle, forty.c_str()), 1);
  EXPECT_EQ(a.VRT_CamSetPrePositionName(handle, forty.c_str()), -3);
  // The log quotes what the host's 32-byte field holds.
  EXPECT_TRUE(HasLogLine("CAMERA.SetPrePosition: FAILED, position " + forty.substr(0, 32) +
                         " already exist(TavoID 1)"));
  EXPECT_EQ(a.VRT_CamSetPrePositionName(handle, other.c_str()), -3);
  EXPECT_EQ(a.VRT_CamSetPrePositionName(handle, forty.substr(0, 31).c_str()), -3);
  // One character less is another name.
  EXPECT_EQ(a.VRT_CamSetPrePositionName(handle, forty.substr(0, 30).c_str()), 1);
  EXPECT_EQ(PresetCount(a, handle), 2);
  EXPECT_EQ(Wire(), (Lines{"@9,1", "@9,2"}));
}

}  // namespace
}  // namespace q7host
