// Files the store did not write itself: other encodings, comments, nodes
// that are not elements.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/xml_settings.h"
#include "settings_test_util.h"

namespace {

using settings_test::kDeclaration;
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

// A file whose bytes are not in its encoding, or in an encoding the store
// does not read, would be read wrongly and written back damaged.
TEST_F(SettingsForeignFileTest, FilesNotInTheirEncodingAreRefusedAndKept) {
  const std::string body = "<settings><a value=\"Caf\xe9\"/></settings>\n";
  const std::string utf16Declared = "<?xml version='1.0' encoding='utf-16'?>\n";
  const std::vector<std::string> refused = {
      body,
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + body,
      "<?xml version='1.0' encoding='bogus'?>\n<settings/>\n",
      utf16Declared + "<settings/>\n",
      "<?xml version='1.0' encoding='us-ascii'?>\n" + body,
      "\xef\xbb\xbf<?xml version='1.0' encoding='iso-8859-1'?>\n<settings/>\n",
      // Overlong and surrogate forms, a cut sequence.
      "<settings><a value=\"\xc0\xaf\"/></settings>",
      "<settings><a value=\"\xed\xa0\x80\"/></settings>",
      "<settings><a value=\"\xc3\"/></settings>",
      // UTF-16 declaring a single-byte encoding, with a lone surrogate, UTF-32.
      std::string("\xff\xfe<\0s\0/\0>\0", 10) + std::string("\0\xd8", 2),
      std::string("\xff\xfe\0\0<\0\0\0", 8),
  };
  for (const std::string& text : refused) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Open(text), kSettingsFail);
    EXPECT_EQ(Store.OpenCount(), 0);
    EXPECT_EQ(Text(), text);
    EXPECT_EQ(Dir.Entries().size(), 1u);
  }
}

std::string Utf16Le(const std::string& ascii) {
  std::string out = "\xff\xfe";
  for (const char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

TEST_F(SettingsForeignFileTest, AcceptedEncodingsAreReadAndWrittenInThemselves) {
  // ISO-8859-1 by any of its names: the bytes are the characters.
  for (const char* name : {"iso-8859-1", "ISO-8859-1", "latin1", "ISO_8859-1"}) {
    const std::string text = "<?xml version='1.0' encoding='" + std::string(name) +
                             "'?>\n<settings><a value=\"Caf\xe9\"/><b value=\"1\"/></settings>\n";
    ASSERT_EQ(Open(text), kSettingsOk) << name;
    EXPECT_EQ(Store.GetValue("settings/a"), "Caf\xe9");
    ASSERT_EQ(Store.SetValue("\xe0", "settings/b"), 1);
    EXPECT_NE(Text().find("<a value=\"Caf\xe9\"/><b value=\"\xe0\"/>"), std::string::npos)
        << Text();
    Store.CloseDocument();
  }

  // US-ASCII: a character beyond it is written as a reference.
  ASSERT_EQ(
      Open("<?xml version='1.0' encoding='us-ascii'?>\n<settings><a value=\"x\"/></settings>"),
      kSettingsOk);
  ASSERT_EQ(Store.SetValue("Caf\xe9", "settings/a"), 1);
  EXPECT_NE(Text().find("<a value=\"Caf&#233;\"/>"), std::string::npos) << Text();
  Store.CloseDocument();
  ASSERT_EQ(Store.OpenDocument(kName, 1, 1), kSettingsOk);
  EXPECT_EQ(Store.GetValue("settings/a"), "Caf\xe9");
  Store.CloseDocument();

  // UTF-16 with its byte order mark, declared or not, stays UTF-16.
  for (const std::string& declaration :
       {std::string("<?xml version='1.0' encoding='UTF-16'?>\n"), std::string()}) {
    ASSERT_EQ(Open(Utf16Le(declaration + "<settings><a value=\"x\"/></settings>")), kSettingsOk);
    ASSERT_EQ(Store.SetValue("Caf\xe9", "settings/a"), 1);
    const std::string written = Text();
    EXPECT_EQ(written.substr(0, 2), "\xff\xfe");
    EXPECT_NE(written.find(std::string("C\0a\0f\0\xe9\0", 8)), std::string::npos);
    Store.CloseDocument();
    ASSERT_EQ(Store.OpenDocument(kName, 1, 1), kSettingsOk);
    EXPECT_EQ(Store.GetValue("settings/a"), "Caf\xe9");
    Store.CloseDocument();
  }

  // UTF-8 with a byte order mark.
  ASSERT_EQ(Open("\xef\xbb\xbf<settings><a value=\"Caf\xc3\xa9\"/></settings>"), kSettingsOk);
  EXPECT_EQ(Store.GetValue("settings/a"), "Caf\xe9");
}

std::string Nested(size_t depth) {
  std::string text = std::string(kDeclaration) + "<settings>";
  for (size_t i = 1; i < depth; ++i) text += "<a>";
  for (size_t i = 1; i < depth; ++i) text += "</a>";
  return text + "</settings>\n";
}

// Nesting far beyond the driver's own keys is refused (without exhausting
// the stack), and the store makes no key the next open would refuse.
TEST_F(SettingsForeignFileTest, NestingIsBounded) {
  for (const size_t depth : {size_t{100000}, kMaxElementDepth + 1}) {
    const std::string text = Nested(depth);
    EXPECT_EQ(Open(text), kSettingsFail) << depth;
    EXPECT_EQ(Text(), text);
  }
  ASSERT_EQ(Open(Nested(kMaxElementDepth)), kSettingsOk);
  std::string path = "settings";
  for (size_t i = 1; i < kMaxElementDepth; ++i) path += "/a";
  EXPECT_EQ(Store.KeyExists(path), 1);
  EXPECT_EQ(Store.CreateKey(path + "/b"), 0);
  int made = -1;
  Store.Batch([&] { made = Store.CreateKey("settings/c" + path.substr(8) + "/b"); });
  EXPECT_EQ(made, 0);
  EXPECT_EQ(Store.KeyExists("settings/c"), 1);
  const std::string below = path.substr(0, path.size() - 2) + "/b";
  EXPECT_EQ(Store.CreateKey(below), 1);
  EXPECT_EQ(Store.DeleteKey("settings/a"), 1);
  Store.CloseDocument();
  EXPECT_EQ(Store.OpenDocument(kName, 1, 1), kSettingsOk);
}

// pugixml took an element naming an attribute twice; so must it not now
// with many attributes.
TEST_F(SettingsForeignFileTest, RepeatedAttributeIsRefusedAmongMany) {
  std::string element = "<settings><e";
  for (int i = 0; i < 20000; ++i) element += " a" + std::to_string(i) + "=\"1\"";
  const std::string good = element + "/></settings>";
  const std::string bad = element + " a19999=\"2\"/></settings>";
  EXPECT_EQ(Open(bad), kSettingsFail);
  EXPECT_EQ(Open(good), kSettingsOk);
}

}  // namespace
