// Files the store did not write itself: other encodings, comments, nodes
// that are not elements.
#include <gtest/gtest.h>

#include <string>

#include "settings/xml_settings.h"
#include "settings_test_util.h"

namespace {

using settings_test::ReadFile;
using settings_test::ScratchDir;
using settings_test::WriteFile;

const char kName[] = "QUARO7K7_PTZ.xml";

class SettingsForeignFileTest : public ::testing::Test {
 protected:
  int32_t Open(const std::string& text) {
    WriteFile(Dir.File(kName), text);
    Store.Folder = Dir.Path;
    return Store.OpenDocument(kName, 1, 1);
  }
  std::string Text() const { return ReadFile(Dir.File(kName)); }

  ScratchDir Dir;
  CXMLSettingsAPI Store;
};

TEST_F(SettingsForeignFileTest, Utf8FileIsReadAsLatin1AndStaysUtf8) {
  ASSERT_EQ(Open("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                 "<settings><a value=\"Caf\xc3\xa9\"/><b value=\"\xe2\x82\xac 5\"/></settings>"),
            kSettingsOk);
  EXPECT_EQ(Store.GetValue("settings/a"), "Caf\xe9");
  // Beyond ISO-8859-1.
  EXPECT_EQ(Store.GetValue("settings/b"), "? 5");
  ASSERT_EQ(Store.SetValue("\xe0 la carte", "settings/a"), 1);
  // What the store did not touch keeps every character.
  EXPECT_EQ(Text(),
            "<?xml version='1.0' encoding='UTF-8'?>\n"
            "<settings><a value=\"\xc3\xa0 la carte\"/><b value=\"\xe2\x82\xac 5\"/></settings>\n");
}

TEST_F(SettingsForeignFileTest, CommentsAndInstructionsAreKept) {
  const std::string text =
      "<?xml version='1.0' encoding='iso-8859-1'?>\n<!-- edited by hand -->\n"
      "<settings><!-- inner --><?app data?><a value=\"1\"/></settings>\n";
  ASSERT_EQ(Open(text), kSettingsOk);
  ASSERT_EQ(Store.SetValue("1", "settings/a"), 1);
  EXPECT_EQ(Text(), text);
}

TEST_F(SettingsForeignFileTest, OnlyElementsAreKeys) {
  ASSERT_EQ(Open("<settings><a value=\"1\">text</a></settings>"), kSettingsOk);
  EXPECT_EQ(Store.KeyExists("settings/a"), 1);
  EXPECT_EQ(Store.KeyExists("settings/a/@value"), 0);
  EXPECT_EQ(Store.KeyExists("settings/a/text()"), 0);
  EXPECT_EQ(Store.DeleteKey("settings/a/text()"), 0);
  EXPECT_EQ(Store.GetValue("settings/a/@value"), "");
  EXPECT_EQ(Store.KeyExists("settings/a[@value=\"1\"]"), 1);
}

TEST_F(SettingsForeignFileTest, FirstMatchInDocumentOrderIsUsed) {
  ASSERT_EQ(Open("<settings><a value=\"1\"/><a value=\"2\"/></settings>"), kSettingsOk);
  EXPECT_EQ(Store.GetValue("settings/a"), "1");
  ASSERT_EQ(Store.SetValue("x", "settings/a"), 1);
  EXPECT_EQ(Store.GetValue("settings/a[2]"), "2");
  EXPECT_EQ(Store.DeleteKey("settings/a"), 1);
  EXPECT_EQ(Store.GetValue("settings/a"), "2");
}

}  // namespace
