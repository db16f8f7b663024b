// The command lines, speed table, relay codes and reply parsing of the
// QUARO7 protocol, table by table.
#include "comm/protocol.h"

#include <gtest/gtest.h>

namespace {

TEST(ProtocolLine, DirectFormWithoutNodeAndAddressedFormBehindOne) {
  struct Case {
    std::string got, want;
  } cases[] = {
      {quaro7::Line(128, 5, "3"), "@5,3\r"},
      {quaro7::Line(7, 5, "3"), "$7,5,3\r"},
      {quaro7::Line(0, 6, "23"), "$0,6,23\r"},
      {quaro7::Line(128, 2, 1), "@2,1\r"},
      {quaro7::Line(127, 3, 42), "$127,3,42\r"},
      {quaro7::Line(128, 7, 70, 1), "@7,70,1\r"},
      {quaro7::Line(3, 16, 4, 90), "$3,16,4,90\r"},
      {quaro7::Line(128, 4), "@4\r"},
      {quaro7::Line(9, 4), "$9,4\r"},
      {quaro7::Line(128, 3, -1), "@3,-1\r"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(ProtocolSpeed, TableRowsAndBandsGrowWithFactorAndCode) {
  // Bands: A = codes 1..7, B = 8..9, C = 10..16.
  const int rows[11][3] = {{18, 18, 18},  {24, 26, 30},  {24, 32, 40},   {36, 42, 50},
                           {44, 52, 60},  {54, 62, 70},  {64, 72, 80},   {72, 80, 90},
                           {83, 91, 100}, {92, 96, 100}, {100, 100, 100}};
  for (int factor = 1; factor <= 11; ++factor) {
    EXPECT_EQ(quaro7::SpeedPercent(factor, 1), rows[factor - 1][0]) << factor;
    EXPECT_EQ(quaro7::SpeedPercent(factor, 7), rows[factor - 1][0]) << factor;
    EXPECT_EQ(quaro7::SpeedPercent(factor, 8), rows[factor - 1][1]) << factor;
    EXPECT_EQ(quaro7::SpeedPercent(factor, 9), rows[factor - 1][1]) << factor;
    EXPECT_EQ(quaro7::SpeedPercent(factor, 10), rows[factor - 1][2]) << factor;
    EXPECT_EQ(quaro7::SpeedPercent(factor, 16), rows[factor - 1][2]) << factor;
    if (factor > 1) {
      for (int band = 0; band < 3; ++band)
        EXPECT_GE(rows[factor - 1][band], rows[factor - 2][band]) << factor;
    }
  }
}

TEST(ProtocolSpeed, OutOfRangeFactorsAndCodes) {
  EXPECT_EQ(quaro7::SpeedPercent(0, 12), 30);  // below 1: row 2
  EXPECT_EQ(quaro7::SpeedPercent(-5, 1), 24);
  EXPECT_EQ(quaro7::SpeedPercent(12, 1), 70);  // above 11: 70 everywhere
  EXPECT_EQ(quaro7::SpeedPercent(99, 16), 70);
  EXPECT_EQ(quaro7::SpeedPercent(6, 0), 62);  // codes outside 1..16 count as 8
  EXPECT_EQ(quaro7::SpeedPercent(6, 17), 62);
  EXPECT_EQ(quaro7::SpeedPercent(6, -3), 62);
}

TEST(ProtocolSpeed, DiagonalPanRunsFivePointsFasterCappedAt100) {
  EXPECT_EQ(quaro7::DiagonalPanPercent(54), 59);
  EXPECT_EQ(quaro7::DiagonalPanPercent(95), 100);
  EXPECT_EQ(quaro7::DiagonalPanPercent(96), 100);
  EXPECT_EQ(quaro7::DiagonalPanPercent(98), 100);
  EXPECT_EQ(quaro7::DiagonalPanPercent(18), 23);
}

TEST(ProtocolRelay, FunctionCodesPerRelayAndAssignment) {
  const char* want[3][4] = {
      {"18", "12", "19", "21"}, {"13", "12", "19", "21"}, {"24", "12", "19", "21"}};
  for (int relay = 0; relay < 3; ++relay)
    for (int function = 0; function < 4; ++function)
      EXPECT_STREQ(quaro7::RelayFunctionCode(relay, function), want[relay][function]);
  EXPECT_EQ(quaro7::RelayFunctionCode(1, 7), nullptr);
  EXPECT_EQ(quaro7::RelayFunctionCode(0, -1), nullptr);
  EXPECT_EQ(quaro7::RelayFunctionCode(3, 0), nullptr);
  EXPECT_EQ(quaro7::RelayFunctionCode(-1, 0), nullptr);
}

TEST(ProtocolReply, AcceptedReplies) {
  EXPECT_TRUE(quaro7::IsAcceptedReply("OK\r", 3));
  EXPECT_TRUE(quaro7::IsAcceptedReply("NI\r", 3));
  EXPECT_TRUE(quaro7::IsAcceptedReply("OL", 2));
  EXPECT_FALSE(quaro7::IsAcceptedReply("ER\r", 3));
  EXPECT_FALSE(quaro7::IsAcceptedReply("ok\r", 3));
  EXPECT_FALSE(quaro7::IsAcceptedReply("O", 1));
  EXPECT_FALSE(quaro7::IsAcceptedReply("", 0));
  EXPECT_FALSE(quaro7::IsAcceptedReply(nullptr, 3));
}

TEST(ProtocolVersion, RepliesTurnIntoVersionText) {
  struct Case {
    std::string reply, want;
  } cases[] = {
      {"OK1,23,4,56\r", "1.23, 4.56"},
      {"OK2,10", "2.10"},
      {"OK2,10\rjunk,after", "2.10"},
      {"OK1,23,4", "1.23.4"},
      {"ER1,2", "..."},
      {"OK", "..."},
      {"O", "..."},
      {"", "..."},
  };
  for (const Case& c : cases)
    EXPECT_EQ(quaro7::ParseVersionReply(c.reply.data(), c.reply.size()), c.want) << c.reply;
}

TEST(ProtocolVersion, ParserStopsAtTheReceivedBytes) {
  // A buffer with no CR and no zero: only the bytes received count.
  const char reply[8] = {'O', 'K', '7', ',', '8', 'X', 'Y', 'Z'};
  EXPECT_EQ(quaro7::ParseVersionReply(reply, 5), "7.8");
  EXPECT_EQ(quaro7::ParseVersionReply(nullptr, 5), "...");
}

}  // namespace
