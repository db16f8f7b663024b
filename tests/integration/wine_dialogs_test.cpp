// The setup dialogs of the Windows DLL under Wine, on an X display: the
// Windows host program calls VRT_CamConfigure on a thread of its own with a
// window of that thread as the parent, and works the dialogs from its main
// thread as a user would (finds them by caption and their controls by id,
// clicks, types, selects, answers the message boxes). The dome is a
// simulator on a pseudo-terminal that Wine sees as COM7. After each step the
// settings file must be byte for byte the file the Linux library writes for
// the same session (tests/unit/ui_dialog_flow_test.cpp, run with
// QUARO7_DIALOG_REFERENCE set). With QUARO7_SCREENSHOT_DIR set, each dialog
// is saved there as a picture (docs/win32-*.png).
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <thread>

#include "wine_host.h"

namespace q7wine {
namespace {

std::string EnvOr(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// A text as the host program prints it: in quotes, control bytes as \xHH.
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c > 0x7e) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

constexpr char kSetup[] = "QUARO7K7_PTZ Driver Setup";
constexpr char kCamera[] = "Camera Setup";
constexpr char kComm[] = "Connection Setup";
constexpr char kSelect[] = "Choose Connection for the New Camera";
constexpr char kAbout[] = "About QUARO7K7_PTZ Driver";

class WineDialogsTest : public WineHostTest {
 protected:
  void SetUp() override {
    WineHostTest::SetUp();
    if (IsSkipped()) return;
    display_ = EnvOr("QUARO7_WINE_DISPLAY");
    reference_ = EnvOr("QUARO7_DIALOG_REFERENCE");
    if (display_.empty()) GTEST_SKIP() << "no X display for Wine's windows (QUARO7_WINE_DISPLAY)";
    ASSERT_FALSE(reference_.empty())
        << "QUARO7_DIALOG_REFERENCE: the Linux library's settings files of the same session";
    dir_ = MakeTempDir("q7wine-dialogs");
    ASSERT_FALSE(dir_.empty());
    side_ = std::make_unique<WineSide>(setup());
    side_->SetDisplay(display_);
    session_ = std::make_unique<Session>(*side_, dir_);
  }
  void TearDown() override {
    session_.reset();
    if (!HasFailure()) {
      RemoveTree(dir_);
    } else if (!dir_.empty()) {
      std::cerr << "kept " << dir_ << "\n";
    }
    WineHostTest::TearDown();
  }

  Session& S() { return *session_; }
  // A command of the host program that must answer "ok...": the reply.
  std::string Ui(const std::string& line) {
    const std::string reply = S().Command(line, 30000);
    EXPECT_EQ(reply.compare(0, 2, "ok"), 0) << line << " -> \"" << reply << "\"";
    return reply;
  }
  std::string On(const char* caption) { return std::string(" ") + Quoted(caption) + " "; }
  void Click(const char* caption, int id) {
    // A click of the driver dialogs may open a camera's line.
    if (std::string(caption) == kSetup || std::string(caption) == kSelect) S().ResetLines();
    Ui("ui-click" + On(caption) + std::to_string(id));
  }
  void Type(const char* caption, int id, const std::string& text) {
    Ui("ui-text" + On(caption) + std::to_string(id) + " " + Quoted(text));
  }
  void Choose(const char* caption, int id, int index) {
    Ui("ui-select" + On(caption) + std::to_string(id) + " " + std::to_string(index));
  }
  void SelectItem(const char* caption, const std::string& text) {
    Ui("ui-treeselect" + On(caption) + "1008 " + Quoted(text));
  }
  std::string State(const char* caption, int id) {
    return Ui("ui-state" + On(caption) + std::to_string(id));
  }
  // The control's state once it starts with prefix: a notification posted
  // by the user's action is handled by the dialog's thread in its own time.
  std::string StateOnce(const char* caption, int id, const std::string& prefix) {
    std::string state = State(caption, id);
    for (int i = 0; i < 100 && state.compare(0, prefix.size(), prefix) != 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      state = State(caption, id);
    }
    return state;
  }
  std::string Wait(const char* caption) { return Ui("ui-wait " + Quoted(caption) + " 10000"); }
  void Gone(const char* caption) { Ui("ui-gone " + Quoted(caption) + " 10000"); }
  // Answers the message box now shown, which must say text.
  void Answer(const std::string& text, int button) {
    const std::string box = Ui("ui-msgbox 10000");
    EXPECT_NE(box.find("text=" + Quoted(text)), std::string::npos) << box << "\nexpected " << text;
    Ui("ui-answer " + std::to_string(button));
  }
  void Configure(int number) {
    S().ResetLines();
    Ui("configure-start " + std::to_string(number) + " host");
  }
  int ConfigureResult() {
    const Reply reply = ParseReply(S().Command("configure-wait 10000", 20000));
    EXPECT_TRUE(reply.ok) << reply.line;
    return reply.result;
  }

