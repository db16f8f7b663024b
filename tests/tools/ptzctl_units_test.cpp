// The host tool's own pieces: key decoding, script words, following the log,
// result texts, speed keys and the channel records' layouts.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ptzctl/commands.h"
#include "ptzctl/drive.h"
#include "ptzctl/host_calls.h"
#include "ptzctl/keys.h"
#include "ptzctl/log_tail.h"
#include "ptzctl/result_codes.h"
#include "ptzctl_test_util.h"

namespace ptzctl {
namespace {

std::vector<Key> FeedAll(KeyDecoder& decoder, const std::string& bytes) {
  std::vector<Key> keys;
  for (unsigned char c : bytes) {
    for (const Key& key : decoder.Feed(c)) keys.push_back(key);
  }
  return keys;
}

std::vector<KeyKind> Kinds(const std::vector<Key>& keys) {
  std::vector<KeyKind> kinds;
  for (const Key& key : keys) kinds.push_back(key.kind);
  return kinds;
}

TEST(KeyDecoderTest, ArrowsInBothCursorModesAndWithModifiers) {
  KeyDecoder d;
  EXPECT_EQ(Kinds(FeedAll(d, "\033[A\033[B\033[C\033[D")),
            (std::vector<KeyKind>{KeyKind::kUp, KeyKind::kDown, KeyKind::kRight, KeyKind::kLeft}));
  EXPECT_EQ(Kinds(FeedAll(d, "\033OA\033OD")),
            (std::vector<KeyKind>{KeyKind::kUp, KeyKind::kLeft}));
  EXPECT_EQ(Kinds(FeedAll(d, "\033[1;5C")), std::vector<KeyKind>{KeyKind::kRight});
  EXPECT_FALSE(d.Pending());
}

TEST(KeyDecoderTest, KeypadWithoutNumLockAndInApplicationMode) {
  KeyDecoder d;
  // Home, PgUp, End, PgDn in their vt and xterm forms, and the keypad's 5.
  EXPECT_EQ(Kinds(FeedAll(d, "\033[1~\033[5~\033[4~\033[6~\033[H\033[F\033[E\033[G")),
            (std::vector<KeyKind>{KeyKind::kUpLeft, KeyKind::kUpRight, KeyKind::kDownLeft,
                                  KeyKind::kDownRight, KeyKind::kUpLeft, KeyKind::kDownLeft,
                                  KeyKind::kCenter, KeyKind::kCenter}));
  // Application keypad: 1..9, + and -.
  EXPECT_EQ(
      Kinds(FeedAll(d, "\033Oq\033Or\033Os\033Ot\033Ou\033Ov\033Ow\033Ox\033Oy\033Ok\033Om")),
      (std::vector<KeyKind>{KeyKind::kDownLeft, KeyKind::kDown, KeyKind::kDownRight, KeyKind::kLeft,
                            KeyKind::kCenter, KeyKind::kRight, KeyKind::kUpLeft, KeyKind::kUp,
                            KeyKind::kUpRight, KeyKind::kZoomIn, KeyKind::kZoomOut}));
  // Keys without a meaning here are not mistaken for one.
  EXPECT_EQ(
      Kinds(FeedAll(d, "\033[2~\033[3~\033Op\033[Z")),
      (std::vector<KeyKind>{KeyKind::kOther, KeyKind::kOther, KeyKind::kOther, KeyKind::kOther}));
}

TEST(KeyDecoderTest, LoneEscapeAndEscapeBeforeAKey) {
  KeyDecoder d;
  EXPECT_TRUE(FeedAll(d, "\033").empty());
  EXPECT_TRUE(d.Pending());
  EXPECT_EQ(Kinds(d.Flush()), std::vector<KeyKind>{KeyKind::kEscape});
  EXPECT_FALSE(d.Pending());
  // Alt+q: Escape, then the q itself.
  const std::vector<Key> keys = FeedAll(d, "\033q");
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].kind, KeyKind::kEscape);
  EXPECT_EQ(keys[1], (Key{KeyKind::kChar, 'q'}));
  // Two escapes: the first is a key, the second may start a sequence.
  EXPECT_EQ(Kinds(FeedAll(d, "\033\033[A")),
            (std::vector<KeyKind>{KeyKind::kEscape, KeyKind::kUp}));
}

TEST(KeyDecoderTest, UnfinishedAndOverlongSequencesAreDropped) {
  KeyDecoder d;
  EXPECT_TRUE(FeedAll(d, "\033[12").empty());
  EXPECT_TRUE(d.Flush().empty());
  EXPECT_EQ(FeedAll(d, "a"), (std::vector<Key>{{KeyKind::kChar, 'a'}}));
  // A CSI that never ends is given up, not grown without bound, and its
  // digits do not turn into keys.
  std::vector<Key> keys = FeedAll(d, "\033[" + std::string(100, '1'));
  EXPECT_EQ(Kinds(keys), std::vector<KeyKind>{KeyKind::kOther});
  EXPECT_TRUE(FeedAll(d, "1;2~").empty());
  EXPECT_EQ(FeedAll(d, "7"), (std::vector<Key>{{KeyKind::kChar, '7'}}));
  // A pause ends what was given up as well.
  FeedAll(d, "\033[" + std::string(20, '2'));
  EXPECT_TRUE(d.Flush().empty());
  EXPECT_EQ(FeedAll(d, "2"), (std::vector<Key>{{KeyKind::kChar, '2'}}));
  // Control bytes inside a sequence end it as well.
  EXPECT_EQ(Kinds(FeedAll(d, "\033[\001")), std::vector<KeyKind>{KeyKind::kOther});
  EXPECT_EQ(Kinds(FeedAll(d, "\r\n ")),
            (std::vector<KeyKind>{KeyKind::kEnter, KeyKind::kEnter, KeyKind::kChar}));
}

