// The setup dialogs as a host meets them: a fresh copy of the library with
// its dialog program beside it, VRT_CamConfigure on a host thread, a user
// working the real windows the dialog process draws on an X display (through
// the probe in the tests' copy of that program), a dome simulator on the
// line, and the settings file looked at after each step and after a restart.
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/init.h>
#include <wx/timer.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "host_fixture.h"
#include "window_probe.h"
#include "wx_test_util.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using q7host::Camera;
using q7host::ConnectionConfig;

constexpr char kDriverSetup[] = "QUARO7K7_PTZ Driver Setup";
constexpr char kCameraSetup[] = "Camera Setup";
constexpr char kCommSetup[] = "Connection Setup";
constexpr char kSelectComm[] = "Choose Connection for the New Camera";
constexpr char kAbout[] = "About QUARO7K7_PTZ Driver";

// Runs this test program again with one test and the given environment
// changes; its exit status.
int RunChild(const std::string& test, const std::vector<std::string>& env) {
  std::vector<std::string> storage = {"/proc/self/exe", "--gtest_filter=" + test};
  std::vector<char*> argv;
  for (std::string& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  std::vector<std::string> environment = {"Q7_WINDOW_CHILD=1"};
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const std::string& change : env) {
      const std::string key = change.substr(0, change.find('=') + 1);
      if (entry.compare(0, key.size(), key) == 0 || entry + "=" == key) replaced = true;
    }
    if (!replaced) environment.push_back(entry);
  }
  for (const std::string& change : env)
    if (change.find('=') != change.size() - 1) environment.push_back(change);
  std::vector<char*> envp;
  for (std::string& s : environment) envp.push_back(s.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv.data(), envp.data()) != 0)
    return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool IsChild() { return getenv("Q7_WINDOW_CHILD") != nullptr; }

class HostDialogsTest : public q7host::HostTest {
 protected:
  void SetUp() override {
    q7host::HostTest::SetUp();
    std::error_code error;
    fs::copy_file(QUARO7_PROBE_SETUP_PROGRAM, Dir() + "/QUARO7K7_PTZ_setup", error);
    ASSERT_FALSE(error) << error.message();
    probe::UseProbeSocket(Dir() + "/probe.sock");
  }
  void TearDown() override {
    if (configure_.valid()) {
      probe::EndAllDialogs();
      configure_.wait_for(std::chrono::seconds(10));
    }
    q7host::HostTest::TearDown();
  }

  // VRT_CamConfigure on a host thread of its own.
  void Configure(int camera) {
    configure_ = std::async(std::launch::async,
                            [this, camera] { return api().VRT_CamConfigure(camera, nullptr); });
  }
  int ConfigureResult() {
    if (configure_.wait_for(std::chrono::seconds(15)) != std::future_status::ready) {
      ADD_FAILURE() << "VRT_CamConfigure did not return";
      probe::EndAllDialogs();
    }
    return configure_.get();
  }
  void CloseUiFromAnotherThread() {
    std::thread host([this] { EXPECT_EQ(api().VRT_CamCloseUi(), 1); });
    host.join();
  }