  // The settings file once it is the Linux library's file of this step.
  void ExpectStep(int step) {
    const std::string expected = ReadText(reference_ + "/step" + std::to_string(step) + ".xml");
    ASSERT_FALSE(expected.empty()) << "no reference file for step " << step;
    std::string actual;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    do {
      actual = ReadText(S().SettingsPath());
      if (actual == expected) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (std::chrono::steady_clock::now() < deadline);
    EXPECT_EQ(actual, expected) << "settings file after step " << step;
  }

  // The dialog's window as a picture, when pictures are asked for.
  void Screenshot(const char* caption, const std::string& name) {
    const std::string out = EnvOr("QUARO7_SCREENSHOT_DIR");
    if (out.empty()) return;
    // A moment for the window to be drawn after its last change.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::map<std::string, std::string> env = {{"DISPLAY", display_}};
    const ProgramRun found =
        RunProgram({"xdotool", "search", "--name", std::string("^") + caption + "$"}, env);
    std::istringstream ids(found.output);
    std::string id;
    ASSERT_TRUE(static_cast<bool>(ids >> id)) << "no X window named " << caption;
    const ProgramRun shot = RunProgram({"import", "-window", id, out + "/" + name}, env);
    EXPECT_TRUE(shot.succeeded) << "import " << name;
  }

  std::string display_;
  std::string reference_;
  std::string dir_;
  std::unique_ptr<WineSide> side_;
  std::unique_ptr<Session> session_;
};

TEST_F(WineDialogsTest, ConnectionAndCamerasAddedConfiguredAndRemoved) {
  S().WriteSettings("<?xml version='1.0' encoding='iso-8859-1'?>\n<settings/>\n");
  domesim::DomeSimulator& dome = S().Sim(7);
  S().BusyPort(27);
  S().NoPort(29);
  S().Load();
  ASSERT_EQ(S().Init(), 1);
  Ui("ui-ports COM7 COM27 COM29");

  // A parent handle that names no window: the dialog is shown all the same,
  // owned by nothing.
  Ui("configure-start -1 0x4d2");
  EXPECT_EQ(Wait(kSetup), "ok owner=\"\"");
  // Closed from another thread with the about box open on it: both end at
  // once, with nothing else happening on their thread.
  Click(kSetup, 1015);
  Wait(kAbout);
  EXPECT_EQ(S().Call("VRT_CamCloseUi").result, 1);
  const auto closed = std::chrono::steady_clock::now();
  EXPECT_EQ(ConfigureResult(), -12);
  EXPECT_LT(std::chrono::steady_clock::now() - closed, std::chrono::milliseconds(1500));
  Gone(kSetup);

  // 1: a connection on the simulated port; the busy and the missing port
  // are listed as not accessible.
  Configure(-1);
  EXPECT_EQ(Wait(kSetup), "ok owner=\"winhost window\"");
  EXPECT_EQ(Ui("ui-tree" + On(kSetup) + "1008"), "ok");
  Click(kSetup, 1010);
  EXPECT_EQ(Wait(kComm), "ok owner=" + Quoted(kSetup));
  EXPECT_EQ(Ui("ui-entries" + On(kComm) + "1029"),
            "ok \"COM7\" \"COM27 Not Accessible\" \"COM29 Not Accessible\"");
  Type(kComm, 1014, "Line A");
  Choose(kComm, 1029, 0);
  Screenshot(kComm, "win32-connection-setup.png");
  Click(kComm, 1);
  Gone(kComm);
  ExpectStep(1);
  EXPECT_EQ(Ui("ui-tree" + On(kSetup) + "1008"), "ok \"0:0:*[COM7]  Line A\"");

  // 2: a camera on it, tried on the line: version, ping, reset.
  EXPECT_EQ(State(kSetup, 1012).compare(0, 13, "ok enabled=0 "), 0);
  Click(kSetup, 1013);
  Wait(kCamera);
  EXPECT_NE(State(kCamera, 1051).find("text=\"1.23, 4.56\""), std::string::npos);
  Type(kCamera, 1010, "5");
  Type(kCamera, 1011, "Gate");
  Type(kCamera, 1013, "3");
  Type(kCamera, 1050, "128");
  (void)dome.TakeLines();
  Click(kCamera, 1024);
  std::string ping;
  for (int i = 0; i < 100; ++i) {
    ping = State(kCamera, 1026);
    if (ping.find("text=\"Found. Delay ") != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_NE(ping.find("text=\"Found. Delay "), std::string::npos) << ping;
  Screenshot(kCamera, "win32-camera-setup.png");
  Click(kCamera, 1022);
  Screenshot("QUARO7K7_PTZ", "win32-reset-question.png");
  Answer(
      "WARNING!\n\nThis action resets and tests the camera. \n\nALL PROGRAMMED PRESETS WILL BE "
      "ERASED FROM THE CAMERA!!!\n\nContinue?",
      6);
  Click(kCamera, 1);
  Gone(kCamera);
  ExpectStep(2);
  EXPECT_EQ(dome.State(128, 3).resets, 1);
  EXPECT_EQ(Ui("ui-tree" + On(kSetup) + "1008"),
            "ok \"0:0:[COM7]  Line A\" \"1:1:*005 [003]: Gate\"");
  Screenshot(kSetup, "win32-driver-setup.png");

  // 3: the camera configured again; the about box.
  SelectItem(kSetup, "005 [003]: Gate");
  EXPECT_EQ(State(kSetup, 1013).compare(0, 13, "ok enabled=0 "), 0);
  Click(kSetup, 1012);
  Wait(kCamera);
  EXPECT_NE(State(kCamera, 1011).find("text=\"Gate\""), std::string::npos);
  Type(kCamera, 1011, "Gate House");
  Type(kCamera, 1043, "64");
  Choose(kCamera, 1054, 1);
  Click(kCamera, 1);
  Gone(kCamera);
  ExpectStep(3);
  Click(kSetup, 1015);
  EXPECT_EQ(Wait(kAbout), "ok owner=" + Quoted(kSetup));
  Screenshot(kAbout, "win32-about.png");
  Click(kAbout, 1);
  Gone(kAbout);
  Click(kSetup, 1);
  EXPECT_EQ(ConfigureResult(), 1);

  // 4: the host asks for a camera number no camera has, then closes the
  // dialogs from another thread.
  Configure(9);
  Wait(kSetup);
  EXPECT_EQ(Wait(kSelect), "ok owner=" + Quoted(kSetup));
  EXPECT_EQ(State(kSelect, 1).compare(0, 13, "ok enabled=0 "), 0);
  EXPECT_EQ(Ui("ui-entries" + On(kSelect) + "1013"), "ok \"[COM7]: Line A\"");
  Choose(kSelect, 1013, 0);
  EXPECT_EQ(StateOnce(kSelect, 1, "ok enabled=1 ").compare(0, 13, "ok enabled=1 "), 0);
  Screenshot(kSelect, "win32-select-connection.png");
  Click(kSelect, 1);
  Wait(kCamera);
  EXPECT_NE(State(kCamera, 1010).find("text=\"10\""), std::string::npos);
  Type(kCamera, 1011, "Yard");
  Type(kCamera, 1013, "4");
  Type(kCamera, 1050, "128");
  Click(kCamera, 1);
  Gone(kCamera);
  ExpectStep(4);
  EXPECT_EQ(S().Call("VRT_CamCloseUi").result, 1);
  EXPECT_EQ(ConfigureResult(), -12);
  Gone(kSetup);

  // 5: an existing camera's setup opens at once; closing from another
  // thread while it asks its reset question ends the box and both dialogs
  // and changes nothing.
  Configure(4);
  Wait(kCamera);
  EXPECT_NE(State(kCamera, 1011).find("text=\"Gate House\""), std::string::npos);
  Click(kCamera, 1022);
  EXPECT_EQ(Ui("ui-msgbox 10000").compare(0, 8, "ok text="), 0);
  EXPECT_EQ(S().Call("VRT_CamCloseUi").result, 1);
  EXPECT_EQ(ConfigureResult(), -12);
  Gone(kCamera);
  Gone(kSetup);
  Gone("QUARO7K7_PTZ");
  EXPECT_EQ(dome.State(128, 3).resets, 1);  // the question went unanswered: No
  ExpectStep(4);

  // 6 and 7: the first camera removed, then the connection (No first).
  Configure(-1);
  Wait(kSetup);
  SelectItem(kSetup, "005 [003]: Gate House");
  Click(kSetup, 1014);
  Answer(
      "WARNING! \n\nDo you really want to delete the camera?\n\nAll associated prepositions and "
      "programs will also be deleted!",
      6);
  ExpectStep(5);
  const std::string removeConnection =
      "Do you really want to remove the connection?\n\nAll Associated cameras and their "
      "prepositions will be deleted,";
  SelectItem(kSetup, "[COM7]  Line A");
  Click(kSetup, 1011);
  Answer(removeConnection, 7);
  Click(kSetup, 1011);
  Answer(removeConnection, 6);
  ExpectStep(6);
  for (int i = 0; i < 100 && Ui("ui-tree" + On(kSetup) + "1008") != "ok"; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(Ui("ui-tree" + On(kSetup) + "1008"), "ok");

  // The module's end while the dialog is open ends it first.
  EXPECT_EQ(S().Call("VRT_CamExitModule").result, 1);
  EXPECT_EQ(ConfigureResult(), -12);
  Gone(kSetup);
  EXPECT_TRUE(S().WaitForLog("SETUPDLG.OnInitDialog: Driver setup dialog opened", 1000));
  EXPECT_TRUE(S().WaitForLog("DRV.KillAllWindows: function executed", 1000));
  EXPECT_TRUE(S().WaitForLog("DRIVER SESSION ENDED", 1000));
}

// Names in the ANSI code page (1252 here), which the DLL's dialogs take and
// give as they are: a name with accents shows in the tree and in Configure
// Connection, and a name typed with the code page's euro sign and an umlaut
// is stored as those bytes.
TEST_F(WineDialogsTest, AccentedNamesKeepTheCodePagesBytesBothWays) {
  // An item's text at the end of its entry in the ui-tree answer.
  const auto InTree = [](const std::string& text) { return Quoted(text).substr(1); };
  S().WriteSettings(
      "<?xml version='1.0' encoding='iso-8859-1'?>\n<settings>\n\t<comm1><Name value=\"Einfahrt "
      "S\xfc"
      "d\"/><ComPort value=\"7\"/><PortMode value=\"96,E,8,1\"/>\n\t</comm1>\n"
      "</settings>\n");
  S().Sim(7);
  S().Load();
  ASSERT_EQ(S().Init(), 1);
  Ui("ui-ports COM7");
  Configure(-1);
  Wait(kSetup);
  EXPECT_NE(Ui("ui-tree" + On(kSetup) + "1008")
                .find(InTree("[COM7]  Einfahrt S\xfc"
                             "d")),
            std::string::npos);
  SelectItem(kSetup,
             "[COM7]  Einfahrt S\xfc"
             "d");
  Click(kSetup, 1009);
  Wait(kComm);
  EXPECT_NE(State(kComm, 1014)
                .find("text=" + Quoted("Einfahrt S\xfc"
                                       "d")),
            std::string::npos);
  Type(kComm, 1014,
       "Kasse \x80 S\xfc"
       "d");
  Click(kComm, 1);
  Gone(kComm);
  std::string settings;
  for (int i = 0; i < 100; ++i) {
    settings = ReadText(S().SettingsPath());
    if (settings.find("Kasse") != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_NE(settings.find("<Name value=\"Kasse \x80 S\xfc"
                          "d\"/>"),
            std::string::npos)
      << settings;
  EXPECT_NE(Ui("ui-tree" + On(kSetup) + "1008")
                .find(InTree("[COM7]  Kasse \x80 S\xfc"
                             "d")),
            std::string::npos);
  Click(kSetup, 1);
  EXPECT_EQ(ConfigureResult(), 1);
}

// A host that unloads the library while a setup dialog is open on another
// of its threads, with a camera open and without ending the module: the
// dialog ends first and its configure call returns, then the unload
// returns, and the library loaded again shows its dialogs again.
//
// Not run for now: in about half of the runs under Wine the driver setup
// dialog does not end within the unload's second ("DRV: A setup dialog was
// still open when the library was freed."), the library's code goes while
// the configure call still runs in it, and the host faults. Ending a Win32
// dialog under the loader lock still takes that lock somewhere; until that
// is found, a host must end the module before it unloads the library when
// a dialog may be open (see the README).
TEST_F(WineDialogsTest, UnloadWithADialogOpenEndsItFirst) {
  S().WriteSettings(OneCameraSettings(7));
  S().Sim(7);
  S().Load();
  ASSERT_EQ(S().Init(), 1);
  ASSERT_EQ(S().Open(0), 1);
  Configure(-1);
  Wait(kSetup);
  // A dialog on the screen, as a user has it: one still drawing its first
  // frame needs the system's loader lock, which the unload holds.
  Ui("ui-painted " + Quoted(kSetup) + " 10000");
  const int64_t took = S().TimedUnload(20000);
  ASSERT_GE(took, 0) << "the unload did not return";
  EXPECT_LT(took, 2000);
  EXPECT_EQ(ConfigureResult(), -12);
  Gone(kSetup);
  const std::vector<std::string> log = S().LogLines();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], "DRV: Driver library freed.");

  S().Load();
  ASSERT_EQ(S().Init(), 1);
  ASSERT_EQ(S().Open(0), 1);
  Configure(-1);
  Wait(kSetup);
  EXPECT_EQ(S().Call("VRT_CamCloseUi").result, 1);
  EXPECT_EQ(ConfigureResult(), -12);
  EXPECT_EQ(S().Call("VRT_CamExitModule").result, 1);
}

}  // namespace
}  // namespace q7wine
