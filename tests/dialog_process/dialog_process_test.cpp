// The setup dialogs drawn by the dialog process, as hosts meet them: hosts
// of three kinds with loops of their own, the process killed under a
// dialog, the X server going away under a host. Each test has a fresh copy
// of the library with the dialog program beside it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "host_fixture.h"
#include "host_scenario.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kOpened[] = "Driver setup dialog opened";

bool HaveDisplay() {
  const char* display = getenv("DISPLAY");
  return display != nullptr && *display != '\0';
}

int CountOf(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// The dialog processes this process has started and not yet waited for.
std::vector<pid_t> DialogChildren() {
  std::vector<pid_t> children;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');
    if (close == std::string::npos || line.find("(QUARO7K7_PTZ_se") == std::string::npos) continue;
    char state = 0;
    int parent = 0;
    if (sscanf(line.c_str() + close + 1, " %c %d", &state, &parent) != 2) continue;
    if (parent == getpid() && state != 'Z') children.push_back(std::stoi(name));
  }
  return children;
}

// An X server of the test's own, which it can stop.
class OwnXServer {
 public:
  // With authFile, the server lets in only clients that show a cookie of
  // that file.
  explicit OwnXServer(const std::string& authFile = std::string()) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 3);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> args = {"Xvfb", "-displayfd", "3",         "-screen",
                                     "0",    "800x600x24", "-nolisten", "tcp"};
    if (!authFile.empty()) {
      args.push_back("-auth");
      args.push_back(authFile);
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv.data(), environ) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    std::string number;
    char c = 0;
    while (pid_ != 0 && read(pipeFds[0], &c, 1) == 1 && c != '\n') number.push_back(c);
    close(pipeFds[0]);
    if (!number.empty()) display_ = ":" + number;
  }
  ~OwnXServer() { Stop(); }
  const std::string& Display() const { return display_; }
  void Stop() {
    if (pid_ == 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }

 private:
  pid_t pid_ = 0;
  std::string display_;
};

class DialogProcessTest : public q7host::HostTest {
 protected:
  void SetUp() override {
    if (!HaveDisplay()) GTEST_SKIP() << "no display";
    q7host::HostTest::SetUp();
    std::error_code error;
    fs::copy_file(QUARO7_SETUP_PROGRAM, Dir() + "/QUARO7K7_PTZ_setup", error);
    ASSERT_FALSE(error) << error.message();
    WriteSettings({});
  }
  void TearDown() override {
    if (Loaded()) api().VRT_CamCloseUi();
    q7host::HostTest::TearDown();
  }

