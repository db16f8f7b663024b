#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/module_path.h"
#include "settings/xml_settings.h"
#include "settings_test_util.h"

namespace {

using settings_test::Inode;
using settings_test::kDeclaration;
using settings_test::ReadFile;
using settings_test::ScratchDir;
using settings_test::WriteFile;

const char kName[] = "QUARO7K7_PTZ.xml";
const std::string kEmptyDocument = std::string(kDeclaration) + "<settings/>\n";

// A store open on a fresh document in a scratch directory.
class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Dir.Path.empty());
    Store.Folder = Dir.Path;
    ASSERT_EQ(Store.CreateDocument(kName, "settings", 1), 1);
    ASSERT_EQ(Store.OpenDocument(kName, 1, 1), kSettingsOk);
  }

  std::string Path() const { return Dir.File(kName); }
  std::string Text() const { return ReadFile(Path()); }

  ScratchDir Dir;
  CXMLSettingsAPI Store;
};

TEST_F(SettingsStoreTest, NewDocumentHoldsTheDeclarationAndAnEmptyRoot) {
  EXPECT_EQ(Text(), kEmptyDocument);
  EXPECT_EQ(Store.FilePath(), Path());
  EXPECT_EQ(Store.KeyExists("settings"), 1);
  EXPECT_EQ(Store.KeyExists("settings/comm1"), 0);
  EXPECT_EQ(Store.GetValue("settings/comm1/Name"), "");
  EXPECT_EQ(Text(), kEmptyDocument);
}

TEST_F(SettingsStoreTest, CreatedKeysAreIndentedWithTextNodes) {
  EXPECT_EQ(Store.SetValue("Line A", "settings/comm1/Name"), 1);
  const std::string oneKey = std::string(kDeclaration) +
                             "<settings><comm1>\n\t\t<Name value=\"Line A\">\n\t\t</Name>\n"
                             "\t</comm1>\n</settings>\n";
  EXPECT_EQ(Text(), oneKey);

  EXPECT_EQ(Store.SetValue("3", "settings/comm1/ComPort"), 1);
  EXPECT_EQ(Store.CreateKey("settings/comm1/cam1/positions"), 1);
  const std::string expected = std::string(kDeclaration) +
                               "<settings><comm1>\n"
                               "\t\t<Name value=\"Line A\">\n\t\t</Name>\n"
                               "\t\t<ComPort value=\"3\">\n\t\t</ComPort>\n"
                               "\t\t<cam1>\n"
                               "\t\t\t\t<positions>\n\t\t\t</positions>\n"
                               "\t\t</cam1>\n"
                               "\t</comm1>\n</settings>\n";
  EXPECT_EQ(Text(), expected);

  // The whitespace survives loading: a reopened store writes the same text.
  EXPECT_EQ(Store.CloseDocument(), 0);
  ASSERT_EQ(Store.OpenDocument(kName, 1, 1), kSettingsOk);
  EXPECT_EQ(Store.SetValue("Line A", "settings/comm1/Name"), 1);
  EXPECT_EQ(Text(), expected);
  EXPECT_EQ(Store.GetValue("settings/comm1/ComPort"), "3");
}

TEST_F(SettingsStoreTest, DeleteKeyRemovesTheSubtreeAndLeavesTheWhitespace) {
  ASSERT_EQ(Store.SetValue("1", "settings/comm1/cam1/TavoID"), 1);
  ASSERT_EQ(Store.SetValue("2", "settings/comm2/Name"), 1);
  EXPECT_EQ(Store.DeleteKey("settings/comm1"), 1);
  EXPECT_EQ(Store.KeyExists("settings/comm1/cam1/TavoID"), 0);
  EXPECT_EQ(Store.KeyExists("settings/comm1"), 0);
  EXPECT_EQ(Store.GetValue("settings/comm2/Name"), "2");
  EXPECT_EQ(Text(), std::string(kDeclaration) +
                        "<settings>\n<comm2>\n\t\t<Name value=\"2\">\n\t\t</Name>\n\t</comm2>\n"
                        "</settings>\n");
}

