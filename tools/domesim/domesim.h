// QUARO7 dome simulator: a pseudo-terminal that answers like one or more
// QUARO7 domes on a serial line, with a model of what the domes do.
//
// The simulator opens a pty, keeps its slave side open itself (so the master
// never sees a hang-up while no driver has the port open) and can publish the
// slave as <dir>/ports/COM<n>, where the driver's POSIX port layer finds it.
// A reader thread splits what the driver writes into CR-terminated lines,
// records each line with a decoded text, lets the dome model act on it and
// answers it.
//
// Answers. A real dome answers every line with two letters and a carriage
// return ("OK\r", 3 bytes: exactly what the driver reads). The reply mode
// chooses the answer:
//   ok      "OK\r" for a line the dome understands, "ER\r" for one it does not
//           (unknown command or function, wrong argument count, value out of
//           range, no "@"/"$" prefix, overlong or empty line); the version
//           query "@55" gets the version reply, default "OK1,23,4,56\r".
//   ni      "NI\r" for every line.
//   ol      "OL\r" for every line: the remote node is off line.
//   er      "ER\r" for every line.
//   silent  no answer at all.
//   garbage two random bytes that are not letters, then "\r" (3 bytes, so the
//           driver's read returns at once and it re-sends).
//   short   "O\r": an answer cut short, ended by its carriage return.
//   cr      "\r" alone.
// Scripted replies, queued with QueueReply(), are used one per line before the
// mode applies again; they are sent byte for byte (an empty one means no
// answer). An optional delay is waited before each answer; a scripted reply
// may bring its own delay instead (a dome that answers one line late).
//
// Babble. Independently of the answers, a babbling dome sends bytes nobody
// asked for at a fixed interval (SetBabble): a chunk given by the caller, or
// random printable bytes mixed with carriage returns. Babble pauses while an
// answer is being delayed and stops with SetBabble(0).
//
// The dome acts on a well-formed line unless its answer is "OL" (the line never
// reached the dome) or "ER" (the dome refused it); a lost, garbled or short
// answer (silent, garbage, short, cr) does not undo what the dome did.
//
// Every command is understood in both forms; an addressed line must name a
// node 0..127 ("$128,2,1" names none and is not understood).
//
// Dome model. Each node (0..127 for the addressed form "$n,...", 128 for the
// direct form "@...") remembers its selected monitor (command 2) and camera
// (command 3); until a camera is selected its commands go to camera address 0.
// Commands 4..16 act on the dome (node, selected camera); the menu keys
// (command 47) on the dome selected on the node the line names. Functions of
// commands 5 and 6 are keys held and released: each is on or off on its own,
// and two opposite keys held together (pan left and pan right) cancel. Pan and
// tilt speeds come from command 7; the simulated position turns by 1 degree per
// second per percent of speed (pan wraps at 360, tilt stays within 0..90, 0 the
// horizon). Presets store and recall the position; a reset (command 4) stops
// everything, homes the dome and erases its presets.
//
// Thread safety: every member function may be called from any thread while the
// reader thread runs. The trace sink is called on the reader thread without any
// lock of the simulator held; it may call any member except Hangup(), Reopen()
// and Close(), which wait for the reader thread.
//
// The slave's receive queue is not flushed when a driver closes the port: an
// answer the driver did not read (after a long delay) waits for the next user,
// as on a real line.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace domesim {

// Node address of a dome addressed in the direct form ("@...").
constexpr int kDirectNode = 128;
// Longest command line (without its CR) the dome accepts.
constexpr size_t kMaxLineLength = 63;
constexpr int kMaxMonitor = 16;
constexpr int kMaxPresetLocation = 256;

// ---------------------------------------------------------------- protocol

enum class ReplyMode { kOk, kSilent, kNi, kOl, kEr, kGarbage, kShort, kCr };

