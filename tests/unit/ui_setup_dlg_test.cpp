// The driver setup dialog through the fake window: the tree, the buttons'
// rules, the pending action of the configure call, adding, configuring and
// removing connections and cameras with every change saved at once, and the
// driver closing its dialogs from another thread.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "camera/camera.h"
#include "comm/comm.h"
#include "domesim/domesim.h"
#include "driver/driver.h"
#include "driver/settings_change.h"
#include "driver/settings_values.h"
#include "platform/posix/serial_device_posix.h"
#include "quaro7k7_ptz.h"
#include "settings_test_util.h"
#include "ui/about_dlg.h"
#include "ui/camera_setup_dlg.h"
#include "ui/comm_setup_dlg.h"
#include "ui/select_comm_dlg.h"
#include "ui/setup_dlg.h"
#include "ui_fake.h"

namespace {

using settings_test::ReadFile;
using settings_test::ScratchDir;
using settings_test::WriteFile;
using uifake::FakeToolkit;
using uifake::FakeWindow;

const char kFile[] = "QUARO7K7_PTZ.xml";
constexpr int kTree = CVRTSetupDlg::kTree;

std::string Value(const std::string& key, const std::string& value) {
  return "<" + key + " value=\"" + value + "\"/>";
}
std::string Camera(const std::string& name, int tavo, int sys, const std::string& extra = "") {
  return Value("Name", name) + Value("TavoID", std::to_string(tavo)) +
         Value("SysID", std::to_string(sys)) + Value("NodeAddress", "128") +
         Value("NofRelays", "3") + Value("NofStorageLocations", "99") + extra;
}
std::string Preset(const std::string& name, int memId) {
  return Value("Name", name) + Value("MemId", std::to_string(memId));
}

// Line Z on COM3 with Yard (host number 11, address 7) and Gate (4, 12,
// two presets), then Line A on COM1 with Lobby (0, no address yet).
std::string DefaultDocument() {
  return std::string(settings_test::kDeclaration) + "<settings>" + "<comm1>" +
         Value("Name", "Line Z") + Value("ComPort", "3") + "<cam1>" + Camera("Yard", 11, 7) +
         "</cam1><cam2>" +
         Camera("Gate", 4, 12,
                "<positions><PrePos1>" + Preset("Door", 1) + "</PrePos1><PrePos2>" +
                    Preset("Hall", 2) + "</PrePos2></positions>") +
         "</cam2></comm1>" + "<comm2>" + Value("Name", "Line A") + Value("ComPort", "1") +
         "<cam1>" + Camera("Lobby", 0, -1) + "</cam1></comm2>" + "</settings>\n";
}

const char kDefaultTree[] =
    "+[COM3]  Line Z\n"
    "  +005 [012]: Gate\n"
    "     [00] Door\n"
    "     [01] Hall\n"
    "  012 [007]: Yard\n"
    "+[COM1]  Line A\n"
    "  001 [ ? ]: Lobby\n";

CVRTCamera* EditedCamera(FakeWindow& w) {
  return static_cast<CVRTCameraSetupDlg&>(w.Dialog()).Camera;
}
CVRTComm* EditedConnection(FakeWindow& w) {
  return static_cast<CVRTCommSetupDlg&>(w.Dialog()).Connection;
}

using Dlg = CVRTCameraSetupDlg;
const char kSharedFunction[] =
    "Two relays performing the same function! Do you like to keep this setting?";

// The camera setup dialog's fields typed, then OK.
void TypeAndOk(FakeWindow& w, const std::vector<std::pair<int, std::string>>& fields) {
  for (const auto& field : fields) w.Type(field.first, field.second);
  w.Click(1);
}

class SetupDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The camera setup dialog opens its line: simulated domes answer on the
    // document's COM3 and COM1, so that no port of this machine takes part
    // (a COM port without a link in the port directory is /dev/ttyS<n-1>).
    lineZ_.Publish(dir_.Path, 3);
    lineA_.Publish(dir_.Path, 1);
    platform::SetPortDirectoryForTesting(dir_.Path + "/ports");
    Open(DefaultDocument());
    DriverLog().SetLogPath(dir_.Path);
    DriverLog().SetEnabled(1);
  }
  void TearDown() override {
    DriverLog().SetEnabled(0);
    Reset();
    platform::SetPortDirectoryForTesting("");
    lineZ_.Close();
    lineA_.Close();
    std::filesystem::remove_all(dir_.Path + "/ports");
  }

  void Open(const std::string& text) {
    Reset();
    WriteFile(dir_.File(kFile), text);
    Reopen();
  }
  // The module's next start on the file as it is now.
  void Reopen() {
    Reset();
    CVRTDriver& driver = Driver();
    driver.Settings.Folder = dir_.Path;
    ASSERT_EQ(driver.Settings.OpenDocument(kFile, 1, 1), 0);
    ASSERT_EQ(driver.Load(), 1);
  }
  static void Reset() {
    Driver().DestroyConnections();
    while (Driver().Settings.CloseDocument() > 0) {
    }
  }

  int Configure(int number) { return RunDriverSetup(Driver(), toolkit_, number, nullptr); }

  static std::vector<CVRTComm*> Connections() {
    std::vector<CVRTComm*> list;
    Driver().GetConnections(&list);
    return list;
  }
  static CVRTCamera* CameraNumbered(int number) {
    HeldCamera held = Driver().FindCameraByNumber(number);
    return held.get();
  }
  std::string FileText() const { return ReadFile(dir_.File(kFile)); }
  static std::string Key(const std::string& path) { return ReadTextKey("settings/" + path); }
  static std::string LogText() { return ReadFile(DriverLog().LogPath()); }
  static int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }
  // The message boxes of the driver setup dialog itself (the camera setup
  // dialog shows its own, for instance when the line cannot be opened).
  std::vector<uifake::MessageRecord> SetupMessages() const {
    std::vector<uifake::MessageRecord> mine;
    for (const uifake::MessageRecord& m : toolkit_.Messages)
      if (m.dialogId == ui::kDlgDriverSetup) mine.push_back(m);
    return mine;
  }
  std::vector<std::string> SetupMessageTexts() const {
    std::vector<std::string> texts;
    for (const uifake::MessageRecord& m : SetupMessages()) texts.push_back(m.text);
    return texts;
  }
  // The camera setup dialog's own messages, but the one saying that its
  // line did not open (the lines of these tests have no port).
  std::vector<uifake::MessageRecord> CameraMessages() const {
    std::vector<uifake::MessageRecord> mine;
    for (const uifake::MessageRecord& m : toolkit_.Messages)
      if (m.dialogId == ui::kDlgCameraSetup && m.text != ui::LoadString(16)) mine.push_back(m);
    return mine;
  }
  std::vector<std::string> CameraMessageTexts() const {
    std::vector<std::string> texts;
    for (const uifake::MessageRecord& m : CameraMessages()) texts.push_back(m.text);
    return texts;
  }
  static std::vector<bool> Buttons(FakeWindow& w) {
    std::vector<bool> states;
    for (int id = 1009; id <= 1015; ++id) states.push_back(w.IsEnabled(id));
    return states;
  }

  ScratchDir dir_;
  domesim::DomeSimulator lineZ_;
  domesim::DomeSimulator lineA_;
  FakeToolkit toolkit_;
};