// A key made and deleted again leaves the file as it was, in the document
// as made and as read back from the file: no blank line stays behind for
// each round, as it would for every preset stored and deleted by a host.
TEST_F(SettingsStoreTest, KeysMadeAndDeletedAgainLeaveTheFileAsItWas) {
  ASSERT_EQ(Store.SetValue("Line A", "settings/comm1/Name"), 1);
  ASSERT_EQ(Store.SetValue("3", "settings/comm1/ComPort"), 1);
  ASSERT_EQ(Store.CreateKey("settings/comm1/cam1/positions"), 1);
  const std::string before = Text();
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(Store.SetValue("x", "settings/comm1/cam2/Name"), 1);
    ASSERT_EQ(Store.SetValue("y", "settings/comm1/cam1/positions/PrePos1/Name"), 1);
    ASSERT_EQ(Store.DeleteKey("settings/comm1/cam1/positions/PrePos1"), 1);
    ASSERT_EQ(Store.DeleteKey("settings/comm1/cam2"), 1);
    EXPECT_EQ(Text(), before);
    EXPECT_EQ(Store.CloseDocument(), 0);
    ASSERT_EQ(Store.OpenDocument(kName, 1, 1), kSettingsOk);
  }
  // A key between others, in a document read from the file.
  ASSERT_EQ(Store.DeleteKey("settings/comm1/ComPort"), 1);
  EXPECT_EQ(Text(), std::string(kDeclaration) +
                        "<settings><comm1>\n"
                        "\t\t<Name value=\"Line A\">\n\t\t</Name>\n"
                        "\t\t<cam1>\n"
                        "\t\t\t\t<positions>\n\t\t\t</positions>\n"
                        "\t\t</cam1>\n"
                        "\t</comm1>\n</settings>\n");
}

TEST_F(SettingsStoreTest, UnchangedDocumentIsNotWritten) {
  ASSERT_EQ(Store.SetValue("x", "settings/comm1/Name"), 1);
  const std::string text = Text();
  // Every write puts a new file in place of the old one.
  auto writes = [this](const std::function<int()>& operation, int expected) {
    const ino_t before = Inode(Path());
    EXPECT_EQ(operation(), expected);
    return Inode(Path()) != before;
  };
  EXPECT_FALSE(writes([this] { return Store.CreateKey("settings/comm1/Name"); }, 1));
  EXPECT_FALSE(writes([this] { return Store.CreateKey("settings/comm1"); }, 1));
  EXPECT_FALSE(writes([this] { return Store.DeleteKey("settings/comm7"); }, 0));
  EXPECT_FALSE(writes([this] { return Store.DeleteKey("settings/comm1/Name/Deeper"); }, 0));
  EXPECT_FALSE(writes([this] { return Store.KeyExists("settings/comm1/Name"); }, 1));
  EXPECT_FALSE(writes([this] { return Store.GetValue("settings/comm1/Name") == "x"; }, 1));
  EXPECT_EQ(Text(), text);
  EXPECT_TRUE(writes([this] { return Store.SetValue("y", "settings/comm1/Name"); }, 1));
  EXPECT_TRUE(writes([this] { return Store.SetValue("y", "settings/comm1/Name"); }, 1));
  EXPECT_TRUE(writes([this] { return Store.CreateKey("settings/comm1/Other"); }, 1));
  EXPECT_TRUE(writes([this] { return Store.DeleteKey("settings/comm1/Other"); }, 1));
}

TEST_F(SettingsStoreTest, EmptyValueAttributeIsReplaced) {
  ASSERT_EQ(Store.SetValue("", "settings/comm1/Name"), 1);
  EXPECT_EQ(Store.GetValue("settings/comm1/Name"), "");
  EXPECT_EQ(Store.SetValue("COM port 1", "settings/comm1/Name"), 1);
  EXPECT_EQ(Store.GetValue("settings/comm1/Name"), "COM port 1");
  const std::string text = Text();
  size_t count = 0;
  for (size_t at = text.find("value="); at != std::string::npos; at = text.find("value=", at + 1)) {
    ++count;
  }
  EXPECT_EQ(count, 1u);
  EXPECT_NE(text.find("<Name value=\"COM port 1\">"), std::string::npos);
}