  // Starts configure on a host thread and waits until its dialog is up
  // (count: how many driver dialogs have opened in this test by then).
  std::future<int> ShowDriverSetup(int count) {
    auto answer =
        std::async(std::launch::async, [this] { return api().VRT_CamConfigure(-1, nullptr); });
    const auto until = std::chrono::steady_clock::now() + 20s;
    while (CountOf(LogText(), kOpened) < count && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(10ms);
    EXPECT_EQ(CountOf(LogText(), kOpened), count) << LogText();
    return answer;
  }
  static int Answer(std::future<int>& answer) {
    if (answer.wait_for(20s) != std::future_status::ready) return 0;
    return answer.get();
  }
};

// ---------------------------------------------------------------- hosts

class HostKindTest : public DialogProcessTest, public ::testing::WithParamInterface<const char*> {};

// Each host shows the dialog from a worker thread while its loop ticks,
// closes it, ends the module and quits its loop; it holds the same sockets
// afterwards as before (no display connection of ours).
TEST_P(HostKindTest, ShowsTheDialogWhileItsLoopTicksAndQuitsNormally) {
  const std::string host = std::string(QUARO7_HOST_DIR) + "/" + GetParam();
  if (!fs::exists(host)) GTEST_SKIP() << host << " not built";
  const std::string output = Dir() + "/host-output.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT, 0644);
  std::string library = LibraryPath();
  std::vector<char*> argv = {const_cast<char*>(host.c_str()), library.data(), nullptr};
  // Qt's platform plugin leaves an allocation behind at exit that leak
  // checking cannot name (the plugin is unloaded by then); the Qt host's
  // own leaks are not looked for, the other hosts' are.
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::string(GetParam()) == "qt_host" && std::string(*e).rfind("ASAN_OPTIONS=", 0) == 0)
      continue;
    environment.push_back(*e);
  }
  if (std::string(GetParam()) == "qt_host") {
    const char* asan = getenv("ASAN_OPTIONS");
    environment.push_back(std::string("ASAN_OPTIONS=") + (asan != nullptr ? asan : "") +
                          (asan != nullptr && *asan != '\0' ? ":" : "") + "detect_leaks=0");
  }
  std::vector<char*> envp;
  for (std::string& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, host.c_str(), &actions, nullptr, argv.data(), envp.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  const auto until = std::chrono::steady_clock::now() + 60s;
  pid_t done = 0;
  while ((done = waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(20ms);
  if (done == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    ADD_FAILURE() << GetParam() << " did not end within 60 s";
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << GetParam() << ": " << q7host::ReadFile(output);
}

INSTANTIATE_TEST_SUITE_P(Hosts, HostKindTest,
                         ::testing::Values("plain_host", "gtk_host", "qt_host"),
                         [](const auto& param) { return std::string(param.param); });

// ---------------------------------------------------------------- ends

// An existing camera's configure opens its camera setup nested over the
// driver setup, in the same process; VRT_CamCloseUi from another thread
// ends both, and the process with them.
TEST_F(DialogProcessTest, CloseUiEndsANestedDialogAndItsProcess) {
  std::vector<q7host::ConnectionConfig> lines(1);
  lines[0].cameras.push_back(q7host::Camera("Gate", 0, 5));
  WriteSettings(lines);
  Simulator(lines[0].comPort);
  Load();
  ASSERT_EQ(Init(), 1);
  auto answer =
      std::async(std::launch::async, [this] { return api().VRT_CamConfigure(0, nullptr); });
  const auto until = std::chrono::steady_clock::now() + 20s;
  while (!LogContains("Camera 1 (name: Gate) setup dialog opened") &&
         std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(10ms);
  ASSERT_TRUE(LogContains("Camera 1 (name: Gate) setup dialog opened")) << LogText();
  EXPECT_EQ(DialogChildren().size(), 1u);
  api().VRT_CamCloseUi();
  EXPECT_EQ(Answer(answer), -12);
  // The camera dialog heard its end: the line it opened is closed again.
  EXPECT_TRUE(LogContains("COMM.Close: Connection 'Line 1' closed")) << LogText();
  EXPECT_TRUE(DialogChildren().empty());
}

// The module's end while a dialog is up ends the dialog first.
TEST_F(DialogProcessTest, TheModulesEndEndsTheDialogFirst) {
  Load();
  ASSERT_EQ(Init(), 1);
  std::future<int> shown = ShowDriverSetup(1);
  EXPECT_EQ(Exit(), 1);
  EXPECT_EQ(Answer(shown), -12);
  EXPECT_TRUE(DialogChildren().empty());
}

// ---------------------------------------------------------------- deaths

TEST_F(DialogProcessTest, AKilledDialogProcessAnswersCancelledKeepsTheFileAndTheNextOneWorks) {
  std::vector<q7host::ConnectionConfig> lines(1);
  lines[0].cameras.push_back(q7host::Camera("Gate", 0, 5));
  WriteSettings(lines);
  Load();
  ASSERT_EQ(Init(), 1);
  const std::string saved = q7host::ReadFile(SettingsPath());
  const int socketsBefore = testhost::OpenSockets();

  std::future<int> first = ShowDriverSetup(1);
  const std::vector<pid_t> children = DialogChildren();
  ASSERT_EQ(children.size(), 1u);
  kill(children[0], SIGKILL);
  EXPECT_EQ(Answer(first), -12);
  EXPECT_EQ(CountOf(LogText(), "VRT_CamConfigure: Setup dialog ended: the dialog process " +
                                   std::to_string(children[0]) + " ended (killed by signal 9)"),
            1)
      << LogText();
  EXPECT_EQ(CountOf(LogText(), "Exeption"), 0) << LogText();
  EXPECT_EQ(q7host::ReadFile(SettingsPath()), saved);
  EXPECT_TRUE(DialogChildren().empty());

  // The next configure starts a new process, which shows the dialog.
  std::future<int> second = ShowDriverSetup(2);
  EXPECT_EQ(DialogChildren().size(), 1u);
  api().VRT_CamCloseUi();
  EXPECT_EQ(Answer(second), -12);
  EXPECT_TRUE(DialogChildren().empty());
  EXPECT_EQ(q7host::ReadFile(SettingsPath()), saved);
  EXPECT_EQ(testhost::OpenSockets(), socketsBefore);
}

// The X server goes away under a host that has shown a dialog: during a
// dialog the configure answers cancelled, and after it too, and the host
// lives on.
TEST_F(DialogProcessTest, TheXServerGoingAwayLeavesTheHostRunning) {
  OwnXServer server;
  ASSERT_FALSE(server.Display().empty()) << "Xvfb did not start";
  const std::string display = getenv("DISPLAY");
  setenv("DISPLAY", server.Display().c_str(), 1);
  Load();
  ASSERT_EQ(Init(), 1);

  std::future<int> first = ShowDriverSetup(1);
  api().VRT_CamCloseUi();
  EXPECT_EQ(Answer(first), -12);

  std::future<int> second = ShowDriverSetup(2);
  server.Stop();
  EXPECT_EQ(Answer(second), -12);
  EXPECT_TRUE(LogContains("VRT_CamConfigure: Setup dialog ended: the dialog process")) << LogText();

  EXPECT_EQ(api().VRT_CamConfigure(-1, nullptr), -12);
  EXPECT_TRUE(LogContains("VRT_CamConfigure: Setup dialog not shown: ")) << LogText();
  EXPECT_GT(api().VRT_CamGetVersion(), 0);
  EXPECT_TRUE(DialogChildren().empty());
  setenv("DISPLAY", display.c_str(), 1);
}

TEST_F(DialogProcessTest, AMissingProgramAnswersCancelledAndNamesIt) {
  fs::remove(Dir() + "/QUARO7K7_PTZ_setup");
  Load();
  ASSERT_EQ(Init(), 1);
  EXPECT_EQ(api().VRT_CamConfigure(-1, nullptr), -12);
  EXPECT_TRUE(HasLogLine("VRT_CamConfigure: Setup dialog not shown: the dialog program " + Dir() +
                         "/QUARO7K7_PTZ_setup cannot be started: No such file or directory"))
      << LogText();
}

TEST_F(DialogProcessTest, ADisplayWithNoServerAnswersCancelledAndSaysWhy) {
  const std::string display = getenv("DISPLAY");
  setenv("DISPLAY", ":4711", 1);
  Load();
  ASSERT_EQ(Init(), 1);
  EXPECT_EQ(api().VRT_CamConfigure(-1, nullptr), -12);
  setenv("DISPLAY", display.c_str(), 1);
  EXPECT_EQ(CountOf(LogText(), "VRT_CamConfigure: Setup dialog not shown: "), 1) << LogText();
  EXPECT_TRUE(
      HasLogLine("VRT_CamConfigure: Setup dialog not shown: the dialog program could not start the "
                 "toolkit: it could not open the display :4711 (no X server is running there)"))
      << LogText();
  EXPECT_TRUE(DialogChildren().empty());
}

// An X server that lets in only clients with its cookie turns the dialog
// program away: the line says the server refused, the host carries on, and
// a display that lets the program in shows the dialog again.
TEST_F(DialogProcessTest, ADisplayThatRefusesUsAnswersCancelledAndSaysWhy) {
  if (system("command -v xauth >/dev/null 2>&1") != 0) GTEST_SKIP() << "no xauth";
  const std::string cookies = Dir() + "/server-cookies";
  ASSERT_EQ(
      system(("xauth -q -f '" + cookies + "' add :0 . 0123456789abcdef0123456789abcdef 2>/dev/null")
                 .c_str()),
      0);
  OwnXServer server(cookies);
  ASSERT_FALSE(server.Display().empty()) << "Xvfb did not start";
  const std::string display = getenv("DISPLAY");
  const char* authority = getenv("XAUTHORITY");
  const std::string oldAuthority = authority != nullptr ? authority : "";
  setenv("DISPLAY", server.Display().c_str(), 1);
  setenv("XAUTHORITY", (Dir() + "/no-cookies").c_str(), 1);
  Load();
  ASSERT_EQ(Init(), 1);
  EXPECT_EQ(api().VRT_CamConfigure(-1, nullptr), -12);
  setenv("DISPLAY", display.c_str(), 1);
  if (authority != nullptr) {
    setenv("XAUTHORITY", oldAuthority.c_str(), 1);
  } else {
    unsetenv("XAUTHORITY");
  }
  EXPECT_EQ(CountOf(LogText(), "VRT_CamConfigure: Setup dialog not shown: "), 1) << LogText();
  EXPECT_TRUE(
      HasLogLine("VRT_CamConfigure: Setup dialog not shown: the dialog program could not "
                 "start the toolkit: it could not open the display " +
                 server.Display() + " (the X server there refused the connection)"))
      << LogText();
  EXPECT_TRUE(DialogChildren().empty());
  EXPECT_GT(api().VRT_CamGetVersion(), 0);
  std::future<int> shown = ShowDriverSetup(1);
  api().VRT_CamCloseUi();
  EXPECT_EQ(Answer(shown), -12);
}

// ---------------------------------------------------------------- the host's process

// With only the renderer's module beside the library and no dialog
// program, the library does not load the module into the host: configure
// answers cancelled with one line naming the missing program, and the
// host's process maps none of the toolkit's libraries and holds no new
// socket (no display connection).
TEST_F(DialogProcessTest, TheDialogModuleBesideTheLibraryIsNeverLoadedIntoTheHost) {
  fs::remove(Dir() + "/QUARO7K7_PTZ_setup");
  std::error_code error;
  fs::copy_file(QUARO7_WX_MODULE_PATH, Dir() + "/QUARO7K7_PTZ_wx.so", error);
  ASSERT_FALSE(error) << error.message();
  Load();
  ASSERT_EQ(Init(), 1);
  const int socketsBefore = testhost::OpenSockets();
  auto answer =
      std::async(std::launch::async, [this] { return api().VRT_CamConfigure(-1, nullptr); });
  if (answer.wait_for(10s) != std::future_status::ready) {
    ADD_FAILURE() << "configure showed a dialog";
    api().VRT_CamCloseUi();
  }
  EXPECT_EQ(answer.get(), -12);
  EXPECT_EQ(CountOf(LogText(), "VRT_CamConfigure: Setup dialog not shown: "), 1) << LogText();
  EXPECT_TRUE(HasLogLine("VRT_CamConfigure: Setup dialog not shown: the dialog program " + Dir() +
                         "/QUARO7K7_PTZ_setup cannot be started: No such file or directory"))
      << LogText();
  const std::string maps = q7host::ReadFile("/proc/self/maps");
  for (const char* library : {"QUARO7K7_PTZ_wx.so", "libwx_", "libgtk-", "libgdk-", "libX11"})
    EXPECT_EQ(maps.find(library), std::string::npos) << library << " is mapped";
  EXPECT_EQ(testhost::OpenSockets(), socketsBefore);
}

}  // namespace