TEST_F(SetupDialogTest, PlainSetupShowsEverythingExpandedAndTheButtonRulesFollowTheSelection) {
  toolkit_.Queue(ui::kDlgDriverSetup, [&](FakeWindow& w) {
    EXPECT_EQ(w.TreeDump(), kDefaultTree);
    EXPECT_EQ(w.GetSelectedTreeItem(kTree), ui::kNoTreeItem);
    EXPECT_EQ(w.Timers().at(CVRTSetupDlg::kStartTimer), 20);
    EXPECT_EQ(Driver().WindowCount(), 1);
    // Nothing is pending: the timer opens nothing and runs once.
    EXPECT_TRUE(w.FireTimer(CVRTSetupDlg::kStartTimer));
    EXPECT_FALSE(w.FireTimer(CVRTSetupDlg::kStartTimer));
    const std::vector<bool> all(7, true);
    EXPECT_EQ(Buttons(w), all);

    w.ClickTreeItemText(kTree, "[COM3]  Line Z");
    w.Click(1015);  // any event runs the rules
    EXPECT_EQ(Buttons(w), (std::vector<bool>{true, true, true, false, true, false, true}));
    w.ClickTreeItemText(kTree, "012 [007]: Yard");
    w.Click(1015);
    EXPECT_EQ(Buttons(w), (std::vector<bool>{false, true, false, true, false, true, true}));
    // A preset keeps the last state.
    w.ClickTreeItemText(kTree, " [00] Door");
    w.Click(1015);
    EXPECT_EQ(Buttons(w), (std::vector<bool>{false, true, false, true, false, true, true}));
    w.Click(1);
  });
  toolkit_.On(ui::kDlgAbout, [](FakeWindow& w) {
    EXPECT_EQ(Driver().WindowCount(), 2);  // the about box is in the list too
    w.Click(1);
  });
  EXPECT_EQ(Configure(-1), 1);
  EXPECT_EQ(toolkit_.Runs(ui::kDlgAbout), 3);
  EXPECT_EQ(toolkit_.Runs(ui::kDlgCameraSetup), 0);
  EXPECT_EQ(Driver().WindowCount(), 0);
  const std::string log = LogText();
  EXPECT_EQ(Count(log, "SETUPDLG.OnInitDialog: Driver setup dialog opened\r\n"), 1);
  EXPECT_EQ(Count(log, "SETUPDLG.OnOk: Driver setup dialog closed\r\n"), 1);

  // The close box: -12, and no OK line.
  toolkit_.Queue(ui::kDlgDriverSetup, [](FakeWindow& w) { w.Close(); });
  EXPECT_EQ(Configure(-1), -12);
  EXPECT_EQ(Count(LogText(), "SETUPDLG.OnOk"), 1);
  EXPECT_EQ(Driver().WindowCount(), 0);
}

TEST_F(SetupDialogTest, TreeTextsAndOrder) {
  CVRTCamera* gate = CameraNumbered(4);
  ASSERT_NE(gate, nullptr);
  toolkit_.Queue(ui::kDlgDriverSetup, [&](FakeWindow& w) {
    const ui::TreeItem item = w.FindTreeItem("005 [012]: Gate");
    ASSERT_NE(item, ui::kNoTreeItem);
    // Items carry their objects, and the objects their items.
    EXPECT_EQ(w.Node(item)->data, gate);
    EXPECT_EQ(w.Node(item)->image, ui::kImageCamera);
    EXPECT_EQ(reinterpret_cast<ui::TreeItem>(gate->TreeItem), item);
    EXPECT_EQ(w.Node(w.Node(item)->parent)->data, Connections()[0]);
    EXPECT_EQ(reinterpret_cast<ui::TreeItem>(Connections()[1]->GetTreeItem()),
              w.FindTreeItem("[COM1]  Line A"));
    w.Click(1);
  });
  EXPECT_EQ(Configure(-1), 1);
  EXPECT_EQ(CVRTSetupDlg::CameraText(gate), "005 [012]: Gate");
  gate->SysID = -1;
  EXPECT_EQ(CVRTSetupDlg::CameraText(gate), "005 [ ? ]: Gate");
  gate->TavoID = 999;
  gate->SysID = 1000;
  EXPECT_EQ(CVRTSetupDlg::CameraText(gate), "1000 [1000]: Gate");
}