  // The tree of the driver setup dialog, one line per item, indented by level.
  static std::vector<std::string> TreeLines(probe::Dialog dialog) {
    return probe::TreeLines(dialog, 1008);
  }
  // The user selects the tree item with this text.
  static bool SelectTreeItem(probe::Dialog dialog, const std::string& text) {
    return probe::SelectTreeItem(dialog, 1008, text);
  }
  // The tree once it shows expected (the user's action has run to its end).
  static std::vector<std::string> WaitForTree(probe::Dialog dialog,
                                              const std::vector<std::string>& expected) {
    std::vector<std::string> lines;
    for (int i = 0; i < 500; ++i) {
      lines = TreeLines(dialog);
      if (lines == expected) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return lines;
  }
  static ::testing::AssertionResult TreeIs(probe::Dialog dialog,
                                           const std::vector<std::string>& expected) {
    const std::vector<std::string> lines = WaitForTree(dialog, expected);
    if (lines == expected) return ::testing::AssertionSuccess();
    std::string shown;
    for (const std::string& line : lines) shown += "\n  |" + line;
    return ::testing::AssertionFailure() << "the tree shows:" << shown;
  }
  static std::vector<std::string> Entries(probe::Dialog dialog, int id) {
    return probe::Entries(dialog, id);
  }
  static int IndexOf(const std::vector<std::string>& entries, const std::string& text) {
    for (size_t i = 0; i < entries.size(); ++i)
      if (entries[i] == text) return static_cast<int>(i);
    return -1;
  }
  // Waits until an edit or label shows a text that starts with prefix.
  static std::string WaitForText(probe::Dialog dialog, int id, const std::string& prefix,
                                 int timeoutMs = 10000) {
    std::string text;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
      text = probe::TextOf(dialog, id);
      if (text.compare(0, prefix.size(), prefix) == 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < end);
    return text;
  }
  // Saves a screenshot: into docs/ of the source tree when asked to
  // (QUARO7_UPDATE_SCREENSHOTS=1), else beside the test program.
  static void Shoot(const std::string& title, const std::string& file) {
    const char* update = getenv("QUARO7_UPDATE_SCREENSHOTS");
    const std::string dir = update != nullptr && std::string(update) == "1"
                                ? std::string(QUARO7_SOURCE_DIR) + "/docs"
                                : std::string(".");
    EXPECT_TRUE(probe::Screenshot(title, dir + "/" + file)) << file;
  }

  std::future<int> configure_;
};

// ---------------------------------------------------------------- no dialogs

TEST_F(HostDialogsTest, WithoutADisplayConfigureAnswersCancelledAndLogsWhy) {
  if (!IsChild()) {
    EXPECT_EQ(RunChild("HostDialogsTest.WithoutADisplay*", {"DISPLAY=", "WAYLAND_DISPLAY="}), 0);
    return;
  }
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  WriteSettings({});
  Load();
  ASSERT_EQ(Init(), 1);
  EXPECT_EQ(api().VRT_CamConfigure(-1, nullptr), -12);
  EXPECT_TRUE(HasLogLine(
      "VRT_CamConfigure: Setup dialog not shown: no display to show the dialogs on (neither "
      "DISPLAY nor WAYLAND_DISPLAY is set)"));
  // Without a display the dialog program is not even started (its probe
  // would have made its socket).
  EXPECT_FALSE(fs::exists(Dir() + "/probe.sock"));
}

TEST_F(HostDialogsTest, ADisplayThatCannotBeOpenedAnswersCancelledWithoutAbortingTheHost) {
  if (!IsChild()) {
    EXPECT_EQ(RunChild("HostDialogsTest.ADisplayThatCannotBeOpened*", {"DISPLAY=:4711"}), 0);
    return;
  }
  WriteSettings({});
  Load();
  ASSERT_EQ(Init(), 1);
  EXPECT_EQ(api().VRT_CamConfigure(-1, nullptr), -12);
  EXPECT_TRUE(
      HasLogLine("VRT_CamConfigure: Setup dialog not shown: the dialog program could not start "
                 "the toolkit: it could not open the display :4711 (no X server is running "
                 "there)"))
      << LogText();
  // Asked again, the same answer at once; the host carries on.
  EXPECT_EQ(api().VRT_CamConfigure(-1, nullptr), -12);
  EXPECT_EQ(api().VRT_CamGetVersion() > 0, true);
}

TEST_F(HostDialogsTest, AMissingProgramAnswersCancelledAndNamesIt) {
  if (!wxtest::HaveDisplay()) GTEST_SKIP() << "no display";
  fs::remove(Dir() + "/QUARO7K7_PTZ_setup");
  WriteSettings({});
  Load();
  ASSERT_EQ(Init(), 1);
  EXPECT_EQ(api().VRT_CamConfigure(-1, nullptr), -12);
  EXPECT_TRUE(LogContains("VRT_CamConfigure: Setup dialog not shown: the dialog program " + Dir() +
                          "/QUARO7K7_PTZ_setup cannot be started"));
}

// A host that is itself a wxWidgets application: the dialogs are drawn by
// the dialog process, never in the host's windows, whether configure is
// called from inside the host's loop (which waits for it, as for a modal
// dialog) or from another host thread while the loop runs on.
TEST_F(HostDialogsTest, AWxWidgetsHostGetsTheDialogsFromTheDialogProcess) {
  if (!wxtest::HaveDisplay()) GTEST_SKIP() << "no display";
  if (!IsChild()) {
    EXPECT_EQ(RunChild("HostDialogsTest.AWxWidgetsHost*", {}), 0);
    return;
  }
  static char name[] = "wxhost";
  static char* argv[] = {name, nullptr};
  int argc = 1;
  wxApp::SetInstance(new wxApp);
  ASSERT_TRUE(wxEntryStart(argc, argv));
  ASSERT_TRUE(wxTheApp->CallOnInit());
  wxTheApp->SetExitOnFrameDelete(false);
  WriteSettings({{"Line A", 3, "96,E,8,1", {Camera("Gate", 0, 1)}}});
  Load();
  ASSERT_EQ(Init(), 1);

  int fromLoop = 0;
  bool hostHadWindows = false;
  std::atomic<int> ticks{0};
  std::atomic<int> ticksWhileShown{-1};
  // The host's own timer, ticking in its loop.
  wxTimer timer;
  timer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) { ++ticks; });
  std::thread closer;
  wxTheApp->CallAfter([&] {
    // The user closes the dialog from a host thread of its own.
    closer = std::thread([&] {
      probe::Dialog setup = probe::WaitForDialog(kDriverSetup);
      EXPECT_NE(setup, nullptr);
      EXPECT_NE(setup.process, static_cast<long>(getpid()));
      EXPECT_EQ(api().VRT_CamCloseUi(), 1);
    });
    fromLoop = api().VRT_CamConfigure(-1, nullptr);
    hostHadWindows = !wxTopLevelWindows.IsEmpty();
    // Now from a host thread while the loop runs on.
    Configure(-1);
    timer.Start(10);
    std::thread([&] {
      probe::Dialog setup = probe::WaitForDialog(kDriverSetup);
      EXPECT_NE(setup, nullptr);
      const int before = ticks;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      ticksWhileShown = ticks - before;
      probe::Click(setup, 1);
      EXPECT_EQ(ConfigureResult(), 1);
      wxTheApp->CallAfter([] { wxTheApp->ExitMainLoop(); });
    }).detach();
  });
  wxTheApp->OnRun();
  timer.Stop();
  closer.join();
  EXPECT_EQ(fromLoop, -12);
  EXPECT_FALSE(hostHadWindows);
  EXPECT_GT(ticksWhileShown, 0);
  Unload();
  // The host ends its toolkit as a wxWidgets application does.
  wxTheApp->OnExit();
  wxEntryCleanup();
}

