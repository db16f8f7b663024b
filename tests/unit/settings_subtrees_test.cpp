// The driver's settings document: how connections, cameras, presets and
// relays load and save, and how deletions renumber what is left.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camera/camera.h"
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
std::string Camera(int tavo, int sys, const std::string& extra = "") {
  return Value("Name", "Cam" + std::to_string(tavo)) + Value("TavoID", std::to_string(tavo)) +
         Value("SysID", std::to_string(sys)) + Value("NodeAddress", "128") +
         Value("NofRelays", "3") + Value("NofStorageLocations", "99") + extra;
}
std::string Document(const std::string& inner) {
  return "<?xml version='1.0' encoding='iso-8859-1'?>\n" + Element("settings", inner) + "\n";
}

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

TEST_F(DriverSettingsTest, RelayCountChangesKeepOrRecreateNames) {
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
  EXPECT_EQ(cam->GetRelayAt(0)->Name, "Relay1");  // recreated under default names
  EXPECT_FALSE(Has("comm1/cam1/relays/Relay3"));
  EXPECT_EQ(ReadTextKey("settings/comm1/cam1/NofRelays"), "2");
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

}  // namespace