TEST_F(SetupDialogTest, AnExistingCameraIsSelectedAndItsSetupOpensFromTheTimer) {
  const std::string before = FileText();
  toolkit_.Queue(ui::kDlgCameraSetup, [&](FakeWindow& w) {
    EXPECT_EQ(EditedCamera(w), CameraNumbered(4));
    EXPECT_EQ(toolkit_.Parents.back(), &toolkit_.Open[0]->Dialog());
    w.Close();
  });
  toolkit_.Queue(ui::kDlgDriverSetup, [&](FakeWindow& w) {
    EXPECT_EQ(w.GetTreeItemText(kTree, w.GetSelectedTreeItem(kTree)), "005 [012]: Gate");
    EXPECT_EQ(toolkit_.Runs(ui::kDlgCameraSetup), 0);  // not before the timer
    w.FireTimer(CVRTSetupDlg::kStartTimer);
    EXPECT_EQ(toolkit_.Runs(ui::kDlgCameraSetup), 1);
    // Cancelled with a camera selected: the connection buttons are off.
    EXPECT_FALSE(w.IsEnabled(1009));
    EXPECT_FALSE(w.IsEnabled(1011));
    EXPECT_FALSE(w.IsEnabled(1013));
    w.Close();
  });
  EXPECT_EQ(Configure(4), -12);
  EXPECT_EQ(FileText(), before);
}

TEST_F(SetupDialogTest, ANewNumberAsksForTheConnectionAndCancelThereKeepsTheDialogOpen) {
  const std::string before = FileText();
  toolkit_.Queue(ui::kDlgSelectComm, [](FakeWindow& w) { w.Close(); });
  toolkit_.Queue(ui::kDlgDriverSetup, [&](FakeWindow& w) {
    w.FireTimer(CVRTSetupDlg::kStartTimer);
    EXPECT_EQ(toolkit_.Runs(ui::kDlgSelectComm), 1);
    EXPECT_FALSE(w.Ended());
    EXPECT_EQ(w.TreeDump(), kDefaultTree);
    w.Click(1);
  });
  EXPECT_EQ(Configure(20), 1);
  EXPECT_EQ(toolkit_.Runs(ui::kDlgCameraSetup), 0);
  EXPECT_EQ(FileText(), before);
}

TEST_F(SetupDialogTest, ANewNumberCreatesTheCameraOnTheChosenConnectionUnderItsFirstFreeKey) {
  CVRTComm* lineA = Connections()[1];
  toolkit_.Queue(ui::kDlgSelectComm, [&](FakeWindow& w) {
    static_cast<CVRTSelectCommDlg&>(w.Dialog()).SelectedConnection = lineA;
    w.EndDialog(ui::kResultOk);
  });
  toolkit_.Queue(ui::kDlgCameraSetup, [&](FakeWindow& w) {
    CVRTCamera* camera = EditedCamera(w);
    EXPECT_EQ(camera->TavoID, 20);
    EXPECT_EQ(camera->KeyPath, "comm2/cam2");
    EXPECT_EQ(camera->Connection, lineA);
    TypeAndOk(w, {{Dlg::kNameEdit, "Dock"}, {Dlg::kAddressEdit, "3"}});
    EXPECT_TRUE(w.Ended());
  });
  toolkit_.Queue(ui::kDlgDriverSetup, [&](FakeWindow& w) {
    w.FireTimer(CVRTSetupDlg::kStartTimer);
    EXPECT_EQ(w.GetTreeItemText(kTree, w.GetSelectedTreeItem(kTree)), "021 [003]: Dock");
    EXPECT_EQ(static_cast<CVRTSetupDlg&>(w.Dialog()).PendingAction, 0);
    w.Close();
  });
  EXPECT_EQ(Configure(20), -12);
  ASSERT_NE(CameraNumbered(20), nullptr);
  EXPECT_EQ(Key("comm2/cam2/Name"), "Dock");
  EXPECT_EQ(Key("comm2/cam2/TavoID"), "20");
  Reopen();
  ASSERT_NE(CameraNumbered(20), nullptr);
  EXPECT_EQ(CameraNumbered(20)->Connection, Connections()[1]);
}

// A refused OK writes nothing: a new camera cancelled after it leaves
// nothing in the file (it would come back at the next start).
TEST_F(SetupDialogTest, ANewCameraCancelledAfterARefusedOkLeavesNothingInTheFile) {
  const std::string before = FileText();
  toolkit_.Queue(ui::kDlgCameraSetup, [](FakeWindow& w) {
    TypeAndOk(w, {{Dlg::kNameEdit, "New"},
                  {Dlg::kNumberEdit, "12"},  // Yard's
                  {Dlg::kAddressEdit, "40"},
                  {Dlg::kRelayCountEdit, "5"}});
    EXPECT_FALSE(w.Ended());
    w.Close();
  });
  toolkit_.Queue(ui::kDlgDriverSetup, [&](FakeWindow& w) {
    w.ClickTreeItemText(kTree, "[COM3]  Line Z");
    w.Click(1013);
    w.Close();
  });
  EXPECT_EQ(Configure(-1), -12);
  EXPECT_EQ(toolkit_.Runs(ui::kDlgCameraSetup), 1);
  EXPECT_EQ(CameraMessageTexts(), std::vector<std::string>{ui::LoadString(12)});
  EXPECT_EQ(FileText(), before);
  Reopen();
  EXPECT_EQ(Connections()[0]->CameraCount(), 2);
}