// ---------------------------------------------------------------- real windows

class WindowTest : public HostDialogsTest {
 protected:
  void SetUp() override {
    if (!wxtest::HaveDisplay()) GTEST_SKIP() << "no display";
    HostDialogsTest::SetUp();
  }
};

TEST_F(WindowTest, DriverSetupShowsTheTreeAndCloseUiFromAnotherThreadEndsIt) {
  ConnectionConfig line{"Line A", 3, "96,E,8,1", {Camera("Gate", 4, 12), Camera("Yard", 1, -1)}};
  line.cameras[0].innerXml =
      "<positions><PrePos1><Name value=\"Gate view\"/><ID value=\"12\"/><MemId value=\"2\"/>"
      "</PrePos1><PrePos2><Name value=\"Door\"/><ID value=\"7\"/><MemId value=\"1\"/>"
      "</PrePos2></positions>";
  WriteSettings({line, {"Line B", 4, "96,E,8,1", {Camera("Porch", 9, 3)}}});
  Load();
  ASSERT_EQ(Init(), 1);
  Configure(-1);
  probe::Dialog setup = probe::WaitForDialog(kDriverSetup);
  ASSERT_NE(setup, nullptr);
  // Connections in their order, cameras and presets sorted, all expanded.
  EXPECT_TRUE(TreeIs(
      setup, {"[COM3]  Line A", "  002 [ ? ]: Yard", "  005 [012]: Gate", "     [00] Gate view",
              "     [01] Door", "[COM4]  Line B", "  010 [003]: Porch"}));
  // Buttons follow the selection.
  ASSERT_TRUE(SelectTreeItem(setup, "005 [012]: Gate"));
  EXPECT_TRUE(probe::EnabledOf(setup, 1012));
  EXPECT_FALSE(probe::EnabledOf(setup, 1013));
  Shoot(kDriverSetup, "driver-setup.png");
  ASSERT_TRUE(SelectTreeItem(setup, "[COM3]  Line A"));
  EXPECT_FALSE(probe::EnabledOf(setup, 1012));
  EXPECT_TRUE(probe::EnabledOf(setup, 1013));
  // A preset selected: the buttons keep their state.
  ASSERT_TRUE(SelectTreeItem(setup, " [01] Door"));
  EXPECT_FALSE(probe::EnabledOf(setup, 1012));
  EXPECT_TRUE(probe::EnabledOf(setup, 1013));
  CloseUiFromAnotherThread();
  EXPECT_EQ(ConfigureResult(), -12);
  EXPECT_TRUE(probe::WaitForNoDialog(kDriverSetup));
  EXPECT_TRUE(HasLogLine("SETUPDLG.OnInitDialog: Driver setup dialog opened"));
  EXPECT_TRUE(HasLogLine("DRV.KillAllWindows: function executed"));
}

