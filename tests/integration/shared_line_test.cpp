// Two cameras on one line, each driven by its own host thread: whatever one
// camera's selection puts on the line, every command reaches the dome it was
// meant for.
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <thread>

#include "host_fixture.h"

namespace q7host {
namespace {

constexpr int kReporter = 12;  // camera A: reports, opens and closes
constexpr int kMover = 13;     // camera B: pans and stops

class SharedLineTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    CameraConfig a = Camera("A", 0, kReporter);
    a.extraKeys = {{"DefaultLensSlow", "1"}};  // its open sends @5,22
    WriteSettings({{"Line 1", 1, "96,E,8,1", {a, Camera("B", 1, kMover)}}});
    Simulator(1);
    ASSERT_EQ(Init(), 1);
    reporter_ = Open(0);
    mover_ = Open(1);
    // B's first start sends function 23; from here on B sends only these.
    ASSERT_EQ(api().VRT_CamLeft(mover_, 5), 1);
    ASSERT_EQ(api().VRT_CamLeft(mover_, 0), 1);
    Simulator(1).ClearLines();
  }

  // Runs `reporterCall` on one thread and B's left-and-stop on another, both
  // over and over for a while.
  void RaceWithTheMover(const std::function<void()>& reporterCall) {
    std::atomic<bool> stop{false};
    std::atomic<int> moverFailures{0};
    std::thread mover([&] {
      while (!stop) {
        if (api().VRT_CamLeft(mover_, 5) != 1) ++moverFailures;
        if (api().VRT_CamLeft(mover_, 0) != 1) ++moverFailures;
      }
    });
    std::thread reporter([&] {
      while (!stop) reporterCall();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    stop = true;
    mover.join();
    reporter.join();
    EXPECT_EQ(moverFailures.load(), 0);
  }

  // The lines that reached another dome than the one they were meant for, as
  // the domes see the line: each "@3,n" selects dome n for what follows.
  std::vector<std::string> Misdirected(const std::map<std::string, int>& meantFor) {
    std::vector<std::string> wrong;
    int selected = kMover;  // as the set-up left the line
    size_t selections = 0, commands = 0;
    for (const domesim::ReceivedLine& r : Simulator(1).Records()) {
      if (r.line.rfind("@3,", 0) == 0) {
        selected = std::stoi(r.line.substr(3));
        ++selections;
        continue;
      }
      const auto it = meantFor.find(r.line);
      if (it == meantFor.end()) continue;
      ++commands;
      if (it->second != selected) wrong.push_back(r.line + " reached " + std::to_string(selected));
    }
    // Both threads got the line many times over.
    EXPECT_GT(selections, 20u);
    EXPECT_GT(commands, 20u);
    return wrong;
  }

  static const std::map<std::string, int>& MoverLines() {
    static const std::map<std::string, int> lines = {
        {"@5,3", kMover}, {"@7,54,1", kMover}, {"@6,3", kMover}};
    return lines;
  }

  int reporter_ = 0;
  int mover_ = 0;
};

TEST_F(SharedLineTest, PropertiesReportSelectsWithoutStealingTheLine) {
  VRT_CameraProperties properties{};
  properties.handle = reporter_;
  // The first report only arms the selection; every later one selects A.
  ASSERT_EQ(api().VRT_CamGetProperties(&properties), 1);
  RaceWithTheMover([&] { api().VRT_CamGetProperties(&properties); });
  EXPECT_EQ(Misdirected(MoverLines()), std::vector<std::string>());
  EXPECT_EQ(Simulator(1).State(128, kReporter).pan, domesim::PanMotion::kStopped);
  EXPECT_EQ(Simulator(1).State(128, kMover).pan, domesim::PanMotion::kStopped);
}

TEST_F(SharedLineTest, OpenSequenceReachesOnlyItsOwnDome) {
  ASSERT_EQ(api().VRT_CamClose(reporter_), 1);
  std::atomic<int> failures{0};
  RaceWithTheMover([&] {
    int handle = 0;
    if (api().VRT_CamOpen(0, &handle) != 1 || api().VRT_CamClose(handle) != 1) ++failures;
  });
  EXPECT_EQ(failures.load(), 0);
  std::map<std::string, int> meantFor = MoverLines();
  meantFor["@5,23"] = kReporter;  // the open sequence's function 23
  meantFor["@5,22"] = kReporter;  // and its lens slow
  EXPECT_EQ(Misdirected(meantFor), std::vector<std::string>());
  EXPECT_FALSE(Simulator(1).State(128, kMover).lens_slow);
}

}  // namespace
}  // namespace q7host
