// Any bytes as the dome's answers to any sequence of host calls: answers
// whole, split with pauses between their pieces, late, cut short, with stray
// bytes after them, floods, and every two-letter code. The input's first
// byte divides it into the host's calls and the answers. Every call must end
// within what the answers' pauses and the line's exchanges allow.
//
// Every answer ends with a carriage return or is long enough for the read it
// meets, so no read waits out the port's 2 s time-out (that would hold each
// input for seconds; the time-outs have tests of their own).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "fuzz_input.h"
#include "platform/posix/serial_device_posix.h"
#include "quaro7k7_ptz.h"
#include "scripted_line.h"

namespace {

using q7fuzz::Fail;
using q7fuzz::Input;
using q7fuzz::ScriptedLine;

const char kSettings[] =
    "<?xml version='1.0' encoding='iso-8859-1'?>\n<settings>\n"
    "\t<comm1><Name value=\"Line\"/><ComPort value=\"1\"/><PortMode value=\"96,E,8,1\"/>\n"
    "\t\t<cam1><Name value=\"Direct\"/><TavoID value=\"0\"/><SysID value=\"5\"/>"
    "<NodeAddress value=\"128\"/><CamAccFactor value=\"6\"/><WaitForResponse value=\"1\"/>"
    "<WashPulseTime value=\"10\"/><DefaultPreposSpeed value=\"90\"/>"
    "<NofStorageLocations value=\"8\"/><ControlMonitor value=\"1\"/><NofRelays value=\"3\"/>"
    "<Aux1Func value=\"1\"/><DefaultLensSlow value=\"1\"/>\n"
    "\t\t\t<positions><PrePos1><Name value=\"Door\"/><ID value=\"0\"/><MemId value=\"1\"/>"
    "</PrePos1></positions>\n\t\t</cam1>\n"
    "\t\t<cam2><Name value=\"Node\"/><TavoID value=\"1\"/><SysID value=\"7\"/>"
    "<NodeAddress value=\"3\"/><CamAccFactor value=\"2\"/><WaitForResponse value=\"1\"/>"
    "<NofStorageLocations value=\"8\"/><ControlMonitor value=\"2\"/><NofRelays value=\"3\"/>"
    "</cam2>\n"
    "\t\t<cam3><Name value=\"Mute\"/><TavoID value=\"2\"/><SysID value=\"9\"/>"
    "<NodeAddress value=\"128\"/><WaitForResponse value=\"0\"/><NofStorageLocations value=\"8\"/>"
    "<NofRelays value=\"3\"/></cam3>\n"
    "\t</comm1>\n</settings>\n";

constexpr int kCameras = 3;
constexpr int kMaxCalls = 40;
constexpr size_t kMaxAnswers = 512;
// What one call may take beyond its answers' pauses: a base for the call
// and some for each line exchanged during it.
constexpr int64_t kBaseBoundMs = 3000;
constexpr int64_t kPerLineBoundMs = 60;

std::string Bytes(Input& in, int max) {
  std::string bytes(static_cast<size_t>(in.Below(max + 1)), '\0');
  in.Fill(bytes.data(), bytes.size());
  return bytes;
}

ScriptedLine::Answer ReadAnswer(Input& in) {
  ScriptedLine::Answer answer;
  switch (in.Below(12)) {
    case 0:
    case 1:
      answer.push_back({0, "OK\r"});
      break;
    case 2:
      answer.push_back({0, "NI\r"});
      break;
    case 3:
      answer.push_back({0, "OL\r"});
      break;
    case 4:
      answer.push_back({0, "ER\r"});
      break;
    case 5:
      answer.push_back({0, Bytes(in, 6)});
      break;
    case 6: {
      // Split: the first piece, a pause, the rest.
      answer.push_back({0, Bytes(in, 3)});
      const int pause = 1 + in.Below(4);
      answer.push_back({pause, Bytes(in, 3)});
      break;
    }
    case 7: {
      // Late.
      const int pause = 1 + in.Below(6);
      answer.push_back({pause, in.Bool() ? std::string("OK\r") : Bytes(in, 4)});
      break;
    }
    case 8: {
      // Stray bytes after a good answer, at once or a little later.
      answer.push_back({0, "OK\r"});
      const int pause = in.Below(4);
      answer.push_back({pause, Bytes(in, 6)});
      break;
    }
    case 9: {
      // A flood of one pattern.
      const std::string pattern = in.Bool() ? std::string("OK\r") : Bytes(in, 4);
      const size_t length = 64 + static_cast<size_t>(in.U16() % 4096);
      std::string flood;
      while (!pattern.empty() && flood.size() < length) flood += pattern;
      if (flood.empty()) flood.assign(length, static_cast<char>(in.Byte()));
      answer.push_back({0, flood});
      break;
    }
    case 10: {
      // Cut short.
      static const char* kShort[] = {"O\r", "\r", "K\r", "N\r", "OL", "OKK\r"};
      answer.push_back({0, kShort[in.Below(6)]});
      break;
    }
    default: {
      // Several pieces, each of any bytes.
      const int pieces = 1 + in.Below(4);
      for (int i = 0; i < pieces; ++i) {
        const int pause = in.Below(3);
        answer.push_back({pause, Bytes(in, 4)});
      }
      break;
    }
  }
  size_t total = 0;
  bool ends = false;
  for (const auto& piece : answer) {
    total += piece.bytes.size();
    if (piece.bytes.find('\r') != std::string::npos) ends = true;
  }
  if (!ends && total < 16) answer.back().bytes += '\r';
  return answer;
}

class Session {
 public:
  Session(Input& in, ScriptedLine& line) : in_(in), line_(line) {}

