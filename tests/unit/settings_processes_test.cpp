// Several processes saving into one settings file, as two stores on one
// file: each write keeps what the other saved in every subtree it does not
// change, and is refused only where the other changed its own subtree.
#include <gtest/gtest.h>

#include <functional>
#include <random>
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

// Two lines; the first with two cameras, the second with one.
const std::string kTwoLines = std::string(kDeclaration) +
                              "<settings>\n"
                              "\t<comm1>\n"
                              "\t\t<Name value=\"Line 1\"/>\n"
                              "\t\t<cam1><Name value=\"Gate\"/><TavoID value=\"0\"/></cam1>\n"
                              "\t\t<cam2><Name value=\"Yard\"/><TavoID value=\"1\"/></cam2>\n"
                              "\t</comm1>\n"
                              "\t<comm2>\n"
                              "\t\t<Name value=\"Line 2\"/>\n"
                              "\t\t<cam1><Name value=\"Dock\"/><TavoID value=\"2\"/></cam1>\n"
                              "\t</comm2>\n"
                              "</settings>\n";

class SettingsProcessesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Dir.Path.empty());
    WriteFile(Path(), kTwoLines);
    ASSERT_TRUE(Open(Other));
    ASSERT_TRUE(Open(This));
  }

  bool Open(CXMLSettingsAPI& store) {
    store.Folder = Dir.Path;
    return store.OpenDocument(kName, 1, 1) == kSettingsOk;
  }
  std::string Path() const { return Dir.File(kName); }
  // The value as a store that reads the file now sees it.
  std::string Fresh(const std::string& key) {
    CXMLSettingsAPI reader;
    reader.Folder = Dir.Path;
    if (reader.OpenDocument(kName, 0, 1) != kSettingsOk) return "<no file>";
    return reader.KeyExists(key) ? reader.GetValue(key) : "<none>";
  }

  ScratchDir Dir;
  CXMLSettingsAPI Other;  // the other process: it saves first
  CXMLSettingsAPI This;   // read the file before the other's save
};

using Change = std::function<void(CXMLSettingsAPI&)>;

Change Set(const std::string& key, const std::string& value) {
  return [key, value](CXMLSettingsAPI& store) { store.SetValue(value, key); };
}
Change Delete(const std::string& key) {
  return [key](CXMLSettingsAPI& store) { store.DeleteKey(key); };
}

