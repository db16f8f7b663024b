// Opening and closing cameras: handles, the lines a dome receives when it is
// opened, and COM ports that are missing or held by someone else.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "host_fixture.h"

namespace q7host {
namespace {

using OpenCloseTest = HostTest;
using Lines = std::vector<std::string>;

ConnectionConfig OneLine(std::vector<CameraConfig> cameras, int com = 1) {
  ConnectionConfig line;
  line.comPort = com;
  line.cameras = std::move(cameras);
  return line;
}

TEST_F(OpenCloseTest, OpenHandsOutAHandleAndInitialisesTheDome) {
  WriteSettings({OneLine({Camera("Gate", 0, 5)})});
  Simulator(1);
  ASSERT_EQ(Init(), 1);
  const int handle = Open(0);
  EXPECT_EQ(handle & ~0x7FFF, 0x10000000);
  // Monitor and camera selection, the follow-up function, then the lens
  // slow state, for which the line selects the camera once more.
  EXPECT_EQ(Wire(), (Lines{"@2,1", "@3,5", "@5,23", "@2,1", "@3,5", "@6,22"}));
  const domesim::DomeState dome = Simulator(1).State(128, 5);
  EXPECT_TRUE(dome.selected);
  EXPECT_EQ(dome.monitor, 1);
  EXPECT_TRUE(dome.follow_up);
  EXPECT_TRUE(HasLogLine("COMM.Open: Connection 'Line 1' opened with settings 96,E,8,1"));
  EXPECT_TRUE(HasLogLine(Format("DRV.OpenCamera: TAVO Camera 1 opened with handle %08X.",
                                static_cast<unsigned>(handle))));
}

TEST_F(OpenCloseTest, OpenSequenceOnANodeAndWithoutMonitorOrLensSlow) {
  CameraConfig noded = Camera("Gate", 0, 5, 7);
  CameraConfig plain = Camera("Yard", 1, 9);
  plain.controlMonitor = -1;
  plain.extraKeys = {{"DefaultLensSlow", "1"}};
  WriteSettings({OneLine({noded, plain})});
  Simulator(1);
  ASSERT_EQ(Init(), 1);
  Open(0);
  EXPECT_EQ(Wire(), (Lines{"$7,2,1", "$7,3,5", "$7,5,23", "$7,2,1", "$7,3,5", "$7,6,22"}));
  // A camera without a monitor is put on monitor 1 first.
  Open(1);
  EXPECT_EQ(Wire(), (Lines{"@2,1", "@3,9", "@2,1", "@3,9", "@5,23", "@5,22"}));
  EXPECT_TRUE(Simulator(1).State(128, 9).lens_slow);
  EXPECT_FALSE(Simulator(1).State(7, 5).lens_slow);
}

TEST_F(OpenCloseTest, OpenTwiceIsBusyAndKeepsTheFirstHandle) {
  const int handle = StartCamera();
  int second = 0;
  EXPECT_EQ(api().VRT_CamOpen(0, &second), -20);
  EXPECT_EQ(second, -1);
  EXPECT_TRUE(HasLogLine("CAM.Open: TAVO Camera 1 busy."));
  EXPECT_EQ(Wire(), Lines());
  EXPECT_EQ(api().VRT_CamLeft(handle, 5), 1);
  EXPECT_EQ(Wire(), (Lines{"@5,3", "@7,54,1", "@5,23"}));
}

TEST_F(OpenCloseTest, CloseTwiceAndReopen) {
  const int handle = StartCamera();
  EXPECT_EQ(api().VRT_CamClose(handle), 1);
  EXPECT_TRUE(HasLogLine("DRV.CloseCamera: Camera handle " + HexHandle(handle) + " closed."));
  EXPECT_TRUE(HasLogLine("COMM.Close: Connection 'Line 1' closed"));
  EXPECT_EQ(api().VRT_CamClose(handle), -13);
  EXPECT_TRUE(HasLogLine("DRV.CloseCamera: Camera handle " + HexHandle(handle) +
                         " not found (error -13)."));
  EXPECT_EQ(api().VRT_CamLeft(handle, 5), -13);
  // The camera can be opened again; the line still has it selected.
  const int again = Open(0);
  EXPECT_NE(again, 0);
  EXPECT_EQ(Wire(), (Lines{"@2,1", "@3,5", "@5,23", "@6,22"}));
  EXPECT_EQ(CountLogLines("COMM.Open: Connection 'Line 1' opened with settings 96,E,8,1"), 2);
}

TEST_F(OpenCloseTest, UnknownCameraNumber) {
  StartCamera();
  int handle = 0;
  EXPECT_EQ(api().VRT_CamOpen(7, &handle), -13);
  EXPECT_EQ(handle, -1);
  EXPECT_TRUE(HasLogLine("DRV.OpenCamera: TAVO Camera 8 not found (error -13)."));
}

TEST_F(OpenCloseTest, MissingPortAndTheNextAttempt) {
  if (FileExists("/dev/ttyS39")) GTEST_SKIP() << "/dev/ttyS39 exists on this machine";
  WriteSettings({OneLine({Camera("Gate", 0, 5)}, 40)});
  ASSERT_EQ(Init(), 1);
  int handle = 0;
  EXPECT_EQ(api().VRT_CamOpen(0, &handle), -8);
  EXPECT_EQ(handle, -1);
  EXPECT_TRUE(HasLogLine("COMM.Open FAILED: Com port 40 not found "));
  EXPECT_TRUE(LogContains("Serial.Open: Failed to open COM40: 2"));
  // The camera is not left half open: once the port is there it opens.
  Simulator(40);
  handle = Open(0);
  EXPECT_NE(handle, 0);
  EXPECT_EQ(Wire(40).size(), 6u);
}

TEST_F(OpenCloseTest, PortLockedByAnotherProgramIsBusy) {
  WriteSettings({OneLine({Camera("Gate", 0, 5)})});
  Simulator(1);
  ASSERT_EQ(Init(), 1);
  const std::string port = Dir() + "/ports/COM1";
  const int fd = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fd, 0) << port;
  ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
  int handle = 0;
  EXPECT_EQ(api().VRT_CamOpen(0, &handle), -8);
  EXPECT_TRUE(HasLogLine("COMM.Open FAILED: Com port 1 is busy"));
  EXPECT_TRUE(LogContains("Serial.Open: Failed to open COM1: 5"));
  EXPECT_EQ(Wire(), Lines());
  ::close(fd);
  EXPECT_NE(Open(0), 0);
}

TEST_F(OpenCloseTest, PortHeldExclusivelyByAnotherProgramIsBusyAndKeepsItsHold) {
  WriteSettings({OneLine({Camera("Gate", 0, 5)})});
  Simulator(1);
  ASSERT_EQ(Init(), 1);
  const std::string port = Dir() + "/ports/COM1";
  const int fd = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fd, 0) << port;
  ASSERT_EQ(ioctl(fd, TIOCEXCL), 0);  // held for itself, no lock beside it
  auto held = [fd] {
    int flag = -1;
    EXPECT_EQ(ioctl(fd, TIOCGEXCL, &flag), 0);
    return flag;
  };
  int handle = 0;
  EXPECT_EQ(api().VRT_CamOpen(0, &handle), -8);
  EXPECT_EQ(handle, -1);
  EXPECT_TRUE(HasLogLine("COMM.Open FAILED: Com port 1 is busy"));
  EXPECT_TRUE(LogContains("Serial.Open: Failed to open COM1: 5"));
  EXPECT_EQ(Wire(), Lines());
  EXPECT_EQ(held(), 1);
  // Once the other program lets go, the camera opens; its close leaves no
  // hold behind.
  ASSERT_EQ(ioctl(fd, TIOCNXCL), 0);
  handle = Open(0);
  ASSERT_NE(handle, 0);
  EXPECT_EQ(held(), 1);
  EXPECT_EQ(api().VRT_CamClose(handle), 1);
  EXPECT_EQ(held(), 0);
  ::close(fd);
}

