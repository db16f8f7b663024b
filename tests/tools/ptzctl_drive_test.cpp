// The interactive mode through a pseudo-terminal: keys go in, the status line
// and the call lines come out, and the dome receives the lines.
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "domesim/domesim.h"
#include "ptzctl_test_util.h"

namespace ptzctl_test {
namespace {

// ptzctl on the slave side of a pty, as on a user's terminal.
class PtyChild {
 public:
  explicit PtyChild(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(PTZCTL_PATH));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    winsize size{};
    size.ws_row = 40;
    size.ws_col = 250;
    pid_ = forkpty(&master_, nullptr, nullptr, &size);
    if (pid_ == 0) {
      execv(argv[0], argv.data());
      _exit(127);
    }
  }
  ~PtyChild() {
    if (pid_ > 0 && status_ < 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }

  bool Started() const { return pid_ > 0 && master_ >= 0; }
  void Signal(int number) { kill(pid_, number); }
  void Send(const std::string& keys) {
    ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }
  // True once `text` appeared in the output after the mark.
  bool WaitFor(const std::string& text, int timeout_ms = 5000) {
    ReadUntil(master_, &output_, text, timeout_ms, mark_);
    return output_.find(text, mark_) != std::string::npos;
  }
  // Later waits look only at output that comes after this point.
  void Mark() { mark_ = output_.size(); }
  const std::string& Output() const { return output_; }
  // Waits for the child to end; its exit code or 128 + signal.
  int Wait(int timeout_ms = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > end) return -1;
      ReadUntil(master_, &output_, "", 20);
    }
    ReadUntil(master_, &output_, "", 50);
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return status_;
  }
  // The terminal's line discipline as the program left it.
  bool Cooked() const {
    termios mode{};
    if (tcgetattr(master_, &mode) != 0) return false;
    return (mode.c_lflag & ECHO) && (mode.c_lflag & ICANON) && (mode.c_lflag & ISIG);
  }

 private:
  pid_t pid_ = -1;
  int master_ = -1;
  int status_ = -1;
  std::string output_;
  size_t mark_ = 0;
};