// Every mode, in the order above.
const std::vector<ReplyMode>& AllReplyModes();
// "ok", "silent", "ni", "ol", "er", "garbage", "short", "cr".
const char* ReplyModeName(ReplyMode mode);
std::optional<ReplyMode> ParseReplyMode(std::string_view name);

// One line as the dome reads it.
struct Command {
  bool valid = false;
  std::string error;       // why the dome does not understand it
  int node = kDirectNode;  // 0..127 for the addressed form
  int number = -1;         // command number, -1 when not even that was read
  std::vector<int> args;   // numeric arguments
};

// Parses a line without its CR.
Command ParseLine(std::string_view line);

// Human-readable meaning: "speed pan 70% tilt 1%", "node 7: start pan left",
// "not understood: unknown function 17".
std::string DescribeCommand(const Command& command);
std::string DescribeLine(std::string_view line);

// Name of a function code of commands 5 and 6 ("pan left", "AUX1"); empty for
// a code the dome does not know.
std::string FunctionName(int code);

// Printable form of raw bytes: CR as \r, LF as \n, others below 0x20 or above
// 0x7e as \xNN.
std::string EscapeBytes(std::string_view bytes);

// ---------------------------------------------------------------- dome model

enum class PanMotion { kStopped, kLeft, kRight };
enum class TiltMotion { kStopped, kUp, kDown };

struct Position {
  double pan = 0.0;   // degrees, 0..360
  double tilt = 0.0;  // degrees below the horizon, 0..90
};

// What a node has selected.
struct NodeSelection {
  int monitor = 0;  // 0: none selected yet
  int camera = 0;
};

// Snapshot of one dome.
struct DomeState {
  int node = kDirectNode;
  int camera = 0;
  bool known = false;     // the dome has been selected or commanded
  bool selected = false;  // it is its node's selected camera
  int monitor = 0;        // monitor it was last switched onto (0: none)

  std::vector<int> functions;  // function codes switched on, ascending
  PanMotion pan = PanMotion::kStopped;
  TiltMotion tilt = TiltMotion::kStopped;
  int pan_speed = 0;  // percent from command 7; 0 before any
  int tilt_speed = 0;
  int zoom = -1;   // active zoom mode: 0 (function 6), 1 (7), -1 none
  int focus = -1;  // 0 (8), 1 (9), -1
  int iris = -1;   // 0 (11), 1 (10), -1
  bool lens_slow = false;
  bool follow_up = false;
  bool aux1 = false, aux2 = false, aux3 = false;
  bool washer = false, wiper = false, lamps = false;

  bool menu_open = false;
  int last_menu_key = -1;  // 0..5, -1 none
  int menu_keys = 0;       // keys pressed while the menu was open

  Position position;
  std::map<int, Position> presets;  // by location
  int last_recalled = 0;            // location, 0 none
  int last_recall_speed = 0;        // percent, 100 for command 8
  int resets = 0;

  bool IsOn(int function) const;
};

// One line per dome: "[node 7 cam 5] mon 1 | pan left 70% tilt - 1% | zoom - focus 0
// iris - | on: lens slow AUX1 | presets 2 | at 123.4/5.0".
std::string FormatStatus(const DomeState& state, bool with_position = true);

// The domes on one line. Not thread-safe; DomeSimulator guards its own.
class DomeModel {
 public:
  using Clock = std::chrono::steady_clock;

  // Acts on a valid command received at `now`; ignores an invalid one.
  void Apply(const Command& command, Clock::time_point now);
  DomeState State(int node, int camera, Clock::time_point now) const;
  // Every dome selected or commanded so far, by node and camera.
  std::vector<DomeState> Domes(Clock::time_point now) const;
  NodeSelection Selection(int node) const;
  void Clear();

