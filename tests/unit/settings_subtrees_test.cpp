// The driver's settings document: how connections, cameras, presets and
// relays load and save, and how deletions renumber what is left.
#include <gtest/gtest.h>
#include <sys/inotify.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "camera/camera.h"
#include "camera/camera_keys.h"
#include "camera/camera_settings_value.h"
#include "comm/comm.h"
#include "driver/driver.h"
#include "driver/settings_values.h"
#include "settings_test_util.h"

namespace {

using settings_test::ReadFile;
using settings_test::ScratchDir;
using settings_test::WriteFile;

const char kFile[] = "QUARO7K7_PTZ.xml";

std::string Element(const std::string& name, const std::string& inner) {
  return "<" + name + ">" + inner + "</" + name + ">";
}
std::string Value(const std::string& key, const std::string& value) {
  return "<" + key + " value=\"" + value + "\"/>";
}
// A camera's keys; extra keys come after them (a key the camera already has
// is not written twice).
std::string Camera(int tavo, int sys, const std::string& extra = "") {
  using namespace camera_keys;
  std::string keys = Value(kName + 1, "Cam" + std::to_string(tavo)) +
                     Value(ElementName(TavoID), std::to_string(tavo)) +
                     Value(ElementName(SysID), std::to_string(sys));
  // No node, and the relays of a camera that has not been loaded.
  for (const auto& [key, value] :
       {std::pair{NodeAddress, kNoNode}, std::pair{NofRelays, Of(NofRelays).initial}}) {
    if (extra.find("<" + std::string(ElementName(key)) + " ") == std::string::npos)
      keys += Value(ElementName(key), std::to_string(value));
  }
  return keys +
         Value(ElementName(NofStorageLocations), std::to_string(Of(NofStorageLocations).initial)) +
         extra;
}
std::string Document(const std::string& inner) {
  return "<?xml version='1.0' encoding='iso-8859-1'?>\n" + Element("settings", inner) + "\n";
}

// Counts the times a file in a directory is replaced: the store writes a new
// file beside the settings file and renames it over it.
class FileReplacements {
 public:
  FileReplacements(const std::string& dir, const std::string& name) : name_(name) {
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    // The temporary file's move away stands between two moves onto the
    // file, so that the system does not merge them into one event.
    if (fd_ >= 0) inotify_add_watch(fd_, dir.c_str(), IN_MOVED_FROM | IN_MOVED_TO);
  }
  ~FileReplacements() {
    if (fd_ >= 0) close(fd_);
  }
  FileReplacements(const FileReplacements&) = delete;
  FileReplacements& operator=(const FileReplacements&) = delete;

  bool Watching() const { return fd_ >= 0; }
  // Replacements since the last call.
  int Take() {
    int count = 0;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      const ssize_t got = read(fd_, buffer, sizeof buffer);
      if (got <= 0) break;
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if ((event->mask & IN_MOVED_TO) != 0 && event->len > 0 && name_ == event->name) ++count;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    return count;
  }

 private:
  std::string name_;
  int fd_ = -1;
};

// A host call on another thread that holds a camera until it is let go.
class HostCallHolding {
 public:
  explicit HostCallHolding(int number) {
    std::promise<bool> held;
    std::future<bool> taken = held.get_future();
    thread_ = std::thread([this, number, &held] {
      HeldCamera camera = Driver().FindCameraByNumber(number);
      held.set_value(static_cast<bool>(camera));
      release_.get_future().wait();
    });
    holding_ = taken.get();
  }
  ~HostCallHolding() { Release(); }
  HostCallHolding(const HostCallHolding&) = delete;
  HostCallHolding& operator=(const HostCallHolding&) = delete;

  bool Holding() const { return holding_; }
  void Release() {
    if (!thread_.joinable()) return;
    release_.set_value();
    thread_.join();
  }

 private:
  std::promise<void> release_;
  std::thread thread_;
  bool holding_ = false;
};

// The process's driver object on a settings file in a scratch directory.
class DriverSettingsTest : public ::testing::Test {
 protected:
  void TearDown() override { Reset(); }

