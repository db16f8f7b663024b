// The driver object on a scratch settings file and log, with a fake dialog
// toolkit, for the behaviour tests of the setup dialogs.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "camera/camera.h"
#include "comm/comm.h"
#include "driver/driver.h"
#include "platform/posix/serial_device_posix.h"
#include "settings_test_util.h"
#include "ui/comm_setup_dlg.h"
#include "ui_fake.h"

namespace uitest {

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Reset();
    dir_ = scratch_.Path;
    settings_test::WriteFile(dir_ + "/QUARO7K7_PTZ.xml",
                             std::string(settings_test::kDeclaration) + "<settings/>\n");
    CVRTDriver& driver = Driver();
    driver.Settings.Folder = dir_;
    ASSERT_EQ(driver.Settings.OpenDocument("QUARO7K7_PTZ.xml", 1, 0), 0);
    ASSERT_EQ(DriverLog().SetLogPath(dir_), 1);
    DriverLog().SetEnabled(1);
    // No port of this machine takes part: COM<n> is <dir>/ports/COM<n>, and
    // those without a link are /dev/ttyS<n-1>, which the tests avoid.
    platform::SetPortDirectoryForTesting(dir_ + "/ports");
  }
  void TearDown() override {
    Reset();
    DriverLog().SetEnabled(0);
    platform::SetPortDirectoryForTesting("");
    SetSerialPortSourceForTesting({});
    std::filesystem::remove_all(dir_ + "/ports");
  }
  static void Reset() {
    Driver().DestroyConnections();
    while (Driver().Settings.CloseDocument() > 0) {
    }
  }

  // A connection in the driver's list.
  CVRTComm* AddConnection(const std::string& name, int port, std::string key = "") {
    if (key.empty()) {
      EXPECT_EQ(Driver().GetFreeConnectionName(&key), 1);
    }
    auto connection = std::make_unique<CVRTComm>();
    connection->SetName(name);
    connection->SetComPort(port);
    connection->SetKey(key);
    CVRTComm* kept = connection.get();
    EXPECT_EQ(Driver().AddConnection(std::move(connection)), 1);
    return kept;
  }
  // A camera on a connection, in the driver's camera table.
  static CVRTCamera* AddCamera(CVRTComm* connection, int tavoId, int sysId,
                               const std::string& name) {
    auto camera = std::make_unique<CVRTCamera>(connection);
    camera->TavoID = tavoId;
    camera->SysID = sysId;
    camera->Name = name;
    camera->NodeAddress = 128;
    std::string key;
    connection->MakeCameraKey(1, &key);
    camera->KeyPath = key;
    CVRTCamera* kept = camera.get();
    EXPECT_EQ(connection->AddCamera(std::move(camera)), 1);
    EXPECT_EQ(Driver().AddCamera(kept), 1);
    return kept;
  }
  static std::vector<CVRTComm*> Connections() {
    std::vector<CVRTComm*> list;
    Driver().GetConnections(&list);
    return list;
  }

  // The system's ports as the tests make them: names in order, and which
  // port numbers a probe finds accessible. Every probe is noted.
  void FakePorts(std::vector<std::string> names, std::vector<std::string> accessible) {
    SerialPortSource source;
    source.Names = [names] { return names; };
    source.Probe = [this, accessible](const std::string& digits) {
      probes_.push_back(digits);
      return std::find(accessible.begin(), accessible.end(), digits) != accessible.end();
    };
    SetSerialPortSourceForTesting(source);
  }

  // The log's text with its CR LF line ends as "\n".
  std::string LogText() const {
    std::string text = settings_test::ReadFile(DriverLog().LogPath());
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
      text.erase(at, 1);
    return text;
  }
  bool Logged(const std::string& line) const { return LogText().find(line) != std::string::npos; }
  std::string SettingsText() const { return settings_test::ReadFile(dir_ + "/QUARO7K7_PTZ.xml"); }
  std::vector<std::string> Texts() const { return toolkit_.MessageTexts(); }

  settings_test::ScratchDir scratch_;
  std::string dir_;
  uifake::FakeToolkit toolkit_;
  std::vector<std::string> probes_;
};

}  // namespace uitest
