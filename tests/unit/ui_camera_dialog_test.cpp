// The camera setup dialog through the fake window: the fields as filled
// from the camera, the checks at OK with their messages, and the line tests
// (version, menu keys, ping, reset) against a simulated dome.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "domesim/domesim.h"
#include "ui/camera_setup_dlg.h"
#include "ui_dialog_fixture.h"

namespace {

using uifake::FakeWindow;
using Strings = std::vector<std::string>;
using Dlg = CVRTCameraSetupDlg;

const char kCannotOpen[] =
    "There is some problems with opening the connection assosiated to this camera.\n\nTherefore "
    "you can not use Ping.\n(See further information about error from log file)";
const char kFillAll[] = "Please fill all fields";
const char kRelaysRefused[] = "Illegar number of relays!";
const int kArrows[] = {Dlg::kLeft, Dlg::kRight, Dlg::kUp, Dlg::kDown, Dlg::kSet};

// A camera on a line whose port does not exist: the dialog cannot open it.
class CameraSetupDialogTest : public uitest::DialogTest {
 protected:
  void SetUp() override {
    uitest::DialogTest::SetUp();
    line_ = AddConnection("Line A", 9);
    camera_ = AddCamera(line_, 4, 12, "Gate");
  }
  int Run(uifake::Script script, CVRTCamera* camera = nullptr) {
    Dlg dialog(Driver(), toolkit_, line_);
    dialog.Camera = camera != nullptr ? camera : camera_;
    toolkit_.Queue(ui::kDlgCameraSetup, std::move(script));
    return dialog.DoModal();
  }
  // The messages after the one saying that the line did not open.
  Strings Checks() const {
    Strings texts = Texts();
    if (!texts.empty() && texts.front() == kCannotOpen) texts.erase(texts.begin());
    return texts;
  }

