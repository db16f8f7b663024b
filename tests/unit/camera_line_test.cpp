// A connection with its cameras on a simulated dome: the motion state the
// connection keeps for a camera, the preset location table, and the timed
// tasks of the worker thread.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "camera/camera.h"
#include "comm/comm.h"
#include "domesim/domesim.h"
#include "platform/posix/serial_device_posix.h"
#include "platform/posix/tick_clock_posix.h"

namespace {

using Clock = std::chrono::steady_clock;

class CameraLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/q7-line-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    sim_.Publish(dir_, 1);
    platform::SetPortDirectoryForTesting(dir_ + "/ports");
    comm_ = std::make_unique<CVRTComm>();
    comm_->SetName("Line 1");
    auto camera = std::make_unique<CVRTCamera>(comm_.get());
    camera->Name = "Gate";
    camera->TavoID = 0;
    camera->SysID = 5;
    camera->NodeAddress = 128;
    camera_ = camera.get();
    ASSERT_EQ(comm_->AddCamera(std::move(camera)), 1);
  }
  void TearDown() override {
    comm_.reset();
    platform::SetPortDirectoryForTesting("");
    std::filesystem::remove_all(dir_);
  }
  void OpenCamera() {
    ASSERT_EQ(camera_->Open(), 1);
    sim_.ClearLines();
  }

  std::string dir_;
  domesim::DomeSimulator sim_;
  std::unique_ptr<CVRTComm> comm_;
  CVRTCamera* camera_ = nullptr;
};

TEST_F(CameraLineTest, MovesWithoutAnOpenPortAnswerNoCamera) {
  EXPECT_EQ(comm_->Left(camera_, 5), -13);
  EXPECT_EQ(comm_->Zoom(camera_, 0, 5), -13);
  EXPECT_EQ(comm_->Left(nullptr, 5), -13);
  EXPECT_EQ(camera_->Moving, 0);
}

TEST_F(CameraLineTest, MotionStateFollowsStartsAndStops) {
  OpenCamera();
  EXPECT_EQ(comm_->Left(camera_, 12), 1);
  EXPECT_EQ(camera_->Moving, 1);
  EXPECT_EQ(camera_->LastSpeed, 12);
  EXPECT_TRUE(camera_->StateFlags & CVRTCamera::kFollowUpSent);
  EXPECT_EQ(comm_->Left(camera_, 17), -3);
  EXPECT_EQ(comm_->Left(camera_, -1), -3);
  EXPECT_EQ(camera_->LastSpeed, 12);
  EXPECT_EQ(comm_->Left(camera_, 0), 1);
  EXPECT_EQ(camera_->Moving, 0);
  EXPECT_EQ(camera_->LastSpeed, 0);
  // The open sequence left this camera selected on the line.
  EXPECT_EQ(sim_.TakeLines(), (std::vector<std::string>{"@5,3", "@7,70,1", "@5,23", "@6,3"}));
}

TEST_F(CameraLineTest, APingSelectsTheCameraItProbes) {
  OpenCamera();  // the line has camera 5 selected
  EXPECT_GE(comm_->Ping(128, 7), 0);
  EXPECT_EQ(comm_->Left(camera_, 5), 1);
  EXPECT_EQ(sim_.TakeLines(),
            (std::vector<std::string>{"@3,7", "@2,1", "@3,5", "@5,3", "@7,54,1", "@5,23"}));
  // A ping of its own address leaves it selected.
  EXPECT_GE(comm_->Ping(128, 5), 0);
  EXPECT_EQ(comm_->Left(camera_, 0), 1);
  EXPECT_EQ(sim_.TakeLines(), (std::vector<std::string>{"@3,5", "@6,3"}));
}