TEST_F(SettingsProcessesTest, AWriteIsRefusedOnlyWhereTheOtherProcessChangedItsSubtree) {
  struct Case {
    const char* what;
    Change other;
    Change mine;
    bool refused;
    // Keys and the values the file must hold afterwards ("<none>": no key).
    std::vector<std::pair<std::string, std::string>> file;
  };
  const std::vector<Case> cases = {
      {"another camera",
       Set("settings/comm1/cam1/Name", "Gate A"),
       Set("settings/comm1/cam2/Name", "Yard B"),
       false,
       {{"settings/comm1/cam1/Name", "Gate A"}, {"settings/comm1/cam2/Name", "Yard B"}}},
      {"the same camera",
       Set("settings/comm1/cam1/Name", "Gate A"),
       Set("settings/comm1/cam1/TavoID", "7"),
       true,
       {{"settings/comm1/cam1/Name", "Gate A"}, {"settings/comm1/cam1/TavoID", "0"}}},
      {"the very same change",
       Set("settings/comm1/cam1/Name", "Gate A"),
       Set("settings/comm1/cam1/Name", "Gate A"),
       false,
       {{"settings/comm1/cam1/Name", "Gate A"}}},
      {"a camera of a renamed line",
       Set("settings/comm1/Name", "North"),
       Set("settings/comm1/cam1/Name", "Gate B"),
       false,
       {{"settings/comm1/Name", "North"}, {"settings/comm1/cam1/Name", "Gate B"}}},
      {"a line whose camera changed",
       Set("settings/comm1/cam1/Name", "Gate A"),
       Set("settings/comm1/Name", "South"),
       false,
       {{"settings/comm1/Name", "South"}, {"settings/comm1/cam1/Name", "Gate A"}}},
      {"the same line's keys",
       Set("settings/comm1/Name", "North"),
       Set("settings/comm1/ComPort", "4"),
       true,
       {{"settings/comm1/Name", "North"}, {"settings/comm1/ComPort", "<none>"}}},
      {"a new camera under a key the other took",
       Set("settings/comm1/cam3/Name", "Pier A"),
       Set("settings/comm1/cam3/Name", "Pier B"),
       true,
       {{"settings/comm1/cam3/Name", "Pier A"}}},
      {"new cameras under different keys",
       Set("settings/comm1/cam3/Name", "Pier A"),
       Set("settings/comm1/cam4/Name", "Pier B"),
       false,
       {{"settings/comm1/cam3/Name", "Pier A"}, {"settings/comm1/cam4/Name", "Pier B"}}},
      {"a new line under a key the other took",
       Set("settings/comm3/Name", "Line A"),
       Set("settings/comm3/ComPort", "3"),
       true,
       {{"settings/comm3/Name", "Line A"}, {"settings/comm3/ComPort", "<none>"}}},
      {"a camera of a new line under a key the other took",
       Set("settings/comm3/Name", "Line A"),
       Set("settings/comm3/cam1/Name", "Pier B"),
       true,
       {{"settings/comm3/Name", "Line A"}, {"settings/comm3/cam1", "<none>"}}},
      {"a camera of a line the other removed",
       Delete("settings/comm2"),
       Set("settings/comm2/cam1/Name", "Dock B"),
       true,
       {{"settings/comm2", "<none>"}}},
      {"a new camera into a line the other removed",
       Delete("settings/comm2"),
       Set("settings/comm2/cam5/Name", "Dock B"),
       true,
       {{"settings/comm2", "<none>"}}},
      {"removing a line the other added a camera to",
       Set("settings/comm2/cam2/Name", "Quay A"),
       Delete("settings/comm2"),
       true,
       {{"settings/comm2/cam2/Name", "Quay A"}}},
      {"removing a camera beside one the other changed",
       Set("settings/comm2/cam1/Name", "Dock A"),
       Delete("settings/comm1/cam2"),
       false,
       {{"settings/comm2/cam1/Name", "Dock A"}, {"settings/comm1/cam2", "<none>"}}},
      {"a camera the other removed",
       Delete("settings/comm1/cam2"),
       Set("settings/comm1/cam2/Name", "Yard B"),
       true,
       {{"settings/comm1/cam2", "<none>"}}},
      {"the root's keys beside a line",
       Set("settings/comm2/Name", "East"),
       Set("settings/Installed", "yes"),
       false,
       {{"settings/comm2/Name", "East"}, {"settings/Installed", "yes"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(Path(), kTwoLines);
    CXMLSettingsAPI other, mine;
    ASSERT_TRUE(Open(other));
    ASSERT_TRUE(Open(mine));
    c.other(other);
    const std::string others = ReadFile(Path());
    if (c.refused) {
      EXPECT_THROW(c.mine(mine), SettingsError);
      EXPECT_EQ(ReadFile(Path()), others);
    } else {
      EXPECT_NO_THROW(c.mine(mine));
    }
    for (const auto& [key, value] : c.file) {
      EXPECT_EQ(Fresh(key), value) << key;
      // The store takes in the other's content as it writes or refuses.
      EXPECT_EQ(mine.KeyExists(key) ? mine.GetValue(key) : "<none>", value) << key;
    }
    // The other process goes on saving its own subtrees.
    EXPECT_NO_THROW(other.SetValue("Far", "settings/comm9/Name"));
    EXPECT_EQ(Fresh("settings/comm9/Name"), "Far");
  }
}

// A subtree the other process changed stays refused, also when the file
// has not changed since; the store's other subtrees go on; reading the file
// afresh ends it.
TEST_F(SettingsProcessesTest, ARefusedSubtreeStaysRefusedUntilReadAgain) {
  Other.SetValue("Gate A", "settings/comm1/cam1/Name");
  EXPECT_THROW(This.SetValue("Gate B", "settings/comm1/cam1/Name"), SettingsError);
  EXPECT_TRUE(This.ChangedElsewhere("comm1/cam1"));
  EXPECT_FALSE(This.ChangedElsewhere("comm1/cam2"));
  EXPECT_EQ(This.SetValue("Yard B", "settings/comm1/cam2/Name"), 1);
  EXPECT_THROW(This.SetValue("Gate B", "settings/comm1/cam1/Name"), SettingsError);
  EXPECT_EQ(This.GetValue("settings/comm1/cam1/Name"), "Gate A");
  EXPECT_EQ(This.ChangedElsewhere(), std::vector<std::string>{"comm1/cam1"});
  // The other goes on with the camera it changed, over this store's save.
  EXPECT_EQ(Other.SetValue("Gate AA", "settings/comm1/cam1/Name"), 1);
  EXPECT_EQ(Fresh("settings/comm1/cam2/Name"), "Yard B");

  ASSERT_EQ(This.ReadAgain("settings"), kSettingsOk);
  EXPECT_TRUE(This.ChangedElsewhere().empty());
  EXPECT_EQ(This.GetValue("settings/comm1/cam1/Name"), "Gate AA");
  EXPECT_EQ(This.SetValue("Gate B", "settings/comm1/cam1/Name"), 1);
  EXPECT_EQ(Fresh("settings/comm1/cam1/Name"), "Gate B");
  // Now the other process is the one that is behind.
  EXPECT_THROW(Other.SetValue("Gate C", "settings/comm1/cam1/Name"), SettingsError);
}

// One change of several subtrees is written whole or not at all.
TEST_F(SettingsProcessesTest, ABatchIsRefusedWholeWhenOneOfItsSubtreesChanged) {
  Other.SetValue("Dock A", "settings/comm2/cam1/Name");
  const std::string others = ReadFile(Path());
  EXPECT_THROW(This.Batch([&] {
    This.SetValue("Gate B", "settings/comm1/cam1/Name");
    This.SetValue("Dock B", "settings/comm2/cam1/Name");
  }),
               SettingsError);
  EXPECT_EQ(ReadFile(Path()), others);
  EXPECT_EQ(This.GetValue("settings/comm1/cam1/Name"), "Gate");
  // Renumbering a line's cameras answers for every camera it moves.
  Other.SetValue("Yard A", "settings/comm1/cam2/Name");
  EXPECT_THROW(This.Batch([&] {
    This.DeleteKey("settings/comm1/cam1");
    This.DeleteKey("settings/comm1/cam2");
    This.SetValue("Yard", "settings/comm1/cam1/Name");
  }),
               SettingsError);
  EXPECT_EQ(Fresh("settings/comm1/cam2/Name"), "Yard A");
  EXPECT_EQ(Fresh("settings/comm1/cam1/Name"), "Gate");
}

// Blanks and line ends count for nothing: a file laid out anew by hand
// (or by another writer) changes no subtree.
TEST_F(SettingsProcessesTest, LayoutAloneChangesNoSubtree) {
  std::string text = kTwoLines;
  for (size_t at = 0; (at = text.find("\n\t", at)) != std::string::npos;)
    text.replace(at, 2, "\r\n    ");
  WriteFile(Path(), text);
  EXPECT_EQ(This.SetValue("Gate B", "settings/comm1/cam1/Name"), 1);
  EXPECT_TRUE(This.ChangedElsewhere().empty());
  EXPECT_EQ(Fresh("settings/comm2/cam1/Name"), "Dock");
  EXPECT_NE(ReadFile(Path()).find("\n    <comm2>"), std::string::npos);
}

// What another process saved comes in without a write of this store's own;
// the owner's rule sees the document as it would be written.
TEST_F(SettingsProcessesTest, OtherSavesComeInAndTheOwnersRuleDecidesLast) {
  Other.SetValue("5", "settings/comm2/cam2/TavoID");
  EXPECT_EQ(This.KeyExists("settings/comm2/cam2"), 0);
  This.TakeInOtherChanges();
  EXPECT_EQ(This.GetValue("settings/comm2/cam2/TavoID"), "5");
  EXPECT_EQ(This.CamerasOf("comm2"), (std::vector<std::string>{"comm2/cam1", "comm2/cam2"}));
  EXPECT_TRUE(This.ChangedElsewhere("comm2/cam2"));

  std::vector<std::string> asked;
  This.WriteRule = [&](const std::vector<std::string>& cameras) {
    asked = cameras;
    return This.GetValue("settings/comm1/cam3/TavoID") == "5" ? std::string("number 6 taken")
                                                              : std::string();
  };
  const std::string before = ReadFile(Path());
  EXPECT_THROW(This.SetValue("5", "settings/comm1/cam3/TavoID"), SettingsError);
  EXPECT_EQ(asked, std::vector<std::string>{"comm1/cam3"});
  EXPECT_EQ(ReadFile(Path()), before);
  EXPECT_EQ(This.KeyExists("settings/comm1/cam3"), 0);
  EXPECT_EQ(This.SetValue("6", "settings/comm1/cam3/TavoID"), 1);
  EXPECT_EQ(Fresh("settings/comm1/cam3/TavoID"), "6");
  // A write that takes away a camera asks about none.
  EXPECT_EQ(This.DeleteKey("settings/comm1/cam3"), 1);
  EXPECT_TRUE(asked.empty());
}

// A file another process left unreadable is neither read nor replaced.
TEST_F(SettingsProcessesTest, AFileThatNoLongerLoadsIsNotReplaced) {
  const std::string broken = std::string(kDeclaration) + "<settings><comm1>";
  WriteFile(Path(), broken);
  EXPECT_THROW(This.SetValue("Gate B", "settings/comm1/cam1/Name"), SettingsError);
  EXPECT_EQ(ReadFile(Path()), broken);
  This.TakeInOtherChanges();
  EXPECT_EQ(This.GetValue("settings/comm2/cam1/Name"), "Dock");
  EXPECT_EQ(This.ReadAgain("settings"), kSettingsFail);
  EXPECT_EQ(ReadFile(Path()), broken);
  // A missing file is made anew.
  unlink(Path().c_str());
  EXPECT_EQ(This.ReadAgain("settings"), kSettingsOk);
  EXPECT_EQ(ReadFile(Path()), std::string(kDeclaration) + "<settings/>\n");
}

// Keys are looked up through an index of the children of elements with
// many of them: random changes on a small set of keys, among twenty other
// siblings and some of them given twice (the first in document order is the
// key), are read as a store that reads the file anew after each finds them.
TEST(SettingsKeyIndexTest, KeysAreFoundAsAFreshReadFindsThem) {
  ScratchDir dir;
  std::string many;
  for (int i = 1; i <= 20; ++i) many += "<f" + std::to_string(i) + " value=\"f\"/>";
  WriteFile(dir.File(kName), std::string(kDeclaration) + "<settings><a><b value=\"1\"/>" + many +
                                 "<b value=\"2\"><c value=\"3\"/></b><x/><b value=\"4\"/>" + many +
                                 "</a><a><b value=\"5\"/></a></settings>\n");
  CXMLSettingsAPI live;
  live.Folder = dir.Path;
  ASSERT_EQ(live.OpenDocument(kName, 1, 1), kSettingsOk);
  std::vector<std::string> keys;
  for (const char* first : {"a", "x"})
    for (const char* second : {"", "/b", "/x", "/f7", "/f20"})
      for (const char* third : {"", "/c", "/b"})
        if (*second != 0 || *third == 0)
          keys.push_back(std::string("settings/") + first + second + third);
  std::mt19937 random(7);
  for (int step = 0; step < 400; ++step) {
    const std::string& key = keys[random() % keys.size()];
    switch (random() % 3) {
      case 0:
        live.SetValue(std::to_string(step), key);
        break;
      case 1:
        live.DeleteKey(key);
        break;
      default:
        live.CreateKey(key);
    }
    CXMLSettingsAPI fresh;
    fresh.Folder = dir.Path;
    ASSERT_EQ(fresh.OpenDocument(kName, 0, 1), kSettingsOk);
    for (const std::string& probe : keys) {
      ASSERT_EQ(live.KeyExists(probe), fresh.KeyExists(probe)) << probe << " at step " << step;
      ASSERT_EQ(live.GetValue(probe), fresh.GetValue(probe)) << probe << " at step " << step;
    }
    ASSERT_EQ(live.ChildKeys("settings/a"), fresh.ChildKeys("settings/a")) << step;
  }
}

}  // namespace
