// A connection's settings as one value: the checks the connection setup
// dialog makes at OK, in its order, without a dialog; and the library-user
// marks and the library name a program linked with the driver acts under.
#include "comm/connection_settings.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

#include "comm/comm.h"
#include "platform/library_users.h"
#include "platform/module_path.h"
#include "settings_test_util.h"

namespace {

using Check = ConnectionSettingsCheck;

const char kNameMissing[] = "Please enter name to 'Name' box";
const char kIllegalPort[] =
    "Illegal COM-port. There may be problems with identifying your COM-ports or configuration is "
    "bad.";
const char kPortReserved[] = "Checked COM-port is reserved to the another connection";

ConnectionSettings Settings(const std::string& name, int port, const std::string& mode = "") {
  ConnectionSettings settings;
  settings.Name = name;
  settings.ComPort = port;
  settings.PortMode = mode;
  return settings;
}

class ConnectionSettingsTest : public ::testing::Test {
 protected:
  ConnectionSettingsTest() {
    lineA_.SetName("Line A");
    lineA_.SetComPort(3);
    lineB_.SetName("Line B");
    lineB_.SetComPort(5);
  }
  Check For(const ConnectionSettings& settings, const CVRTComm* edited) {
    return CheckConnectionSettings(settings, {&lineA_, nullptr, &lineB_}, edited);
  }
  CVRTComm lineA_, lineB_;
};

TEST_F(ConnectionSettingsTest, EachFieldIsRefusedWithTheDialogsMessageInTheDialogsOrder) {
  struct Case {
    ConnectionSettings settings;
    Check::Problem problem;
    const char* message;
  };
  const Case cases[] = {
      // The name comes first, whatever the port.
      {Settings("", 0), Check::kNoName, kNameMissing},
      {Settings("", 4), Check::kNoName, kNameMissing},
      // Ports the settings keep: 1 .. 47.
      {Settings("New", 0), Check::kPort, kIllegalPort},
      {Settings("New", -1), Check::kPort, kIllegalPort},
      {Settings("New", 48), Check::kPort, kIllegalPort},
      {Settings("New", 1), Check::kAccepted, ""},
      {Settings("New", 47), Check::kAccepted, ""},
      // A mode the port would not take, before the port among the others.
      {Settings("New", 3, "fast please"), Check::kPortMode, nullptr},
      {Settings("New", 3, "96,E,9,1"), Check::kPortMode, nullptr},
      {Settings("New", 4, "96,E,8"), Check::kAccepted, ""},
      {Settings("New", 4, "baud=19200 parity=n data=8 stop=1"), Check::kAccepted, ""},
      {Settings("New", 4, ""), Check::kAccepted, ""},
      // Another connection's port.
      {Settings("New", 3), Check::kPortTaken, kPortReserved},
      {Settings("New", 5), Check::kPortTaken, kPortReserved},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings.Name + " COM" + std::to_string(c.settings.ComPort) + " '" +
                 c.settings.PortMode + "'");
    const Check check = For(c.settings, nullptr);
    EXPECT_EQ(check.problem, c.problem);
    if (c.message != nullptr) {
      EXPECT_EQ(check.message, c.message);
    } else {
      EXPECT_NE(check.message.find("Illegal port mode '" + c.settings.PortMode + "'"),
                std::string::npos)
          << check.message;
    }
  }
}

TEST_F(ConnectionSettingsTest, TheEditedConnectionsOwnPortAndModeAreNoFault) {
  EXPECT_TRUE(For(Settings("Line A renamed", 3), &lineA_).Accepted());
  EXPECT_EQ(For(Settings("Line A", 5), &lineA_).problem, Check::kPortTaken);
  // A connection outside the list (a new one) has every listed port taken.
  CVRTComm fresh;
  EXPECT_EQ(For(Settings("Fresh", 5), &fresh).problem, Check::kPortTaken);
  // A mode the file gave, which the port refuses, is not judged again when
  // only the name or port changes (the dialog cannot change the mode);
  // a new bad one is.
  lineA_.SetPortMode("bogus");
  EXPECT_TRUE(For(Settings("Line A", 4, "bogus"), &lineA_).Accepted());
  EXPECT_EQ(For(Settings("Line A", 4, "bogus too"), &lineA_).problem, Check::kPortMode);
}