TEST_F(WindowTest, AnExistingCameraOpensItsSetupOnTheLineAndCloseUiEndsBothDialogs) {
  domesim::DomeSimulator& dome = Simulator(3);
  WriteSettings({{"Line A", 3, "96,E,8,1", {Camera("Gate", 4, 12)}}});
  Load();
  ASSERT_EQ(Init(), 1);
  Configure(4);
  probe::Dialog camera = probe::WaitForDialog(kCameraSetup);
  ASSERT_NE(camera, nullptr);
  EXPECT_NE(probe::WaitForDialog(kDriverSetup), nullptr);
  EXPECT_EQ(probe::TextOf(camera, 1010), "5");
  EXPECT_EQ(probe::TextOf(camera, 1011), "Gate");
  EXPECT_EQ(probe::TextOf(camera, 1012), "Line A");
  EXPECT_EQ(probe::TextOf(camera, 1029), "COM3");
  // The dome's software versions were read from the line.
  const std::string version = WaitForText(camera, 1051, "1");
  EXPECT_FALSE(version.empty());
  EXPECT_NE(version, "...");
  probe::Click(camera, 1024);
  EXPECT_EQ(WaitForText(camera, 1026, "Found. Delay ").substr(0, 13), "Found. Delay ");
  CloseUiFromAnotherThread();
  EXPECT_EQ(ConfigureResult(), -12);
  EXPECT_TRUE(probe::WaitForNoDialog(kCameraSetup));
  EXPECT_TRUE(probe::WaitForNoDialog(kDriverSetup));
  EXPECT_FALSE(dome.Lines().empty());
}