 private:
  struct Dome {
    int monitor = 0;
    std::vector<bool> on = std::vector<bool>(32, false);
    int pan_speed = 0, tilt_speed = 0;
    Position position;
    Clock::time_point moved_at{};
    std::map<int, Position> presets;
    int last_recalled = 0, last_recall_speed = 0;
    bool menu_open = false;
    int last_menu_key = -1, menu_keys = 0;
    int resets = 0;
  };
  static void Advance(Dome& dome, Clock::time_point now);
  DomeState Snapshot(int node, int camera, const Dome* dome, Clock::time_point now) const;
  Dome& Target(int node);

  std::map<std::pair<int, int>, Dome> domes_;
  std::map<int, NodeSelection> nodes_;
};

// ---------------------------------------------------------------- simulator

// A line as received, with what the dome made of it.
struct ReceivedLine {
  std::string line;  // without the CR
  std::string text;  // DescribeLine(line)
  bool valid = false;
  bool acted = false;  // the dome model acted on it
  std::string reply;   // bytes answered (empty: none)
  std::chrono::steady_clock::time_point when;
};

// "@7,70,1  speed pan 70% tilt 1%  -> "OK\r"".
std::string FormatReceivedLine(const ReceivedLine& line);

class DomeSimulator;
class NetworkServer;

// One control command for a running simulator, as the quaro7-domesim tool
// reads them from its standard input:
//   reply MODE      answer mode (ok, silent, ni, ol, er, garbage, short, cr)
//   delay MS        wait before each answer
//   babble MS       send random bytes unasked every MS ms (0 stops)
//   hangup          the port vanishes (pty closed, link removed)
//   reopen          a fresh pty published under the same link
//   outage MS       hangup, MS ms later reopen
//   status          the current settings
// and, when the dome is also served over TCP (net not null):
//   drop            the server ends the client's connection
//   refuse          connections are refused from now on (and the current
//                   one is dropped)
//   accept          connections are taken again
// Returns what was done ("reply silent"); throws std::invalid_argument for a
// command it does not know or a bad argument. Blank lines and lines starting
// with '#' do nothing and return "".
std::string RunControlCommand(DomeSimulator& sim, std::string_view line,
                              NetworkServer* net = nullptr);

// The line settings of the pty as the far side set them. A pseudo-terminal
// keeps no character size and no parity enable bit, but it keeps the speed,
// odd parity, mark/space parity and two stop bits.
struct PtyLineSettings {
  unsigned baud = 0;  // 0 when the speed is none of the standard ones
  bool parity_odd = false;
  bool mark_space = false;
  bool two_stop_bits = false;
};

class DomeSimulator {
 public:
  // Opens the pty and starts answering. Throws std::system_error on failure.
  DomeSimulator();
  ~DomeSimulator();
  DomeSimulator(const DomeSimulator&) = delete;
  DomeSimulator& operator=(const DomeSimulator&) = delete;

  // The pty slave ("/dev/pts/4"); empty while hung up or closed.
  std::string SlavePath() const;
  bool IsOpen() const;

  // Makes the port visible as <dir>/ports/COM<com> (a symlink to the slave),
  // creating <dir>/ports and replacing a stale symlink there. Throws
  // std::system_error, or std::invalid_argument for com < 1 or a non-link in
  // the way. A previous publication is withdrawn first.
  void Publish(const std::string& dir, int com);
  // Removes the link (only while it still points at this simulator's slave).
  void Unpublish();
  // The link's path; empty when not published.
  std::string PublishedPath() const;

  // The port vanishes: stops the reader, closes master and slave and removes
  // the link. A driver holding the slave open sees POLLHUP; its reads return
  // end of file and its writes fail with EIO. Records and model are kept.
  void Hangup();
  // After Hangup(): a fresh pty, published again where it was. No-op while
  // open. Throws std::system_error on failure.
  void Reopen();
  // Hangup() and forget the publication. The destructor calls it.
  void Close();