TEST_F(SettingsStoreTest, BracketConditionsBecomeAttributesOfTheNewElement) {
  const std::string key = "settings/comm1/cam1/positions/PrePos[@id=\"5\"]";
  EXPECT_EQ(Store.CreateKey(key), 1);
  EXPECT_EQ(Store.KeyExists("settings/comm1/cam1/positions"), 1);
  EXPECT_EQ(Store.KeyExists(key), 1);
  EXPECT_EQ(Store.KeyExists("settings/comm1/cam1/positions/PrePos[@id=\"6\"]"), 0);
  EXPECT_NE(Text().find("<PrePos id=\"5\">"), std::string::npos);

  EXPECT_EQ(Store.SetValue("Gate", "settings/comm1/cam1/positions/PrePos[@id=\"6\"][@kind=\"a\"]"),
            1);
  EXPECT_NE(Text().find("<PrePos id=\"6\" kind=\"a\" value=\"Gate\">"), std::string::npos);
  EXPECT_EQ(Store.GetValue(key), "");
  EXPECT_EQ(Store.GetValue("settings/comm1/cam1/positions/PrePos[@id=\"6\"]"), "Gate");

  // A condition that does not read [@name="value"] makes nothing.
  const std::string text = Text();
  EXPECT_EQ(Store.CreateKey("settings/comm1/Bad[@id=5]"), 0);
  EXPECT_EQ(Store.CreateKey("settings/comm1/Bad[@id=\"5\""), 0);
  EXPECT_EQ(Store.CreateKey("settings/comm2/Bad[id=\"5\"]"), 0);
  EXPECT_EQ(Store.CreateKey("settings/comm2/Bad[@id=\"5\"]x"), 0);
  EXPECT_EQ(Store.KeyExists("settings/comm2"), 0);
  EXPECT_EQ(Text(), text);
}

TEST_F(SettingsStoreTest, PathsAreCutTo1023Characters) {
  const std::string key = "settings/" + std::string(kMaxKeyPath - 9, 'k');
  ASSERT_EQ(key.size(), kMaxKeyPath);
  EXPECT_EQ(Store.SetValue("long", key + "/ignored"), 1);
  EXPECT_EQ(Store.KeyExists(key), 1);
  EXPECT_EQ(Store.GetValue(key + "zzz"), "long");
  EXPECT_EQ(Store.DeleteKey(key + std::string(5000, 'q')), 1);
  EXPECT_EQ(Store.KeyExists(key), 0);

  EXPECT_EQ(FormatKey("%s", std::string(3000, 'p').c_str()).size(), kMaxKeyPath);
  EXPECT_EQ(FormatKey("settings/comm%d/cam%d", 3, 12), "settings/comm3/cam12");
}

TEST_F(SettingsStoreTest, Latin1ValuesAndNamesRoundTripThroughTheFile) {
  const std::vector<std::string> values = {
      "Caf\xe9 \xc4\xd6\xdc\xdf \xff", "a<b&c>d",        "\"double\" 'single'",
      "100% /x/ [@y] %s %d",           "tab\tand\nline", "  padded  ",
      std::string("\x01\x7f", 2)};
  for (size_t i = 0; i < values.size(); ++i) {
    ASSERT_EQ(Store.SetValue(values[i], FormatKey("settings/values/v%zu", i)), 1);
  }
  ASSERT_EQ(Store.SetValue("n", "settings/Kamera\xe9\xb7X/Name"), 1);
  const std::string text = Text();
  EXPECT_NE(text.find("Caf\xe9 \xc4"), std::string::npos) << "written as ISO-8859-1";
  EXPECT_EQ(text.find("\xc3\xa9"), std::string::npos) << "not UTF-8";

  CXMLSettingsAPI other;
  other.Folder = Dir.Path;
  ASSERT_EQ(other.OpenDocument(kName, 0, 1), kSettingsOk);
  for (size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(other.GetValue(FormatKey("settings/values/v%zu", i)), values[i]) << i;
  }
  EXPECT_EQ(other.GetValue("settings/Kamera\xe9\xb7X/Name"), "n");
}