// The camera setup dialog stays open, with what was typed, until the
// number and the address are free; only then is anything saved.
TEST_F(SetupDialogTest, AddCameraStaysOpenUntilTheNumberAndAddressAreFree) {
  const std::string before = FileText();
  toolkit_.Queue(ui::kDlgCameraSetup, [&](FakeWindow& w) {
    TypeAndOk(w, {{Dlg::kNumberEdit, "12"},  // Yard's
                  {Dlg::kAddressEdit, "40"},
                  {Dlg::kNameEdit, "New"}});
    EXPECT_FALSE(w.Ended());
    TypeAndOk(w, {{Dlg::kNumberEdit, "13"}, {Dlg::kAddressEdit, "12"}});  // Gate's, same line
    EXPECT_FALSE(w.Ended());
    TypeAndOk(w, {{Dlg::kNameEdit, "yard"}, {Dlg::kAddressEdit, "41"}});  // Yard's, but for case
    EXPECT_FALSE(w.Ended());
    EXPECT_EQ(FileText(), before);
    TypeAndOk(w, {{Dlg::kNameEdit, "New"}});
    EXPECT_TRUE(w.Ended());
  });
  toolkit_.Queue(ui::kDlgDriverSetup, [&](FakeWindow& w) {
    w.ClickTreeItemText(kTree, "[COM3]  Line Z");
    w.Click(1013);
    EXPECT_EQ(w.GetTreeItemText(kTree, w.GetSelectedTreeItem(kTree)), "013 [041]: New");
    w.Click(1);
  });
  EXPECT_EQ(Configure(-1), 1);
  EXPECT_EQ(toolkit_.Runs(ui::kDlgCameraSetup), 1);
  const std::vector<uifake::MessageRecord> messages = CameraMessages();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0].text, ui::LoadString(12));
  EXPECT_EQ(messages[0].icon, ui::MsgIcon::kInformation);
  EXPECT_EQ(messages[1].text, ui::LoadString(13));
  EXPECT_EQ(messages[1].icon, ui::MsgIcon::kExclamation);
  EXPECT_EQ(messages[2].text, ui::LoadString(14));
  EXPECT_TRUE(SetupMessages().empty());
  EXPECT_EQ(Key("comm1/cam3/Name"), "New");
  EXPECT_EQ(Key("comm1/cam3/SysID"), "41");
  ASSERT_NE(CameraNumbered(12), nullptr);
  EXPECT_EQ(CameraNumbered(11)->Name, "Yard");

  // Cancel leaves nothing behind.
  const std::string added = FileText();
  toolkit_.Queue(ui::kDlgCameraSetup, [](FakeWindow& w) { w.Close(); });
  toolkit_.Queue(ui::kDlgDriverSetup, [&](FakeWindow& w) {
    w.ClickTreeItemText(kTree, "[COM1]  Line A");
    w.Click(1013);
    w.Close();
  });
  EXPECT_EQ(Configure(-1), -12);
  EXPECT_EQ(FileText(), added);
  EXPECT_EQ(Connections()[1]->CameraCount(), 1);
}

TEST_F(SetupDialogTest, ConfigureCameraRefusesTakenNumbersAndAddressesThenRenumbers) {
  CVRTCamera* gate = CameraNumbered(4);
  const std::string before = FileText();
  toolkit_.Queue(ui::kDlgCameraSetup, [&](FakeWindow& w) {
    TypeAndOk(w, {{Dlg::kNumberEdit, "1"}, {Dlg::kAddressEdit, "99"}});  // Lobby's, other line
    EXPECT_FALSE(w.Ended());
    // The camera kept every value it had.
    EXPECT_EQ(gate->TavoID, 4);
    EXPECT_EQ(gate->SysID, 12);
    TypeAndOk(w, {{Dlg::kNumberEdit, "5"}, {Dlg::kAddressEdit, "7"}});  // Yard's
    EXPECT_FALSE(w.Ended());
    EXPECT_EQ(FileText(), before);
    TypeAndOk(w, {{Dlg::kNumberEdit, "30"}, {Dlg::kAddressEdit, "13"}, {Dlg::kNameEdit, "Gate 2"}});
    EXPECT_TRUE(w.Ended());
  });
  toolkit_.Queue(ui::kDlgDriverSetup, [&](FakeWindow& w) {
    w.ClickTreeItemText(kTree, "005 [012]: Gate");
    w.Click(1012);
    EXPECT_NE(w.FindTreeItem("030 [013]: Gate 2"), ui::kNoTreeItem);
    EXPECT_EQ(w.FindTreeItem("005 [012]: Gate"), ui::kNoTreeItem);
    w.Close();
  });
  EXPECT_EQ(Configure(-1), -12);
  EXPECT_EQ(toolkit_.Runs(ui::kDlgCameraSetup), 1);
  EXPECT_EQ(CameraMessageTexts(),
            (std::vector<std::string>{ui::LoadString(12), ui::LoadString(13)}));
  EXPECT_EQ(CameraNumbered(29), gate);
  EXPECT_EQ(CameraNumbered(4), nullptr);
  EXPECT_EQ(Key("comm1/cam2/TavoID"), "29");
  EXPECT_EQ(Key("comm1/cam2/Name"), "Gate 2");
  Reopen();
  ASSERT_NE(CameraNumbered(29), nullptr);
  EXPECT_EQ(CameraNumbered(29)->SysID, 13);
}

TEST_F(SetupDialogTest, ANewCameraGetsEveryRelayOfItsCount) {
  toolkit_.Queue(ui::kDlgCameraSetup, [](FakeWindow& w) {
    TypeAndOk(w, {{Dlg::kNumberEdit, "21"},
                  {Dlg::kNameEdit, "Dock"},
                  {Dlg::kAddressEdit, "30"},
                  {Dlg::kRelayCountEdit, "5"}});
    EXPECT_TRUE(w.Ended());
  });
  toolkit_.Queue(ui::kDlgDriverSetup, [&](FakeWindow& w) {
    w.ClickTreeItemText(kTree, "[COM3]  Line Z");
    w.Click(1013);
    w.Click(1);
  });
  EXPECT_EQ(Configure(-1), 1);
  EXPECT_EQ(Key("comm1/cam3/NofRelays"), "5");
  for (int n = 1; n <= 5; ++n) {
    const std::string name = "Relay" + std::to_string(n);
    EXPECT_EQ(Key("comm1/cam3/relays/" + name + "/Name"), name);
  }
  EXPECT_EQ(Count(FileText(), "<Relay"), 3 + 3 + 3 + 5);
  Reopen();
  HeldCamera dock = Driver().FindCameraByNumber(20);
  ASSERT_TRUE(dock);
  VRT_RelayRecord count{};
  count.relay = -1;
  ASSERT_EQ(dock->GetRelayState(&count), 5);
  EXPECT_EQ(dock->GetRelayAt(3)->Name, "Relay4");
}