  // Reply behaviour, effective for the next line received.
  void SetReplyMode(ReplyMode mode);
  ReplyMode GetReplyMode() const;
  void SetDelayMs(int ms);  // negative counts as 0
  int DelayMs() const;
  // Bytes answered to the next line not yet covered by earlier queued
  // replies; "" means no answer. Example: QueueReply("XX\r").
  void QueueReply(std::string raw);
  // The same, answered after delay_ms instead of the delay set for all lines.
  void QueueReply(std::string raw, int delay_ms);
  size_t QueuedReplies() const;
  void ClearQueuedReplies();
  // Answer to "@55" in ok mode, sent as given (include the CR).
  void SetVersionReply(std::string raw);
  // Sends `chunk` unasked every interval_ms (0 or less stops); an empty chunk
  // means 8 random bytes each time (printable, about one in six a CR). Takes
  // effect within about 50 ms. Bytes that do not fit the line are lost.
  void SetBabble(int interval_ms, std::string chunk = {});
  int BabbleIntervalMs() const;
  // Chunks babbled so far.
  size_t BabbleCount() const;

  // Lines received since the last TakeLines()/ClearLines().
  std::vector<std::string> Lines() const;
  std::vector<ReceivedLine> Records() const;
  std::vector<std::string> TakeLines();
  // True once at least n lines are recorded, false after timeout_ms.
  bool WaitForLines(size_t n, int timeout_ms) const;
  // Lines answered since the simulator started: the answer written after its
  // delay, or none due (silent). TakeLines() and ClearLines() keep the count.
  size_t AnsweredCount() const;
  // True once AnsweredCount() reaches n, false after timeout_ms.
  bool WaitForAnswered(size_t n, int timeout_ms) const;
  void ClearLines();

  // Dome model (node 128 for the direct form).
  DomeState State(int node, int camera) const;
  std::vector<DomeState> Domes() const;
  NodeSelection Selection(int node) const;
  void ResetModel();

  // Called with FormatReceivedLine() of every line received; empty clears.
  void SetTraceSink(std::function<void(const std::string&)> sink);

  // The pty's current line settings (all zero while hung up).
  PtyLineSettings LineSettings() const;

 private:
  void OpenPty();   // lifecycle_mu_ held
  void ClosePty();  // lifecycle_mu_ held, reader stopped
  void StartReader();
  void StopReader();
  void RemoveLink();  // lifecycle_mu_ held
  void CreateLink();  // lifecycle_mu_ held
  void ReaderLoop(int master_fd, int wake_fd);
  // `length` counts the bytes of the line including those dropped from an
  // overlong one.
  void HandleLine(int master_fd, const std::string& line, size_t length);
  std::string ReplyFor(const Command& command);  // mu_ held
  // Writes a babble chunk when one is due; the poll time-out until the next
  // (at most 50 ms, so that a new babble setting is seen soon).
  int Babble(int master_fd, std::chrono::steady_clock::time_point* next);

  // Serialises open/close/publish; taken before mu_, never while mu_ is held.
  mutable std::mutex lifecycle_mu_;
  int master_fd_ = -1;
  int slave_fd_ = -1;
  int wake_pipe_[2] = {-1, -1};
  std::thread reader_;
  std::string publish_dir_;
  int publish_com_ = 0;

  mutable std::mutex mu_;
  mutable std::condition_variable changed_;
  bool stopping_ = false;
  std::string slave_path_;
  std::string link_path_;  // the link currently on disk
  ReplyMode mode_ = ReplyMode::kOk;
  int delay_ms_ = 0;
  struct ScriptedReply {
    std::string raw;
    int delay_ms = -1;  // -1: the delay set for all lines
  };
  std::deque<ScriptedReply> script_;
  std::string version_reply_ = "OK1,23,4,56\r";
  int babble_ms_ = 0;
  std::string babble_chunk_;
  size_t babbled_ = 0;
  std::vector<ReceivedLine> lines_;
  size_t answered_ = 0;
  DomeModel model_;
  std::minstd_rand rng_{7};
  std::function<void(const std::string&)> sink_;
};

