#include "platform/posix/mode_string.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using platform::LineControl;
using platform::LineSettings;
using platform::Parity;
using platform::ParseModeString;
using platform::StopBits;

struct Valid {
  const char* mode;
  uint32_t baud;
  Parity parity;
  int dataBits;
  StopBits stopBits;
};

constexpr Parity N = Parity::kNone;
constexpr Parity E = Parity::kEven;
constexpr Parity O = Parity::kOdd;
constexpr Parity M = Parity::kMark;
constexpr Parity S = Parity::kSpace;
constexpr StopBits S1 = StopBits::kOne;
constexpr StopBits S15 = StopBits::kOneAndHalf;
constexpr StopBits S2 = StopBits::kTwo;

const Valid kValid[] = {
    // The connection's default and the abbreviated rates.
    {"96,E,8,1", 9600, E, 8, S1},
    {"11,n,8,1", 110, N, 8, S1},
    {"15,n,8,2", 150, N, 8, S2},
    {"30,o,7,1", 300, O, 7, S1},
    {"60,m,6,1", 600, M, 6, S1},
    {"12,s,8,1", 1200, S, 8, S1},
    {"24,N,8,1", 2400, N, 8, S1},
    {"48,e,8,2", 4800, E, 8, S2},
    {"19,N,8,1", 19200, N, 8, S1},
    // Full rates.
    {"9600,N,8,1", 9600, N, 8, S1},
    {"19200,e,7,1", 19200, E, 7, S1},
    {"38400,n,8,1", 38400, N, 8, S1},
    {"115200,n,8,1", 115200, N, 8, S1},
    // Blanks around fields, a device name in front, 1.5 stop bits.
    {" 96 , e , 8 , 1 ", 9600, E, 8, S1},
    {"COM1: 96,E,8,1", 9600, E, 8, S1},
    {"com12:9600,n,8,1", 9600, N, 8, S1},
    {"COM3 96,N,8,1", 9600, N, 8, S1},
    {"96,n,5,1.5", 9600, N, 5, S15},
    {"96,n,5,1", 9600, N, 5, S1},
    // Omitted trailing fields take even parity, 7 data bits, 1 stop bit;
    // 110 baud defaults to 2 stop bits.
    {"96", 9600, E, 7, S1},
    {"96,N", 9600, N, 7, S1},
    {"96,E,8", 9600, E, 8, S1},
    {"11,n,8", 110, N, 8, S2},
    {"11,n,8,1", 110, N, 8, S1},
    // Keyword form.
    {"baud=9600 parity=e data=8 stop=1", 9600, E, 8, S1},
    {"BAUD=96 PARITY=N DATA=8 STOP=2", 9600, N, 8, S2},
    {"baud=19200", 19200, E, 7, S1},
    {"baud=110 data=8", 110, E, 8, S2},
    {"  data=8   baud=115200 parity=o ", 115200, O, 8, S1},
    {"COM2: baud=9600 parity=n data=8 stop=1 to=on xon=off odsr=off octs=off dtr=off rts=off "
     "idsr=off",
     9600, N, 8, S1},
    {"baud=9600 dtr=hs rts=tg", 9600, E, 7, S1},
    {"baud=4800 baud=9600", 9600, E, 7, S1},
};

TEST(ModeStringTest, AcceptsValidStrings) {
  for (const Valid& v : kValid) {
    SCOPED_TRACE(v.mode);
    LineSettings s;
    ASSERT_TRUE(ParseModeString(v.mode, &s));
    EXPECT_EQ(s.baud, v.baud);
    EXPECT_EQ(s.parity, v.parity);
    EXPECT_EQ(s.dataBits, v.dataBits);
    EXPECT_EQ(s.stopBits, v.stopBits);
  }
}

const char* const kInvalid[] = {
    "",
    "   ",
    "E,8,1",
    "96,",
    "96,,8,1",
    "96,E,",
    "96,E,8,1,",
    "96,Q,8,1",
    "96,EE,8,1",
    "96,E,4,1",
    "96,E,9,1",
    "96,E,8,3",
    "96,E,8,1.0",
    "96,E,8,1.5",  // 1.5 stop bits only with 5 data bits
    "96,E,5,2",    // 2 stop bits not with 5 data bits
    "96,E,8,1,z",
    "96,E,8,1,x,p",
    "96;E;8;1",
    "96 E 8 1",
    "-96,E,8,1",
    "+9600,E,8,1",
    "0,N,8,1",
    "97,E,8,1",
    "14400,N,8,1",
    "4294967296,N,8,1",
    "99999999999999999999,N,8,1",
    "96,E,8,1 trailing",
    "COM1",
    "COM1:",
    "COMx: 96,E,8,1",
    "COM196,E,8,1",
    "baud=",
    "baud=abc",
    "baud=9600x",
    "baud =9600",
    "parity=e data=8 stop=1",
    "baud=9600 parity=x",
    "baud=9600 parity=",
    "baud=9600 data=9",
    "baud=9600 stop=3",
    "baud=9600 to=maybe",
    "baud=9600 xon=1",
    "baud=9600 dtr=tg",
    "baud=9600 rts=hz",
    "baud=9600 speed=fast",
    "baud=9600,parity=e",
    "96,E,8,1 baud=9600",
    "baud=9600 96",
    "baud=9600 parity=e data=8 stop=1.5",
    "=",
};

TEST(ModeStringTest, RejectsMalformedStrings) {
  for (const char* mode : kInvalid) {
    LineSettings s;
    s.baud = 1234;
    EXPECT_FALSE(ParseModeString(mode, &s)) << "'" << mode << "'";
    EXPECT_EQ(s.baud, 1234u) << "rejected string changed the result: '" << mode << "'";
  }
  EXPECT_FALSE(ParseModeString("96,E,8,1", nullptr));
  LineSettings s;
  EXPECT_FALSE(ParseModeString(std::string("96,E\0,8,1", 9), &s));
}

TEST(ModeStringTest, FlowControlOnlyWhenAskedFor) {
  LineSettings s;
  ASSERT_TRUE(ParseModeString("96,E,8,1", &s));
  EXPECT_FALSE(s.xonXoff);
  EXPECT_FALSE(s.ctsFlow);
  EXPECT_FALSE(s.dsrFlow);

  ASSERT_TRUE(ParseModeString("96,E,8,1,x", &s));
  EXPECT_TRUE(s.xonXoff);
  EXPECT_FALSE(s.ctsFlow);

  ASSERT_TRUE(ParseModeString("96,E,8,1,P", &s));
  EXPECT_FALSE(s.xonXoff);
  EXPECT_TRUE(s.ctsFlow);
  EXPECT_TRUE(s.dsrFlow);
  EXPECT_EQ(s.rts, LineControl::kHandshake);

  ASSERT_TRUE(ParseModeString("baud=9600 xon=on octs=on odsr=on idsr=on to=on dtr=hs rts=tg", &s));
  EXPECT_TRUE(s.xonXoff);
  EXPECT_TRUE(s.ctsFlow);
  EXPECT_TRUE(s.dsrFlow);
  EXPECT_TRUE(s.dsrSensitive);
  EXPECT_TRUE(s.writeTimeout);
  EXPECT_EQ(s.dtr, LineControl::kHandshake);
  EXPECT_EQ(s.rts, LineControl::kToggle);

  ASSERT_TRUE(ParseModeString("baud=9600 xon=on xon=off", &s));
  EXPECT_FALSE(s.xonXoff);
}

}  // namespace