TEST_F(SettingsStoreTest, OpeningAgainOnlyCounts) {
  // The file is read once: what changes on disk later is not seen.
  WriteFile(Path(), std::string(kDeclaration) + "<settings><a value=\"disk\"/></settings>");
  EXPECT_EQ(Store.OpenDocument(kName, 1, 1), kSettingsOk);
  EXPECT_EQ(Store.OpenCount(), 2);
  EXPECT_EQ(Store.KeyExists("settings/a"), 0);
  EXPECT_EQ(Store.CloseDocument(), 1);
  // Nor is it written over: the write is refused (it falls in the
  // document's own keys, which changed on disk), and the disk's content
  // comes in instead of the change.
  EXPECT_THROW(Store.SetValue("1", "settings/b"), SettingsError);
  EXPECT_EQ(Store.KeyExists("settings/b"), 0);
  EXPECT_EQ(Store.GetValue("settings/a"), "disk");
  EXPECT_EQ(Store.CloseDocument(), 0);
  EXPECT_EQ(Store.CloseDocument(), 0);
  EXPECT_EQ(Store.KeyExists("settings/a"), 0);
  // A new open reads the file.
  EXPECT_EQ(Store.OpenDocument(kName, 1, 1), kSettingsOk);
  EXPECT_EQ(Store.GetValue("settings/a"), "disk");
  EXPECT_EQ(Store.SetValue("1", "settings/b"), 1);
  EXPECT_EQ(Store.GetValue("settings/b"), "1");
}

TEST_F(SettingsStoreTest, ClosedStoreAnswersNothingAndWritesNothing) {
  ASSERT_EQ(Store.SetValue("1", "settings/comm1/Name"), 1);
  ASSERT_EQ(Store.CloseDocument(), 0);
  const std::string text = Text();
  EXPECT_EQ(Store.KeyExists("settings/comm1/Name"), 0);
  EXPECT_EQ(Store.GetValue("settings/comm1/Name"), "");
  EXPECT_EQ(Store.SetValue("2", "settings/comm1/Name"), 0);
  EXPECT_EQ(Store.CreateKey("settings/comm2"), 0);
  EXPECT_EQ(Store.DeleteKey("settings/comm1"), 0);
  EXPECT_EQ(Text(), text);
  EXPECT_EQ(Dir.Entries().size(), 1u);
}

TEST_F(SettingsStoreTest, WithoutAutoSaveChangesStayInMemory) {
  ASSERT_EQ(Store.CloseDocument(), 0);
  ASSERT_EQ(Store.OpenDocument(kName, 0, 1), kSettingsOk);
  EXPECT_EQ(Store.SetValue("1", "settings/comm1/Name"), 1);
  EXPECT_EQ(Store.GetValue("settings/comm1/Name"), "1");
  EXPECT_EQ(Text(), kEmptyDocument);
}

TEST_F(SettingsStoreTest, CreateDocumentWhileOpenDoesNothing) {
  EXPECT_EQ(Store.CreateDocument("other.xml", "settings", 1), 0);
  EXPECT_EQ(settings_test::ReadFile(Dir.File("other.xml")), "");
  EXPECT_EQ(Dir.Entries().size(), 1u);
}

TEST_F(SettingsStoreTest, ComponentFailuresAreRaised) {
  EXPECT_THROW(Store.KeyExists("settings/"), SettingsError);
  EXPECT_THROW(Store.GetValue("settings[["), SettingsError);
  EXPECT_THROW(Store.CreateKey("settings/two words"), SettingsError);
  EXPECT_THROW(Store.SetValue("x", "settings/comm1/9lives"), SettingsError);
  EXPECT_THROW(Store.CreateKey("settings/comm1/Name[@bad name=\"1\"]"), SettingsError);
  try {
    Store.KeyExists("settings/");
  } catch (const SettingsError& e) {
    EXPECT_LT(e.Code(), 0);
  }
  // The store goes on working.
  EXPECT_EQ(Store.SetValue("ok", "settings/comm2/Name"), 1);
  EXPECT_NE(Text().find("<Name value=\"ok\">"), std::string::npos);
}

