// The telnet client of network lines and the network line address: option
// negotiation without loops, IAC and CR NUL in both directions, the COM port
// option's answers and notifications, and what a line file may say.
#include "comm/telnet_client.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comm/network_address.h"

namespace netline {
namespace {

std::string Bytes(std::initializer_list<int> bytes) {
  std::string out;
  for (int b : bytes) out.push_back(static_cast<char>(b));
  return out;
}

constexpr int IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
constexpr int ECHO = 1, COMPORT = 44;

struct Fed {
  std::string data;
  std::string reply;
};

Fed Feed(TelnetClient& client, const std::string& bytes) {
  Fed fed;
  client.Receive(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &fed.data,
                 &fed.reply);
  return fed;
}

// The same bytes fed one at a time.
Fed FeedBytewise(TelnetClient& client, const std::string& bytes) {
  Fed fed;
  for (char c : bytes)
    client.Receive(reinterpret_cast<const uint8_t*>(&c), 1, &fed.data, &fed.reply);
  return fed;
}

std::string Answer(int code, const std::string& value) {
  return Bytes({IAC, SB, COMPORT, code}) + value + Bytes({IAC, SE});
}

// A device server's greeting as ser2net sends it: the client's offers are
// all taken up without a word more, ECHO is declined.
const std::string kGreeting = Bytes({IAC,  WILL, 3,  IAC, DO,  3,    IAC, WILL, ECHO, IAC,    DONT,
                                     ECHO, IAC,  DO, 0,   IAC, WILL, 0,   IAC,  DO,   COMPORT});

TEST(TelnetClientTest, NegotiatesTheOptionsOnceAndDeclinesTheRest) {
  TelnetClient client;
  EXPECT_EQ(client.Start(),
            Bytes({IAC, WILL, 0, IAC, WILL, 3, IAC, WILL, COMPORT, IAC, DO, 0, IAC, DO, 3}));
  EXPECT_FALSE(client.ComPortAgreed());
  EXPECT_FALSE(client.ComPortRefused());
  const Fed fed = Feed(client, kGreeting);
  EXPECT_EQ(fed.data, "");
  EXPECT_EQ(fed.reply, Bytes({IAC, DONT, ECHO}));
  EXPECT_TRUE(client.ComPortAgreed());
  EXPECT_EQ(client.Local(0), TelnetClient::Option::kYes);
  EXPECT_EQ(client.Remote(0), TelnetClient::Option::kYes);
  // Requests for the state an option is in get no answer (no loops); a
  // withdrawal is acknowledged once; an unknown option is refused each time.
  EXPECT_EQ(Feed(client, Bytes({IAC, DO, COMPORT, IAC, WILL, 0})).reply, "");
  EXPECT_EQ(Feed(client, Bytes({IAC, WONT, 0})).reply, Bytes({IAC, DONT, 0}));
  EXPECT_EQ(Feed(client, Bytes({IAC, WONT, 0})).reply, "");
  EXPECT_EQ(Feed(client, Bytes({IAC, DO, 24})).reply, Bytes({IAC, WONT, 24}));
  EXPECT_EQ(Feed(client, Bytes({IAC, DONT, COMPORT})).reply, Bytes({IAC, WONT, COMPORT}));
  EXPECT_TRUE(client.ComPortRefused());
  EXPECT_EQ(client.SetLine(ComPortSettings()), "");
}

TEST(TelnetClientTest, ServerDecliningTheOptionIsSeen) {
  TelnetClient client;
  client.Start();
  EXPECT_EQ(Feed(client, Bytes({IAC, DONT, COMPORT, IAC, WONT, 0})).reply, "");
  EXPECT_TRUE(client.ComPortRefused());
  EXPECT_EQ(client.Remote(0), TelnetClient::Option::kNo);
}

TEST(TelnetClientTest, DataKeepsEveryByteThroughIacAndCrNul) {
  TelnetClient client;
  client.Start();
  // Before BINARY is agreed a CR NUL is a CR; IAC IAC is one 255.
  EXPECT_EQ(Feed(client, Bytes({'O', 'K', '\r', 0, IAC, IAC, '\r', '\n'})).data,
            std::string("OK\r\xff\r\n"));
  EXPECT_EQ(client.Encode("@1\r\xff", 4), std::string("@1\r\0\xff\xff", 6));
  Feed(client, kGreeting);
  // In BINARY a NUL after CR is data; only IAC is doubled.
  EXPECT_EQ(Feed(client, Bytes({'\r', 0, IAC, IAC})).data, std::string("\r\0\xff", 3));
  EXPECT_EQ(client.Encode("@1\r\xff", 4), std::string("@1\r\xff\xff", 5));
  EXPECT_EQ(client.Encode("", 0), "");
  // Commands carrying nothing (NOP, GA, a stray SE) vanish from the data.
  EXPECT_EQ(Feed(client, Bytes({'A', IAC, 241, 'B', IAC, 249, IAC, SE, 'C'})).data, "ABC");
}

TEST(TelnetClientTest, LineSettingsAreSentAndTheirAnswersChecked) {
  TelnetClient client;
  client.Start();
  Feed(client, kGreeting);
  ComPortSettings settings;
  settings.baud = 0x0001C2FF;  // an IAC inside the value is doubled
  settings.dataSize = 7;
  settings.parity = comport::kParityEven;
  settings.stopSize = comport::kStopTwo;
  EXPECT_EQ(client.SetLine(settings), Answer(1, Bytes({0, 1, 0xC2, IAC, IAC})) +
                                          Answer(2, Bytes({7})) + Answer(3, Bytes({3})) +
                                          Answer(4, Bytes({2})) + Answer(5, Bytes({1})) +
                                          Answer(5, Bytes({9})) + Answer(5, Bytes({12})));
  EXPECT_EQ(client.LineConfirmed(nullptr), TelnetClient::Confirmation::kPending);
  // Answers arrive in any pieces; the control answers are not looked at.
  const std::string answers = Answer(101, Bytes({0, 1, 0xC2, IAC, IAC})) + Answer(102, Bytes({7})) +
                              Answer(105, Bytes({1})) + Answer(103, Bytes({3}));
  EXPECT_EQ(FeedBytewise(client, answers).data, "");
  EXPECT_EQ(client.LineConfirmed(nullptr), TelnetClient::Confirmation::kPending);
  Feed(client, Answer(104, Bytes({2})));
  EXPECT_EQ(client.LineConfirmed(nullptr), TelnetClient::Confirmation::kConfirmed);
  // A server that sets something else is not taken for one that obeyed.
  client.SetLine(settings);
  Feed(client, Answer(103, Bytes({1})));
  std::string what;
  EXPECT_EQ(client.LineConfirmed(&what), TelnetClient::Confirmation::kDiffers);
  EXPECT_EQ(what, "parity 1, not 3");
}

TEST(TelnetClientTest, NotificationsAndRequestsOfTheServer) {
  TelnetClient client;
  client.Start();
  Feed(client, kGreeting);
  EXPECT_EQ(client.Purge(comport::kPurgeReceive), Answer(12, Bytes({1})));
  const Fed fed = Feed(client, Answer(106, Bytes({0x04 | 0x01})) + Answer(107, Bytes({0x30})) +
                                   Answer(108, "") + "x" + Answer(112, Bytes({1})) +
                                   Answer(100, "") + Answer(100, "ser2net"));
  EXPECT_EQ(fed.data, "x");
  EXPECT_EQ(fed.reply, Answer(0, TelnetClient::kSignature));
  EXPECT_EQ(client.LineState(), 0x05);
  EXPECT_EQ(client.ModemState(), 0x30);
  EXPECT_TRUE(client.Suspended());
  EXPECT_EQ(client.PurgesAnswered(), 1u);
  EXPECT_EQ(client.ServerSignature(), "ser2net");
  EXPECT_EQ(client.TakeLineErrors(), 0x04);
  EXPECT_EQ(client.TakeLineErrors(), 0);
  Feed(client, Answer(109, ""));
  EXPECT_FALSE(client.Suspended());
}

TEST(TelnetClientTest, BrokenSubnegotiationsCostNoData) {
  TelnetClient client;
  client.Start();
  Feed(client, kGreeting);
  // Too long: dropped whole, the data after it stays.
  std::string longOne = Bytes({IAC, SB, COMPORT, 100}) +
                        std::string(TelnetClient::kMaxSubnegotiation + 10, 'a') + Bytes({IAC, SE});
  EXPECT_EQ(Feed(client, longOne + "OK\r").data, "OK\r");
  EXPECT_EQ(client.ServerSignature(), "");
  // Cut off by a command: the command is taken, the rest is data again.
  const Fed cut = Feed(client, Bytes({IAC, SB, COMPORT, 101, 0, IAC, WILL, ECHO, 'N', 'I', '\r'}));
  EXPECT_EQ(cut.data, "NI\r");
  EXPECT_EQ(cut.reply, Bytes({IAC, DONT, ECHO}));
  // Other options' subnegotiations and short answers change nothing.
  Feed(client, Bytes({IAC, SB, 24, 1, IAC, SE}) + Answer(106, "") + Answer(101, Bytes({1})));
  EXPECT_EQ(client.LineState(), 0);
}

TEST(NetworkAddressTest, ValidLines) {
  struct Case {
    const char* line;
    Kind kind;
    const char* host;
    int port;
    const char* text;
  };
  const Case cases[] = {
      {"rfc2217://dome-gate.local:4001", Kind::kRfc2217, "dome-gate.local", 4001,
       "rfc2217://dome-gate.local:4001"},
      {"tcp://10.1.2.3:1", Kind::kRawTcp, "10.1.2.3", 1, "tcp://10.1.2.3:1"},
      {"RFC2217://[fd00::7]:65535", Kind::kRfc2217, "fd00::7", 65535, "rfc2217://[fd00::7]:65535"},
      {"\xEF\xBB\xBF\t tcp://[::ffff:127.0.0.1]:7000  ", Kind::kRawTcp, "::ffff:127.0.0.1", 7000,
       "tcp://[::ffff:127.0.0.1]:7000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Address address;
    std::string why;
    ASSERT_TRUE(ParseAddress(c.line, &address, &why)) << why;
    EXPECT_EQ(address.kind, c.kind);
    EXPECT_EQ(address.host, c.host);
    EXPECT_EQ(address.port, c.port);
    EXPECT_EQ(address.Text(), c.text);
  }
}

TEST(NetworkAddressTest, RefusedLinesSayWhy) {
  const std::pair<std::string, const char*> cases[] = {
      {"", "neither"},
      {"rfc2217:/host:1", "neither"},
      {"tcp://:4001", "the host is missing"},
      {"tcp://host:00000", "not a number from 1 to 65535"},
      {"tcp://host:123456", "not a number from 1 to 65535"},
      {"tcp://host:-1", "not a number"},
      {"tcp://host:4001/", "not a number"},
      {"tcp://[fd00::1]4001", "no port after the host"},
      {"tcp://[1.2.3.4]:1", "no IPv6 address"},
      {"tcp://[fd00::1 ]:1", "a character it cannot have"},
      {"tcp://" + std::string(254, 'a') + ":1", "too long"},
      {"tcp://host:4001 extra", "not a number"},
  };
  for (const auto& [line, why] : cases) {
    SCOPED_TRACE(line);
    Address address;
    address.port = 9;
    std::string reason;
    EXPECT_FALSE(ParseAddress(line, &address, &reason));
    EXPECT_NE(reason.find(why), std::string::npos) << reason;
    EXPECT_EQ(address.port, 9);  // untouched
  }
}

}  // namespace
}  // namespace netline