  void Run() {
    for (int calls = 0; calls < kMaxCalls && !in_.Empty(); ++calls) Step();
  }

 private:
  int32_t Handle() {
    const int pick = in_.Below(kCameras + 1);
    return pick < kCameras ? handles_[pick] : 0x10000000 + in_.Below(4);
  }
  int32_t Speed() { return in_.Below(8) == 0 ? in_.Number() : in_.Below(17); }

  template <typename Call>
  int Timed(const char* what, Call&& call) {
    const size_t lines = line_.LinesReceived();
    const int64_t paused = line_.PausedMs();
    const int64_t start = q7fuzz::NowMs();
    const int result = call();
    const int64_t took = q7fuzz::NowMs() - start;
    q7fuzz::Trace(what, result, took);
    const size_t exchanged = line_.LinesReceived() - lines;
    const int64_t bound = kBaseBoundMs + kPerLineBoundMs * static_cast<int64_t>(exchanged) +
                          (line_.PausedMs() - paused);
    if (took > bound)
      Fail(std::string(what) + " took " + std::to_string(took) + " ms for " +
           std::to_string(exchanged) + " lines (bound " + std::to_string(bound) + " ms)");
    return result;
  }

  void Step() {
    switch (in_.Below(16)) {
      case 0:
      case 1: {
        const int camera = in_.Below(kCameras);
        int handle = 0;
        if (Timed("VRT_CamOpen", [&] { return VRT_CamOpen(camera, &handle); }) == 1)
          handles_[camera] = handle;
        return;
      }
      case 2: {
        const int camera = in_.Below(kCameras);
        Timed("VRT_CamClose", [&] { return VRT_CamClose(handles_[camera]); });
        return;
      }
      case 3:
      case 4: {
        using Move = int(VRT_CALL*)(int, int);
        static const Move kMoves[] = {VRT_CamLeft,     VRT_CamRight,    VRT_CamUp,
                                      VRT_CamDown,     VRT_CamUpLeft,   VRT_CamUpRight,
                                      VRT_CamDownLeft, VRT_CamDownRight};
        const Move move = kMoves[in_.Below(8)];
        const int32_t handle = Handle();
        const int32_t speed = Speed();
        Timed("move", [&] { return move(handle, speed); });
        return;
      }
      case 5: {
        using Lens = int(VRT_CALL*)(int, int, int);
        static const Lens kLens[] = {VRT_CamZoom, VRT_CamFocus, VRT_CamIris};
        const Lens lens = kLens[in_.Below(3)];
        const int32_t handle = Handle();
        const int32_t mode = in_.Below(3) - 1;
        const int32_t speed = Speed();
        Timed("lens", [&] { return lens(handle, mode, speed); });
        return;
      }
      case 6: {
        const int32_t handle = Handle();
        const int32_t preset = in_.Below(10) - 1;
        const int32_t speed = Speed();
        Timed("VRT_CamMoveToPrePosition",
              [&] { return VRT_CamMoveToPrePosition(handle, preset, speed); });
        return;
      }
      case 7: {
        const int32_t handle = Handle();
        static const char* kNames[] = {"Door", "Gate", "", "P1"};
        const char* name = kNames[in_.Below(4)];
        const int32_t speed = Speed();
        Timed("VRT_CamMoveToPrePositionName",
              [&] { return VRT_CamMoveToPrePositionName(handle, name, speed); });
        return;
      }
      case 8: {
        const int32_t handle = Handle();
        const int32_t preset = in_.Below(10) - 1;
        char name[32] = "P1";
        name[1] = static_cast<char>('0' + in_.Below(10));
        Timed("VRT_CamSetPrePosition", [&] { return VRT_CamSetPrePosition(handle, preset, name); });
        return;
      }
      case 9: {
        const int32_t handle = Handle();
        char name[32] = "Gate";
        Timed("VRT_CamSetPrePositionName", [&] { return VRT_CamSetPrePositionName(handle, name); });
        return;
      }
      case 10:
      case 11: {
        const int32_t handle = Handle();
        const int32_t relay = in_.Below(4);
        const int32_t mode = in_.Below(5);
        const int32_t time = in_.Below(40);
        Timed("VRT_CamSetRelay", [&] { return VRT_CamSetRelay(handle, relay, mode, time); });
        return;
      }
      case 12: {
        VRT_RelayRecord record{};
        record.handle = Handle();
        record.relay = in_.Below(4) - 1;
        Timed("VRT_CamGetRelay", [&] { return VRT_CamGetRelay(&record); });
        return;
      }
      case 13: {
        VRT_CameraProperties record{};
        record.handle = Handle();
        Timed("VRT_CamGetProperties", [&] { return VRT_CamGetProperties(&record); });
        return;
      }
      case 14: {
        // The module ends in the middle and starts again.
        Timed("VRT_CamExitModule", [] { return VRT_CamExitModule(); });
        Timed("VRT_CamInitModule",
              [] { return VRT_CamInitModule(1, nullptr, q7fuzz::WorkDir().c_str()); });
        return;
      }
      default: {
        // Stop what moves.
        const int32_t handle = Handle();
        Timed("VRT_CamLeft", [&] { return VRT_CamLeft(handle, 0); });
        return;
      }
    }
  }