  void Open(const std::string& text) {
    Reset();
    WriteFile(dir_.File(kFile), text);
    CVRTDriver& driver = Driver();
    driver.Settings.Folder = dir_.Path;
    ASSERT_EQ(driver.Settings.OpenDocument(kFile, 1, 0), 0);
  }
  static void Reset() {
    Driver().DestroyConnections();
    while (Driver().Settings.CloseDocument() > 0) {
    }
  }
  static std::vector<CVRTComm*> Connections() {
    std::vector<CVRTComm*> list;
    Driver().GetConnections(&list);
    return list;
  }
  static std::vector<CVRTCamera*> Cameras(CVRTComm* comm) {
    std::vector<CVRTCamera*> list;
    comm->GetCameras(&list);
    return list;
  }
  std::string FileText() const { return ReadFile(dir_.File(kFile)); }
  static bool Has(const std::string& path) { return KeyExists("settings/" + path); }

  ScratchDir dir_;
};

TEST_F(DriverSettingsTest, ConnectionsLoadInKeyOrderAndDeletionRenumbersThem) {
  Open(Document(Element("comm5", Value("Name", "Five") + Value("ComPort", "5")) +
                Element("comm2", Value("Name", "Two")) + Element("comm13", Value("Name", "13"))));
  ASSERT_EQ(Driver().LoadConnections(), 1);
  std::vector<CVRTComm*> comms = Connections();
  ASSERT_EQ(comms.size(), 3u);  // every key the driver can write is read back
  EXPECT_EQ(comms[0]->GetName(), "Two");
  EXPECT_EQ(comms[1]->GetName(), "Five");
  EXPECT_EQ(comms[2]->GetKey(), "comm13");
  EXPECT_EQ(comms[0]->GetComPort(), 1);
  EXPECT_EQ(comms[0]->GetPortMode(), "96,E,8,1");

  ASSERT_EQ(Driver().DeleteConnection(comms[0]), 1);
  EXPECT_FALSE(Has("comm3"));
  EXPECT_FALSE(Has("comm5"));
  EXPECT_FALSE(Has("comm13"));
  EXPECT_EQ(ReadTextKey("settings/comm1/Name"), "Five");
  EXPECT_EQ(ReadTextKey("settings/comm1/ComPort"), "5");
  EXPECT_EQ(ReadTextKey("settings/comm2/Name"), "13");
  std::string name;
  ASSERT_EQ(Driver().GetFreeConnectionName(&name), 1);
  EXPECT_EQ(name, "comm3");
}

TEST_F(DriverSettingsTest, ComPortAndPortModeDefaults) {
  const std::pair<const char*, int> ports[] = {{"47", 47}, {"48", 1},  {"0", 1},
                                               {"abc", 1}, {"-3", -3}, {"", 1}};
  std::string inner;
  for (size_t i = 0; i < std::size(ports); ++i)
    inner +=
        Element("comm" + std::to_string(i + 1),
                Value("ComPort", ports[i].first) + Value("PortMode", i == 0 ? "19,N,8,1" : ""));
  Open(Document(inner));
  ASSERT_EQ(Driver().LoadConnections(), 1);
  std::vector<CVRTComm*> comms = Connections();
  ASSERT_EQ(comms.size(), std::size(ports));
  for (size_t i = 0; i < comms.size(); ++i) EXPECT_EQ(comms[i]->GetComPort(), ports[i].second);
  EXPECT_EQ(comms[0]->GetPortMode(), "19,N,8,1");
  EXPECT_EQ(comms[1]->GetPortMode(), "96,E,8,1");
  comms[1]->SetPortMode("");
  ASSERT_EQ(comms[1]->Save(), 1);
  EXPECT_EQ(ReadTextKey("settings/comm2/PortMode"), "96,E,8,1");

  CVRTComm unnamed;
  EXPECT_EQ(unnamed.Save(), -3);  // no key: nothing written
}

TEST_F(DriverSettingsTest, CameraKeysAndTheirLoadRules) {
  Open(Document(Element(
      "comm1",
      Element("cam1", "") +
          Element("cam2", Camera(1, 7,
                                 Value("NodeAddress", "-1") + Value("Aux2Func", "7") +
                                     Value("Aux3Func", "3") + Value("WaitForResponse", "-4") +
                                     Value("NofRelays", "-1") + Value("AutoFocus", "-1"))))));
  ASSERT_EQ(Driver().LoadConnections(), 1);
  std::vector<CVRTCamera*> cams = Cameras(Connections()[0]);
  ASSERT_EQ(cams.size(), 2u);
  // A camera node without keys: every number reads as 0, no relay is made.
  EXPECT_EQ(cams[0]->NodeAddress, 0);
  EXPECT_EQ(cams[0]->WaitForResponse, 0);
  EXPECT_EQ(cams[0]->NofStorageLocations, 0);
  EXPECT_EQ(cams[0]->NofRelays, 0);
  EXPECT_EQ(cams[0]->RelayCount(), 0);
  EXPECT_EQ(cams[1]->NodeAddress, 128);
  EXPECT_EQ(cams[1]->Aux2Func, 0);
  EXPECT_EQ(cams[1]->Aux3Func, 3);
  EXPECT_EQ(cams[1]->WaitForResponse, 1);
  EXPECT_EQ(cams[1]->NofRelays, 3);
  EXPECT_EQ(cams[1]->AutoFocus, 1);
  // No relay nodes: the default relays were made and written at once.
  EXPECT_EQ(cams[1]->RelayCount(), 3);
  EXPECT_EQ(ReadTextKey("settings/comm1/cam2/relays/Relay3/Name"), "Relay3");
  ASSERT_EQ(cams[1]->Save(), 1);
  EXPECT_EQ(ReadTextKey("settings/comm1/cam2/NodeAddress"), "128");
}

// Other programs read the file: a camera saved into an empty node writes
// its keys in this order.
TEST_F(DriverSettingsTest, CameraKeysAreSavedInTheirOrder) {
  Open(Document(Element("comm1", Element("cam1", ""))));
  ASSERT_EQ(Driver().LoadConnections(), 1);
  ASSERT_EQ(Driver().Save(), 1);
  const std::string text = FileText();
  const size_t begin = text.find("<cam1>");
  // The keys end where the presets or relays begin (an empty node has
  // none of either).
  const size_t end = std::min(
      {text.find("<positions", begin), text.find("<relays", begin), text.find("</cam1>", begin)});
  ASSERT_NE(begin, std::string::npos);
  ASSERT_NE(end, std::string::npos);
  std::vector<std::string> keys;
  for (size_t at = text.find('<', begin + 1); at < end; at = text.find('<', at + 1))
    if (text[at + 1] != '/')
      keys.push_back(text.substr(at + 1, text.find_first_of(" />", at) - at - 1));
  const std::vector<std::string> expected = {"Name",
                                             "TavoID",
                                             "SysID",
                                             "CamAccFactor",
                                             "CamAccDefaultState",
                                             "CamAccDefault",
                                             "NodeAddress",
                                             "WaitForResponse",
                                             "WashPulseTime",
                                             "NofStorageLocations",
                                             "DefaultPreposSpeed",
                                             "DefaultLensSlow",
                                             "ControlMonitor",
                                             "NofRelays",
                                             "AutoFocus",
                                             "AutoIris",
                                             "Aux1Func",
                                             "Aux2Func",
                                             "Aux3Func"};
  EXPECT_EQ(keys, expected);
}

TEST_F(DriverSettingsTest, PresetsLoadFromEveryNodeAndSaveWithoutLeftOvers) {
  auto preset = [](int n, int memId) {
    return Element("PrePos" + std::to_string(n), Value("Name", "P" + std::to_string(n)) +
                                                     Value("ID", "0") +
                                                     Value("MemId", std::to_string(memId)));
  };
  Open(Document(Element(
      "comm1",
      Element("cam1",
              Camera(0, 1, Element("positions", preset(1, 5) + preset(3, 5) + preset(70, 9)))))));
  ASSERT_EQ(Driver().LoadConnections(), 1);
  CVRTCamera* cam = Cameras(Connections()[0])[0];
  ASSERT_EQ(cam->PresetCount(), 3);
  EXPECT_EQ(cam->GetPrePositionAt(2)->Name, "P70");
  EXPECT_EQ(cam->StorageLocations[4].useCount, 2);  // two presets at location 5
  EXPECT_EQ(cam->StorageLocations[8].location, 9);

  ASSERT_EQ(cam->DeletePrePositionName("P1"), 1);
  EXPECT_EQ(cam->StorageLocations[4].useCount, 1);
  ASSERT_EQ(cam->Save(), 1);
  // Written as PrePos1 and PrePos2; nothing left above them.
  EXPECT_EQ(ReadTextKey("settings/comm1/cam1/positions/PrePos1/Name"), "P3");
  EXPECT_EQ(ReadTextKey("settings/comm1/cam1/positions/PrePos2/Name"), "P70");
  EXPECT_FALSE(Has("comm1/cam1/positions/PrePos3"));
  EXPECT_FALSE(Has("comm1/cam1/positions/PrePos70"));
}

TEST_F(DriverSettingsTest, RenamedRelaysAreFoundAgainAfterASave) {
  Open(Document(Element("comm1", Element("cam1", Camera(0, 1)))));
  ASSERT_EQ(Driver().LoadConnections(), 1);
  CVRTCamera* cam = Cameras(Connections()[0])[0];
  const std::string odd = "Wash/er [1] %s \"<&>\" caf\xe9";
  ASSERT_EQ(cam->SetRelayName(1, odd), 1);
  ASSERT_EQ(cam->Save(), 1);
  EXPECT_EQ(ReadTextKey("settings/comm1/cam1/relays/Relay2/Name"), odd);
  EXPECT_NE(FileText().find("caf\xe9"), std::string::npos);  // Latin-1 on disk

  const std::string text = FileText();
  Open(text);
  ASSERT_EQ(Driver().LoadConnections(), 1);
  cam = Cameras(Connections()[0])[0];
  ASSERT_EQ(cam->RelayCount(), 3);
  EXPECT_EQ(cam->GetRelayAt(1)->Name, odd);
}

// A camera has exactly NofRelays relays, Relay1 .. Relay<NofRelays>, in
// memory and in the file: new ones under their default names, the others
// keep theirs.
TEST_F(DriverSettingsTest, RelayCountChangesKeepTheNamesOfTheRelaysThatStay) {
  Open(Document(Element("comm1", Element("cam1", Camera(0, 1)))));
  ASSERT_EQ(Driver().LoadConnections(), 1);
  CVRTCamera* cam = Cameras(Connections()[0])[0];
  cam->SetRelayName(0, "Lamp");
  ASSERT_EQ(cam->SetNofRelays(5), 1);
  ASSERT_EQ(cam->RelayCount(), 5);
  EXPECT_EQ(cam->GetRelayAt(0)->Name, "Lamp");
  EXPECT_EQ(cam->GetRelayAt(4)->Name, "Relay5");
  EXPECT_EQ(ReadTextKey("settings/comm1/cam1/relays/Relay5/Name"), "Relay5");
  ASSERT_EQ(cam->SetNofRelays(2), 1);
  ASSERT_EQ(cam->RelayCount(), 2);
  EXPECT_EQ(cam->GetRelayAt(0)->Name, "Lamp");
  EXPECT_EQ(ReadTextKey("settings/comm1/cam1/relays/Relay1/Name"), "Lamp");
  EXPECT_FALSE(Has("comm1/cam1/relays/Relay3"));
  EXPECT_FALSE(Has("comm1/cam1/relays/Relay5"));
  EXPECT_EQ(ReadTextKey("settings/comm1/cam1/NofRelays"), "2");
  ASSERT_EQ(cam->SetNofRelays(0), 1);
  EXPECT_EQ(cam->RelayCount(), 0);
  EXPECT_FALSE(Has("comm1/cam1/relays/Relay1"));

  // A camera that never had relays (made, not loaded) gets all of them.
  CVRTCamera fresh(Connections()[0]);
  fresh.KeyPath = "comm1/cam9";
  ASSERT_EQ(fresh.SetNofRelays(5), 1);
  ASSERT_EQ(fresh.RelayCount(), 5);
  for (int i = 0; i < 5; ++i) {
    const std::string name = "Relay" + std::to_string(i + 1);
    EXPECT_EQ(fresh.GetRelayAt(i)->Name, name);
    EXPECT_EQ(ReadTextKey("settings/comm1/cam9/relays/" + name + "/Name"), name);
  }
}

TEST_F(DriverSettingsTest, ALoadedCameraHasExactlyNofRelaysRelaysByTheirNodeNumbers) {
  auto relay = [](int n, const std::string& name) {
    return Element("Relay" + std::to_string(n), Value("Name", name));
  };
  Open(Document(Element(
      "comm1",
      // More relays than their nodes, with a gap: relay 2 stays relay 2.
      Element("cam1", Camera(0, 1,
                             Value("NofRelays", "5") +
                                 Element("relays", relay(1, "Gate") + relay(3, "Wiper")))) +
          // Nodes above the count: not relays of the camera.
          Element("cam2", Camera(1, 2,
                                 Value("NofRelays", "2") +
                                     Element("relays", relay(1, "A") + relay(2, "B") +
                                                           relay(3, "C") + relay(9, "I")))) +
          // Nodes only above the count: the count's default relays.
          Element("cam3",
                  Camera(2, 3, Value("NofRelays", "1") + Element("relays", relay(2, "Two")))))));
  ASSERT_EQ(Driver().Load(), 1);
  std::vector<CVRTCamera*> cams = Cameras(Connections()[0]);
  ASSERT_EQ(cams.size(), 3u);
  const std::vector<std::vector<std::string>> expected = {
      {"Gate", "Relay2", "Wiper", "Relay4", "Relay5"}, {"A", "B"}, {"Relay1"}};
  for (size_t c = 0; c < cams.size(); ++c) {
    std::vector<std::string> names;
    for (int i = 0; i < cams[c]->RelayCount(); ++i) names.push_back(cams[c]->GetRelayAt(i)->Name);
    EXPECT_EQ(names, expected[c]) << c;
    EXPECT_EQ(cams[c]->RelayCount(), cams[c]->NofRelays) << c;
  }
  // The relays the load made are in the file at once.
  EXPECT_EQ(ReadTextKey("settings/comm1/cam1/relays/Relay5/Name"), "Relay5");
  EXPECT_EQ(ReadTextKey("settings/comm1/cam3/relays/Relay1/Name"), "Relay1");
  for (CVRTCamera* cam : cams) ASSERT_EQ(cam->Save(), 1);
  EXPECT_EQ(ReadTextKey("settings/comm1/cam1/relays/Relay2/Name"), "Relay2");
  // Nodes above the count stay as they were, also when their camera moves
  // to another node.
  EXPECT_EQ(ReadTextKey("settings/comm1/cam2/relays/Relay3/Name"), "C");
  EXPECT_EQ(ReadTextKey("settings/comm1/cam2/relays/Relay9/Name"), "I");
  EXPECT_EQ(ReadTextKey("settings/comm1/cam3/relays/Relay2/Name"), "Two");
  ASSERT_EQ(Driver().DeleteCamera(cams[0]), 1);
  EXPECT_EQ(ReadTextKey("settings/comm1/cam1/relays/Relay9/Name"), "I");
  EXPECT_EQ(ReadTextKey("settings/comm1/cam1/relays/Relay1/Name"), "A");

  // Reloaded, every camera has the relays it had.
  const std::string text = FileText();
  Open(text);
  ASSERT_EQ(Driver().Load(), 1);
  cams = Cameras(Connections()[0]);
  ASSERT_EQ(cams.size(), 2u);
  EXPECT_EQ(cams[0]->RelayCount(), 2);
  EXPECT_EQ(cams[1]->RelayCount(), 1);
  // A count raised over a kept node gives that relay its default name.
  ASSERT_EQ(cams[0]->SetNofRelays(3), 1);
  EXPECT_EQ(cams[0]->GetRelayAt(2)->Name, "Relay3");
  EXPECT_EQ(ReadTextKey("settings/comm1/cam1/relays/Relay3/Name"), "Relay3");
  EXPECT_EQ(ReadTextKey("settings/comm1/cam1/relays/Relay9/Name"), "I");
}

TEST_F(DriverSettingsTest, DeletingACameraRenumbersTheOthers) {
  Open(Document(Element("comm1", Element("cam1", Camera(0, 1)) + Element("cam2", Camera(1, 2)) +
                                     Element("cam3", Camera(2, 3)))));
  ASSERT_EQ(Driver().Load(), 1);
  CVRTComm* comm = Connections()[0];
  std::vector<CVRTCamera*> cams = Cameras(comm);
  ASSERT_EQ(cams.size(), 3u);
  ASSERT_EQ(Driver().DeleteCamera(cams[1]), 1);
  EXPECT_EQ(ReadTextKey("settings/comm1/cam1/TavoID"), "0");
  EXPECT_EQ(ReadTextKey("settings/comm1/cam2/TavoID"), "2");  // the former cam3
  EXPECT_FALSE(Has("comm1/cam3"));
  EXPECT_FALSE(Driver().FindCameraByNumber(1));
  EXPECT_TRUE(Driver().FindCameraByNumber(2));
  EXPECT_EQ(Driver().DeleteCamera(nullptr), 0);
  std::string key;
  ASSERT_EQ(comm->MakeCameraKey(1, &key), 1);
  EXPECT_EQ(key, "comm1/cam3");
}

TEST_F(DriverSettingsTest, CameraTableRefusesDuplicateNumbers) {
  Open(Document(Element("comm1", Element("cam1", Camera(4, 1))) +
                Element("comm2", Element("cam1", Camera(4, 1)))));
  EXPECT_EQ(Driver().Load(), -21);
  EXPECT_EQ(Driver().RenumberCamera(99, 100), -18);
  EXPECT_EQ(Driver().CameraCount(), 1);
}

TEST_F(DriverSettingsTest, RelayCountIsBoundedWhenLoaded) {
  // No relay nodes: the loader makes NofRelays default relays, at most 8.
  const std::pair<const char*, int> counts[] = {
      {"2147483647", 8}, {"65536", 8}, {"16000", 8}, {"9", 8},          {"8", 8},
      {"2", 2},          {"-1", 3},    {"-7", 0},    {"-2147483648", 0}};
  std::string inner;
  for (size_t i = 0; i < std::size(counts); ++i)
    inner += Element("cam" + std::to_string(i + 1),
                     Camera(static_cast<int>(i), 1, Value("NofRelays", counts[i].first)));
  Open(Document(Element("comm1", inner)));
  ASSERT_EQ(Driver().Load(), 1);
  std::vector<CVRTCamera*> cams = Cameras(Connections()[0]);
  ASSERT_EQ(cams.size(), std::size(counts));
  for (size_t i = 0; i < cams.size(); ++i) {
    EXPECT_EQ(cams[i]->NofRelays, counts[i].second) << counts[i].first;
    EXPECT_EQ(cams[i]->RelayCount(), counts[i].second) << counts[i].first;
  }
  EXPECT_EQ(ReadTextKey("settings/comm1/cam1/relays/Relay8/Name"), "Relay8");
  EXPECT_FALSE(Has("comm1/cam1/relays/Relay9"));
  ASSERT_EQ(cams[0]->Save(), 1);
  EXPECT_EQ(ReadTextKey("settings/comm1/cam1/NofRelays"), "8");
  // The setup dialog's count goes through the same bound.
  EXPECT_EQ(cams[4]->SetNofRelays(9), -3);
  EXPECT_EQ(cams[4]->SetNofRelays(INT_MAX), -3);
  EXPECT_EQ(cams[4]->RelayCount(), 8);
}

TEST_F(DriverSettingsTest, RelayNodesBeyondTheMostACameraHasKeepTheirNames) {
  // NofRelays is read as at most 8; the nodes above stay in the file.
  std::string relays;
  for (int n = 1; n <= 12; ++n)
    relays += Element("Relay" + std::to_string(n), Value("Name", "Out" + std::to_string(n)));
  Open(Document(Element(
      "comm1",
      Element("cam1", Camera(0, 1, Value("NofRelays", "12") + Element("relays", relays))))));
  ASSERT_EQ(Driver().Load(), 1);
  CVRTCamera* cam = Cameras(Connections()[0])[0];
  ASSERT_EQ(cam->RelayCount(), 8);
  EXPECT_EQ(cam->GetRelayAt(7)->Name, "Out8");
  ASSERT_EQ(cam->SetRelayName(7, "Last"), 1);
  EXPECT_EQ(cam->SetRelayName(8, "Beyond"), -27);
  ASSERT_EQ(cam->Save(), 1);
  EXPECT_EQ(ReadTextKey("settings/comm1/cam1/NofRelays"), "8");
  EXPECT_EQ(ReadTextKey("settings/comm1/cam1/relays/Relay8/Name"), "Last");
  for (int n = 9; n <= 12; ++n)
    EXPECT_EQ(ReadTextKey("settings/comm1/cam1/relays/Relay" + std::to_string(n) + "/Name"),
              "Out" + std::to_string(n));
}

TEST_F(DriverSettingsTest, ConnectionSaveLeavesExactlyItsCameras) {
  Open(Document(Element("comm1", Value("Name", "Line") + Element("cam2", Camera(0, 1)) +
                                     Element("cam5", Camera(1, 2)))));
  ASSERT_EQ(Driver().Load(), 1);
  CVRTComm* comm = Connections()[0];
  ASSERT_EQ(comm->Save(""), 1);
  EXPECT_EQ(ReadTextKey("settings/comm1/cam1/TavoID"), "0");
  EXPECT_EQ(ReadTextKey("settings/comm1/cam2/TavoID"), "1");
  EXPECT_FALSE(Has("comm1/cam5"));

  const std::string text = FileText();
  Open(text);
  EXPECT_EQ(Driver().Load(), 1);
  EXPECT_EQ(Driver().CameraCount(), 2);
}

TEST_F(DriverSettingsTest, EachDeletionIsOneChangeOfTheFile) {
  Open(Document(Element("comm1", Element("cam1", Camera(0, 1)) + Element("cam2", Camera(1, 2)) +
                                     Element("cam3", Camera(2, 3))) +
                Element("comm2", Value("Name", "Two") + Element("cam1", Camera(3, 4))) +
                Element("comm3", Value("Name", "Three") + Element("cam1", Camera(4, 5)))));
  ASSERT_EQ(Driver().Load(), 1);
  FileReplacements writes(dir_.Path, kFile);
  ASSERT_TRUE(writes.Watching());
  std::vector<CVRTComm*> comms = Connections();
  ASSERT_EQ(Driver().DeleteCamera(Cameras(comms[0])[0]), 1);
  EXPECT_EQ(writes.Take(), 1);
  EXPECT_EQ(ReadTextKey("settings/comm1/cam1/TavoID"), "1");
  EXPECT_EQ(ReadTextKey("settings/comm1/cam2/TavoID"), "2");
  EXPECT_FALSE(Has("comm1/cam3"));

  ASSERT_EQ(Driver().DeleteConnection(comms[0]), 1);
  EXPECT_EQ(writes.Take(), 1);
  EXPECT_EQ(ReadTextKey("settings/comm1/Name"), "Two");
  EXPECT_EQ(ReadTextKey("settings/comm1/cam1/TavoID"), "3");
  EXPECT_EQ(ReadTextKey("settings/comm2/Name"), "Three");
  EXPECT_EQ(ReadTextKey("settings/comm2/cam1/TavoID"), "4");
  EXPECT_FALSE(Has("comm3"));
  EXPECT_FALSE(Has("comm1/cam2"));
}

TEST_F(DriverSettingsTest, DeletionsWaitForCamerasHeldByOtherThreads) {
  using std::chrono::milliseconds;
  Open(Document(Element("comm1", Element("cam1", Camera(0, 1)) + Element("cam2", Camera(1, 2))) +
                Element("comm2", Value("Name", "Two") + Element("cam1", Camera(2, 3))) +
                Element("comm3", Value("Name", "Three") + Element("cam1", Camera(3, 4)))));
  ASSERT_EQ(Driver().Load(), 1);
  std::vector<CVRTComm*> comms = Connections();
  {
    // The remaining camera of the line is in a host call: its subtree is
    // written once the call is over.
    HostCallHolding call(1);
    ASSERT_TRUE(call.Holding());
    auto deleting =
        std::async(std::launch::async, [&] { return Driver().DeleteCamera(Cameras(comms[0])[0]); });
    EXPECT_EQ(deleting.wait_for(milliseconds(150)), std::future_status::timeout);
    call.Release();
    EXPECT_EQ(deleting.get(), 1);
    EXPECT_EQ(ReadTextKey("settings/comm1/cam1/TavoID"), "1");
  }
  {
    // A camera of another line is renumbered with its line.
    HostCallHolding call(3);
    ASSERT_TRUE(call.Holding());
    auto deleting =
        std::async(std::launch::async, [&] { return Driver().DeleteConnection(comms[1]); });
    EXPECT_EQ(deleting.wait_for(milliseconds(150)), std::future_status::timeout);
    call.Release();
    EXPECT_EQ(deleting.get(), 1);
    EXPECT_EQ(ReadTextKey("settings/comm2/cam1/TavoID"), "3");
  }
  {
    HostCallHolding call(1);
    ASSERT_TRUE(call.Holding());
    auto saving = std::async(std::launch::async, [&] { return comms[0]->Save(""); });
    EXPECT_EQ(saving.wait_for(milliseconds(150)), std::future_status::timeout);
    call.Release();
    EXPECT_EQ(saving.get(), 1);
  }
}

// Another process (an installer's tool) saves a camera and a line into the
// file while the driver runs: a new camera here gets neither its key, nor its
// number, nor its node and camera address on that line; a new line not its
// key.
TEST_F(DriverSettingsTest, NewCamerasTakeNothingAnotherProcessSaved) {
  Open(Document(Element("comm1", Value("Name", "Line 1") + Element("cam1", Camera(0, 1))) +
                Element("comm2", Value("Name", "Line 2") + Element("cam1", Camera(1, 1)))));
  ASSERT_EQ(Driver().Load(), 1);
  CXMLSettingsAPI installer;
  installer.Folder = dir_.Path;
  ASSERT_EQ(installer.OpenDocument(kFile, 1, 0), 0);
  installer.Batch([&] {
    installer.SetValue("Pier", "settings/comm1/cam2/Name");
    installer.SetValue("5", "settings/comm1/cam2/TavoID");
    installer.SetValue("7", "settings/comm1/cam2/SysID");
    installer.SetValue(std::to_string(camera_keys::kNoNode), "settings/comm1/cam2/NodeAddress");
    installer.SetValue("Line 3", "settings/comm3/Name");
  });
  CVRTComm* line = Connections()[0];
  std::string key;
  ASSERT_EQ(line->MakeCameraKey(1, &key), 1);
  EXPECT_EQ(key, "comm1/cam3");
  std::string name;
  ASSERT_EQ(Driver().GetFreeConnectionName(&name), 1);
  EXPECT_EQ(name, "comm4");

  CVRTCamera camera(line);
  camera.KeyPath = key;
  camera.Name = "Quay";
  camera.NodeAddress = camera_keys::kNoNode;
  camera.SysID = 8;
  camera.TavoID = 5;
  CameraSettings settings = CameraSettings::Of(camera);
  EXPECT_EQ(Driver().CheckCamera(settings, line, &camera).problem,
            CameraSettingsCheck::kNumberTaken);
  settings.TavoID = 6;
  camera.TavoID = 6;
  EXPECT_TRUE(Driver().CheckCamera(settings, line, &camera).Accepted());
  EXPECT_EQ(line->CheckCameraUnique(&camera), 1);
  camera.SysID = 7;
  EXPECT_EQ(line->CheckCameraUnique(&camera), 0);

  // A save that would bring such a camera in is refused as well (another
  // process may save between the checks and the save).
  const std::string before = FileText();
  camera.TavoID = 5;
  camera.SysID = 8;
  EXPECT_THROW(camera.Save(), SettingsError);
  camera.TavoID = 6;
  camera.SysID = 7;
  EXPECT_THROW(camera.Save(), SettingsError);
  EXPECT_EQ(FileText(), before);
  camera.NodeAddress = 3;
  EXPECT_EQ(camera.Save(), 1);
  EXPECT_EQ(ReadTextKey("settings/comm1/cam3/TavoID"), "6");
  EXPECT_EQ(ReadTextKey("settings/comm1/cam2/Name"), "Pier");
  EXPECT_EQ(ReadTextKey("settings/comm3/Name"), "Line 3");
}

}  // namespace