// Nothing of a refused OK (a value, a taken number, the relay question
// answered No) reaches the camera or the file; an accepted one saves the
// camera once.
TEST_F(SetupDialogTest, ConfigureCameraChangesNothingUntilItsOkIsAcceptedThenSavesOnce) {
  CVRTCamera* gate = CameraNumbered(4);
  const std::string before = FileText();
  const std::string saved = "CAM.Save: TAVO Camera 5 save OK.";
  const int savesBefore = Count(LogText(), saved);
  toolkit_.Answer(ui::kAnswerNo);
  toolkit_.Answer(ui::kAnswerYes);
  toolkit_.Queue(ui::kDlgCameraSetup, [&](FakeWindow& w) {
    TypeAndOk(w, {{Dlg::kRelayCountEdit, "5"}, {Dlg::kNumberEdit, "12"}});  // Yard's number
    EXPECT_FALSE(w.Ended());
    TypeAndOk(w, {{Dlg::kNumberEdit, "5"}, {Dlg::kPresetSpeedEdit, "0"}});
    EXPECT_FALSE(w.Ended());
    w.ChooseText(Dlg::kAux1List, "WASH");
    w.ChooseText(Dlg::kAux2List, "WASH");
    TypeAndOk(w, {{Dlg::kPresetSpeedEdit, "50"}, {Dlg::kNameEdit, "Gate East"}});  // No
    EXPECT_FALSE(w.Ended());
    EXPECT_EQ(FileText(), before);
    EXPECT_EQ(gate->NofRelays, 3);
    EXPECT_EQ(gate->RelayCount(), 3);
    EXPECT_EQ(gate->Aux1Func, 0);
    EXPECT_EQ(gate->DefaultPreposSpeed, 0);  // as loaded (the file has none)
    EXPECT_EQ(gate->Name, "Gate");
    w.Click(1);  // Yes
    EXPECT_TRUE(w.Ended());
  });
  toolkit_.Queue(ui::kDlgDriverSetup, [&](FakeWindow& w) {
    w.ClickTreeItemText(kTree, "005 [012]: Gate");
    w.Click(1012);
    EXPECT_NE(w.FindTreeItem("005 [012]: Gate East"), ui::kNoTreeItem);
    w.Click(1);
  });
  EXPECT_EQ(Configure(-1), 1);
  EXPECT_EQ(CameraMessageTexts(),
            (std::vector<std::string>{
                ui::LoadString(12), "Illegal preset speed. Valid values for the driver are 1 - 100",
                kSharedFunction, kSharedFunction}));
  EXPECT_EQ(toolkit_.Unanswered, 0);
  EXPECT_EQ(Count(LogText(), saved) - savesBefore, 1);
  EXPECT_EQ(Key("comm1/cam2/NofRelays"), "5");
  EXPECT_EQ(Key("comm1/cam2/relays/Relay5/Name"), "Relay5");
  EXPECT_EQ(Key("comm1/cam2/Aux2Func"), "1");
  EXPECT_EQ(Key("comm1/cam2/DefaultPreposSpeed"), "50");
  EXPECT_EQ(Key("comm1/cam2/Name"), "Gate East");
  EXPECT_EQ(gate->RelayCount(), 5);
}

TEST_F(SetupDialogTest, RemoveConnectionAnsweredNoChangesNothingAndYesRemovesItWithItsCameras) {
  const std::string before = FileText();
  toolkit_.Answer(ui::kAnswerNo);
  toolkit_.Answer(ui::kAnswerYes);
  toolkit_.Answer(ui::kAnswerYes);
  toolkit_.Queue(ui::kDlgDriverSetup, [&](FakeWindow& w) {
    w.ClickTreeItemText(kTree, "[COM3]  Line Z");
    w.Click(1011);
    EXPECT_EQ(w.TreeDump(), kDefaultTree);
    EXPECT_EQ(FileText(), before);
    // Confirmed while a preset is selected: nothing happens.
    w.ClickTreeItemText(kTree, " [01] Hall");
    w.Click(1011);
    EXPECT_EQ(w.TreeDump(), kDefaultTree);
    w.ClickTreeItemText(kTree, "[COM3]  Line Z");
    w.Click(1011);
    EXPECT_EQ(w.TreeDump(), "+[COM1]  Line A\n  001 [ ? ]: Lobby\n");
    w.Click(1);
  });
  EXPECT_EQ(Configure(-1), 1);
  ASSERT_EQ(toolkit_.Messages.size(), 3u);
  EXPECT_EQ(toolkit_.Messages[0].text, ui::LoadString(1));
  EXPECT_EQ(toolkit_.Messages[0].buttons, ui::MsgButtons::kYesNo);
  EXPECT_EQ(toolkit_.Messages[0].icon, ui::MsgIcon::kQuestion);
  EXPECT_EQ(
      Count(LogText(), "SETUPDLG.OnCommRemove: Connection 'Line Z' deleted succesfully (COM3)\r\n"),
      1);
  EXPECT_EQ(Key("comm1/Name"), "Line A");
  EXPECT_FALSE(KeyExists("settings/comm2"));
  EXPECT_EQ(CameraNumbered(4), nullptr);
  EXPECT_EQ(CameraNumbered(11), nullptr);
  EXPECT_NE(CameraNumbered(0), nullptr);
}

TEST_F(SetupDialogTest, RemoveCameraAnsweredNoChangesNothingAndYesRemovesItWithItsPresets) {
  const std::string before = FileText();
  toolkit_.Answer(ui::kAnswerNo);
  toolkit_.Answer(ui::kAnswerYes);
  toolkit_.Queue(ui::kDlgDriverSetup, [&](FakeWindow& w) {
    w.ClickTreeItemText(kTree, "005 [012]: Gate");
    w.Click(1014);
    EXPECT_EQ(w.TreeDump(), kDefaultTree);
    EXPECT_EQ(FileText(), before);
    w.Click(1014);
    EXPECT_EQ(w.TreeDump(),
              "+[COM3]  Line Z\n  012 [007]: Yard\n+[COM1]  Line A\n  001 [ ? ]: Lobby\n");
    w.Close();
  });
  EXPECT_EQ(Configure(-1), -12);
  EXPECT_EQ(toolkit_.Messages[0].text, ui::LoadString(2));
  EXPECT_EQ(Count(LogText(), "SETUPDLG.OnCamRemove: Camera 5 named 'Gate' removed succesfully\r\n"),
            1);
  EXPECT_EQ(CameraNumbered(4), nullptr);
  EXPECT_EQ(Key("comm1/cam1/Name"), "Yard");
  EXPECT_FALSE(KeyExists("settings/comm1/cam2"));
  Reopen();
  EXPECT_EQ(CameraNumbered(4), nullptr);
  EXPECT_NE(CameraNumbered(11), nullptr);
}