// A user adds a connection on a simulated port and a camera on it (tested on
// the line), finds both after a restart, then removes them again.
TEST_F(WindowTest, AUserAddsAndRemovesAConnectionAndACameraEverythingSavedAtOnce) {
  domesim::DomeSimulator& dome = Simulator(3);
  WriteSettings({});
  Load();
  ASSERT_EQ(Init(), 1);
  Configure(-1);
  probe::Dialog setup = probe::WaitForDialog(kDriverSetup);
  ASSERT_NE(setup, nullptr);
  EXPECT_TRUE(TreeLines(setup).empty());

  // Add Connection ...
  probe::Click(setup, 1010);
  probe::Dialog comm = probe::WaitForDialog(kCommSetup);
  ASSERT_NE(comm, nullptr);
  const std::vector<std::string> ports = Entries(comm, 1029);
  const int com3 = IndexOf(ports, "COM3");
  ASSERT_GE(com3, 0) << "port list without COM3";
  probe::Type(comm, 1014, "Line A");
  probe::ChooseEntry(comm, 1029, com3);
  Shoot(kCommSetup, "connection-setup.png");
  probe::Click(comm, 1);
  ASSERT_TRUE(probe::WaitForNoDialog(kCommSetup));
  EXPECT_TRUE(TreeIs(setup, (std::vector<std::string>{"[COM3]  Line A"})));
  std::string settings = q7host::ReadFile(SettingsPath());
  EXPECT_NE(settings.find("Line A"), std::string::npos) << settings;
  EXPECT_NE(settings.find("ComPort value=\"3\""), std::string::npos) << settings;

  // Add Camera ... on it, tested on the line.
  ASSERT_TRUE(SelectTreeItem(setup, "[COM3]  Line A"));
  probe::Click(setup, 1013);
  probe::Dialog camera = probe::WaitForDialog(kCameraSetup);
  ASSERT_NE(camera, nullptr);
  WaitForText(camera, 1051, "1");
  probe::Type(camera, 1010, "3");
  probe::Type(camera, 1011, "Gate");
  probe::Type(camera, 1013, "5");
  probe::Type(camera, 1050, "128");
  probe::Click(camera, 1024);
  EXPECT_EQ(WaitForText(camera, 1026, "Found. Delay ").substr(0, 13), "Found. Delay ");
  Shoot(kCameraSetup, "camera-setup.png");
  dome.ClearLines();
  probe::Click(camera, 1022);
  probe::Dialog question = probe::WaitForMessage(
      "WARNING!\n\nThis action resets and tests the camera. \n\nALL PROGRAMMED PRESETS WILL BE "
      "ERASED FROM THE CAMERA!!!\n\nContinue?");
  ASSERT_NE(question, nullptr);
  EXPECT_EQ(probe::DefaultButtonOf(question), wxID_NO);
  Shoot("QUARO7K7_PTZ", "reset-question.png");
  probe::Click(question, wxID_YES);
  ASSERT_TRUE(dome.WaitForLines(1, 5000));
  probe::Click(camera, 1);
  ASSERT_TRUE(probe::WaitForNoDialog(kCameraSetup));
  EXPECT_TRUE(TreeIs(setup, (std::vector<std::string>{"[COM3]  Line A", "  003 [005]: Gate"})))
      << LogText();
  settings = q7host::ReadFile(SettingsPath());
  EXPECT_NE(settings.find("Name value=\"Gate\""), std::string::npos) << settings;
  EXPECT_NE(settings.find("TavoID value=\"2\""), std::string::npos) << settings;
  EXPECT_NE(settings.find("SysID value=\"5\""), std::string::npos) << settings;

  // About Driver, then OK.
  probe::Click(setup, 1015);
  probe::Dialog about = probe::WaitForDialog(kAbout);
  ASSERT_NE(about, nullptr);
  Shoot(kAbout, "about.png");
  probe::Click(about, 1);
  ASSERT_TRUE(probe::WaitForNoDialog(kAbout));
  probe::Click(setup, 1);
  EXPECT_EQ(ConfigureResult(), 1);

  // After a restart the camera is there.
  Unload();
  Load();
  ASSERT_EQ(Init(), 1);
  char name[33] = {0};
  EXPECT_EQ(api().VRT_CamGetName(2, name, sizeof name), 1);
  EXPECT_STREQ(name, "Gate");

  // Remove Camera ..., answered No first, then Yes; Remove Connection ...
  Configure(-1);
  setup = probe::WaitForDialog(kDriverSetup);
  ASSERT_NE(setup, nullptr);
  ASSERT_TRUE(SelectTreeItem(setup, "003 [005]: Gate"));
  probe::Click(setup, 1014);
  const std::string removeCamera =
      "WARNING! \n\nDo you really want to delete the camera?\n\nAll associated prepositions and "
      "programs will also be deleted!";
  question = probe::WaitForMessage(removeCamera);
  ASSERT_NE(question, nullptr);
  probe::Click(question, wxID_NO);
  ASSERT_TRUE(probe::WaitForNoDialog("QUARO7K7_PTZ"));
  EXPECT_EQ(TreeLines(setup).size(), 2u);
  probe::Click(setup, 1014);
  question = probe::WaitForMessage(removeCamera);
  ASSERT_NE(question, nullptr);
  probe::Click(question, wxID_YES);
  ASSERT_TRUE(probe::WaitForNoDialog("QUARO7K7_PTZ"));
  EXPECT_TRUE(TreeIs(setup, (std::vector<std::string>{"[COM3]  Line A"})));
  settings = q7host::ReadFile(SettingsPath());
  EXPECT_EQ(settings.find("Name value=\"Gate\""), std::string::npos) << settings;
  EXPECT_TRUE(HasLogLine("SETUPDLG.OnCamRemove: Camera 3 named 'Gate' removed succesfully"));

  ASSERT_TRUE(SelectTreeItem(setup, "[COM3]  Line A"));
  probe::Click(setup, 1011);
  question = probe::WaitForMessage(
      "Do you really want to remove the connection?\n\nAll Associated cameras and their "
      "prepositions will be deleted,");
  ASSERT_NE(question, nullptr);
  probe::Click(question, wxID_YES);
  ASSERT_TRUE(probe::WaitForNoDialog("QUARO7K7_PTZ"));
  EXPECT_TRUE(WaitForTree(setup, {}).empty());
  settings = q7host::ReadFile(SettingsPath());
  EXPECT_EQ(settings.find("Line A"), std::string::npos) << settings;
  // The close box cancels; everything stays saved.
  probe::CloseBox(setup);
  EXPECT_EQ(ConfigureResult(), -12);
  Unload();
  Load();
  ASSERT_EQ(Init(), 1);
  EXPECT_EQ(api().VRT_CamGetName(2, name, sizeof name), -13);
}