TEST_F(ConnectionSettingsTest, ApplyTakesEveryValueAndAnEmptyModeIsTheDefault) {
  CVRTComm connection;
  connection.Apply(Settings("Einfahrt", 12, "48,N,8,1"));
  EXPECT_EQ(connection.GetName(), "Einfahrt");
  EXPECT_EQ(connection.GetComPort(), 12);
  EXPECT_EQ(connection.GetPortMode(), "48,N,8,1");
  connection.Apply(Settings("Einfahrt", 12, ""));
  EXPECT_EQ(connection.GetPortMode(), "96,E,8,1");
  const ConnectionSettings back = ConnectionSettings::Of(connection);
  EXPECT_EQ(back.Name, "Einfahrt");
  EXPECT_EQ(back.ComPort, 12);
  EXPECT_EQ(back.PortMode, "96,E,8,1");
}

// ---------------------------------------------------------------- library users

TEST(LibraryUsers, AMarkIsSeenUntilItGoesOrItsProcessEnds) {
  settings_test::ScratchDir dir;
  const std::string library = dir.File("QUARO7K7_PTZ.so");
  settings_test::WriteFile(library, "not a real library");
  EXPECT_FALSE(platform::LibraryHasUsers(library));
  EXPECT_FALSE(platform::LibraryHasUsers(dir.File("missing.so")));
  EXPECT_EQ(platform::MarkLibraryUser(dir.File("missing.so")), nullptr);

  platform::UserMark* mark = platform::MarkLibraryUser(library);
  ASSERT_NE(mark, nullptr);
  EXPECT_TRUE(platform::LibraryHasUsers(library));
  platform::UserMark* second = platform::MarkLibraryUser(library);
  platform::UnmarkLibraryUser(mark);
  EXPECT_TRUE(platform::LibraryHasUsers(library));  // the other mark stays
  platform::UnmarkLibraryUser(second);
  EXPECT_FALSE(platform::LibraryHasUsers(library));

  // A process killed with its mark held leaves none behind.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    platform::MarkLibraryUser(library);
    (void)!write(ready[1], "x", 1);
    pause();
    _exit(0);
  }
  char byte;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  EXPECT_TRUE(platform::LibraryHasUsers(library));
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_FALSE(platform::LibraryHasUsers(library));
  close(ready[0]);
  close(ready[1]);
}

TEST(ActAsLibrary, NamesTheLibraryGivenWithItsDirectoryMadeAbsolute) {
  settings_test::ScratchDir dir;
  settings_test::WriteFile(dir.File("QUARO7K7_PTZ.so"), "x");
  std::string own;
  ASSERT_TRUE(platform::LibraryFileName(&own));
  EXPECT_FALSE(platform::ActAsLibrary(dir.File("missing.so")));
  EXPECT_FALSE(platform::ActAsLibrary(dir.Path));  // a directory is no library
  std::string name;
  ASSERT_TRUE(platform::LibraryFileName(&name));
  EXPECT_EQ(name, own);

  ASSERT_TRUE(platform::ActAsLibrary(dir.Path + "/./QUARO7K7_PTZ.so"));
  ASSERT_TRUE(platform::LibraryFileName(&name));
  char* real = realpath(dir.Path.c_str(), nullptr);
  ASSERT_NE(real, nullptr);
  EXPECT_EQ(name, std::string(real) + "/QUARO7K7_PTZ.so");
  free(real);
  ASSERT_TRUE(platform::ActAsLibrary(""));
  ASSERT_TRUE(platform::LibraryFileName(&name));
  EXPECT_EQ(name, own);
}

}  // namespace
