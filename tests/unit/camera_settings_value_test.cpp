// A camera's settings as one value, without any dialog: the checks with
// their order and messages, the shared-function question, the checks
// against the other cameras, and the one step that applies and saves.
#include "camera/camera_settings_value.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ui_dialog_fixture.h"

namespace {

using Check = CameraSettingsCheck;
using namespace camera_keys;

const char kFillAll[] = "Please fill all fields";
const char kNode[] = "Illegal node address. Valid values: 0 ... 127.";
const char kPresets[] =
    "Illegal number of preset memories. Maximum values for the driver are 1 - 256";
const char kSpeed[] = "Illegal preset speed. Valid values for the driver are 1 - 100";
const char kRelays[] = "Illegar number of relays!";

CameraSettings Valid() {
  CameraSettings s;
  s.TavoID = 4;
  s.Name = "Gate";
  s.SysID = 12;
  s.NodeAddress = kNoNode;
  s.ControlMonitor = 1;
  return s;
}

TEST(CameraSettingsCheckTest, EachValueAtAndBeyondTheEdgesOfItsRange) {
  using Edit = std::function<void(CameraSettings&)>;
  const struct {
    const char* what;
    Edit edit;
    Check::Problem problem;
    const char* message;
  } cases[] = {
      {"valid", [](CameraSettings&) {}, Check::kAccepted, ""},
      {"number 0", [](CameraSettings& s) { s.TavoID = 0; }, Check::kAccepted, ""},
      {"number -1", [](CameraSettings& s) { s.TavoID = -1; }, Check::kNumber, ""},
      {"number text", [](CameraSettings& s) { s.SetNumber(TavoID, "x"); }, Check::kNumber, ""},
      {"no name", [](CameraSettings& s) { s.Name.clear(); }, Check::kIncomplete, kFillAll},
      {"address text", [](CameraSettings& s) { s.SetNumber(SysID, ""); }, Check::kIncomplete,
       kFillAll},
      {"monitor text", [](CameraSettings& s) { s.SetNumber(ControlMonitor, "1a"); },
       Check::kIncomplete, kFillAll},
      // A monitor out of its range is taken as 1, not refused.
      {"monitor 99", [](CameraSettings& s) { s.ControlMonitor = 99; }, Check::kAccepted, ""},
      {"node 0", [](CameraSettings& s) { s.NodeAddress = 0; }, Check::kAccepted, ""},
      {"node -1", [](CameraSettings& s) { s.NodeAddress = -1; }, Check::kNodeAddress, kNode},
      {"node 129", [](CameraSettings& s) { s.NodeAddress = 129; }, Check::kNodeAddress, kNode},
      {"node text", [](CameraSettings& s) { s.SetNumber(NodeAddress, "--1"); }, Check::kNodeAddress,
       kNode},
      {"presets 1", [](CameraSettings& s) { s.NofStorageLocations = 1; }, Check::kAccepted, ""},
      {"presets 256", [](CameraSettings& s) { s.NofStorageLocations = 256; }, Check::kAccepted, ""},
      {"presets 0", [](CameraSettings& s) { s.NofStorageLocations = 0; }, Check::kPresetCount,
       kPresets},
      {"presets 257", [](CameraSettings& s) { s.NofStorageLocations = 257; }, Check::kPresetCount,
       kPresets},
      {"speed 1", [](CameraSettings& s) { s.DefaultPreposSpeed = 1; }, Check::kAccepted, ""},
      {"speed 100", [](CameraSettings& s) { s.DefaultPreposSpeed = 100; }, Check::kAccepted, ""},
      {"speed 0", [](CameraSettings& s) { s.DefaultPreposSpeed = 0; }, Check::kPresetSpeed, kSpeed},
      {"speed 101", [](CameraSettings& s) { s.DefaultPreposSpeed = 101; }, Check::kPresetSpeed,
       kSpeed},
      {"relays 0", [](CameraSettings& s) { s.NofRelays = 0; }, Check::kAccepted, ""},
      {"relays 8", [](CameraSettings& s) { s.NofRelays = 8; }, Check::kAccepted, ""},
      {"relays -1", [](CameraSettings& s) { s.NofRelays = -1; }, Check::kRelayCount, kRelays},
      {"relays 9", [](CameraSettings& s) { s.NofRelays = 9; }, Check::kRelayCount, kRelays},
      {"function 3", [](CameraSettings& s) { s.Aux3Func = 3; }, Check::kAccepted, ""},
      {"function 4", [](CameraSettings& s) { s.Aux2Func = 4; }, Check::kOutOfRange,
       "Illegal value for Aux2Func. Valid values: 0 ... 3."},
      {"function -1", [](CameraSettings& s) { s.Aux1Func = -1; }, Check::kOutOfRange,
       "Illegal value for Aux1Func. Valid values: 0 ... 3."},
      {"lens text", [](CameraSettings& s) { s.SetNumber(DefaultLensSlow, "on"); },
       Check::kOutOfRange, "Illegal value for DefaultLensSlow: not a number."},
      // What a file may hold beyond a range the dialog's controls keep
      // stays: it does not block other changes.
      {"speed level 0", [](CameraSettings& s) { s.CamAccFactor = 0; }, Check::kAccepted, ""},
  };
  for (const auto& c : cases) {
    CameraSettings s = Valid();
    c.edit(s);
    const Check check = CheckCameraSettings(s);
    EXPECT_EQ(check.problem, c.problem) << c.what;
    EXPECT_EQ(check.message, c.message) << c.what;
    EXPECT_EQ(check.Accepted(), c.problem == Check::kAccepted) << c.what;
  }
}

TEST(CameraSettingsCheckTest, TheFirstRefusalInTheDialogsOrderIsReported) {
  CameraSettings s = Valid();
  s.NofRelays = 20;
  EXPECT_EQ(CheckCameraSettings(s).problem, Check::kRelayCount);
  s.DefaultPreposSpeed = 0;
  EXPECT_EQ(CheckCameraSettings(s).problem, Check::kPresetSpeed);
  s.NofStorageLocations = 0;
  EXPECT_EQ(CheckCameraSettings(s).problem, Check::kPresetCount);
  s.NodeAddress = 500;
  EXPECT_EQ(CheckCameraSettings(s).problem, Check::kNodeAddress);
  s.Name.clear();
  EXPECT_EQ(CheckCameraSettings(s).problem, Check::kIncomplete);
  s.TavoID = -5;
  EXPECT_EQ(CheckCameraSettings(s).problem, Check::kNumber);
}

TEST(CameraSettingsCheckTest, TextsAreReadAsTheDialogReadsItsFields) {
  CameraSettings s = Valid();
  EXPECT_TRUE(s.SetNumber(SysID, " 21 "));
  EXPECT_EQ(s.SysID, 21);
  EXPECT_TRUE(s.SetNumber(SysID, "-3"));
  EXPECT_EQ(s.SysID, -3);
  for (const char* text : {"", " ", "1 2", "12a", "+5", "99999999999"}) {
    EXPECT_FALSE(s.SetNumber(SysID, text)) << text;
    EXPECT_EQ(s.SysID, -3) << text;  // the value before stays
    EXPECT_EQ(CheckCameraSettings(s).problem, Check::kIncomplete) << text;
  }
  EXPECT_TRUE(s.SetNumber(SysID, "4"));
  EXPECT_TRUE(CheckCameraSettings(s).Accepted());

  s.SetName(std::string(40, 'n'));
  EXPECT_EQ(s.Name, std::string(32, 'n'));
  s.NofRelays = 2;
  EXPECT_FALSE(s.SetRelayName(2, "Beyond"));
  EXPECT_FALSE(s.SetRelayName(-1, "Before"));
  EXPECT_TRUE(s.SetRelayName(1, std::string(40, 'r')));
  EXPECT_EQ(s.RelayName(0), "Relay1");  // no name given: the default
  EXPECT_EQ(s.RelayName(1), std::string(31, 'r'));
}

TEST(CameraSettingsCheckTest, RelaysSharingAFunctionAsTheDialogAsks) {
  const struct {
    int relays, h, l, m;
    bool asks;
  } cases[] = {
      {3, 0, 0, 0, false},  // the plain output everywhere
      {3, 1, 0, 1, true},  {3, 2, 2, 0, true},
      {3, 1, 2, 3, false}, {0, 1, 1, 1, false},  // no relay, nothing to ask
      {1, 1, 1, 0, true},                        // relay 1 shares with a list beyond the count
      {1, 0, 3, 3, false},                       // only relays beyond the count share
      {2, 0, 3, 3, true},  {8, 0, 0, 2, false},
  };
  for (const auto& c : cases) {
    CameraSettings s = Valid();
    s.NofRelays = c.relays;
    s.Aux1Func = c.h;
    s.Aux2Func = c.l;
    s.Aux3Func = c.m;
    EXPECT_EQ(SharesRelayFunction(s), c.asks) << c.relays << " " << c.h << c.l << c.m;
  }
}

// Line A with Gate (4, 12) and Yard (11, 7), line B with Lobby (0, 5).
class CameraSettingsDriverTest : public uitest::DialogTest {
 protected:
  void SetUp() override {
    uitest::DialogTest::SetUp();
    lineA_ = AddConnection("Line A", 9);
    lineB_ = AddConnection("Line B", 10);
    gate_ = AddCamera(lineA_, 4, 12, "Gate");
    yard_ = AddCamera(lineA_, 11, 7, "Yard");
    lobby_ = AddCamera(lineB_, 0, 5, "Lobby");
    for (CVRTCamera* camera : {gate_, yard_, lobby_}) {
      camera->ControlMonitor = 1;
      ASSERT_EQ(camera->Save(), 1);
    }
  }
  int Saves(int number) const {
    const std::string line = "CAM.Save: TAVO Camera " + std::to_string(number) + " save OK.";
    int n = 0;
    const std::string text = LogText();
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
    return n;
  }