class DriveTest : public ::testing::Test {
 protected:
  void SetUp() override { sim_.Publish(dir_.Path().string(), 1); }
  std::vector<std::string> Sent() { return sim_.TakeLines(); }
  bool WaitForLine(const std::string& line) {
    for (int i = 0; i < 100; ++i) {
      for (const std::string& l : sim_.Lines()) {
        if (l == line) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  HostDir dir_;
  domesim::DomeSimulator sim_;
};

TEST_F(DriveTest, KeysSteerTheCameraAndTheStatusLineFollows) {
  PtyChild child({"--lib", dir_.Library(), "drive", "0"});
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(child.WaitFor("cam 0 \"Gate\" | speed 5 (code 9) | stopped | presets 1"))
      << child.Output();
  EXPECT_FALSE(child.Cooked());
  sim_.TakeLines();

  child.Mark();
  child.Send("\033[D");  // arrow left
  ASSERT_TRUE(child.WaitFor("moving left")) << child.Output();
  EXPECT_TRUE(child.WaitFor("VRT_CamLeft(0x1"));
  EXPECT_EQ(Sent(), (std::vector<std::string>{"@5,3", "@7,62,1", "@5,23"}));

  child.Mark();
  child.Send("9");  // full speed while moving
  ASSERT_TRUE(child.WaitFor("speed 9 (code 16) | moving left")) << child.Output();
  EXPECT_EQ(Sent(), std::vector<std::string>{"@7,70,1"});

  child.Mark();
  child.Send("\033Ox");  // keypad 8 in application mode: up
  ASSERT_TRUE(child.WaitFor("moving up")) << child.Output();
  // The running direction is stopped before the next one starts.
  EXPECT_EQ(Sent(), (std::vector<std::string>{"@6,3", "@5,4", "@7,1,70"}));

  child.Mark();
  child.Send("\033[6~");  // Page Down: down-right
  ASSERT_TRUE(child.WaitFor("moving down-right")) << child.Output();
  child.Mark();
  child.Send(" ");
  ASSERT_TRUE(child.WaitFor("| stopped |")) << child.Output();
  const std::vector<std::string> diagonal = Sent();
  for (const char* line : {"@6,4", "@5,2", "@5,5", "@6,2", "@6,5"})
    EXPECT_TRUE(Contains(diagonal, line)) << line << " in " << Join(diagonal);

  child.Mark();
  child.Send("+");
  ASSERT_TRUE(child.WaitFor("| zoom 1 |")) << child.Output();
  child.Mark();
  child.Send("\033Om");  // keypad minus
  ASSERT_TRUE(child.WaitFor("| zoom 0 |")) << child.Output();
  child.Mark();
  child.Send(" ");
  ASSERT_TRUE(child.WaitFor("| stopped |")) << child.Output();
  EXPECT_EQ(Sent(), (std::vector<std::string>{"@5,7", "@6,7", "@5,6", "@6,6"}));

  child.Mark();
  child.Send("p");
  ASSERT_TRUE(child.WaitFor("presets 2")) << child.Output();
  EXPECT_TRUE(child.Output().find("VRT_CamSetPrePosition(0x") != std::string::npos);
  child.Mark();
  child.Send("r");
  ASSERT_TRUE(child.WaitFor("recall which preset? 1-9")) << child.Output();
  child.Send("2");
  ASSERT_TRUE(WaitForLine("@16,2,90"));
  // The digit chose the preset; the speed stayed.
  EXPECT_TRUE(child.WaitFor("speed 9 (code 16)"));
  EXPECT_EQ(Sent(), (std::vector<std::string>{"@9,2", "@16,2,90"}));

  child.Mark();
  child.Send("q");
  EXPECT_EQ(child.Wait(), 0) << child.Output();
  EXPECT_TRUE(child.Cooked());
  EXPECT_TRUE(child.WaitFor("VRT_CamExitModule()  ->  1 success")) << child.Output();
}

TEST_F(DriveTest, ATerminatingSignalStopsTheDomeAndRestoresTheTerminal) {
  PtyChild child({"--lib", dir_.Library(), "drive", "0", "--speed", "3"});
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(child.WaitFor("speed 3 (code 6) | stopped |")) << child.Output();
  child.Send("\033[B");
  ASSERT_TRUE(child.WaitFor("moving down")) << child.Output();
  ASSERT_EQ(sim_.State(domesim::kDirectNode, 1).tilt, domesim::TiltMotion::kDown);
  sim_.TakeLines();
  child.Signal(SIGTERM);
  EXPECT_EQ(child.Wait(), 128 + SIGTERM) << child.Output();
  EXPECT_TRUE(child.Cooked());
  // The dome was stopped and the module ended before the program went.
  EXPECT_TRUE(Contains(Sent(), "@6,5"));
  EXPECT_EQ(sim_.State(domesim::kDirectNode, 1).tilt, domesim::TiltMotion::kStopped);
  EXPECT_TRUE(Contains(child.Output(), "VRT_CamExitModule()  ->  1 success"));
}

TEST_F(DriveTest, CtrlCIsAKeyThatQuits) {
  PtyChild child({"--lib", dir_.Library(), "drive", "0"});
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(child.WaitFor("| stopped |")) << child.Output();
  child.Send("\033[C");
  ASSERT_TRUE(child.WaitFor("moving right")) << child.Output();
  child.Send("\003");
  EXPECT_EQ(child.Wait(), 0) << child.Output();
  EXPECT_TRUE(child.Cooked());
  EXPECT_EQ(sim_.State(domesim::kDirectNode, 1).pan, domesim::PanMotion::kStopped);
}

TEST_F(DriveTest, AnUnknownCameraEndsTheModeAtOnce) {
  PtyChild child({"--lib", dir_.Library(), "drive", "9"});
  ASSERT_TRUE(child.Started());
  EXPECT_EQ(child.Wait(), 1) << child.Output();
  EXPECT_TRUE(child.Cooked());
  EXPECT_TRUE(Contains(child.Output(), "VRT_CamOpen(9, &handle)  ->  -13 camera not found"));
}

// The demo hands over to the interactive mode, which then shows the lines the
// built-in dome receives.
TEST(DemoDriveTest, TheDemoEndsInTheInteractiveModeWithWireLines) {
  HostDir dir;
  PtyChild child({"--lib", QUARO7_LIBRARY_PATH, "demo", "--check", "--drive", "--dir",
                  (dir.Path() / "run").string()});
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(child.WaitFor("Your turn: drive camera 0", 20000)) << child.Output();
  ASSERT_TRUE(child.WaitFor("| stopped |")) << child.Output();
  child.Mark();
  child.Send("\033[D");
  ASSERT_TRUE(child.WaitFor("wire  @5,3  start pan left")) << child.Output();
  EXPECT_TRUE(child.WaitFor("dome pan left")) << child.Output();
  child.Send("q");
  EXPECT_EQ(child.Wait(), 0) << child.Output();
  EXPECT_TRUE(Contains(child.Output(), "Every check passed."));
  EXPECT_TRUE(child.Cooked());
}

TEST_F(DriveTest, WithoutATerminalDriveRefusesToStart) {
  const RunResult r = RunProgram(PTZCTL_PATH, {"--lib", dir_.Library(), "drive", "0"}, "q");
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Contains(r.out, "drive needs a terminal"));
  EXPECT_TRUE(sim_.Lines().empty());
}

}  // namespace
}  // namespace ptzctl_test