TEST_F(SetupDialogTest, ARemoveWhoseSaveFailedIsReportedNotLoggedAsDone) {
  const std::string before = FileText();
  const std::string path = dir_.File(kFile);
  for (int i = 0; i < 2; ++i) toolkit_.Answer(ui::kAnswerYes);
  toolkit_.Queue(ui::kDlgDriverSetup, [&](FakeWindow& w) {
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    w.ClickTreeItemText(kTree, "005 [012]: Gate");
    w.Click(1014);
    w.ClickTreeItemText(kTree, "[COM1]  Line A");
    w.Click(1011);
    ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    w.Close();
  });
  EXPECT_EQ(Configure(-1), -12);
  EXPECT_EQ(FileText(), before);
  EXPECT_EQ(SetupMessageTexts(), (std::vector<std::string>{ui::LoadString(2), ui::LoadString(20),
                                                           ui::LoadString(1), ui::LoadString(20)}));
  EXPECT_EQ(Count(LogText(), "SETUPDLG.OnCamRemove: Settings save failed (error -22).\r\n"), 1);
  EXPECT_EQ(Count(LogText(), "SETUPDLG.OnCommRemove: Settings save failed (error -22).\r\n"), 1);
  EXPECT_EQ(Count(LogText(), "succesfully"), 0);
}

TEST_F(SetupDialogTest, ConfigureConnectionSavesUnderItsKeyAndCancelLaterUndoesNothing) {
  const std::string before = FileText();
  toolkit_.Queue(ui::kDlgCommSetup, [](FakeWindow& w) { w.Close(); });
  toolkit_.Queue(ui::kDlgCommSetup, [](FakeWindow& w) {
    CVRTComm* c = EditedConnection(w);
    EXPECT_EQ(c->GetName(), "Line A");
    EXPECT_EQ(static_cast<CVRTCommSetupDlg&>(w.Dialog()).IsNew, 0);
    w.SetText(CVRTCommSetupDlg::kNameEdit, "Line B");
    w.Click(1);
  });
  toolkit_.Queue(ui::kDlgDriverSetup, [&](FakeWindow& w) {
    w.ClickTreeItemText(kTree, "[COM1]  Line A");
    w.Click(1009);
    EXPECT_EQ(FileText(), before);
    w.Click(1009);
    EXPECT_NE(w.FindTreeItem("[COM1]  Line B"), ui::kNoTreeItem);
    w.Close();
  });
  EXPECT_EQ(Configure(-1), -12);
  EXPECT_EQ(Connections()[1]->GetKey(), "comm2");
  EXPECT_EQ(Key("comm2/Name"), "Line B");
  EXPECT_EQ(Key("comm2/ComPort"), "1");
  Reopen();
  EXPECT_EQ(Connections()[1]->GetName(), "Line B");
  EXPECT_EQ(Connections()[1]->GetComPort(), 1);
}

TEST_F(SetupDialogTest, AddConnectionCancelledAddsNothingAndOkAddsItUnderTheFirstFreeKey) {
  const std::string before = FileText();
  toolkit_.Queue(ui::kDlgCommSetup, [](FakeWindow& w) { w.Close(); });
  toolkit_.Queue(ui::kDlgCommSetup, [](FakeWindow& w) {
    auto& dialog = static_cast<CVRTCommSetupDlg&>(w.Dialog());
    EXPECT_EQ(dialog.IsNew, 1);
    EXPECT_EQ(dialog.Connection->GetKey(), "");
    dialog.Connection->SetName("Line C");
    dialog.Connection->SetComPort(7);
    w.EndDialog(ui::kResultOk);
  });
  toolkit_.Queue(ui::kDlgDriverSetup, [&](FakeWindow& w) {
    w.Click(1010);
    EXPECT_EQ(Connections().size(), 2u);
    EXPECT_EQ(FileText(), before);
    w.Click(1010);
    EXPECT_EQ(w.GetTreeItemText(kTree, w.GetSelectedTreeItem(kTree)), "[COM7]  Line C");
    w.Click(1);
  });
  EXPECT_EQ(Configure(-1), 1);
  ASSERT_EQ(Connections().size(), 3u);
  EXPECT_EQ(Connections()[2]->GetKey(), "comm3");
  EXPECT_EQ(Key("comm3/Name"), "Line C");
  Reopen();
  EXPECT_EQ(Connections().size(), 3u);
}

// A connection whose save failed: the driver setup dialog says so and shows
// the connection setup dialog again with what was typed; its node left the
// document, so no other write brings it in.
TEST_F(SetupDialogTest, AnAddedConnectionWhoseSaveFailedIsOfferedAgainAndAddedOnceSaved) {
  const std::string before = FileText();
  const std::string path = dir_.File(kFile);
  auto typeLineC = [](FakeWindow& w) {
    auto& dialog = static_cast<CVRTCommSetupDlg&>(w.Dialog());
    dialog.Connection->SetName("Line C");
    dialog.Connection->SetComPort(7);
    w.EndDialog(ui::kResultOk);
  };
  toolkit_.Queue(ui::kDlgCommSetup, typeLineC);
  toolkit_.Queue(ui::kDlgCommSetup, [&](FakeWindow& w) {
    EXPECT_EQ(w.GetText(CVRTCommSetupDlg::kNameEdit), "Line C");
    EXPECT_EQ(FileText(), before);
    EXPECT_EQ(Connections().size(), 2u);
    ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    ASSERT_EQ(Driver().Save(), 1);
    EXPECT_EQ(FileText().find("Line C"), std::string::npos);
    typeLineC(w);
  });
  toolkit_.Queue(ui::kDlgDriverSetup, [&](FakeWindow& w) {
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    w.Click(1010);
    EXPECT_EQ(w.GetTreeItemText(kTree, w.GetSelectedTreeItem(kTree)), "[COM7]  Line C");
    w.Click(1);
  });
  EXPECT_EQ(Configure(-1), 1);
  EXPECT_EQ(SetupMessageTexts(), std::vector<std::string>{ui::LoadString(20)});
  EXPECT_EQ(Count(LogText(),
                  "SETUPDLG.SetupNewConnection: Connection Line C save failed (error "
                  "-22).\r\n"),
            1);
  EXPECT_EQ(Key("comm3/Name"), "Line C");
}