  CVRTComm* lineA_ = nullptr;
  CVRTComm* lineB_ = nullptr;
  CVRTCamera* gate_ = nullptr;
  CVRTCamera* yard_ = nullptr;
  CVRTCamera* lobby_ = nullptr;
};

TEST_F(CameraSettingsDriverTest, NumbersAmongAllCamerasAddressesAndNamesAmongTheLines) {
  const struct {
    const char* what;
    std::function<void(CameraSettings&)> edit;
    bool forNew;
    Check::Problem problem;
    int message;  // string-table id, 0 for none
  } cases[] = {
      {"its own values", [](CameraSettings&) {}, false, Check::kAccepted, 0},
      {"another line's number", [](CameraSettings& s) { s.TavoID = 0; }, false, Check::kNumberTaken,
       12},
      {"this line's address", [](CameraSettings& s) { s.SysID = 7; }, false, Check::kAddressTaken,
       13},
      {"another line's address", [](CameraSettings& s) { s.SysID = 5; }, false, Check::kAccepted,
       0},
      {"a name but for case", [](CameraSettings& s) { s.Name = "YARD"; }, false, Check::kNameTaken,
       14},
      {"another line's name", [](CameraSettings& s) { s.Name = "Lobby"; }, false, Check::kAccepted,
       0},
      // A camera not made yet has nothing of its own: Gate's values clash.
      {"a new camera", [](CameraSettings& s) { s.TavoID = 20; }, true, Check::kAddressTaken, 13},
      {"a new camera's number", [](CameraSettings&) {}, true, Check::kNumberTaken, 12},
      // Its own checks come first.
      {"no name and taken",
       [](CameraSettings& s) {
         s.Name.clear();
         s.TavoID = 0;
       },
       false, Check::kIncomplete, 3},
  };
  for (const auto& c : cases) {
    CameraSettings s = CameraSettings::Of(*gate_);
    c.edit(s);
    const Check check = Driver().CheckCamera(s, lineA_, c.forNew ? nullptr : gate_);
    EXPECT_EQ(check.problem, c.problem) << c.what;
    EXPECT_EQ(check.message, c.message == 0 ? "" : ui::LoadString(c.message)) << c.what;
  }
}

TEST_F(CameraSettingsDriverTest, ApplyingMovesTheCameraToItsNumberAndSavesItOnce) {
  ASSERT_EQ(gate_->SetRelayName(1, "Washer"), 1);
  CameraSettings s = CameraSettings::Of(*gate_);
  EXPECT_EQ(s.RelayNames, (std::vector<std::string>{"Relay1", "Washer", "Relay3"}));
  s.TavoID = 20;
  s.SysID = 30;
  s.NofRelays = 5;
  s.Aux2Func = 1;
  ASSERT_TRUE(s.SetRelayName(4, "Lamp"));
  ASSERT_TRUE(Driver().CheckCamera(s, lineA_, gate_).Accepted());
  const int before = Saves(21);
  ASSERT_EQ(Driver().ApplyCameraSettings(gate_, s), 1);
  EXPECT_EQ(Saves(21) - before, 1);
  EXPECT_EQ(Driver().FindCameraByNumber(20).get(), gate_);
  EXPECT_FALSE(Driver().FindCameraByNumber(4));
  ASSERT_EQ(gate_->RelayCount(), 5);
  EXPECT_EQ(gate_->GetRelayAt(1)->Name, "Washer");
  EXPECT_EQ(gate_->GetRelayAt(3)->Name, "Relay4");
  EXPECT_EQ(gate_->GetRelayAt(4)->Name, "Lamp");
  const std::string file = SettingsText();
  EXPECT_NE(file.find("<TavoID value=\"20\">"), std::string::npos);
  EXPECT_NE(file.find("<Name value=\"Lamp\">"), std::string::npos);
  EXPECT_NE(file.find("<Aux2Func value=\"1\">"), std::string::npos);
  // What the camera took is what it gives back.
  CameraSettings again = CameraSettings::Of(*gate_);
  EXPECT_EQ(again.RelayNames,
            (std::vector<std::string>{"Relay1", "Washer", "Relay3", "Relay4", "Lamp"}));
  EXPECT_EQ(again.SysID, 30);
  EXPECT_EQ(again.ControlMonitor, 1);

  // A camera outside the table that had another camera's number leaves
  // that camera where it is.
  CVRTCamera loose(lineA_);
  loose.KeyPath = "comm1/cam9";
  loose.TavoID = 11;  // Yard's
  CameraSettings mine = Valid();
  mine.TavoID = 40;
  mine.SysID = 40;
  mine.Name = "Loose";
  ASSERT_TRUE(Driver().CheckCamera(mine, lineA_, &loose).Accepted());
  ASSERT_EQ(Driver().ApplyCameraSettings(&loose, mine), 1);
  EXPECT_EQ(Driver().FindCameraByNumber(11).get(), yard_);
  EXPECT_FALSE(Driver().FindCameraByNumber(40));
  EXPECT_EQ(Driver().ApplyCameraSettings(nullptr, mine), -3);
}

}  // namespace