TEST_F(SettingsStoreTest, ReadOnlyFileIsNotReplaced) {
  ASSERT_EQ(chmod(Path().c_str(), 0444), 0);
  const std::string text = Text();
  EXPECT_THROW(Store.SetValue("x", "settings/comm1/Name"), SettingsError);
  EXPECT_EQ(Text(), text);
  // The document keeps the change (comm1 was made, its save failed); no
  // temporary file is left behind.
  EXPECT_EQ(Store.KeyExists("settings/comm1"), 1);
  EXPECT_EQ(Dir.Entries().size(), 1u);
}

TEST_F(SettingsStoreTest, ThreadsShareTheStore) {
  ASSERT_EQ(Store.CloseDocument(), 0);
  ASSERT_EQ(Store.OpenDocument(kName, 0, 1), kSettingsOk);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < 100; ++i) {
        const std::string key = FormatKey("settings/comm%d/cam%d/Name", t + 1, i % 10);
        Store.SetValue(std::to_string(i), key);
        Store.GetValue(key);
        if (i % 25 == 0) Store.DeleteKey(FormatKey("settings/comm%d/cam3", t + 1));
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (int t = 1; t <= 4; ++t) {
    EXPECT_EQ(Store.GetValue(FormatKey("settings/comm%d/cam9/Name", t)), "99");
  }
}

// Opening the files a store must not touch.
class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Dir.Path.empty());
    Store.Folder = Dir.Path + "/";
  }

  ScratchDir Dir;
  CXMLSettingsAPI Store;
};

TEST_F(SettingsFileTest, MissingEmptyOrMalformedFileIsNeitherOpenedNorReplaced) {
  EXPECT_EQ(Store.OpenDocument(kName, 1, 1), kSettingsFail);
  EXPECT_TRUE(Dir.Entries().empty());

  const std::vector<std::string> broken = {
      "",
      "<settings>",
      std::string(kDeclaration),
      "not xml at all",
      "<a/><b/>",
      "<settings/>trailing",
      "<settings a=\"1\" a=\"2\"/>",
      "  \n",
      std::string(kDeclaration) + "<settings><comm1>\n\t\t<Name value=\"x\">\n\t\t</Na",
      std::string(kDeclaration) + "<settings><comm1 value=\"unterminated></comm1></settings>",
  };
  for (const std::string& text : broken) {
    WriteFile(Dir.File(kName), text);
    EXPECT_EQ(Store.OpenDocument(kName, 1, 1), kSettingsFail) << text;
    EXPECT_EQ(Store.OpenCount(), 0);
    EXPECT_EQ(Store.CreateDocument(kName, "settings", 1), 0) << text;
    EXPECT_EQ(Store.SetValue("1", "settings/comm1/Name"), 0);
    EXPECT_EQ(ReadFile(Dir.File(kName)), text);
    EXPECT_EQ(Dir.Entries().size(), 1u);
  }
}

TEST_F(SettingsFileTest, FolderWithOrWithoutSeparatorNamesOneFile) {
  Store.Folder = Dir.Path;
  EXPECT_EQ(Store.CreateDocument(kName, "settings", 1), 1);
  CXMLSettingsAPI other;
  other.Folder = Dir.Path + "/";
  EXPECT_EQ(other.OpenDocument(kName, 1, 1), kSettingsOk);
  EXPECT_EQ(other.FilePath(), Dir.File(kName));
}

TEST_F(SettingsFileTest, EmptyFolderMeansTheProgramsDirectory) {
  std::string program;
  ASSERT_TRUE(platform::ProgramFileName(&program));
  const std::string name = "q7settings-" + std::to_string(getpid()) + ".xml";
  const std::string expected = program.substr(0, program.rfind('/') + 1) + name;
  Store.Folder.clear();
  EXPECT_EQ(Store.CreateDocument(name, "settings", 1), 1);
  EXPECT_EQ(Store.OpenDocument(name, 1, 1), kSettingsOk);
  EXPECT_EQ(Store.FilePath(), expected);
  EXPECT_EQ(ReadFile(expected), kEmptyDocument);
  Store.CloseDocument();
  unlink(expected.c_str());
}

