// Lines over the network: COM ports whose entry beside the library names a
// serial device server (rfc2217:// or tcp://). The domes are the simulator
// served over TCP by itself, or a simulator's pty behind ser2net; every host
// call must give the lines and results a local port gives, the line settings
// must reach the far port, and a server that is missing, declines or drops
// must cost only the calls that meet it.
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "host_fixture.h"

extern char** environ;

namespace q7host {
namespace {

using domesim::NetMode;
using domesim::NetworkServer;
using Lines = std::vector<std::string>;
using std::chrono::milliseconds;

ConnectionConfig Line(const char* name, int com, std::vector<CameraConfig> cameras,
                      const std::string& mode = comm_keys::kDefaultPortMode) {
  ConnectionConfig line;
  line.name = name;
  line.comPort = com;
  line.portMode = mode;
  line.cameras = std::move(cameras);
  return line;
}

template <typename Call>
std::pair<int, int64_t> Timed(Call call) {
  const int64_t start = NowMs();
  const int result = call();
  return {result, NowMs() - start};
}

// A free TCP port of the loopback address (free when asked).
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

bool CanConnect(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

// A listening socket that never answers a connection: its one place in the
// accept queue is taken, so the system drops further requests unanswered.
class SilentServer {
 public:
  SilentServer() {
    listen_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listen_, 0);
    socklen_t length = sizeof address;
    getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    filler_ = socket(AF_INET, SOCK_STREAM, 0);
    connect(filler_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  ~SilentServer() {
    close(filler_);
    close(listen_);
  }
  int Port() const { return port_; }

 private:
  int listen_ = -1;
  int filler_ = -1;
  int port_ = 0;
};

// ser2net in front of a simulator's pty: an RFC 2217 and a raw accepter.
class Ser2net {
 public:
  static bool Installed() { return access("/usr/sbin/ser2net", X_OK) == 0; }

  Ser2net(const std::string& dir, const std::string& device)
      : telnetPort_(FreePort()), rawPort_(FreePort()) {
    const std::string config = dir + "/ser2net.yaml";
    WriteFile(config, Format("connection: &telnet\n"
                             "  accepter: telnet(rfc2217),tcp,127.0.0.1,%d\n"
                             "  connector: serialdev,%s,9600n81,local\n"
                             "  options:\n    kickolduser: true\n"
                             "connection: &raw\n"
                             "  accepter: tcp,127.0.0.1,%d\n"
                             "  connector: serialdev,%s,9600n81,local\n"
                             "  options:\n    kickolduser: true\n",
                             telnetPort_, device.c_str(), rawPort_, device.c_str()));
    const std::string pidFile = dir + "/ser2net.pid";
    std::vector<std::string> args = {"/usr/sbin/ser2net", "-n", "-u", "-c", config, "-P", pidFile};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    // Listening once both ports take a connection.
    const int64_t deadline = NowMs() + 5000;
    while (pid_ > 0 && NowMs() < deadline && !(CanConnect(telnetPort_) && CanConnect(rawPort_)))
      std::this_thread::sleep_for(milliseconds(20));
  }
  ~Ser2net() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  bool Running() const { return pid_ > 0 && CanConnect(telnetPort_); }
  int TelnetPort() const { return telnetPort_; }
  int RawPort() const { return rawPort_; }

 private:
  int telnetPort_;
  int rawPort_;
  pid_t pid_ = -1;
};

class NetworkLineTest : public HostTest {
 protected:
  // A dome on a pty of its own, not published as a link: the network line
  // file (or a server in front of it) is what the driver finds.
  domesim::DomeSimulator& Dome(int com) {
    auto& slot = domes_[com];
    if (!slot) slot = std::make_unique<domesim::DomeSimulator>();
    return *slot;
  }
  // The dome on COM n served by the simulator itself, published as COM n.
  NetworkServer& Served(int com, NetMode mode) {
    auto& slot = servers_[com];
    if (!slot) {
      slot = std::make_unique<NetworkServer>(Dome(com), mode);
      slot->Publish(Dir(), com);
    }
    return *slot;
  }
  void WriteLineFile(int com, const std::string& text) {
    std::string ports = Dir() + "/ports";
    mkdir(ports.c_str(), 0755);
    WriteFile(ports + "/COM" + std::to_string(com), text);
  }
  Lines DomeWire(int com) { return Dome(com).TakeLines(); }

  void TearDown() override {
    Unload();
    servers_.clear();
    domes_.clear();
    HostTest::TearDown();
  }

  std::map<int, std::unique_ptr<domesim::DomeSimulator>> domes_;
  std::map<int, std::unique_ptr<NetworkServer>> servers_;
};

// The calls of a small host session on an open camera, with their results.
std::vector<int> Session(const Api& a, int handle) {
  return {a.VRT_CamLeft(handle, 5),
          a.VRT_CamLeft(handle, 0),
          a.VRT_CamUpRight(handle, 9),
          a.VRT_CamUpRight(handle, 0),
          a.VRT_CamZoom(handle, 1, 3),
          a.VRT_CamZoom(handle, 1, 0),
          a.VRT_CamSetPrePosition(handle, 0, "Door"),
          a.VRT_CamMoveToPrePosition(handle, 0, 50),
          a.VRT_CamSetRelay(handle, 0, 1, 0),
          a.VRT_CamSetRelay(handle, 0, 0, 0)};
}

TEST_F(NetworkLineTest, BothModesGiveTheResultsAndLinesOfALocalPort) {
  WriteSettings({Line("Local", 33, {Camera("A", 0, 5)}), Line("Raw", 34, {Camera("B", 1, 5)}),
                 Line("Telnet", 35, {Camera("C", 2, 5)})});
  Simulator(33);
  Served(34, NetMode::kRaw);
  Served(35, NetMode::kRfc2217);
  ASSERT_EQ(Init(), 1);
  const Api& a = api();
  const int local = Open(0);
  const int raw = Open(1);
  const int telnet = Open(2);
  ASSERT_TRUE(local != 0 && raw != 0 && telnet != 0);
  const Lines opening = Wire(33);
  EXPECT_FALSE(opening.empty());
  EXPECT_EQ(DomeWire(34), opening);
  EXPECT_EQ(DomeWire(35), opening);

  const std::vector<int> results = Session(a, local);
  EXPECT_EQ(results, std::vector<int>(results.size(), 1));
  EXPECT_EQ(Session(a, raw), results);
  EXPECT_EQ(Session(a, telnet), results);
  const Lines lines = Wire(33);
  EXPECT_EQ(DomeWire(34), lines);
  EXPECT_EQ(DomeWire(35), lines);
  EXPECT_EQ(Dome(35).State(128, 5).presets.size(), 1u);
  EXPECT_EQ(Dome(34).State(128, 5).last_recalled, Simulator(33).State(128, 5).last_recalled);
  // The raw line says once that the server's settings apply; the telnet
  // line purged the server's buffer before each line it sent.
  EXPECT_EQ(CountLogLines(Format("NetLine.Open: COM34 is the raw TCP line %s: the device "
                                 "server's own line settings apply",
                                 Served(34, NetMode::kRaw).Url().c_str())),
            1);
  EXPECT_GE(static_cast<size_t>(Served(35, NetMode::kRfc2217).Settings().purges), lines.size());
  EXPECT_EQ(Served(34, NetMode::kRaw).Connections(), 1u);
  EXPECT_EQ(Served(35, NetMode::kRfc2217).Connections(), 1u);
  for (int handle : {local, raw, telnet}) EXPECT_EQ(a.VRT_CamClose(handle), 1);
  EXPECT_EQ(Exit(), 1);
}

// A dome answering garbage, off line or too late behaves on a network line
// as on a local one: the same re-sends, the same results.
TEST_F(NetworkLineTest, FaultyDomesCostTheSameResendsAsOnALocalPort) {
  WriteSettings({Line("Local", 33, {Camera("A", 0, 5)}), Line("Telnet", 35, {Camera("C", 1, 5)})});
  Simulator(33);
  Served(35, NetMode::kRfc2217);
  ASSERT_EQ(Init(), 1);
  const Api& a = api();
  const int local = Open(0);
  const int telnet = Open(1);
  Wire(33);
  DomeWire(35);
  for (domesim::ReplyMode mode : {domesim::ReplyMode::kGarbage, domesim::ReplyMode::kOl,
                                  domesim::ReplyMode::kShort, domesim::ReplyMode::kNi}) {
    SCOPED_TRACE(domesim::ReplyModeName(mode));
    Simulator(33).SetReplyMode(mode);
    Dome(35).SetReplyMode(mode);
    const int localResult = a.VRT_CamRight(local, 7);
    EXPECT_EQ(a.VRT_CamRight(telnet, 7), localResult);
    EXPECT_EQ(DomeWire(35), Wire(33));
  }
  // IAC (255) in an answer is undoubled on the way in: a 255 byte is no
  // accepted answer and is re-sent as on the local line.
  Simulator(33).SetReplyMode(domesim::ReplyMode::kOk);
  Dome(35).SetReplyMode(domesim::ReplyMode::kOk);
  Simulator(33).QueueReply("\xff\xff\r");
  Dome(35).QueueReply("\xff\xff\r");
  const int localResult = a.VRT_CamRight(local, 0);
  EXPECT_EQ(a.VRT_CamRight(telnet, 0), localResult);
  EXPECT_EQ(DomeWire(35), Wire(33));
}

struct FarSettingsCase {
  const char* mode;
  int64_t baud;
  int dataSize, parity, stopSize;
  bool odd, markSpace, twoStop;
};

TEST_F(NetworkLineTest, Rfc2217SetsTheFarLineFromThePortMode) {
  const FarSettingsCase cases[] = {
      {"48,O,8,2", 4800, 8, 2, 2, true, false, true},
      {"96,E,7,1", 9600, 7, 3, 1, false, false, false},
      {"baud=19200 parity=m data=8 stop=1", 19200, 8, 4, 1, true, true, false},
      {"115200,n,8,1", 115200, 8, 1, 1, false, false, false},
      {"11,N,5,1.5", 110, 5, 1, 3, false, false, true},
  };
  int com = 41;
  std::vector<ConnectionConfig> lines;
  for (const FarSettingsCase& c : cases) {
    lines.push_back(Line("L", com, {Camera("C", com - 41, 5)}, c.mode));
    lines.back().name = "Line " + std::to_string(com);
    Served(com++, NetMode::kRfc2217);
  }
  WriteSettings(lines);
  ASSERT_EQ(Init(), 1);
  com = 41;
  for (const FarSettingsCase& c : cases) {
    SCOPED_TRACE(c.mode);
    const int handle = Open(com - 41);
    ASSERT_NE(handle, 0);
    const domesim::RemoteLineSettings far = Served(com, NetMode::kRfc2217).Settings();
    EXPECT_TRUE(far.option_agreed);
    EXPECT_EQ(far.baud, c.baud);
    EXPECT_EQ(far.data_size, c.dataSize);
    EXPECT_EQ(far.parity, c.parity);
    EXPECT_EQ(far.stop_size, c.stopSize);
    // No flow control, DTR and RTS off, as a local port holds them.
    EXPECT_EQ(far.controls, (std::vector<int>{1, 9, 12}));
    const domesim::PtyLineSettings pty = Dome(com).LineSettings();
    EXPECT_EQ(pty.baud, static_cast<unsigned>(c.baud));
    EXPECT_EQ(pty.parity_odd, c.odd);
    EXPECT_EQ(pty.mark_space, c.markSpace);
    EXPECT_EQ(pty.two_stop_bits, c.twoStop);
    ++com;
  }
}

TEST_F(NetworkLineTest, ModeStringsALocalPortRefusesAreRefusedOnBothKinds) {
  WriteSettings({Line("Telnet", 35, {Camera("C", 0, 5)}, "96,Q,8,1"),
                 Line("Raw", 34, {Camera("B", 1, 6)}, "96,N,9,1")});
  Served(35, NetMode::kRfc2217);
  Served(34, NetMode::kRaw);
  ASSERT_EQ(Init(), 1);
  int handle = 0;
  EXPECT_EQ(api().VRT_CamOpen(0, &handle), -8);
  EXPECT_EQ(api().VRT_CamOpen(1, &handle), -8);
  EXPECT_TRUE(LogContains(Format("COMM(%s).Open: Invalid port mode string '96,Q,8,1'",
                                 Served(35, NetMode::kRfc2217).Url().c_str())));
  EXPECT_TRUE(DomeWire(35).empty());
  EXPECT_TRUE(DomeWire(34).empty());
}

TEST_F(NetworkLineTest, ServerThatIsNotThereAnswersMinus8WithinTheConnectTimeOut) {
  SilentServer silent;
  const int refusedPort = FreePort();
  WriteSettings(
      {Line("Refused", 36, {Camera("A", 0, 5)}), Line("Silent", 37, {Camera("B", 1, 6)})});
  WriteLineFile(36, Format("tcp://127.0.0.1:%d\n", refusedPort));
  WriteLineFile(37, Format("rfc2217://127.0.0.1:%d\n", silent.Port()));
  ASSERT_EQ(Init(), 1);
  const Api& a = api();
  int handle = 0;
  auto [refused, refusedMs] = Timed([&] { return a.VRT_CamOpen(0, &handle); });
  EXPECT_EQ(refused, -8);
  EXPECT_EQ(handle, -1);
  EXPECT_LT(refusedMs, 1000);
  EXPECT_TRUE(
      LogContains(Format("NetLine.Open: COM36: tcp://127.0.0.1:%d not reachable: "
                         "Connection refused",
                         refusedPort)));
  EXPECT_TRUE(HasLogLine("COMM.Open FAILED: Serial Error (Com port 36, Windows error code 111)"));
  auto [silentResult, silentMs] = Timed([&] { return a.VRT_CamOpen(1, &handle); });
  EXPECT_EQ(silentResult, -8);
  EXPECT_GE(silentMs, 2900);
  EXPECT_LT(silentMs, 4500);
  EXPECT_TRUE(
      LogContains(Format("NetLine.Open: COM37: rfc2217://127.0.0.1:%d not reachable: "
                         "timed out after 3000 ms",
                         silent.Port())));
}

TEST_F(NetworkLineTest, MalformedLineFilesAnswerMinus8AndTheLogQuotesThem) {
  struct Case {
    std::string text;
    const char* quoted;
    const char* why;
  };
  const Case cases[] = {
      {"", "", "it starts with neither rfc2217:// nor tcp://"},
      {"/dev/ttyUSB0\n", "/dev/ttyUSB0", "it starts with neither rfc2217:// nor tcp://"},
      {"telnet://server:4001", "telnet://server:4001", "it starts with neither"},
      {"rfc2217://", "rfc2217://", "the host is missing"},
      {"tcp://server", "tcp://server", "no port after the host"},
      {"tcp://server:", "tcp://server:", "the port is missing"},
      {"tcp://server:0", "tcp://server:0", "the port is not a number from 1 to 65535"},
      {"tcp://server:65536", "tcp://server:65536", "the port is not a number from 1 to 65535"},
      {"tcp://server:40 01", "tcp://server:40 01", "the port is not a number"},
      {"tcp://fd00::1:4001", "tcp://fd00::1:4001", "an IPv6 address goes in brackets"},
      {"tcp://[fd00::1:4001", "tcp://[fd00::1:4001", "no closing bracket"},
      {"tcp://[]:4001", "tcp://[]:4001", "there is no IPv6 address in the brackets"},
      {"tcp://se rver:4001", "tcp://se rver:4001", "the host has a character"},
      {std::string("tcp://a\x01\xff:1\n", 12), "tcp://a\\x01\\xFF:1", "the host has a character"},
      {"\ntcp://server:4001", "", "it starts with neither"},
      {std::string(2000, 'x'), "xxxxxxxxxx", "it starts with neither"},
  };
  int com = 1;
  std::vector<ConnectionConfig> lines;
  for (const Case& c : cases) {
    lines.push_back(Line("L", com, {Camera("C", com - 1, 5)}));
    lines.back().name = "Line " + std::to_string(com);
    WriteLineFile(com++, c.text);
  }
  WriteSettings(lines);
  ASSERT_EQ(Init(), 1);
  com = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.quoted);
    int handle = 0;
    auto [result, ms] = Timed([&] { return api().VRT_CamOpen(com - 1, &handle); });
    EXPECT_EQ(result, -8);
    EXPECT_LT(ms, 500);
    const std::string file = Dir() + "/ports/COM" + std::to_string(com);
    EXPECT_TRUE(
        LogContains(Format("NetLine.Open: COM%d: %s names no network line (", com, file.c_str())));
    EXPECT_TRUE(LogContains(std::string("): \"") + c.quoted));
    EXPECT_TRUE(LogContains(c.why));
    ++com;
  }
}

TEST_F(NetworkLineTest, LineFilesFromOtherEditorsAreReadAsLines) {
  WriteSettings({Line("Bom", 38, {Camera("A", 0, 5)}), Line("Spaces", 39, {Camera("B", 1, 6)}),
                 Line("Ipv6", 40, {Camera("C", 2, 7)})});
  NetworkServer& bom = Served(38, NetMode::kRfc2217);
  NetworkServer& spaces = Served(39, NetMode::kRaw);
  WriteLineFile(38, "\xEF\xBB\xBF" + bom.Url() + "\r\n# the gate\r\n");
  WriteLineFile(39, " \t" + spaces.Url() + " \n");
  // IPv6 in brackets: a loopback address that refuses, named in the log as
  // written.
  WriteLineFile(40, Format("TCP://[::1]:%d", FreePort()));
  ASSERT_EQ(Init(), 1);
  EXPECT_NE(Open(0), 0);
  EXPECT_NE(Open(1), 0);
  int handle = 0;
  EXPECT_EQ(api().VRT_CamOpen(2, &handle), -8);
  EXPECT_TRUE(LogContains("NetLine.Open: COM40: tcp://[::1]:"));
  EXPECT_FALSE(DomeWire(38).empty());
  EXPECT_FALSE(DomeWire(39).empty());
}

TEST_F(NetworkLineTest, ServerDecliningTheComPortOptionIsNotTakenForOne) {
  WriteSettings({Line("Telnet", 35, {Camera("C", 0, 5)})});
  Served(35, NetMode::kRfc2217).SetDeclineComPort(true);
  ASSERT_EQ(Init(), 1);
  int handle = 0;
  auto [result, ms] = Timed([&] { return api().VRT_CamOpen(0, &handle); });
  EXPECT_EQ(result, -8);
  EXPECT_LT(ms, 1000);
  EXPECT_TRUE(LogContains(Format("NetLine.Open: COM35: %s refuses the COM port option",
                                 Served(35, NetMode::kRfc2217).Url().c_str())));
  EXPECT_TRUE(DomeWire(35).empty());
}

TEST_F(NetworkLineTest, DropDuringAReplyWaitFailsThatCallAndTheNextCallReconnects) {
  WriteSettings({Line("Telnet", 35, {Camera("Gate", 0, 5)}, "48,O,8,2")});
  NetworkServer& server = Served(35, NetMode::kRfc2217);
  ASSERT_EQ(Init(), 1);
  const Api& a = api();
  const int handle = Open(0);
  ASSERT_NE(handle, 0);
  DomeWire(35);
  Dome(35).SetDelayMs(1500);  // the answer never comes: the server goes first
  auto call = std::async(std::launch::async,
                         [&] { return Timed([&] { return a.VRT_CamSetRelay(handle, 0, 1, 0); }); });
  ASSERT_TRUE(Dome(35).WaitForLines(1, 2000));
  const int64_t gone = NowMs();
  server.SetRefusing(true);
  auto [result, took] = call.get();
  EXPECT_EQ(result, -4);
  EXPECT_LT(NowMs() - gone, 1500);
  EXPECT_LT(took, 3000);
  EXPECT_TRUE(LogContains(Format("NetLine: COM35: connection to %s lost: ", server.Url().c_str())));
  EXPECT_TRUE(LogContains("Serial.ReadData: Serial port read error"));
  // While the server is away every call fails at once.
  auto [moved, moveMs] = Timed([&] { return a.VRT_CamLeft(handle, 5); });
  EXPECT_EQ(moved, -4);
  EXPECT_LT(moveMs, 1000);
  // Back: the next call connects again, sends the settings afresh and works.
  Dome(35).SetDelayMs(0);
  server.SetRefusing(false);
  DomeWire(35);
  EXPECT_EQ(a.VRT_CamLeft(handle, 0), 1);
  EXPECT_EQ(a.VRT_CamLeft(handle, 6), 1);
  EXPECT_TRUE(
      LogContains(Format("NetLine.Write: COM35: connected again to %s", server.Url().c_str())));
  EXPECT_EQ(server.Settings().baud, 4800);
  EXPECT_EQ(server.Settings().parity, 2);
  EXPECT_EQ(Dome(35).State(128, 5).pan, domesim::PanMotion::kLeft);
  EXPECT_EQ(a.VRT_CamClose(handle), 1);
  EXPECT_FALSE(LogContains("Access imbalance"));
}

TEST_F(NetworkLineTest, DropBetweenCallsCostsNoCall) {
  WriteSettings({Line("Raw", 34, {Camera("Gate", 0, 5)})});
  NetworkServer& server = Served(34, NetMode::kRaw);
  ASSERT_EQ(Init(), 1);
  const int handle = Open(0);
  ASSERT_NE(handle, 0);
  for (int round = 0; round < 3; ++round) {
    server.Drop();
    EXPECT_EQ(api().VRT_CamDown(handle, 3 + round), 1);
  }
  EXPECT_EQ(server.Connections(), 4u);
  EXPECT_EQ(Dome(34).State(128, 5).tilt, domesim::TiltMotion::kDown);
}

// Two cameras share one network line; host threads call both at once, the
// server drops the connection in the middle, and every call made while the
// server is there succeeds: the line is reconnected once for both.
TEST_F(NetworkLineTest, TwoCamerasShareANetworkLineUnderLoad) {
  WriteSettings({Line("Shared", 35, {Camera("Gate", 0, 5), Camera("Yard", 1, 6)})});
  NetworkServer& server = Served(35, NetMode::kRfc2217);
  ASSERT_EQ(Init(), 1);
  const Api& a = api();
  const int gate = Open(0);
  const int yard = Open(1);
  ASSERT_TRUE(gate != 0 && yard != 0);
  constexpr int kCalls = 40;
  std::atomic<int> failures{0};
  auto drive = [&](int handle, bool pan) {
    for (int i = 0; i < kCalls; ++i) {
      const int speed = 1 + i % 16;
      const int result = pan ? a.VRT_CamLeft(handle, speed) : a.VRT_CamDown(handle, speed);
      if (result != 1) ++failures;
      if (i == kCalls / 2 && pan) server.Drop();
    }
  };
  std::thread first(drive, gate, true);
  std::thread second(drive, yard, false);
  first.join();
  second.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(server.Connections(), 2u);
  EXPECT_EQ(Dome(35).State(128, 5).pan, domesim::PanMotion::kLeft);
  EXPECT_EQ(Dome(35).State(128, 6).tilt, domesim::TiltMotion::kDown);
  EXPECT_EQ(Dome(35).State(128, 5).tilt, domesim::TiltMotion::kStopped);
  EXPECT_EQ(Dome(35).State(128, 6).pan, domesim::PanMotion::kStopped);
  // Every line reached the dome whole and was understood.
  for (const domesim::ReceivedLine& line : Dome(35).Records()) EXPECT_TRUE(line.valid) << line.line;
  EXPECT_EQ(a.VRT_CamClose(gate), 1);
  EXPECT_EQ(a.VRT_CamClose(yard), 1);
}

TEST_F(NetworkLineTest, Ser2netCarriesBothModesAndTakesTheLineSettings) {
  if (!Ser2net::Installed()) GTEST_SKIP() << "ser2net is not installed (scripts/install-deps)";
  WriteSettings({Line("Local", 33, {Camera("A", 0, 5)}),
                 Line("Telnet", 35, {Camera("C", 1, 5)}, "48,O,8,2"),
                 Line("Raw", 34, {Camera("B", 2, 5)}, "48,O,8,2")});
  Simulator(33);
  Ser2net telnet(Dir(), Dome(35).SlavePath());
  ASSERT_TRUE(telnet.Running());
  WriteLineFile(35, Format("rfc2217://localhost:%d\n", telnet.TelnetPort()));
  ASSERT_EQ(Init(), 1);
  const Api& a = api();
  const int local = Open(0);
  const int far = Open(1);
  ASSERT_TRUE(local != 0 && far != 0);
  const domesim::PtyLineSettings pty = Dome(35).LineSettings();
  EXPECT_EQ(pty.baud, 4800u);
  EXPECT_TRUE(pty.parity_odd);
  EXPECT_TRUE(pty.two_stop_bits);
  EXPECT_EQ(DomeWire(35), Wire(33));
  const std::vector<int> results = Session(a, local);
  const Lines lines = Wire(33);
  EXPECT_EQ(Session(a, far), results);
  EXPECT_EQ(DomeWire(35), lines);
  EXPECT_EQ(a.VRT_CamClose(far), 1);
  // The same pty through ser2net's raw accepter: the lines are the same
  // and ser2net's own settings (9600 baud, no parity) apply.
  WriteLineFile(34, Format("tcp://127.0.0.1:%d\n", telnet.RawPort()));
  const int raw = Open(2);
  ASSERT_NE(raw, 0);
  EXPECT_EQ(Dome(35).LineSettings().baud, 9600u);
  EXPECT_FALSE(Dome(35).LineSettings().parity_odd);
  DomeWire(35);
  EXPECT_EQ(Session(a, raw), results);
  EXPECT_EQ(DomeWire(35), lines);
}

}  // namespace
}  // namespace q7host