TEST_F(OpenCloseTest, SecondDriverInstanceFindsThePortBusy) {
  const int handle = StartCamera();
  // Another host process with its own copy of the driver, whose COM1 is the
  // same line.
  const std::string otherDir = Dir() + "/other";
  std::filesystem::create_directories(otherDir + "/ports");
  std::filesystem::copy_file(LibraryPath(), otherDir + "/QUARO7K7_PTZ.so");
  ConnectionConfig line = OneLine({Camera("Gate", 0, 5)});
  WriteFile(otherDir + "/QUARO7K7_PTZ.xml", SettingsXml({line}));
  std::filesystem::create_symlink(Simulator(1).SlavePath(), otherDir + "/ports/COM1");
  LoadedLibrary other(otherDir + "/QUARO7K7_PTZ.so");
  ASSERT_TRUE(other.ok()) << other.error();
  ASSERT_EQ(other.api().VRT_CamInitModule(1, nullptr, otherDir.c_str()), 1);
  int otherHandle = 0;
  EXPECT_EQ(other.api().VRT_CamOpen(0, &otherHandle), -8);
  const std::vector<std::string> otherLog = SplitLogLines(ReadFile(otherDir + "/QUARO7K7_PTZ.log"));
  EXPECT_NE(std::find(otherLog.begin(), otherLog.end(), "COMM.Open FAILED: Com port 1 is busy"),
            otherLog.end());
  // The first driver is not disturbed, and its log holds none of this.
  EXPECT_TRUE(LacksLogLine("COMM.Open FAILED: Com port 1 is busy"));
  EXPECT_EQ(api().VRT_CamRight(handle, 12), 1);
  EXPECT_EQ(Wire(), (Lines{"@5,2", "@7,70,1", "@5,23"}));
  // Once the first driver lets go, the second one gets the line.
  EXPECT_EQ(api().VRT_CamClose(handle), 1);
  EXPECT_EQ(other.api().VRT_CamOpen(0, &otherHandle), 1);
  EXPECT_EQ(other.api().VRT_CamExitModule(), 1);
}