// Names in the settings' code page (ISO-8859-1) show as their characters,
// what the user types is stored as the code page's bytes, and a character
// without a byte there is refused in the field, the file unchanged.
TEST_F(WindowTest, AccentedNamesShowAsTheirCharactersAndAreStoredAsTheCodePagesBytes) {
  Simulator(3);
  WriteSettings({{"Line A",
                  4,
                  "96,E,8,1",
                  {Camera("T\xf6r S\xfc"
                          "d",
                          4, 12)}}});
  Load();
  ASSERT_EQ(Init(), 1);
  Configure(-1);
  probe::Dialog setup = probe::WaitForDialog(kDriverSetup);
  ASSERT_NE(setup, nullptr);
  EXPECT_TRUE(TreeIs(setup, {"[COM4]  Line A",
                             "  005 [012]: T\xc3\xb6r S\xc3\xbc"
                             "d"}));

  probe::Click(setup, 1010);
  probe::Dialog comm = probe::WaitForDialog(kCommSetup);
  ASSERT_NE(comm, nullptr);
  const int com3 = IndexOf(Entries(comm, 1029), "COM3");
  ASSERT_GE(com3, 0);
  probe::ChooseEntry(comm, 1029, com3);
  const std::string before = q7host::ReadFile(SettingsPath());
  const std::string refusal =
      "Entered text contains characters that can not be stored in the configuration.\n\nPlease "
      "use only the characters of the system's code page.";
  for (const char* unstorable : {"Kasse \xe2\x82\xac", "\xd0\x92\xd1\x85\xd0\xbe\xd0\xb4"}) {
    probe::Type(comm, 1014, unstorable);
    probe::Click(comm, 1);
    probe::Dialog box = probe::WaitForMessage(refusal);
    ASSERT_NE(box, nullptr) << unstorable;
    probe::Click(box, wxID_OK);
    ASSERT_TRUE(probe::WaitForNoDialog("QUARO7K7_PTZ"));
    EXPECT_EQ(probe::WaitForDialog(kCommSetup, 1000), comm);
    EXPECT_EQ(q7host::ReadFile(SettingsPath()), before);
  }
  probe::Type(comm, 1014,
              "Einfahrt S\xc3\xbc"
              "d");
  probe::Click(comm, 1);
  ASSERT_TRUE(probe::WaitForNoDialog(kCommSetup));
  EXPECT_TRUE(TreeIs(setup, {"[COM4]  Line A",
                             "  005 [012]: T\xc3\xb6r S\xc3\xbc"
                             "d",
                             "[COM3]  Einfahrt S\xc3\xbc"
                             "d"}));
  const std::string settings = q7host::ReadFile(SettingsPath());
  EXPECT_NE(settings.find("Name value=\"Einfahrt S\xfc"
                          "d\""),
            std::string::npos)
      << settings;
  EXPECT_EQ(settings.find("\xc3"), std::string::npos) << settings;
  EXPECT_EQ(settings.find("Kasse"), std::string::npos) << settings;

  // Configure Connection shows the stored name as it was typed.
  ASSERT_TRUE(SelectTreeItem(setup,
                             "[COM3]  Einfahrt S\xc3\xbc"
                             "d"));
  probe::Click(setup, 1009);
  comm = probe::WaitForDialog(kCommSetup);
  ASSERT_NE(comm, nullptr);
  EXPECT_EQ(probe::TextOf(comm, 1014),
            "Einfahrt S\xc3\xbc"
            "d");
  Shoot(kCommSetup, "connection-setup-accents.png");
  probe::Click(comm, 2);
  ASSERT_TRUE(probe::WaitForNoDialog(kCommSetup));
  probe::Click(setup, 1);
  EXPECT_EQ(ConfigureResult(), 1);
}