TEST_F(SetupDialogTest, ACameraRemovedElsewhereSinceTheTreeWasFilledIsLeftAlone) {
  toolkit_.Answer(ui::kAnswerYes);
  toolkit_.Queue(ui::kDlgDriverSetup, [&](FakeWindow& w) {
    w.ClickTreeItemText(kTree, "005 [012]: Gate");
    // Another configure call (another host thread) removes it.
    Driver().DeleteCamera(CameraNumbered(4));
    w.Click(1012);
    w.Click(1014);
    EXPECT_EQ(toolkit_.Runs(ui::kDlgCameraSetup), 0);
    w.Click(1);
  });
  EXPECT_EQ(Configure(-1), 1);
  EXPECT_EQ(Count(LogText(), "SETUPDLG.OnCamRemove"), 0);
}

TEST_F(SetupDialogTest, ConfigureEntryRefusesNumbersBelowMinusOneAndSaysWhyWithoutDialogs) {
  EXPECT_EQ(VRT_CamConfigure(-2, nullptr), -3);
  EXPECT_EQ(Count(LogText(), "VRT_CamConfigure"), 0);
  // This test program has no dialog renderer beside it.
  EXPECT_EQ(VRT_CamConfigure(-1, nullptr), -12);
  EXPECT_EQ(Count(LogText(), "VRT_CamConfigure: Setup dialog not shown: "), 1);
  EXPECT_EQ(RunDriverSetup(Driver(), toolkit_, -2, nullptr), -3);
  EXPECT_TRUE(toolkit_.Opened.empty());
}

TEST_F(SetupDialogTest, DriverMessagesGoToTheInnermostDialogOfTheCallingThread) {
  toolkit_.Queue(ui::kDlgAbout, [](FakeWindow& w) {
    Driver().ShowMessage("Note! Current node 5 is off line.", ui::MsgIcon::kExclamation);
    w.Click(1);
  });
  toolkit_.Queue(ui::kDlgDriverSetup, [&](FakeWindow& w) {
    Driver().ShowMessage("first", ui::MsgIcon::kExclamation);
    w.Click(1015);
    testing::internal::CaptureStderr();
    std::thread([] { Driver().ShowMessage("elsewhere", ui::MsgIcon::kExclamation); }).join();
    EXPECT_NE(testing::internal::GetCapturedStderr().find("elsewhere"), std::string::npos);
    w.Click(1);
  });
  EXPECT_EQ(Configure(-1), 1);
  ASSERT_EQ(toolkit_.Messages.size(), 2u);
  EXPECT_EQ(toolkit_.Messages[0].dialogId, ui::kDlgDriverSetup);
  EXPECT_EQ(toolkit_.Messages[1].dialogId, ui::kDlgAbout);
  EXPECT_EQ(toolkit_.Messages[1].icon, ui::MsgIcon::kExclamation);
}

// ---------------------------------------------------------------- threads

using SetupDialogConcurrencyTest = SetupDialogTest;

