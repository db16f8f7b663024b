// A new settings document is written only where no file is: whatever
// already carries the name stays as it is, also when the look for it said
// there was nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/file_ops.h"
#include "settings/xml_settings.h"
#include "settings_test_util.h"

namespace {

using settings_test::ReadFile;
using settings_test::ScratchDir;
using settings_test::WriteFile;

const char kName[] = "QUARO7K7_PTZ.xml";

// A link whose target is missing: the look for a file finds nothing there,
// yet the name is taken (an installer's link to a volume not mounted yet).
TEST(SettingsCreateTest, NameTakenByALinkWithoutTargetStaysAsItIs) {
  ScratchDir dir;
  ScratchDir elsewhere;
  const std::string target = elsewhere.File("real.xml");
  ASSERT_EQ(symlink(target.c_str(), dir.File(kName).c_str()), 0);
  CXMLSettingsAPI store;
  store.Folder = dir.Path;
  EXPECT_EQ(store.CreateDocument(kName, "settings", 1), 0);
  struct stat st {};
  ASSERT_EQ(lstat(dir.File(kName).c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced";
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{kName}) << "a temporary file stayed";
  EXPECT_TRUE(elsewhere.Entries().empty());
}

TEST(SettingsCreateTest, MissingFileIsCreatedEmpty) {
  ScratchDir dir;
  CXMLSettingsAPI store;
  store.Folder = dir.Path;
  EXPECT_EQ(store.CreateDocument(kName, "settings", 1), 1);
  EXPECT_NE(ReadFile(dir.File(kName)).find("<settings"), std::string::npos);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{kName});
}

// The platform's part: a file that appeared since anyone looked is kept
// byte for byte, and the temporary goes in every case.
TEST(SettingsCreateTest, PlacingRefusesATakenNameAndRemovesTheTemporary) {
  ScratchDir dir;
  const std::string path = dir.File(kName);
  const std::string temporary = platform::TemporaryFileBeside(path);
  WriteFile(path, "<settings><comm1/></settings>\n");
  WriteFile(temporary, "<settings/>\n");
  EXPECT_EQ(platform::PlaceTemporaryFile(temporary, path), platform::kErrorNameTaken);
  EXPECT_EQ(ReadFile(path), "<settings><comm1/></settings>\n");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{kName});

  unlink(path.c_str());
  WriteFile(temporary, "<settings/>\n");
  EXPECT_EQ(platform::PlaceTemporaryFile(temporary, path), 0u);
  EXPECT_EQ(ReadFile(path), "<settings/>\n");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{kName});

  EXPECT_NE(platform::PlaceTemporaryFile(dir.File("gone.tmp"), dir.File("other.xml")), 0u);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{kName});
}

}  // namespace