TEST(SplitWordsTest, QuotesEscapesAndComments) {
  std::vector<std::string> words;
  std::string error;
  ASSERT_TRUE(SplitWords("  preset store 0 \"Front door\" # the gate", &words, &error));
  EXPECT_EQ(words, (std::vector<std::string>{"preset", "store", "0", "Front door"}));
  ASSERT_TRUE(SplitWords("relay name 0 2 'it''s' a\\ b \"q\\\"uote\" x#y", &words, &error));
  EXPECT_EQ(words,
            (std::vector<std::string>{"relay", "name", "0", "2", "its", "a b", "q\"uote", "x#y"}));
  ASSERT_TRUE(SplitWords("preset store 0 \"\"", &words, &error));
  EXPECT_EQ(words.back(), "");
  ASSERT_TRUE(SplitWords("   # only a comment", &words, &error));
  EXPECT_TRUE(words.empty());
  EXPECT_FALSE(SplitWords("echo \"open", &words, &error));
  EXPECT_EQ(error, "unclosed \"");
  EXPECT_FALSE(SplitWords("echo 'open", &words, &error));
  EXPECT_FALSE(SplitWords("echo trailing\\", &words, &error));
}

class LogTailTest : public ::testing::Test {
 protected:
  void SetUp() override { path_ = (dir_.Path() / "x.log").string(); }
  void Append(const std::string& text) {
    std::ofstream(path_, std::ios::app | std::ios::binary) << text;
  }
  ptzctl_test::HostDir dir_;
  std::string path_;
};

TEST_F(LogTailTest, ReturnsOnlyNewCompleteLinesWithoutTheirEnds) {
  Append("old line\r\n");
  LogTail tail(path_);
  tail.SkipToEnd();
  EXPECT_TRUE(tail.NewLines().empty());
  Append("first\r\nsecond\nthird without end");
  EXPECT_EQ(tail.NewLines(), (std::vector<std::string>{"first", "second"}));
  Append(" finished\r\n");
  EXPECT_EQ(tail.NewLines(), std::vector<std::string>{"third without end finished"});
  EXPECT_TRUE(tail.NewLines().empty());
}

TEST_F(LogTailTest, MissingFileAndShrunkFile) {
  LogTail tail(path_);
  EXPECT_TRUE(tail.NewLines().empty());
  Append("a\r\nb\r\n");
  EXPECT_EQ(tail.NewLines(), (std::vector<std::string>{"a", "b"}));
  std::ofstream(path_, std::ios::trunc) << "new\r\n";
  EXPECT_EQ(tail.NewLines(), std::vector<std::string>{"new"});
}

TEST(ResultCodesTest, EveryCodeOfTheTableHasItsMeaning) {
  EXPECT_EQ(DescribeResult(1), "1 success");
  EXPECT_EQ(DescribeResult(-8), "-8 opening the COM port failed");
  EXPECT_EQ(DescribeResult(-12), "-12 dialog closed without OK");
  EXPECT_EQ(DescribeResult(-27), "-27 no such relay");
  for (int code : {-1, -3, -4, -6, -10, -13, -18, -19, -20, -21, -22, -23, -26})
    EXPECT_STRNE(ResultMeaning(code), "unknown result code") << code;
  EXPECT_STREQ(ResultMeaning(-2), "unknown result code");
  EXPECT_STREQ(ResultMeaning(0), "unknown result code");
}

TEST(ResultCodesTest, ExpectationDecidesWhatAFailureIs) {
  EXPECT_TRUE(ResultAsExpected(1, std::nullopt));
  EXPECT_TRUE(ResultAsExpected(0, std::nullopt));  // a count of 0
  EXPECT_FALSE(ResultAsExpected(-1, std::nullopt));
  EXPECT_TRUE(ResultAsExpected(-12, -12));
  EXPECT_FALSE(ResultAsExpected(1, -12));
}

TEST(DriveSpeedTest, KeysOneToNineSpanTheHostSpeeds) {
  EXPECT_EQ(SpeedForKey(1), 2);
  EXPECT_EQ(SpeedForKey(9), 16);
  EXPECT_EQ(SpeedForKey(0), SpeedForKey(1));
  EXPECT_EQ(SpeedForKey(12), 16);
  for (int key = 2; key <= 9; ++key) EXPECT_GT(SpeedForKey(key), SpeedForKey(key - 1)) << key;
}

TEST(HostCallsTest, NamesGoOverInABufferTheDriverMayReadWhole) {
  EXPECT_EQ(NameBuffer("Door").size(), 33u);
  EXPECT_EQ(std::string(NameBuffer("Door").data()), "Door");
  const std::string long_name(40, 'x');
  EXPECT_EQ(NameBuffer(long_name).size(), 41u);
  const char unterminated[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(FieldText(unterminated, 4), "abcd");
  EXPECT_EQ(Quoted("a\"b\\\x01"), "\"a\\\"b\\\\\\x01\"");
}

TEST(HostCallsTest, ChannelLayoutsFollowTheRecordOffsets) {
  EXPECT_EQ(ChannelLayout(42),
            "VRT_CamMoveToPrePositionName: 0: handle; 4: int speed; 8: text name");
  EXPECT_EQ(ChannelLayout(1), "VRT_CamInitModule: 0: int logSwitch; 69: text logDirectory");
  EXPECT_EQ(ChannelLayout(31),
            "VRT_CamSetRelay: 0: handle; 4: int relay; 8: int mode; 12: int time");
  EXPECT_TRUE(ptzctl_test::Contains(ChannelLayout(7), "no operation"));
  EXPECT_TRUE(ptzctl_test::Contains(ChannelLayout(45), "no operation"));
}

}  // namespace
}  // namespace ptzctl