TEST_F(SetupDialogConcurrencyTest, CloseUiFromAnotherThreadEndsTheNestedAndTheDriverDialog) {
  std::promise<void> nestedOpen;
  toolkit_.Queue(ui::kDlgCameraSetup, [&](FakeWindow& w) {
    nestedOpen.set_value();
    EXPECT_TRUE(w.WaitForPostedEnd(10000));
  });
  toolkit_.Queue(ui::kDlgDriverSetup, [&](FakeWindow& w) {
    w.FireTimer(CVRTSetupDlg::kStartTimer);
    EXPECT_TRUE(w.WaitForPostedEnd(10000));
  });
  auto configure = std::async(std::launch::async, [&] { return Configure(4); });
  ASSERT_EQ(nestedOpen.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(Driver().WindowCount(), 2);
  EXPECT_EQ(VRT_CamCloseUi(), 1);
  EXPECT_EQ(configure.get(), -12);
  EXPECT_EQ(Driver().WindowCount(), 0);
  EXPECT_FALSE(Driver().ClosingWindows());
  EXPECT_EQ(Count(LogText(), "DRV.KillAllWindows: function executed\r\n"), 1);
  // With nothing open it only writes its line.
  EXPECT_EQ(VRT_CamCloseUi(), 1);
  EXPECT_EQ(Count(LogText(), "DRV.KillAllWindows: function executed\r\n"), 2);
  EXPECT_FALSE(Driver().ClosingWindows());
}

// A nested dialog of the driver's list with no rules of its own.
class ListedDialog : public ui::CDialog {
 public:
  explicit ListedDialog(ui::Toolkit& toolkit)
      : ui::CDialog(toolkit, ui::kDlgCommSetup, &Driver()) {}
};

TEST_F(SetupDialogConcurrencyTest, ADialogOpeningWhileTheDriverClosesItsWindowsEndsAtOnce) {
  toolkit_.Queue(ui::kDlgDriverSetup, [&](FakeWindow& w) {
    std::thread([] { Driver().KillAllWindows(); }).join();
    // Handlers that were already running open nested dialogs; they end
    // before their user sees them (no script runs for them).
    static_cast<CVRTSetupDlg&>(w.Dialog()).OnAbout();
    ListedDialog nested(toolkit_);
    toolkit_.Queue(ui::kDlgCommSetup, [](FakeWindow& n) { n.DeliverPostedEnd(); });
    EXPECT_EQ(nested.DoModal(&w.Dialog()), ui::kResultCancel);
    EXPECT_TRUE(w.WaitForPostedEnd(1000));
  });
  EXPECT_EQ(Configure(-1), -12);
  EXPECT_EQ(toolkit_.Runs(ui::kDlgAbout), 1);
  EXPECT_EQ(Driver().WindowCount(), 0);
  EXPECT_FALSE(Driver().ClosingWindows());
}

TEST_F(SetupDialogConcurrencyTest, ExitModuleEndsTheDialogsAndWaitsBeforeDestroyingConnections) {
  std::promise<void> nestedOpen;
  std::atomic<bool> exited{false};
  std::string nameSeen;
  toolkit_.Queue(ui::kDlgCameraSetup, [&](FakeWindow& w) {
    CVRTCamera* camera = EditedCamera(w);
    nestedOpen.set_value();
    EXPECT_TRUE(w.WaitForPostedEnd(10000));
    // The dialog still works with its camera after it was told to end.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(exited.load());
    nameSeen = camera->Name;
  });
  toolkit_.Queue(ui::kDlgDriverSetup, [&](FakeWindow& w) {
    w.FireTimer(CVRTSetupDlg::kStartTimer);
    w.WaitForPostedEnd(10000);
  });
  auto configure = std::async(std::launch::async, [&] { return Configure(4); });
  ASSERT_EQ(nestedOpen.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(VRT_CamExitModule(), 1);
  exited = true;
  EXPECT_EQ(configure.get(), -12);
  EXPECT_EQ(nameSeen, "Gate");
  EXPECT_EQ(Driver().ConnectionCount(), 0);
}

TEST_F(SetupDialogConcurrencyTest, ExitModuleOnTheDialogsOwnThreadDestroysWhenTheCallReturns) {
  toolkit_.Queue(ui::kDlgDriverSetup, [&](FakeWindow& w) {
    // A host whose own loop runs the dialog ends the module from there.
    EXPECT_EQ(VRT_CamExitModule(), 1);
    EXPECT_EQ(Driver().ConnectionCount(), 2);
    EXPECT_NE(CameraNumbered(4), nullptr);  // still there to use
    EXPECT_NE(w.FindTreeItem("005 [012]: Gate"), ui::kNoTreeItem);
    w.DeliverPostedEnd();
    EXPECT_TRUE(w.Ended());
  });
  EXPECT_EQ(Configure(-1), -12);
  EXPECT_EQ(Driver().ConnectionCount(), 0);
  EXPECT_EQ(CameraNumbered(4), nullptr);
}

// A new start of the module while its last end still waits for a dialog
// loads nothing beside the connections that are to go: those would
// otherwise be taken along when the dialog returns.
TEST_F(SetupDialogConcurrencyTest, StartWhileTheLastEndWaitsForADialogLoadsNothing) {
  toolkit_.Queue(ui::kDlgDriverSetup, [&](FakeWindow& w) {
    EXPECT_EQ(VRT_CamExitModule(), 1);
    EXPECT_FALSE(Driver().WaitForEndedModule(0));
    EXPECT_EQ(VRT_CamInitModule(1, nullptr, dir_.Path.c_str()), QUARO7_CAMERA_BUSY);
    EXPECT_EQ(Driver().ConnectionCount(), 2);
    w.DeliverPostedEnd();
  });
  EXPECT_EQ(Configure(-1), -12);
  EXPECT_EQ(Driver().ConnectionCount(), 0);
  EXPECT_TRUE(Driver().WaitForEndedModule(0));
  EXPECT_NE(LogText().find("VRT_CamInitModule: The module's last end still waits for its setup "
                           "dialogs.\r\n"),
            std::string::npos);
}

// A save that took a camera from the list holds it until it is done: the
// camera's removal waits for that before it hands the camera over to be
// destroyed.
TEST_F(SetupDialogConcurrencyTest, ARemovedCameraIsHandedOverOnlyOnceASaveHoldingItIsDone) {
  CVRTComm* line = Connections()[1];
  auto camera = std::make_unique<CVRTCamera>(line);
  camera->Name = "Temp";
  camera->SysID = 3;
  CVRTCamera* raw = camera.get();
  ASSERT_EQ(line->AddCamera(std::move(camera)), 1);
  std::promise<std::unique_ptr<CVRTCamera>> removed;
  std::future<std::unique_ptr<CVRTCamera>> handedOver = removed.get_future();
  std::thread remover;
  {
    CameraHolds holds(line);
    ASSERT_EQ(holds.Cameras().size(), 2u);
    remover = std::thread([&] { removed.set_value(line->RemoveCamera(raw)); });
    EXPECT_EQ(handedOver.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    EXPECT_EQ(line->CameraCount(), 1);  // off the list at once
  }
  remover.join();
  EXPECT_EQ(handedOver.get().get(), raw);
}

TEST_F(SetupDialogConcurrencyTest, CamerasComeAndGoWhileHostThreadsSaveAndWalkTheList) {
  CVRTComm* line = Connections()[1];
  std::atomic<bool> done{false};
  std::thread walker([&] {
    while (!done.load()) {
      std::vector<CVRTCamera*> cameras;
      line->GetCameras(&cameras);
      std::string key;
      line->MakeCameraKey(1, &key);
      line->FindCamera(3);
      line->CameraCount();
    }
  });
  std::thread saver([&] {
    while (!done.load()) line->Save();
  });
  for (int i = 0; i < 200; ++i) {
    auto camera = std::make_unique<CVRTCamera>(line);
    camera->Name = "Temp" + std::to_string(i);
    camera->SysID = 3;
    CVRTCamera* raw = camera.get();
    ASSERT_EQ(line->AddCamera(std::move(camera)), 1);
    std::unique_ptr<CVRTCamera> removed = line->RemoveCamera(raw);
    ASSERT_EQ(removed.get(), raw);
  }
  done = true;
  walker.join();
  saver.join();
  EXPECT_EQ(line->CameraCount(), 1);
}

}  // namespace