TEST_F(OpenCloseTest, TwoCamerasShareOnePortOpening) {
  WriteSettings({OneLine({Camera("Gate", 0, 5), Camera("Yard", 1, 6)})});
  Simulator(1);
  ASSERT_EQ(Init(), 1);
  const int gate = Open(0);
  const int yard = Open(1);
  EXPECT_NE(gate, yard);
  EXPECT_EQ(CountLogLines("COMM.Open: Connection 'Line 1' opened with settings 96,E,8,1"), 1);
  EXPECT_EQ(api().VRT_CamClose(gate), 1);
  EXPECT_TRUE(LacksLogLine("COMM.Close: Connection 'Line 1' closed"));
  // The line stays open for the other camera.
  Wire();
  EXPECT_EQ(api().VRT_CamLeft(yard, 12), 1);
  EXPECT_EQ(Wire(), (Lines{"@5,3", "@7,70,1", "@5,23"}));
  EXPECT_EQ(api().VRT_CamClose(yard), 1);
  EXPECT_EQ(CountLogLines("COMM.Close: Connection 'Line 1' closed"), 1);
}

TEST_F(OpenCloseTest, OpensOfDifferentCamerasGetDifferentHandles) {
  std::vector<CameraConfig> cameras;
  for (int i = 0; i < 6; ++i)
    cameras.push_back(Camera(("Cam" + std::to_string(i)).c_str(), i, 10 + i));
  WriteSettings({OneLine(cameras)});
  Simulator(1);
  ASSERT_EQ(Init(), 1);
  std::vector<int> handles;
  for (int i = 0; i < 6; ++i) handles.push_back(Open(i));
  std::sort(handles.begin(), handles.end());
  EXPECT_EQ(std::unique(handles.begin(), handles.end()), handles.end());
  for (int h : handles) {
    EXPECT_EQ(h & ~0x7FFF, 0x10000000);
    EXPECT_EQ(api().VRT_CamClose(h), 1);
  }
}

}  // namespace
}  // namespace q7host
