// The connection setup dialog (port list, probing, checks at OK, the
// connection's own port around the dialog) and the connection selection
// dialog (list, OK, double click, Create New), through the fake window.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "domesim/domesim.h"
#include "platform/serial_port_list.h"
#include "ui/select_comm_dlg.h"
#include "ui_dialog_fixture.h"

namespace {

using uifake::FakeWindow;
using Strings = std::vector<std::string>;

constexpr int kCommSetup = ui::kDlgCommSetup;
constexpr int kSelect = ui::kDlgSelectComm;
const char kNameMissing[] = "Please enter name to 'Name' box";
const char kIllegalPort[] =
    "Illegal COM-port. There may be problems with identifying your COM-ports or configuration is "
    "bad.";
const char kPortReserved[] = "Checked COM-port is reserved to the another connection";

class CommSetupDialogTest : public uitest::DialogTest {
 protected:
  // Runs the connection setup dialog for connection with the script.
  int Run(CVRTComm* connection, int isNew, uifake::Script script) {
    CVRTCommSetupDlg dialog(Driver(), toolkit_);
    dialog.Connection = connection;
    dialog.IsNew = isNew;
    toolkit_.Queue(kCommSetup, std::move(script));
    return dialog.DoModal();
  }
};

TEST_F(CommSetupDialogTest, PortsAreListedInTheSystemsOrderAndMarkedWhenTheyCannotBeOpened) {
  FakePorts({"COM3", "COM1"}, {"1"});
  CVRTComm fresh;
  Strings entries;
  int selection = -2;
  EXPECT_EQ(Run(&fresh, 1,
                [&](FakeWindow& w) {
                  entries = w.EntryTexts(1029);
                  selection = w.GetSelection(1029);
                  EXPECT_TRUE(w.IsEnabled(1029));
                  w.Click(2);
                }),
            ui::kResultCancel);
  // Inserted at the system's index: the sorted drop-down list keeps them so.
  EXPECT_EQ(entries, (Strings{"COM3 Not Accessible", "COM1"}));
  EXPECT_EQ(selection, 1);  // the new connection's port, COM1
  EXPECT_EQ(probes_, (Strings{"3", "1"}));
  EXPECT_TRUE(
      Logged("COMMSETUPDLG.OnInitDialog: Connection setup dialog opened for new connection\n"));
  EXPECT_FALSE(Logged("setup dialog closed"));  // Cancel writes no line
  EXPECT_EQ(fresh.GetComPort(), 1);
  EXPECT_TRUE(Texts().empty());
}

TEST_F(CommSetupDialogTest, PortsOfOtherConnectionsAreMarkedAndRefusedAtOk) {
  CVRTComm* other = AddConnection("Other", 4);
  CVRTComm* edited = AddConnection("Line B", 2);
  FakePorts({"COM2", "COM4", "COM5"}, {"2", "4"});
  EXPECT_EQ(Run(edited, 0,
                [&](FakeWindow& w) {
                  EXPECT_EQ(w.GetText(1014), "Line B");
                  EXPECT_EQ(w.EntryTexts(1029),
                            (Strings{"COM2", "COM4 Not Accessible", "COM5 Not Accessible"}));
                  EXPECT_EQ(w.GetSelection(1029), 0);
                  w.ChooseText(1029, "COM4 Not Accessible");
                  w.Click(1);
                  EXPECT_FALSE(w.Ended());
                  // A port that could not be opened, used by nobody: accepted.
                  w.ChooseText(1029, "COM5 Not Accessible");
                  w.Type(1014, "Line B2");
                  w.Click(1);
                }),
            ui::kResultOk);
  EXPECT_EQ(Texts(), (Strings{kPortReserved}));
  EXPECT_EQ(toolkit_.Messages[0].icon, ui::MsgIcon::kInformation);
  EXPECT_EQ(edited->GetComPort(), 5);
  EXPECT_EQ(edited->GetName(), "Line B2");
  EXPECT_EQ(other->GetComPort(), 4);
  EXPECT_TRUE(
      Logged("COMMSETUPDLG.OnInitDialog: Connection 'Line B' / COM2 setup dialog opened\n"));
  EXPECT_TRUE(Logged("COMMSETUPDLG.OnInitDialog: Connection setup dialog closed\n"));
}

// A renderer that takes UTF-8: the name shows as its characters, is stored
// in the code page, and a character the code page has no byte for is refused
// in the field, the dialog staying open and the connection unchanged.
TEST_F(CommSetupDialogTest, NamesCrossAUtf8RendererInTheCodePageAndUnstorableOnesAreRefused) {
  toolkit_.TextEncodingOfWindows = ui::TextEncoding::kUtf8;
  CVRTComm* edited = AddConnection(
      "Einfahrt S\xfc"
      "d",
      2);
  FakePorts({"COM2"}, {"2"});
  EXPECT_EQ(Run(edited, 0,
                [&](FakeWindow& w) {
                  EXPECT_EQ(w.Ctl(1014).text,
                            "Einfahrt S\xc3\xbc"
                            "d");
                  for (const char* unstorable : {"Kasse \xe2\x82\xac", "\xd0\x92\xd1\x85"}) {
                    w.Type(1014, unstorable);
                    w.Ctl(1014).focused = false;
                    w.Click(1);
                    EXPECT_FALSE(w.Ended());
                    EXPECT_TRUE(w.Ctl(1014).focused);
                    EXPECT_EQ(edited->GetName(),
                              "Einfahrt S\xfc"
                              "d");
                  }
                  w.Type(1014,
                         "Ausfahrt S\xc3\xbc"
                         "d");
                  w.Click(1);
                }),
            ui::kResultOk);
  const std::string refusal =
      "Entered text contains characters that can not be stored in the configuration.\n\nPlease "
      "use only the characters of the system's code page.";
  EXPECT_EQ(Texts(), (Strings{refusal, refusal}));
  EXPECT_EQ(toolkit_.Messages[0].icon, ui::MsgIcon::kExclamation);
  EXPECT_EQ(edited->GetName(),
            "Ausfahrt S\xfc"
            "d");
}

TEST_F(CommSetupDialogTest, WhichConnectionsMarkAPortDependsOnWhetherTheEditedOneIsNew) {
  AddConnection("Other", 1);
  FakePorts({"COM1"}, {"1"});
  // Not marked new (as from Create New): another connection on the edited
  // connection's own port does not mark it, but OK refuses it.
  CVRTComm notMarked;
  EXPECT_EQ(Run(&notMarked, 0,
                [](FakeWindow& w) {
                  EXPECT_EQ(w.EntryTexts(1029), (Strings{"COM1"}));
                  w.Type(1014, "New");
                  w.Click(1);
                  EXPECT_FALSE(w.Ended());
                  w.Click(2);
                }),
            ui::kResultCancel);
  EXPECT_EQ(Texts(), (Strings{kPortReserved}));
  CVRTComm marked;
  EXPECT_EQ(Run(&marked, 1,
                [](FakeWindow& w) {
                  EXPECT_EQ(w.EntryTexts(1029), (Strings{"COM1 Not Accessible"}));
                  w.Click(2);
                }),
            ui::kResultCancel);
}

TEST_F(CommSetupDialogTest, OkChecksTheNameBeforeThePortAndNeedsAPortNumber) {
  FakePorts({"COM2"}, {"2"});
  CVRTComm fresh;  // on COM1, which the system does not list: nothing selected
  EXPECT_EQ(Run(&fresh, 1,
                [](FakeWindow& w) {
                  EXPECT_EQ(w.GetSelection(1029), -1);
                  w.Click(1);  // no name, no port: only the name is reported
                  w.Type(1014, "Line A");
                  w.Click(1);  // no port
                  w.Choose(1029, 0);
                  w.Click(1);
                }),
            ui::kResultOk);
  EXPECT_EQ(Texts(), (Strings{kNameMissing, kIllegalPort}));
  EXPECT_EQ(fresh.GetName(), "Line A");
  EXPECT_EQ(fresh.GetComPort(), 2);
}

TEST_F(CommSetupDialogTest, AFailedSaveKeepsTheDialogOpenAndTheConnectionAsTheFileHasIt) {
  CVRTComm* line = AddConnection("Line A", 2);
  ASSERT_EQ(line->Save(), 1);
  FakePorts({"COM2"}, {"2"});
  const std::string path = dir_ + "/QUARO7K7_PTZ.xml";
  const std::string before = SettingsText();
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  EXPECT_EQ(Run(line, 0,
                [&](FakeWindow& w) {
                  w.SetText(CVRTCommSetupDlg::kNameEdit, "Line B");
                  w.Click(1);
                  EXPECT_FALSE(w.Ended());
                  EXPECT_EQ(w.GetText(CVRTCommSetupDlg::kNameEdit), "Line B");
                  EXPECT_EQ(Texts(), Strings{ui::LoadString(20)});
                  EXPECT_EQ(line->GetName(), "Line A");
                  EXPECT_EQ(SettingsText(), before);
                  ASSERT_EQ(chmod(path.c_str(), 0644), 0);
                  w.Click(1);
                }),
            ui::kResultOk);
  EXPECT_EQ(line->GetName(), "Line B");
  EXPECT_NE(SettingsText().find("<Name value=\"Line B\""), std::string::npos);
  EXPECT_TRUE(Logged("COMMSETUPDLG.OnOk: Connection Line B save failed (error -22).\n"));
}

TEST_F(CommSetupDialogTest, ShortAndLongPortNamesAreListedWithoutMisreadingTheirNumber) {
  FakePorts({"CO", "COM", "COMX", "COM123", "COM47", "COM48"}, {"123", "47", "48"});
  CVRTComm connection;
  connection.SetComPort(3);
  EXPECT_EQ(Run(&connection, 1,
                [](FakeWindow& w) {
                  EXPECT_EQ(w.EntryTexts(1029),
                            (Strings{"CO Not Accessible", "COM Not Accessible",
                                     "COMX Not Accessible", "COM123", "COM47", "COM48"}));
                  w.Type(1014, "Line");
                  // COM123 is port 123, not 12; above COM47 the settings would
                  // read the port back as COM1, so it is refused.
                  for (const char* refused : {"COM123", "COM48", "COM Not Accessible"}) {
                    w.ChooseText(1029, refused);
                    w.Click(1);
                    EXPECT_FALSE(w.Ended()) << refused;
                  }
                  w.ChooseText(1029, "COM47");
                  w.Click(1);
                }),
            ui::kResultOk);
  // Names without a number are not probed.
  EXPECT_EQ(probes_, (Strings{"123", "47", "48"}));
  EXPECT_EQ(Texts(), (Strings{kIllegalPort, kIllegalPort, kIllegalPort}));
  EXPECT_EQ(connection.GetComPort(), 47);
}

// The connection's own port on a simulated dome.
class CommSetupLineTest : public CommSetupDialogTest {
 protected:
  void SetUp() override {
    CommSetupDialogTest::SetUp();
    sim_.Publish(dir_, 2);
    // The real probe for the simulated port; COM1 (a machine's /dev/ttyS0)
    // stays out.
    SerialPortSource source;
    source.Names = [] { return Strings{"COM1", "COM2"}; };
    source.Probe = [](const std::string& digits) {
      return digits == "2" && platform::ProbePort(digits);
    };
    SetSerialPortSourceForTesting(source);
    line_ = AddConnection("Line A", 2);
  }
  domesim::DomeSimulator sim_;
  CVRTComm* line_ = nullptr;
};

TEST_F(CommSetupLineTest, AnOpenPortIsClosedWhileTheDialogIsShownAndOpenAgainAfterIt) {
  for (int end : {1, 2, 0}) {  // OK, Cancel, ended by the driver
    ASSERT_EQ(line_->Open(), 1);
    EXPECT_EQ(Run(line_, 0,
                  [&](FakeWindow& w) {
                    EXPECT_EQ(line_->PortState(), CVRTSerial::kClosed);
                    // Closed, the port probes like any other: listed unmarked.
                    EXPECT_EQ(w.EntryTexts(1029), (Strings{"COM1 Not Accessible", "COM2"}));
                    EXPECT_EQ(w.GetSelection(1029), 1);
                    if (end == 0)
                      Driver().KillAllWindows();
                    else
                      w.Click(end);
                  }),
              end == 1 ? ui::kResultOk : ui::kResultCancel)
        << end;
    EXPECT_EQ(line_->PortState(), CVRTSerial::kOpen) << end;
    sim_.ClearLines();
    EXPECT_EQ(line_->SendMsg("@3,1\r", nullptr), 1) << end;
    EXPECT_TRUE(sim_.WaitForLines(1, 2000)) << end;
    line_->Close();
  }
  EXPECT_TRUE(Texts().empty());
}

TEST_F(CommSetupLineTest, TheOwnPortBusyOnlyBecauseTheConnectionHoldsItIsJudgedByTheConnection) {
  FakePorts({"COM2"}, {});  // the probe never opens it
  auto listed = [&] {
    Strings entries;
    Run(line_, 0, [&](FakeWindow& w) {
      entries = w.EntryTexts(1029);
      w.Click(2);
    });
    return entries;
  };
  // An open port object is closed by the dialog first; the failed probe
  // then marks it.
  ASSERT_EQ(line_->Open(), 1);
  EXPECT_EQ(listed(), (Strings{"COM2 Not Accessible"}));
  line_->Close();
  // No port object: the dialog opens the connection, which stays open.
  EXPECT_EQ(listed(), (Strings{"COM2"}));
  EXPECT_EQ(line_->IsOpen(), 1);
}

TEST_F(CommSetupLineTest, TheProbeOpensThePortAsTheDriverDoes) {
  EXPECT_TRUE(platform::ProbePort("2"));
  // Held by another user of the port.
  const std::string path = dir_ + "/ports/COM2";
  const int holder = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  EXPECT_FALSE(platform::ProbePort("2"));
  close(holder);
  EXPECT_TRUE(platform::ProbePort("2"));
  // A port that does not open costs the probe's wait too.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(platform::ProbePort("9"));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(95));
  EXPECT_FALSE(platform::ProbePort(""));
  EXPECT_FALSE(platform::ProbePort("x2"));
  // The simulated port is in the system's list.
  const Strings names = platform::SerialPortNames();
  EXPECT_NE(std::find(names.begin(), names.end(), "COM2"), names.end());
}

TEST_F(CommSetupLineTest, NetworkLinesAreListedWithTheirAddressAndProbedByConnecting) {
  domesim::DomeSimulator far;
  domesim::NetworkServer server(far, domesim::NetMode::kRfc2217);
  server.Publish(dir_, 3);
  settings_test::WriteFile(dir_ + "/ports/COM4", "tcp://127.0.0.1:1\n");
  settings_test::WriteFile(dir_ + "/ports/COM5", "tcp:/127.0.0.1:1\n");
  SerialPortSource source;
  source.Names = [] { return Strings{"COM2", "COM3", "COM4", "COM5"}; };
  SetSerialPortSourceForTesting(source);  // the system's probe and labels
  Strings entries;
  Run(line_, 0, [&](FakeWindow& w) {
    entries = w.EntryTexts(1029);
    w.Choose(1029, 1);
    w.Click(1);
  });
  EXPECT_EQ(entries, (Strings{"COM2", "COM3 (network " + server.Url() + ")",
                              "COM4 (network tcp://127.0.0.1:1) Not Accessible",
                              "COM5 (network line file not valid) Not Accessible"}));
  // The probe's connection came and went; the entry's port is the one taken.
  EXPECT_TRUE(server.WaitForConnections(1, 2000));
  EXPECT_EQ(line_->GetComPort(), 3);
}

// ---------------------------------------------------------------- selection

class SelectCommDialogTest : public uitest::DialogTest {
 protected:
  int Run(uifake::Script script, CVRTComm** chosen = nullptr) {
    CVRTSelectCommDlg dialog(Driver(), toolkit_);
    toolkit_.Queue(kSelect, std::move(script));
    const int result = dialog.DoModal();
    if (chosen != nullptr) *chosen = dialog.SelectedConnection;
    return result;
  }
};

TEST_F(SelectCommDialogTest, ConnectionsAreListedByTextAndOkWaitsForASelection) {
  CVRTComm* lineA = AddConnection("Line A", 2);
  CVRTComm* lineB = AddConnection("Line B", 1);
  CVRTComm* chosen = nullptr;
  EXPECT_EQ(Run(
                [&](FakeWindow& w) {
                  EXPECT_EQ(w.EntryTexts(1013), (Strings{"[COM1]: Line B", "[COM2]: Line A"}));
                  EXPECT_FALSE(w.IsEnabled(1));
                  w.Choose(1013, 0);
                  EXPECT_TRUE(w.IsEnabled(1));
                  w.Click(1);
                },
                &chosen),
            ui::kResultOk);
  EXPECT_EQ(chosen, lineB);
  EXPECT_EQ(Run([](FakeWindow& w) { w.DoubleClick(1013, 1); }, &chosen), ui::kResultOk);
  EXPECT_EQ(chosen, lineA);
  EXPECT_EQ(Run([](FakeWindow& w) { w.Click(2); }, &chosen), ui::kResultCancel);
  EXPECT_EQ(chosen, nullptr);
}

TEST_F(SelectCommDialogTest, CreateNewThenCancelChangesNothingButRebuildsTheList) {
  AddConnection("Line A", 2);
  FakePorts({"COM1", "COM2"}, {"1", "2"});
  toolkit_.Queue(kCommSetup, [](FakeWindow& w) {
    w.Type(1014, "Never");
    w.Click(2);
  });
  const std::string before = SettingsText();
  EXPECT_EQ(Run([](FakeWindow& w) {
              w.Choose(1013, 0);
              w.Click(1037);
              EXPECT_EQ(w.EntryTexts(1013), (Strings{"[COM2]: Line A"}));
              EXPECT_EQ(w.GetSelection(1013), -1);  // rebuilt
              EXPECT_TRUE(w.Ctl(1013).focused);
              w.Click(2);
            }),
            ui::kResultCancel);
  EXPECT_EQ(Connections().size(), 1u);
  EXPECT_EQ(SettingsText(), before);
  EXPECT_TRUE(Logged("SELECTCOMMDLG.OnCreateNew OK\n\t"));
}

TEST_F(SelectCommDialogTest, CreateNewWithOkSavesAndAddsTheConnection) {
  AddConnection("Line A", 2);
  FakePorts({"COM1", "COM2", "COM3"}, {"1", "2", "3"});
  toolkit_.Queue(kCommSetup, [](FakeWindow& w) {
    // Not marked new: COM2 of Line A is listed as in use.
    EXPECT_EQ(w.EntryTexts(1029), (Strings{"COM1", "COM2 Not Accessible", "COM3"}));
    w.Type(1014, "Line C");
    w.ChooseText(1029, "COM3");
    w.Click(1);
  });
  CVRTComm* chosen = nullptr;
  EXPECT_EQ(Run(
                [](FakeWindow& w) {
                  w.Click(1037);
                  EXPECT_EQ(w.EntryTexts(1013), (Strings{"[COM2]: Line A", "[COM3]: Line C"}));
                  w.DoubleClick(1013, 1);
                },
                &chosen),
            ui::kResultOk);
  ASSERT_EQ(Connections().size(), 2u);
  EXPECT_EQ(chosen, Connections()[1]);
  EXPECT_EQ(chosen->GetKey(), "comm2");
  EXPECT_EQ(toolkit_.Opened, (std::vector<int>{kSelect, kCommSetup}));
  ASSERT_EQ(toolkit_.Parents.size(), 2u);
  EXPECT_NE(toolkit_.Parents[1], nullptr);  // over the selection dialog
  const std::string saved = SettingsText();
  EXPECT_NE(saved.find("<comm2>"), std::string::npos);
  EXPECT_NE(saved.find("\"Line C\""), std::string::npos);
  EXPECT_NE(saved.find("<ComPort value=\"3\""), std::string::npos);
}

TEST_F(SelectCommDialogTest, CreateNewWithoutAFreeKeyCreatesNothing) {
  for (int i = 1; i <= 999; ++i) AddConnection("L", 1, "comm" + std::to_string(i));
  EXPECT_EQ(Run([](FakeWindow& w) {
              w.Click(1037);
              EXPECT_EQ(w.EntryCount(1013), 999);
              w.Click(2);
            }),
            ui::kResultCancel);
  EXPECT_EQ(toolkit_.Runs(kCommSetup), 0);
  EXPECT_EQ(Connections().size(), 999u);
  EXPECT_TRUE(Logged("SELECTCOMMDLG.OnCreateNew: Unable to get new item name for new object\n"));
  EXPECT_FALSE(Logged("SELECTCOMMDLG.OnCreateNew OK"));
}

}  // namespace