  CVRTComm* line_ = nullptr;
  CVRTCamera* camera_ = nullptr;
};

TEST_F(CameraSetupDialogTest, FieldsShowTheCameraWithDefaultsForUnsetValues) {
  camera_->NofStorageLocations = -1;
  camera_->DefaultPreposSpeed = 0;
  camera_->ControlMonitor = -1;
  camera_->NodeAddress = 200;
  camera_->NofRelays = 2;
  camera_->Aux1Func = 3;
  camera_->Aux2Func = -1;
  camera_->CamAccDefaultState = 0;
  camera_->CamAccFactor = 9;
  EXPECT_EQ(Run([](FakeWindow& w) {
              EXPECT_EQ(w.GetText(Dlg::kNumberEdit), "5");  // TavoID + 1
              EXPECT_EQ(w.GetText(Dlg::kPortEdit), "COM9");
              EXPECT_EQ(w.GetText(Dlg::kPresetCountEdit), "99");
              EXPECT_EQ(w.GetText(Dlg::kPresetSpeedEdit), "90");
              EXPECT_EQ(w.GetText(Dlg::kMonitorEdit), "1");
              EXPECT_EQ(w.GetText(Dlg::kNodeEdit), "0");
              EXPECT_EQ(w.GetText(Dlg::kAux1List), "LAMPS");
              EXPECT_EQ(w.GetText(Dlg::kAux2List), "AUX2");
              EXPECT_FALSE(w.IsEnabled(Dlg::kAux3List));  // beyond the two relays
              EXPECT_EQ(w.GetPosition(Dlg::kSpeedBar), 9);
              EXPECT_TRUE(w.GetCheck(Dlg::kCustomSpeed));
              EXPECT_TRUE(w.IsEnabled(Dlg::kSpeedBar));
              for (int arrow : kArrows) EXPECT_FALSE(w.IsEnabled(arrow));
              EXPECT_EQ(w.GetText(Dlg::kVersionEdit), "...");  // nothing answers
              w.Click(Dlg::kPing);
              EXPECT_EQ(w.GetText(Dlg::kPingResult), "Request timed out");
              w.Click(2);
            }),
            ui::kResultCancel);
  EXPECT_EQ(Texts(), (Strings{kCannotOpen}));
  // Shown as the plain output, but Cancel changes nothing.
  EXPECT_EQ(camera_->Aux2Func, -1);
  EXPECT_TRUE(Logged("CAMERASETUPDLG.OnInitDialog: Camera 5 (name: Gate) setup dialog opened\n"));
  EXPECT_TRUE(Logged("CAMERASETUPDLG.OnInitDialog: Camera 5 (name: Gate) setup dialog closed\n"));
}

TEST_F(CameraSetupDialogTest, ANewCameraNeedsItsNumberNameAndAddress) {
  CVRTCamera fresh(line_);
  fresh.KeyPath = "comm1/cam2";
  EXPECT_EQ(Run(
                [](FakeWindow& w) {
                  EXPECT_EQ(w.GetText(Dlg::kNumberEdit), "");
                  EXPECT_EQ(w.GetText(Dlg::kAddressEdit), "");
                  w.Click(1);  // no host number (or 0): refused without a message
                  w.Type(Dlg::kNumberEdit, "0");
                  w.Click(1);
                  w.Type(Dlg::kNumberEdit, "7");
                  w.Click(1);
                  w.Type(Dlg::kNameEdit, "Yard");
                  w.Click(1);
                  w.Type(Dlg::kAddressEdit, "3");
                  w.Click(1);
                },
                &fresh),
            ui::kResultOk);
  EXPECT_EQ(Checks(), (Strings{kFillAll, kFillAll}));
  EXPECT_EQ(fresh.TavoID, 6);
  EXPECT_EQ(fresh.SysID, 3);
  EXPECT_TRUE(Logged("CAMERASETUPDLG.OnInitDialog: Camera setup dialog opened for new camera\n"));
  EXPECT_TRUE(Logged("CAMERASETUPDLG.OnOk: Camera 7 (name: Yard) setup dialog closed\n"));
}

TEST_F(CameraSetupDialogTest, AUtf8RendererShowsAndStoresTheCodePagesBytesAndRefusesTheRest) {
  toolkit_.TextEncodingOfWindows = ui::TextEncoding::kUtf8;
  camera_->Name = "T\xf6r \xff";
  const std::string before = SettingsText();
  EXPECT_EQ(Run([](FakeWindow& w) {
              EXPECT_EQ(w.Ctl(Dlg::kNameEdit).text, "T\xc3\xb6r \xc3\xbf");
              // Refused before any other check, nothing of it applied.
              w.Type(Dlg::kNameEdit, "\xd0\x92\xd1\x85\xd0\xbe\xd0\xb4");
              w.Type(Dlg::kAddressEdit, "40");
              w.Click(1);
              EXPECT_FALSE(w.Ended());
              EXPECT_TRUE(w.Ctl(Dlg::kNameEdit).focused);
              w.Type(Dlg::kNameEdit,
                     "Einfahrt S\xc3\xbc"
                     "d");
              w.Click(1);
            }),
            ui::kResultOk);
  EXPECT_EQ(Checks().size(), 1u);
  EXPECT_EQ(camera_->Name,
            "Einfahrt S\xfc"
            "d");
  EXPECT_EQ(camera_->SysID, 40);
  EXPECT_NE(SettingsText(), before);
  EXPECT_NE(SettingsText().find("Einfahrt S\xfc"
                                "d"),
            std::string::npos);
}

TEST_F(CameraSetupDialogTest, ValuesOutOfRangeAreRefusedAtOkWithTheirMessage) {
  const struct {
    int edit;
    const char* typed;
    const char* message;
    ui::MsgIcon icon;
    const char* shownAfter;  // the field afterwards (nullptr: as typed)
  } cases[] = {
      {Dlg::kNodeEdit, "129", "Illegal node address. Valid values: 0 ... 127.",
       ui::MsgIcon::kExclamation, nullptr},
      {Dlg::kNodeEdit, "", "Illegal node address. Valid values: 0 ... 127.",
       ui::MsgIcon::kExclamation, nullptr},
      {Dlg::kPresetCountEdit, "0",
       "Illegal number of preset memories. Maximum values for the driver are 1 - 256",
       ui::MsgIcon::kQuestion, "99"},
      {Dlg::kPresetCountEdit, "300",
       "Illegal number of preset memories. Maximum values for the driver are 1 - 256",
       ui::MsgIcon::kQuestion, "99"},
      {Dlg::kPresetSpeedEdit, "0", "Illegal preset speed. Valid values for the driver are 1 - 100",
       ui::MsgIcon::kQuestion, "90"},
      {Dlg::kPresetSpeedEdit, "101",
       "Illegal preset speed. Valid values for the driver are 1 - 100", ui::MsgIcon::kQuestion,
       "90"},
      {Dlg::kRelayCountEdit, "9", kRelaysRefused, ui::MsgIcon::kInformation, nullptr},
      // A count a camera cannot have is refused the same way.
      {Dlg::kRelayCountEdit, "-1", kRelaysRefused, ui::MsgIcon::kInformation, nullptr},
      {Dlg::kNameEdit, "", kFillAll, ui::MsgIcon::kExclamation, nullptr},
  };
  for (const auto& c : cases) {
    toolkit_.Messages.clear();
    EXPECT_EQ(Run([&](FakeWindow& w) {
                w.Type(c.edit, c.typed);
                w.Click(1);
                EXPECT_FALSE(w.Ended());
                EXPECT_EQ(w.GetText(c.edit), c.shownAfter != nullptr ? c.shownAfter : c.typed);
                w.Click(2);
              }),
              ui::kResultCancel)
        << c.typed;
    EXPECT_EQ(Checks(), Strings{c.message}) << c.edit << " " << c.typed;
    EXPECT_EQ(toolkit_.Messages.back().icon, c.icon) << c.typed;
  }
  // A refused value stays reset on the camera after Cancel.
  EXPECT_EQ(camera_->NofStorageLocations, 99);
  EXPECT_EQ(camera_->NodeAddress, 128);
  EXPECT_TRUE(Logged("CAMERASETUPDLG.OnPrepPrgPartition: FAILED\n"));
  EXPECT_TRUE(Logged("CAMERASETUPDLG.GetData: FAILED\n"));
}

TEST_F(CameraSetupDialogTest, TheEdgesOfEachRangeAreAccepted) {
  for (const char* edge : {"low", "high"}) {
    const bool low = edge[0] == 'l';
    EXPECT_EQ(Run([&](FakeWindow& w) {
                w.Type(Dlg::kNodeEdit, low ? "0" : "128");
                w.Type(Dlg::kPresetCountEdit, low ? "1" : "256");
                // Below the label's 18 but within the driver's range.
                w.Type(Dlg::kPresetSpeedEdit, low ? "5" : "100");
                w.Type(Dlg::kRelayCountEdit, low ? "0" : "8");
                w.SetText(Dlg::kNameEdit, std::string(40, 'n'));  // pasted past the limit
                w.Click(1);
              }),
              ui::kResultOk)
        << edge;
    EXPECT_EQ(camera_->NodeAddress, low ? 0 : 128);
    EXPECT_EQ(camera_->NofStorageLocations, low ? 1 : 256);
    EXPECT_EQ(camera_->DefaultPreposSpeed, low ? 5 : 100);
    EXPECT_EQ(camera_->RelayCount(), low ? 0 : 8);
    EXPECT_EQ(camera_->Name, std::string(32, 'n'));
  }
}

TEST_F(CameraSetupDialogTest, TooManyRelaysAreWarnedAboutAtOpenAndRefusedUntilAtMostEight) {
  camera_->NofRelays = 12;
  EXPECT_EQ(Run([](FakeWindow& w) {
              EXPECT_EQ(w.GetText(Dlg::kRelayCountEdit), "12");
              w.Click(1);
              EXPECT_FALSE(w.Ended());
              w.Type(Dlg::kRelayCountEdit, "8");
              w.Click(1);
            }),
            ui::kResultOk);
  EXPECT_EQ(Checks(),
            (Strings{"Warning: too many relays in configuration! Maximum is 8", kRelaysRefused}));
  EXPECT_EQ(toolkit_.Messages[1].icon, ui::MsgIcon::kExclamation);
  EXPECT_EQ(camera_->NofRelays, 8);
}

TEST_F(CameraSetupDialogTest, TwoRelaysWithTheSameFunctionAskWhetherToKeepIt) {
  auto wash = [](FakeWindow& w) {
    w.ChooseText(Dlg::kAux1List, "WASH");
    w.ChooseText(Dlg::kAux3List, "WASH");
    w.Click(1);
  };
  toolkit_.Answer(ui::kAnswerNo);
  EXPECT_EQ(Run([&](FakeWindow& w) {
              wash(w);
              EXPECT_FALSE(w.Ended());
              w.Click(2);
            }),
            ui::kResultCancel);
  EXPECT_EQ(Checks(),
            Strings{"Two relays performing the same function! Do you like to keep this setting?"});
  EXPECT_EQ(camera_->Aux1Func, 0);
  toolkit_.Answer(ui::kAnswerYes);
  EXPECT_EQ(Run(wash), ui::kResultOk);
  EXPECT_EQ(camera_->Aux1Func, 1);
  EXPECT_EQ(camera_->Aux3Func, 1);
  // The plain output on every list is no conflict.
  EXPECT_EQ(Run([](FakeWindow& w) {
              for (int list : {Dlg::kAux1List, Dlg::kAux2List, Dlg::kAux3List}) w.Choose(list, 0);
              w.Click(1);
            }),
            ui::kResultOk);
  EXPECT_EQ(toolkit_.Messages.size(), 3u + 2u);  // string 16 each time, one question each
  EXPECT_EQ(toolkit_.Unanswered, 0);
}

TEST_F(CameraSetupDialogTest, RelaysAddedInTheDialogKeepThePlainOutput) {
  ASSERT_EQ(camera_->SetNofRelays(1), 1);
  EXPECT_EQ(Run([](FakeWindow& w) {
              EXPECT_EQ(w.GetSelection(Dlg::kAux2List), -1);
              w.Type(Dlg::kRelayCountEdit, "3");
              w.Click(1);
            }),
            ui::kResultOk);
  EXPECT_EQ(camera_->RelayCount(), 3);
  EXPECT_EQ(camera_->Aux2Func, 0);
  EXPECT_EQ(camera_->Aux3Func, 0);
}

TEST_F(CameraSetupDialogTest, DefaultAndCustomSpeedAndTheWaitForResponseBox) {
  EXPECT_EQ(Run([](FakeWindow& w) {
              EXPECT_FALSE(w.IsEnabled(Dlg::kSpeedBar));
              w.Click(Dlg::kCustomSpeed);
              EXPECT_TRUE(w.IsEnabled(Dlg::kSpeedMax));
              w.Slide(Dlg::kSpeedBar, 9);
              w.Click(Dlg::kDefaultSpeed);
              EXPECT_FALSE(w.IsEnabled(Dlg::kSpeedMin));
              EXPECT_EQ(w.GetPosition(Dlg::kSpeedBar), 6);
              w.Click(Dlg::kCustomSpeed);
              w.Slide(Dlg::kSpeedBar, 10);
              w.Click(Dlg::kWaitForResponse);  // the dialog toggles it
              EXPECT_FALSE(w.GetCheck(Dlg::kWaitForResponse));
              w.Click(1);
            }),
            ui::kResultOk);
  EXPECT_EQ(camera_->CamAccDefaultState, 0);
  EXPECT_EQ(camera_->CamAccFactor, 10);
  EXPECT_EQ(camera_->WaitForResponse, 0);
}

TEST_F(CameraSetupDialogTest, CancelAndTheDriversEndRestoreWaitForResponse) {
  for (bool byDriver : {false, true}) {
    camera_->WaitForResponse = 1;
    EXPECT_EQ(Run([&](FakeWindow& w) {
                w.Click(Dlg::kWaitForResponse);
                w.Click(Dlg::kMenu);  // takes the box's state at once
                EXPECT_EQ(camera_->WaitForResponse, 0);
                for (int arrow : kArrows) EXPECT_TRUE(w.IsEnabled(arrow));
                w.Click(Dlg::kMenu);
                EXPECT_FALSE(w.IsEnabled(Dlg::kUp));
                if (byDriver)
                  Driver().KillAllWindows();
                else
                  w.Click(2);
              }),
              ui::kResultCancel);
    EXPECT_EQ(camera_->WaitForResponse, 1) << byDriver;
  }
}

// ---------------------------------------------------------------- a failed save

const char kSaveFailed[] =
    "The settings could not be saved to the configuration file.\n\n(See further information "
    "about error from log file)";

class CameraSetupSaveTest : public CameraSetupDialogTest {
 protected:
  void SetUp() override {
    CameraSetupDialogTest::SetUp();
    ASSERT_EQ(camera_->Save(), 1);
  }
  void ReadOnly(bool on) {
    ASSERT_EQ(chmod((dir_ + "/QUARO7K7_PTZ.xml").c_str(), on ? 0444 : 0644), 0);
  }
  // A user renaming and renumbering the camera, then pressing OK.
  static void Edit(FakeWindow& w) {
    w.SetText(Dlg::kNameEdit, "Yard");
    w.Type(Dlg::kNumberEdit, "9");
    w.Type(Dlg::kAddressEdit, "33");
    w.Click(1);
  }
};

TEST_F(CameraSetupSaveTest, AFailedSaveIsShownAndKeepsTheDialogOpenUntilASaveSucceeds) {
  const std::string before = SettingsText();
  ReadOnly(true);
  EXPECT_EQ(Run([&](FakeWindow& w) {
              Edit(w);
              EXPECT_FALSE(w.Ended());
              EXPECT_EQ(w.GetText(Dlg::kNameEdit), "Yard");
              EXPECT_EQ(Checks(), Strings{kSaveFailed});
              EXPECT_EQ(toolkit_.Messages.back().icon, ui::MsgIcon::kExclamation);
              // The camera is what the file holds, under its old number.
              EXPECT_EQ(camera_->Name, "Gate");
              EXPECT_EQ(camera_->TavoID, 4);
              EXPECT_EQ(Driver().FindCameraByNumber(4).get(), camera_);
              EXPECT_EQ(SettingsText(), before);
              ReadOnly(false);
              w.Click(1);
            }),
            ui::kResultOk);
  EXPECT_EQ(camera_->Name, "Yard");
  EXPECT_EQ(Driver().FindCameraByNumber(8).get(), camera_);
  EXPECT_NE(SettingsText().find("<Name value=\"Yard\""), std::string::npos);
  EXPECT_TRUE(Logged("CAMERASETUPDLG.OnOk: Camera 9 (name: Yard) save failed (error -22).\n"));
}

// After a failed OK and Cancel, the next write of the file (another
// camera's) does not bring in what was refused.
TEST_F(CameraSetupSaveTest, ARefusedEditOrNewCameraDoesNotReachTheFileLater) {
  CVRTCamera* other = AddCamera(line_, 5, 13, "Dock");
  ASSERT_EQ(other->Save(), 1);
  CVRTCamera fresh(line_);
  ASSERT_EQ(line_->MakeCameraKey(1, &fresh.KeyPath), 1);
  const int32_t freshNumber = fresh.TavoID;
  for (CVRTCamera* edited : {camera_, &fresh}) {
    ReadOnly(true);
    EXPECT_EQ(Run(
                  [&](FakeWindow& w) {
                    Edit(w);
                    EXPECT_FALSE(w.Ended());
                    w.Click(2);
                  },
                  edited),
              ui::kResultCancel);
    ReadOnly(false);
    other->Name = "Dock 2";
    ASSERT_EQ(other->Save(), 1);
    const std::string text = SettingsText();
    EXPECT_NE(text.find("Dock 2"), std::string::npos);
    EXPECT_EQ(text.find("Yard"), std::string::npos) << text;
    EXPECT_EQ(text.find(fresh.KeyPath.substr(fresh.KeyPath.find('/') + 1)), std::string::npos);
  }
  EXPECT_EQ(fresh.TavoID, freshNumber);
  EXPECT_EQ(fresh.Name, "");
  // The new camera's OK, once the file can be written.
  EXPECT_EQ(Run(Edit, &fresh), ui::kResultOk);
  EXPECT_NE(SettingsText().find("Yard"), std::string::npos);
}

// Another process saved this camera since it was read: the save is refused.
TEST_F(CameraSetupSaveTest, ACameraChangedByAnotherProcessIsNotOverwritten) {
  CXMLSettingsAPI elsewhere;
  elsewhere.Folder = dir_;
  ASSERT_EQ(elsewhere.OpenDocument("QUARO7K7_PTZ.xml", 1, 0), kSettingsOk);
  ASSERT_EQ(elsewhere.SetValue("Gate B", "settings/" + camera_->KeyPath + "/Name"), 1);
  const std::string before = SettingsText();
  EXPECT_EQ(Run([&](FakeWindow& w) {
              Edit(w);
              EXPECT_FALSE(w.Ended());
              EXPECT_EQ(Checks(), Strings{kSaveFailed});
              w.Click(2);
            }),
            ui::kResultCancel);
  EXPECT_EQ(SettingsText(), before);
  EXPECT_EQ(camera_->TavoID, 4);
  EXPECT_EQ(camera_->Name, "Gate");
}

// ---------------------------------------------------------------- the line

class CameraSetupLineTest : public CameraSetupDialogTest {
 protected:
  void SetUp() override {
    CameraSetupDialogTest::SetUp();
    sim_.Publish(dir_, 9);
  }
  domesim::DomeSimulator sim_;
};

TEST_F(CameraSetupLineTest, VersionMenuPingResetAndOkOnTheLine) {
  toolkit_.Answer(ui::kAnswerNo);
  toolkit_.Answer(ui::kAnswerYes);
  EXPECT_EQ(Run([&](FakeWindow& w) {
              EXPECT_EQ(line_->IsOpen(), 1);  // opened by the dialog
              EXPECT_EQ(w.GetText(Dlg::kVersionEdit), "1.23, 4.56");
              EXPECT_EQ(sim_.TakeLines(), (Strings{"@55"}));
              for (int button : {Dlg::kMenu, Dlg::kUp, Dlg::kDown, Dlg::kRight, Dlg::kLeft,
                                 Dlg::kSet, Dlg::kMenu})
                w.Click(button);
              EXPECT_EQ(sim_.TakeLines(),
                        (Strings{"@47,5", "@47,1", "@47,2", "@47,3", "@47,4", "@47,0", "@47,5"}));
              // Ping and reset take the addresses as typed.
              w.Type(Dlg::kAddressEdit, "21");
              w.Type(Dlg::kNodeEdit, "128");
              w.Click(Dlg::kPing);
              EXPECT_EQ(w.GetText(Dlg::kPingResult).rfind("Found. Delay ", 0), 0u);
              w.Type(Dlg::kNodeEdit, "0");
              w.Click(Dlg::kPing);
              EXPECT_EQ(sim_.TakeLines(), (Strings{"@3,21", "$0,3,21"}));
              w.Click(Dlg::kReset);  // answered No: nothing sent
              EXPECT_TRUE(sim_.TakeLines().empty());
              w.Type(Dlg::kNodeEdit, "128");
              w.Type(Dlg::kAddressEdit, "12");
              w.Click(Dlg::kReset);
              EXPECT_EQ(sim_.TakeLines(), (Strings{"@4"}));
              EXPECT_EQ(sim_.State(128, 21).resets, 1);
              w.Type(Dlg::kAddressEdit, "21");
              w.Type(Dlg::kMonitorEdit, "3");
              w.Click(1);
            }),
            ui::kResultOk);
  const uifake::MessageRecord& reset = toolkit_.Messages.at(0);
  EXPECT_EQ(reset.buttons, ui::MsgButtons::kYesNo);
  EXPECT_EQ(reset.icon, ui::MsgIcon::kExclamation);
  EXPECT_EQ(reset.defaultAnswer, ui::kAnswerNo);
  EXPECT_TRUE(Logged("COMM.ResetCamera: Ok. Node address = 128, camera address = 12\n"));
  // OK selects the camera on the monitor under the address it had, then
  // sends the lens-slow state.
  const Strings atOk = sim_.TakeLines();
  ASSERT_GE(atOk.size(), 3u);
  EXPECT_EQ(Strings(atOk.begin(), atOk.begin() + 3), (Strings{"@2,3", "@3,12", "@6,22"}));
  EXPECT_EQ(camera_->SysID, 21);
  EXPECT_EQ(line_->IsOpen(), 0);  // closed again by the dialog that opened it
}

TEST_F(CameraSetupLineTest, ALineAHostOpenedMeanwhileStaysOpen) {
  EXPECT_EQ(Run([&](FakeWindow& w) {
              ASSERT_EQ(camera_->Open(), 1);
              w.Click(2);
            }),
            ui::kResultCancel);
  EXPECT_EQ(line_->IsOpen(), 1);
  sim_.ClearLines();
  EXPECT_EQ(camera_->Left(5), 1);
  EXPECT_TRUE(sim_.WaitForLines(1, 2000));
  EXPECT_EQ(camera_->Close(), 1);
}

}  // namespace