TEST_F(WindowTest, ANewCameraNumberAsksForItsConnectionFirst) {
  Simulator(3);
  WriteSettings({{"Line B", 3, "96,E,8,1", {}}, {"Line A", 4, "96,E,8,1", {}}});
  Load();
  ASSERT_EQ(Init(), 1);
  Configure(7);
  probe::Dialog select = probe::WaitForDialog(kSelectComm);
  ASSERT_NE(select, nullptr);
  EXPECT_EQ(Entries(select, 1013), (std::vector<std::string>{"[COM3]: Line B", "[COM4]: Line A"}));
  EXPECT_FALSE(probe::EnabledOf(select, 1));
  probe::ChooseEntry(select, 1013, 0);
  probe::Settle();
  EXPECT_TRUE(probe::EnabledOf(select, 1));
  Shoot(kSelectComm, "select-connection.png");
  probe::DoubleClickEntry(select, 1013, 0);
  probe::Dialog camera = probe::WaitForDialog(kCameraSetup);
  ASSERT_NE(camera, nullptr);
  EXPECT_EQ(probe::TextOf(camera, 1010), "8");
  EXPECT_EQ(probe::TextOf(camera, 1012), "Line B");
  probe::Type(camera, 1011, "Porch");
  probe::Type(camera, 1013, "9");
  // A node address beyond 128 is refused with its message; the dialog stays.
  probe::Type(camera, 1050, "129");
  probe::Click(camera, 1);
  probe::Dialog box = probe::WaitForMessage("Illegal node address. Valid values: 0 ... 127.");
  ASSERT_NE(box, nullptr);
  probe::Click(box, wxID_OK);
  ASSERT_TRUE(probe::WaitForNoDialog("QUARO7K7_PTZ"));
  EXPECT_EQ(probe::WaitForDialog(kCameraSetup), camera);
  probe::Type(camera, 1050, "128");
  probe::Click(camera, 1);
  ASSERT_TRUE(probe::WaitForNoDialog(kCameraSetup));
  probe::Dialog setup = probe::WaitForDialog(kDriverSetup);
  ASSERT_NE(setup, nullptr);
  EXPECT_TRUE(TreeIs(
      setup, (std::vector<std::string>{"[COM3]  Line B", "  008 [009]: Porch", "[COM4]  Line A"})));
  const std::string settings = q7host::ReadFile(SettingsPath());
  EXPECT_NE(settings.find("TavoID value=\"7\""), std::string::npos) << settings;
  probe::PressKey(setup, WXK_ESCAPE);
  EXPECT_EQ(ConfigureResult(), -12);
}