  Input& in_;
  ScriptedLine& line_;
  int32_t handles_[kCameras] = {0, 0, 0};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    platform::SetPortDirectoryForTesting(q7fuzz::WorkDir() + "/ports");
    return true;
  }();
  (void)ready;
  if (size == 0) return 0;
  const size_t split = 1 + (size - 1) * data[0] / 256;
  Input calls(data + 1, split - 1);
  Input replies(data + split, size - split);
  std::deque<ScriptedLine::Answer> script;
  while (!replies.Empty() && script.size() < kMaxAnswers) script.push_back(ReadAnswer(replies));

  q7fuzz::EndModule();
  static const std::string settled = [] {
    q7fuzz::WriteFile(q7fuzz::SettingsPath(), kSettings);
    VRT_CamInitModule(0, nullptr, q7fuzz::WorkDir().c_str());
    q7fuzz::EndModule();
    return q7fuzz::ReadFile(q7fuzz::SettingsPath());
  }();
  q7fuzz::WriteFile(q7fuzz::SettingsPath(), settled);
  q7fuzz::RemoveFile(q7fuzz::LogPath());
  ScriptedLine line(q7fuzz::WorkDir(), 1, std::move(script));
  // The log costs a file open per line: on when the input says so.
  const int logSwitch = data[0] & 1;
  if (VRT_CamInitModule(logSwitch, nullptr, q7fuzz::WorkDir().c_str()) != 1)
    Fail("the configuration does not load", q7fuzz::ReadFile(q7fuzz::LogPath()));
  Session(calls, line).Run();
  const int64_t start = q7fuzz::NowMs();
  q7fuzz::EndModule();
  if (q7fuzz::NowMs() - start > kBaseBoundMs) Fail("the module's end took too long");
  return 0;
}