TEST_F(SettingsFileTest, UnwritableDirectoryRaisesOnCreate) {
  Store.Folder = Dir.Path + "/missing-directory";
  EXPECT_THROW(Store.CreateDocument(kName, "settings", 1), SettingsError);
  EXPECT_TRUE(Dir.Entries().empty());
}

// A settings file that is a symbolic link is saved through it: the target
// gets the change, the link stays a link, the temporary goes beside the
// target.
TEST_F(SettingsFileTest, SymbolicLinkIsSavedThroughToItsTarget) {
  ScratchDir elsewhere;
  const std::string target = elsewhere.File("real.xml");
  WriteFile(target, kEmptyDocument);
  ASSERT_EQ(symlink(target.c_str(), Dir.File(kName).c_str()), 0);
  ASSERT_EQ(Store.OpenDocument(kName, 1, 1), kSettingsOk);
  ASSERT_EQ(Store.SetValue("Line 1", "settings/comm1/Name"), 1);
  struct stat st {};
  ASSERT_EQ(lstat(Dir.File(kName).c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_NE(ReadFile(target).find("<Name value=\"Line 1\">"), std::string::npos);
  EXPECT_EQ(Dir.Entries(), std::vector<std::string>{kName});
  EXPECT_EQ(elsewhere.Entries(), std::vector<std::string>{"real.xml"});
}

// Temporary files of saves that were killed are removed at the next open;
// those of running processes, and other files, stay.
TEST_F(SettingsFileTest, StaleTemporariesAreRemovedWhenOpening) {
  WriteFile(Dir.File(kName), kEmptyDocument);
  const pid_t gone = fork();
  ASSERT_GE(gone, 0);
  if (gone == 0) _exit(0);
  ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
  const std::string stale = std::string(kName) + ".~" + std::to_string(gone) + "-3.tmp";
  const std::string running = std::string(kName) + ".~" + std::to_string(getppid()) + "-0.tmp";
  const std::string own = std::string(kName) + ".~" + std::to_string(getpid()) + "-7.tmp";
  const std::vector<std::string> kept = {running, own, "other.xml.~1-1.tmp",
                                         std::string(kName) + ".~12ab-1.tmp", "notes.txt"};
  WriteFile(Dir.File(stale), "<settings");
  for (const std::string& name : kept) WriteFile(Dir.File(name), "x");
  ASSERT_EQ(Store.OpenDocument(kName, 1, 1), kSettingsOk);
  std::vector<std::string> entries = Dir.Entries();
  std::vector<std::string> expected = kept;
  expected.push_back(kName);
  std::sort(entries.begin(), entries.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(entries, expected);
}

// Two processes on one file, with the file's lock between them: a change
// goes into the file as the other process left it, and is refused only
// where the other process changed the subtree since this one read it.
TEST_F(SettingsFileTest, AnotherProcesssChangeIsKeptAndNotWrittenOver) {
  WriteFile(Dir.File(kName), kEmptyDocument);
  ASSERT_EQ(Store.OpenDocument(kName, 1, 1), kSettingsOk);
  int toChild[2];
  int toParent[2];
  ASSERT_EQ(pipe(toChild), 0);
  ASSERT_EQ(pipe(toParent), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The other process: opens the file, saves once, then (told to) again.
    char go = 0;
    CXMLSettingsAPI other;
    other.Folder = Dir.Path;
    int code = other.OpenDocument(kName, 1, 1) == kSettingsOk ? 0 : 10;
    if (code == 0 && other.SetValue("child", "settings/comm2/Name") != 1) code = 11;
    if (write(toParent[1], "r", 1) != 1 || read(toChild[0], &go, 1) != 1) code = 12;
    try {
      if (code == 0 && other.SetValue("child again", "settings/comm2/Name") != 1) code = 13;
      if (code == 0 && other.GetValue("settings/comm1/Name") != "parent") code = 14;
    } catch (const SettingsError&) {
      code = 15;
    }
    if (code == 0) {
      try {
        other.SetValue("child", "settings/comm1/Name");
        code = 16;
      } catch (const SettingsError&) {
      }
    }
    _exit(code);
  }
  // A child that ends early closes the pipes: the reads do not wait.
  close(toChild[0]);
  close(toParent[1]);
  char ready = 0;
  ASSERT_EQ(read(toParent[0], &ready, 1), 1);
  // The child's save came after this store read the file: kept. (A refusal
  // must not end the test before the child is let go.)
  int saved = 0;
  try {
    saved = Store.SetValue("parent", "settings/comm1/Name");
  } catch (const SettingsError&) {
    saved = -22;
  }
  EXPECT_EQ(saved, 1);
  EXPECT_EQ(Store.GetValue("settings/comm2/Name"), "child");
  const std::string both = ReadFile(Dir.File(kName));
  EXPECT_NE(both.find("\"child\""), std::string::npos) << both;
  // The child's own subtree is not written over.
  EXPECT_THROW(Store.SetValue("parent", "settings/comm2/Name"), SettingsError);
  EXPECT_EQ(ReadFile(Dir.File(kName)), both);
  ASSERT_EQ(write(toChild[1], "g", 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  CXMLSettingsAPI fresh;
  fresh.Folder = Dir.Path;
  ASSERT_EQ(fresh.OpenDocument(kName, 0, 1), kSettingsOk);
  EXPECT_EQ(fresh.GetValue("settings/comm1/Name"), "parent");
  EXPECT_EQ(fresh.GetValue("settings/comm2/Name"), "child again");
  EXPECT_EQ(Store.SetValue("parent again", "settings/comm1/Name"), 1);
  EXPECT_EQ(Dir.Entries().size(), 1u);
  close(toChild[1]);
  close(toParent[0]);
}

// Two stores that make the very same change (two hosts starting on one
// file write the same default keys) both succeed; the second writes nothing.
TEST_F(SettingsFileTest, SameChangeOfAnotherStoreIsNoConflict) {
  WriteFile(Dir.File(kName), kEmptyDocument);
  CXMLSettingsAPI other;
  other.Folder = Dir.Path;
  ASSERT_EQ(Store.OpenDocument(kName, 1, 1), kSettingsOk);
  ASSERT_EQ(other.OpenDocument(kName, 1, 1), kSettingsOk);
  // As the driver's load does, in one write.
  const auto defaults = [](CXMLSettingsAPI& store) {
    store.Batch([&] {
      EXPECT_EQ(store.SetValue("3", "settings/comm1/cam1/NofRelays"), 1);
      EXPECT_EQ(store.SetValue("Relay 1", "settings/comm1/cam1/relays/Relay1/Name"), 1);
    });
  };
  defaults(Store);
  const ino_t written = Inode(Dir.File(kName));
  EXPECT_NO_THROW(defaults(other));
  EXPECT_EQ(Inode(Dir.File(kName)), written);
  EXPECT_EQ(other.SetValue("4", "settings/comm1/cam1/NofRelays"), 1);
  EXPECT_THROW(Store.SetValue("5", "settings/comm1/cam1/NofRelays"), SettingsError);
  CXMLSettingsAPI reader;
  reader.Folder = Dir.Path;
  ASSERT_EQ(reader.OpenDocument(kName, 0, 1), kSettingsOk);
  EXPECT_EQ(reader.GetValue("settings/comm1/cam1/NofRelays"), "4");
}

// A settings file that is a pipe is refused at once, not waited on.
TEST_F(SettingsFileTest, PipeIsRefusedWithoutWaiting) {
  ASSERT_EQ(mkfifo(Dir.File(kName).c_str(), 0600), 0);
  auto opened = std::async(std::launch::async, [this] { return Store.OpenDocument(kName, 1, 1); });
  const bool answered = opened.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  if (!answered) {
    // Lets a reader that waits for a writer go on.
    const int writer = open(Dir.File(kName).c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) close(writer);
  }
  EXPECT_TRUE(answered);
  EXPECT_EQ(opened.get(), kSettingsFail);
  EXPECT_EQ(Store.CreateDocument(kName, "settings", 1), 0);
}

}  // namespace