TEST_F(WindowTest, FiftyLoadConfigureCloseUnloadCyclesInOneProcess) {
  WriteSettings({{"Line A", 3, "96,E,8,1", {Camera("Gate", 0, 1)}}});
  for (int cycle = 0; cycle < 50; ++cycle) {
    SCOPED_TRACE("cycle " + std::to_string(cycle));
    Load();
    ASSERT_EQ(Init(), 1);
    Configure(-1);
    ASSERT_NE(probe::WaitForDialog(kDriverSetup), nullptr);
    // The dialog enters the driver's window list while it initialises.
    for (int i = 0; i < 100 && !LogContains("SETUPDLG.OnInitDialog"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    CloseUiFromAnotherThread();
    ASSERT_EQ(ConfigureResult(), -12);
    ASSERT_TRUE(probe::WaitForNoDialog(kDriverSetup));
    Unload();
  }
}

TEST_F(WindowTest, TheModulesEndWhileADialogIsOpenEndsItFirst) {
  WriteSettings({{"Line A", 3, "96,E,8,1", {Camera("Gate", 0, 1)}}});
  Load();
  ASSERT_EQ(Init(), 1);
  Configure(-1);
  ASSERT_NE(probe::WaitForDialog(kDriverSetup), nullptr);
  EXPECT_EQ(Exit(), 1);
  EXPECT_EQ(ConfigureResult(), -12);
  EXPECT_TRUE(probe::WaitForNoDialog(kDriverSetup));
}

// A host that unloads the library while a dialog is open on another of its
// threads, with a camera open and the module not ended: the dialog ends
// first and its configure call returns, the unload returns within its
// bound, and the library loaded again shows its dialogs again.
TEST_F(WindowTest, AnUnloadWhileADialogIsOpenEndsItFirst) {
  WriteSettings({{"Line A", 3, "96,E,8,1", {Camera("Gate", 0, 1)}}});
  Simulator(3);
  Load();
  ASSERT_EQ(Init(), 1);
  Open(0);
  Configure(-1);
  ASSERT_NE(probe::WaitForDialog(kDriverSetup), nullptr);
  for (int i = 0; i < 100 && !LogContains("SETUPDLG.OnInitDialog"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_LT(UnloadAsItStands(), 2000);
  EXPECT_EQ(ConfigureResult(), -12);
  EXPECT_TRUE(probe::WaitForNoDialog(kDriverSetup));
  EXPECT_TRUE(LacksLogLine("DRV: A setup dialog was still open when the library was freed."));
  EXPECT_TRUE(HasLogLine("DRV: Driver library freed."));

  Load();
  ASSERT_EQ(Init(), 1);
  Configure(-1);
  ASSERT_NE(probe::WaitForDialog(kDriverSetup), nullptr);
  for (int i = 0; i < 100 && CountLogLines("SETUPDLG.OnInitDialog: Driver setup dialog opened") < 2;
       ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  CloseUiFromAnotherThread();
  EXPECT_EQ(ConfigureResult(), -12);
}

}  // namespace