// The software versions end at their carriage return like every other
// reply: a short answer, a long one and one cut at the buffer's size are
// there at once, not after the read's whole time-out (2 s and more).
TEST_F(CameraLineTest, VersionReadEndsAtTheRepliesCarriageReturn) {
  OpenCamera();
  struct Case {
    std::string reply;
    std::string shown;
  };
  const std::vector<Case> cases = {
      {"OK1,23,4,56\r", "1.23, 4.56"},
      {"OK7\r", ".7"},
      {"OK10,20,30,40,50,60,70,80,90,11\r", "10.20, 30.40, 50.60, 70.80, 90.11"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    sim_.SetVersionReply(c.reply);
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(comm_->QueryVersion(), c.shown);
    // The version read pauses 150 ms before and after the query.
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
  }
}

TEST_F(CameraLineTest, LensModesAreKeptUntilTheirStop) {
  OpenCamera();
  EXPECT_EQ(comm_->Zoom(camera_, 1, 4), 1);
  EXPECT_EQ(camera_->ZoomMode, 1);
  EXPECT_EQ(comm_->Zoom(camera_, 0, 4), 1);  // moving: ignored
  EXPECT_EQ(camera_->ZoomMode, 1);
  EXPECT_EQ(comm_->Zoom(camera_, 1, 0), 1);
  EXPECT_EQ(camera_->ZoomMode, -1);
  EXPECT_EQ(comm_->Zoom(camera_, 1, 0), 1);  // nothing to stop
  EXPECT_EQ(comm_->Iris(camera_, 0, 17), -3);
  EXPECT_EQ(comm_->Focus(camera_, 0, 100), 1);  // focus has no upper bound
  EXPECT_EQ(camera_->FocusMode, 0);
  EXPECT_FALSE(camera_->StateFlags & CVRTCamera::kFollowUpSent);
  EXPECT_EQ(comm_->Focus(camera_, 0, 0), 1);
  EXPECT_EQ(camera_->FocusMode, -1);
  EXPECT_EQ(comm_->Focus(camera_, 1, -2), 1);  // negative: nothing sent
  EXPECT_EQ(camera_->FocusMode, -1);
}

TEST_F(CameraLineTest, EveryLocationUpToTheLastCanBeHandedOutAndReleased) {
  camera_->NofStorageLocations = 256;
  for (int expected = 1; expected <= 256; ++expected) {
    const int slot = camera_->FindFreeLocationSlot();
    ASSERT_EQ(slot + 1, expected);
    camera_->TakeLocation(slot + 1);
  }
  EXPECT_EQ(camera_->FindFreeLocationSlot(), -1);
  EXPECT_EQ(comm_->FindFreePresetLocation(camera_), 255);
  camera_->ReleaseLocation(255);
  EXPECT_EQ(camera_->FindFreeLocationSlot(), 254);
  camera_->TakeLocation(255);
  camera_->ReleaseLocation(256);
  EXPECT_EQ(camera_->FindFreeLocationSlot(), 255);
}

TEST_F(CameraLineTest, SharedLocationsStayInUseUntilTheLastRelease) {
  camera_->TakeLocation(5);
  camera_->TakeLocation(5);
  EXPECT_EQ(camera_->StorageLocations[4].useCount, 2);
  camera_->ReleaseLocation(5);
  EXPECT_EQ(camera_->StorageLocations[4].location, 5);
  camera_->ReleaseLocation(5);
  EXPECT_EQ(camera_->StorageLocations[4].location, CVRTCamera::kFree);
  camera_->ReleaseLocation(5);  // releasing a free location changes nothing
  EXPECT_EQ(camera_->StorageLocations[4].useCount, 0);
  camera_->TakeLocation(0);  // outside the table: ignored
  camera_->TakeLocation(257);
  camera_->NofStorageLocations = 300;
  EXPECT_EQ(camera_->FindFreeLocationSlot(), 0);
}

TEST_F(CameraLineTest, APulseEndsOnTheWorkerThreadAndANewCommandCancelsIt) {
  OpenCamera();
  camera_->NofRelays = 3;
  ASSERT_EQ(camera_->CreateRelays("comm1/cam1", nullptr), 3);
  const auto start = Clock::now();
  EXPECT_EQ(camera_->SetRelay(0, CVRTRelay::kPulse, 200), 1);
  EXPECT_EQ(comm_->PendingTasks(), 1u);
  ASSERT_TRUE(sim_.WaitForLines(2, 3000));
  const auto elapsed = Clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(190));
  EXPECT_LT(elapsed, std::chrono::milliseconds(1500));
  EXPECT_EQ(sim_.TakeLines(), (std::vector<std::string>{"@5,18", "@6,18"}));
  EXPECT_EQ(camera_->GetRelayAt(0)->GetState(), 0);

  EXPECT_EQ(camera_->SetRelay(0, CVRTRelay::kPulse, 200), 1);
  EXPECT_EQ(camera_->SetRelay(0, CVRTRelay::kOn, 0), 1);  // cancels the pending end
  EXPECT_EQ(comm_->PendingTasks(), 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_EQ(sim_.TakeLines(), (std::vector<std::string>{"@5,18", "@5,18"}));
  EXPECT_EQ(camera_->GetRelayAt(0)->GetState(), 1);
}

TEST_F(CameraLineTest, APulseEndHeldUpByABusyLineIsStillSent) {
  OpenCamera();
  camera_->NofRelays = 1;
  ASSERT_EQ(camera_->CreateRelays("comm1/cam1", nullptr), 1);
  EXPECT_EQ(camera_->SetRelay(0, CVRTRelay::kPulse, 100), 1);
  // Another command holds the line (a silent dome: four reads of 2 s) from
  // before the pulse's end until more than 5 s after it: the worker waits
  // for the line meanwhile, and finds the task that late when it gets it.
  comm_->Lock();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  platform::AdvanceTickCountForTesting(5300);
  comm_->Unlock();
  ASSERT_TRUE(sim_.WaitForLines(2, 2000));
  EXPECT_EQ(sim_.TakeLines(), (std::vector<std::string>{"@5,18", "@6,18"}));
  EXPECT_EQ(camera_->GetRelayAt(0)->GetState(), 0);
  EXPECT_EQ(comm_->PendingTasks(), 0u);
}

TEST_F(CameraLineTest, ClosingTheLineDropsPendingTasksWithoutRunningThem) {
  OpenCamera();
  camera_->NofRelays = 2;
  ASSERT_EQ(camera_->CreateRelays("comm1/cam1", nullptr), 2);
  camera_->WashPulseTime = 150;
  EXPECT_EQ(camera_->SetRelay(1, CVRTRelay::kOn, 0), 1);  // relay 1: a wash pulse
  EXPECT_EQ(comm_->PendingTasks(), 1u);
  EXPECT_EQ(camera_->Close(), 1);
  EXPECT_EQ(comm_->PendingTasks(), 0u);
  EXPECT_EQ(comm_->IsRunning(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const std::vector<std::string> lines = sim_.TakeLines();
  EXPECT_EQ(lines, (std::vector<std::string>{"@5,13"}));
}

TEST_F(CameraLineTest, RemovingACameraForgetsItsTasks) {
  OpenCamera();
  camera_->NofRelays = 1;
  ASSERT_EQ(camera_->CreateRelays("comm1/cam1", nullptr), 1);
  auto other = std::make_unique<CVRTCamera>(comm_.get());
  other->Name = "Yard";
  other->SysID = 6;
  ASSERT_EQ(other->Open(), 1);
  comm_->AddCamera(std::move(other));
  EXPECT_EQ(camera_->SetRelay(0, CVRTRelay::kPulse, 5000), 1);
  std::unique_ptr<CVRTCamera> removed = comm_->RemoveCamera(camera_);
  ASSERT_TRUE(removed);
  EXPECT_EQ(comm_->PendingTasks(), 0u);
  EXPECT_EQ(removed->GetOpenState(), 0);
  EXPECT_EQ(comm_->OpenCount(), 1);  // the other camera keeps the line open
  EXPECT_EQ(comm_->RemoveCamera(removed.get()), nullptr);
}

TEST_F(CameraLineTest, SecondOpenIsRefusedAndTheLineOpensOnce) {
  auto other = std::make_unique<CVRTCamera>(comm_.get());
  other->Name = "Yard";
  CVRTCamera* second = other.get();
  ASSERT_EQ(comm_->AddCamera(std::move(other)), 1);
  ASSERT_EQ(camera_->Open(), 1);
  EXPECT_EQ(camera_->Open(), -20);
  ASSERT_EQ(second->Open(), 1);
  EXPECT_EQ(comm_->OpenCount(), 2);
  EXPECT_EQ(camera_->Close(), 1);
  EXPECT_EQ(comm_->IsOpen(), 1);
  EXPECT_EQ(second->Close(), 1);
  EXPECT_EQ(comm_->IsOpen(), 0);
  EXPECT_FALSE(comm_->HasPort());
}

TEST_F(CameraLineTest, CameraNamesKeysAndUniqueness) {
  auto twin = std::make_unique<CVRTCamera>(comm_.get());
  twin->Name = "GATE";
  EXPECT_EQ(comm_->AddCamera(std::move(twin)), 0);  // same name but for case
  comm_->SetKey("comm2");
  camera_->KeyPath = "comm2/cam1";
  auto third = std::make_unique<CVRTCamera>(comm_.get());
  third->Name = "Yard";
  third->KeyPath = "COMM2/CAM3";
  third->TavoID = 0;  // same host number as camera_
  third->SysID = 5;   // and the same address: only the number is reported
  CVRTCamera* yard = third.get();
  ASSERT_EQ(comm_->AddCamera(std::move(third)), 1);
  std::string key;
  EXPECT_EQ(comm_->MakeCameraKey(1, &key), 1);
  EXPECT_EQ(key, "comm2/cam2");
  EXPECT_EQ(comm_->MakeCameraKey(2, &key), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(comm_->CheckCameraUnique(yard), 0);
  const std::string warning = testing::internal::GetCapturedStderr();
  EXPECT_NE(warning.find("Entered Camera ID is reserved to the another camera in the system"),
            std::string::npos);
  EXPECT_EQ(warning.find("Camera Address"), std::string::npos);
  yard->TavoID = 1;
  yard->SysID = 6;
  EXPECT_EQ(comm_->CheckCameraUnique(yard), 1);
}

TEST_F(CameraLineTest, OpenSequenceOnTheFirstMonitorKeepsTheLineToItself) {
  // A camera without a monitor is opened (put on monitor 1 first) over and
  // over while the camera at address 5 pans and stops on the same line.
  auto other = std::make_unique<CVRTCamera>(comm_.get());
  other->Name = "Yard";
  other->SysID = 12;
  other->NodeAddress = 128;
  other->DefaultLensSlow = 1;
  CVRTCamera* yard = other.get();
  ASSERT_EQ(comm_->AddCamera(std::move(other)), 1);
  OpenCamera();
  ASSERT_EQ(comm_->Left(camera_, 5), 1);  // its one function 23
  ASSERT_EQ(comm_->Left(camera_, 0), 1);
  sim_.ClearLines();
  std::atomic<bool> stop{false};
  std::atomic<int> stops{0};
  std::thread mover([&] {
    while (!stop) {
      comm_->Left(camera_, 5);
      comm_->Left(camera_, 0);
      ++stops;
    }
  });
  // Both sides get their turns many times over; the time cap only keeps a
  // broken lock from hanging the test.
  int opens = 0;
  for (const auto end = Clock::now() + std::chrono::seconds(20);
       (opens < 20 || stops < 20) && Clock::now() < end; ++opens) {
    yard->ControlMonitor = -1;
    yard->Initialize();
  }
  stop = true;
  mover.join();
  EXPECT_EQ(yard->ControlMonitor, 1);
  // Each line reaches the dome the last "@3" selected.
  int selected = 5;
  std::vector<std::string> wrong;
  for (const domesim::ReceivedLine& r : sim_.Records()) {
    if (r.line.rfind("@3,", 0) == 0) {
      selected = std::stoi(r.line.substr(3));
    } else if ((r.line == "@5,22" || r.line == "@5,23") && selected != 12) {
      wrong.push_back(r.line + " reached " + std::to_string(selected));
    } else if ((r.line == "@5,3" || r.line == "@6,3" || r.line == "@7,54,1") && selected != 5) {
      wrong.push_back(r.line + " reached " + std::to_string(selected));
    }
  }
  EXPECT_GE(opens, 20);
  size_t moves = 0;
  for (const domesim::ReceivedLine& r : sim_.Records()) moves += r.line == "@6,3";
  EXPECT_GE(moves, 20u);
  EXPECT_EQ(wrong, std::vector<std::string>());
}

}  // namespace