// ---------------------------------------------------------------- network

// The dome served over TCP, as a serial device server serves the line it is
// attached to: the server takes one client at a time (a new one replaces
// the one before) and passes bytes between it and the simulator's pty, so
// the dome answers, records and misbehaves exactly as on its pty.
//
//   kRaw      bytes as they are (a raw TCP server)
//   kRfc2217  telnet with the COM port control option: the server asks for
//             the option and takes BINARY and SUPPRESS-GO-AHEAD both ways;
//             it sets the pty's speed, character size, parity and stop bits
//             from the client's commands, purges the pty's input on request
//             and answers each command with the value set. IAC is doubled
//             on the way out and undoubled on the way in.
//
// Dropping (the client's connection ends now) and refusing (the listening
// socket closes: connections are refused until accepting again, on the same
// port) are there for tests of a server that goes away and comes back.
// While the dome's pty is hung up a client is taken and dropped at once.
enum class NetMode { kRaw, kRfc2217 };

// What the client set through the COM port option; -1 for never.
struct RemoteLineSettings {
  int64_t baud = -1;
  int data_size = -1;
  int parity = -1;            // 1 none, 2 odd, 3 even, 4 mark, 5 space
  int stop_size = -1;         // 1 one, 2 two, 3 one and a half
  std::vector<int> controls;  // every SET-CONTROL value, in order
  int purges = 0;
  bool option_agreed = false;  // the client said WILL COM-PORT-OPTION
};

class NetworkServer {
 public:
  // Listens on host:port (port 0: a free one). Throws std::system_error.
  NetworkServer(DomeSimulator& sim, NetMode mode, int port = 0,
                const std::string& host = "127.0.0.1");
  ~NetworkServer();
  NetworkServer(const NetworkServer&) = delete;
  NetworkServer& operator=(const NetworkServer&) = delete;

  int Port() const { return port_; }
  NetMode Mode() const { return mode_; }
  // "rfc2217://127.0.0.1:4001" or "tcp://127.0.0.1:4001".
  std::string Url() const;
  // Writes <dir>/ports/COM<com>, a network line file with Url(), in place
  // of whatever entry was there.
  void Publish(const std::string& dir, int com);

  void Drop();
  void SetRefusing(bool refusing);
  bool Refusing() const;
  // A plain telnet server: the COM port option is declined.
  void SetDeclineComPort(bool decline);

  bool ClientConnected() const;
  // Connections taken so far.
  size_t Connections() const;
  bool WaitForConnections(size_t n, int timeout_ms) const;
  RemoteLineSettings Settings() const;

 private:
  void Listen();  // opens the listening socket on port_
  void Loop();    // the server thread
  void Wake();
  void CloseClient();  // thread only
  void Accept();       // thread only
  void FromClient(const unsigned char* bytes, size_t n);
  void ToClient(const char* bytes, size_t n);
  void SendToClient(const std::string& bytes);
  void ClientCommand(unsigned char verb, unsigned char option);
  void ClientSubnegotiation();
  void ApplyToPty();

  DomeSimulator& sim_;
  const NetMode mode_;
  const std::string host_;
  int port_ = 0;
  std::thread thread_;
  int wake_[2] = {-1, -1};

  // The server thread's own.
  int client_fd_ = -1;
  int pty_fd_ = -1;
  int state_ = 0;  // telnet receive state
  unsigned char verb_ = 0;
  std::string sb_;
  bool sent_do_[256] = {};
  bool sent_will_[256] = {};
  bool client_binary_ = false;
  bool cr_seen_ = false;

  mutable std::mutex mu_;
  mutable std::condition_variable changed_;
  int listen_fd_ = -1;
  bool stopping_ = false;
  bool drop_ = false;
  bool refusing_ = false;
  bool decline_ = false;
  bool connected_ = false;
  size_t connections_ = 0;
  RemoteLineSettings settings_;
};

}  // namespace domesim
