// The host ABI as a host may drive it, with a configuration loaded and
// cameras open on simulated domes: any sequence of exported calls and
// channel codes, with any records, handles (open, closed, never given out),
// camera numbers, names and buffer lengths, the module's end and a new
// start among them. Records and names sit in buffers of exactly their size,
// so a read or write beyond a field is caught. No call may take longer than
// the domes' answers allow.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "domesim/domesim.h"
#include "fuzz_common.h"
#include "fuzz_input.h"
#include "platform/posix/serial_device_posix.h"
#include "quaro7k7_ptz.h"

namespace {

using q7fuzz::Fail;
using q7fuzz::Input;

// Lines 1 and 2 have a simulated dome each; line 3's port name leads
// nowhere (its open fails at once).
const char kSettings[] =
    "<?xml version='1.0' encoding='iso-8859-1'?>\n<settings>\n"
    "\t<comm1><Name value=\"Line 1\"/><ComPort value=\"1\"/><PortMode value=\"96,E,8,1\"/>\n"
    "\t\t<cam1><Name value=\"Gate\"/><TavoID value=\"0\"/><SysID value=\"5\"/>"
    "<NodeAddress value=\"128\"/><CamAccFactor value=\"6\"/><WaitForResponse value=\"1\"/>"
    "<WashPulseTime value=\"20\"/><DefaultPreposSpeed value=\"90\"/>"
    "<NofStorageLocations value=\"4\"/><ControlMonitor value=\"1\"/><NofRelays value=\"3\"/>"
    "<Aux1Func value=\"1\"/><Aux2Func value=\"2\"/><Aux3Func value=\"3\"/>\n"
    "\t\t\t<positions><PrePos1><Name value=\"Door\"/><ID value=\"0\"/><MemId value=\"1\"/>"
    "</PrePos1><PrePos2><Name value=\"\"/><ID value=\"1\"/><MemId value=\"2\"/></PrePos2>"
    "</positions>\n\t\t</cam1>\n"
    "\t\t<cam2><Name value=\"Yard\"/><TavoID value=\"1\"/><SysID value=\"7\"/>"
    "<NodeAddress value=\"3\"/><CamAccFactor value=\"2\"/><WaitForResponse value=\"1\"/>"
    "<WashPulseTime value=\"0\"/><NofStorageLocations value=\"99\"/><ControlMonitor value=\"2\"/>"
    "<NofRelays value=\"8\"/><DefaultLensSlow value=\"1\"/></cam2>\n"
    "\t\t<cam3><Name value=\"Mute\"/><TavoID value=\"2\"/><SysID value=\"9\"/>"
    "<NodeAddress value=\"128\"/><WaitForResponse value=\"0\"/><NofStorageLocations value=\"1\"/>"
    "<NofRelays value=\"0\"/></cam3>\n"
    "\t</comm1>\n"
    "\t<comm2><Name value=\"Line 2\"/><ComPort value=\"2\"/><PortMode value=\"96,N,8,1\"/>\n"
    "\t\t<cam1><Name value=\"Dock\"/><TavoID value=\"3\"/><SysID value=\"1\"/>"
    "<NodeAddress value=\"127\"/><CamAccFactor value=\"16\"/><WaitForResponse value=\"1\"/>"
    "<NofStorageLocations value=\"255\"/><ControlMonitor value=\"1\"/><NofRelays value=\"1\"/>"
    "</cam1>\n\t</comm2>\n"
    "\t<comm3><Name value=\"Gone\"/><ComPort value=\"3\"/>\n"
    "\t\t<cam1><Name value=\"Lost\"/><TavoID value=\"4\"/><SysID value=\"2\"/>"
    "<NodeAddress value=\"128\"/><WaitForResponse value=\"1\"/><NofRelays value=\"3\"/></cam1>\n"
    "\t</comm3>\n"
    "</settings>\n";

constexpr int kCameras = 5;
constexpr int kMaxCalls = 64;
// The domes answer at once (or after at most kMaxDelayMs): a call that takes
// longer than this waited for something no dome does.
constexpr int kMaxDelayMs = 2;
constexpr int64_t kCallBoundMs = 5000;

struct Lines {
  std::unique_ptr<domesim::DomeSimulator> dome[2];
};

Lines& Domes() {
  static Lines* lines = [] {
    auto* made = new Lines;
    const std::string& dir = q7fuzz::WorkDir();
    platform::SetPortDirectoryForTesting(dir + "/ports");
    for (int i = 0; i < 2; ++i) {
      made->dome[i] = std::make_unique<domesim::DomeSimulator>();
      made->dome[i]->Publish(dir, i + 1);
    }
    if (::symlink((dir + "/no-such-device").c_str(), (dir + "/ports/COM3").c_str()) != 0)
      Fail("cannot make ports/COM3");
    return made;
  }();
  return *lines;
}

class Session {
 public:
  explicit Session(Input& in) : in_(in) {}

  void Run() {
    for (int calls = 0; calls < kMaxCalls && !in_.Empty(); ++calls) Step();
  }

 private:
  // A handle: one handed out (open or closed since), or any number.
  int32_t Handle() {
    const int pick = in_.Byte();
    if (handles_.empty() || pick % 4 == 0) {
      static const int32_t kOthers[] = {0, -1, 0x10000000, 0x10007FFF, 0x0FFFFFFF};
      return pick % 8 == 0 ? in_.I32() : kOthers[(pick / 8) % 5];
    }
    return handles_[static_cast<size_t>(pick / 4) % handles_.size()];
  }
  int32_t CameraNumber() { return in_.Below(4) == 0 ? in_.Number() : in_.Below(kCameras + 2) - 1; }
  int32_t Speed() { return in_.Below(4) == 0 ? in_.Number() : in_.Below(18); }
  int32_t Small() { return in_.Below(4) == 0 ? in_.Number() : in_.Below(10) - 1; }
  void Remember(int32_t handle) {
    if (handles_.size() < 64) handles_.push_back(handle);
  }

  // A 32-byte name field as the host passes it: not always terminated.
  std::vector<char> Name() {
    std::vector<char> name(32, '\0');
    const int length = in_.Below(34);
    for (int i = 0; i < length && i < 32; ++i) {
      const uint8_t byte = in_.Byte();
      // Mostly the names the configuration holds, sometimes any byte.
      name[static_cast<size_t>(i)] = static_cast<char>(byte < 0x80 ? "Door"[i % 4] : byte - 0x80);
    }
    if (in_.Below(3) == 0) std::strncpy(name.data(), "Door", 32);
    return name;
  }

  template <typename Call>
  int Timed(const char* what, Call&& call) {
    const int64_t start = q7fuzz::NowMs();
    const int result = call();
    const int64_t took = q7fuzz::NowMs() - start;
    q7fuzz::Trace(what, result, took);
    if (took > kCallBoundMs) Fail(std::string(what) + " took " + std::to_string(took) + " ms");
    return result;
  }

  void Channel() {
    const int interfaceNumber = in_.Below(8) == 0 ? in_.Number() : QUARO7_CHANNEL_INTERFACE;
    int code = in_.Below(8) == 0 ? in_.Number() : in_.Below(46);
    // The setup dialog is modal: it is not for a run without a user.
    if (code == QUARO7_CH_CONFIGURE) code = QUARO7_CH_CLOSE_UI;
    // Each record is exactly as large as the fields the code reads.
    static const size_t kRecordSize[46] = {
        0,  0, 0,  122, 44, 8, 4, 0, 36, 8,  8,  8, 8, 8, 8, 8, 8, 8, 12, 12, 12, 12, 40,
        45, 8, 12, 16,  8,  8, 8, 4, 16, 40, 49, 0, 0, 0, 0, 0, 0, 0, 0,  40, 36, 36, 0};
    std::vector<uint8_t> record;
    if (code == QUARO7_CH_INIT_MODULE) {
      // The log directory: this run's own, or one that is not there.
      const std::string dir = in_.Bool() ? q7fuzz::WorkDir() : q7fuzz::WorkDir() + "/none";
      record.assign(69 + dir.size() + 1, 0);
      in_.Fill(record.data(), 69);
      std::memcpy(record.data() + 69, dir.c_str(), dir.size() + 1);
    } else {
      const size_t size =
          code >= 0 && code < 46 ? kRecordSize[code] : static_cast<size_t>(in_.Below(16));
      record.assign(size, 0);
      in_.Fill(record.data(), size);
      const bool handleFirst = code >= QUARO7_CH_GET_PROPERTIES && code != QUARO7_CH_OPEN &&
                               code != QUARO7_CH_GET_NAME && code != QUARO7_CH_CONFIGURE;
      if (size >= 4 && handleFirst && in_.Below(4) != 0) {
        const int32_t handle = Handle();
        std::memcpy(record.data(), &handle, 4);
      }
      if (code == QUARO7_CH_OPEN || code == QUARO7_CH_GET_NAME) {
        const int32_t number = CameraNumber();
        std::memcpy(record.data(), &number, 4);
      }
    }
    // A zero-sized record is a valid pointer that must not be read.
    uint8_t* pointer = record.empty() ? nullptr : record.data();
    std::unique_ptr<uint8_t[]> none;
    if (pointer == nullptr && in_.Bool()) {
      none = std::make_unique<uint8_t[]>(0);
      pointer = none.get();
    }
    const std::string what =
        "channel " + std::to_string(interfaceNumber) + "/" + std::to_string(code);
    const int result =
        Timed(what.c_str(), [&] { return TAVOPZTChannel(interfaceNumber, code, pointer); });
    if (interfaceNumber == QUARO7_CHANNEL_INTERFACE && code == QUARO7_CH_OPEN && result == 1) {
      int32_t handle;
      std::memcpy(&handle, record.data() + 4, 4);
      Remember(handle);
    }
  }

  // One call, its arguments read now, to be run later on any thread.
  std::function<int()> Call(int32_t* opened) {
    const int32_t handle = Handle();
    const int32_t number = CameraNumber();
    const int32_t a = Small();
    const int32_t b = Small();
    switch (in_.Below(14)) {
      case 0:
        return [] { return VRT_CamExitModule(); };
      case 1:
        return [] { return VRT_CamInitModule(0, nullptr, q7fuzz::WorkDir().c_str()); };
      case 2:
        return [] { return VRT_CamCloseUi(); };
      case 3:
        return [number, opened] { return VRT_CamOpen(number, opened); };
      case 4:
        return [handle] { return VRT_CamClose(handle); };
      case 5:
        return [handle, a] { return VRT_CamLeft(handle, a); };
      case 6:
        return [handle, a, b] { return VRT_CamSetRelay(handle, a, b, 5); };
      case 7:
        return [handle, a] {
          const char name[32] = "Racer";
          return VRT_CamSetRelayName(handle, a, name);
        };
      case 8:
        return [handle, a] {
          VRT_RelayRecord record{};
          record.handle = handle;
          record.relay = a;
          return VRT_CamGetRelay(&record);
        };
      case 9:
        return [handle] {
          const char name[32] = "Race";
          return VRT_CamSetPrePositionName(handle, name);
        };
      case 10:
        return [handle] {
          VRT_CameraProperties record{};
          record.handle = handle;
          return VRT_CamGetProperties(&record);
        };
      case 11:
        return [] {
          VRT_ModuleProperties record{};
          return VRT_CamGetModuleProperties(&record);
        };
      case 12:
        return [handle, a] { return VRT_CamMoveToPrePosition(handle, a, 50); };
      default:
        return [number] {
          char name[33];
          return VRT_CamGetName(number, name, sizeof name);
        };
    }
  }

  // Two calls at once, as two host threads make them: one on a thread of
  // its own, one on this one.
  void Race() {
    int32_t opened[2] = {0, 0};
    std::function<int()> first = Call(&opened[0]);
    std::function<int()> second = Call(&opened[1]);
    int64_t tookFirst = 0;
    std::thread other([&] {
      const int64_t start = q7fuzz::NowMs();
      first();
      tookFirst = q7fuzz::NowMs() - start;
    });
    Timed("a call beside another", second);
    other.join();
    if (tookFirst > kCallBoundMs)
      Fail("a call beside another took " + std::to_string(tookFirst) + " ms");
    for (int32_t handle : opened)
      if (handle != 0) Remember(handle);
  }

  void Step() {
    const int op = in_.Below(40);
    switch (op) {
      case 0:
      case 1:
      case 2:
      case 3:
        Channel();
        return;
      case 4:
      case 5: {
        int handle = 0;
        int* out = in_.Below(8) == 0 ? nullptr : &handle;
        if (Timed("VRT_CamOpen", [&] { return VRT_CamOpen(CameraNumber(), out); }) == 1)
          Remember(handle);
        return;
      }
      case 6:
        Timed("VRT_CamClose", [&] { return VRT_CamClose(Handle()); });
        return;
      case 7:
      case 8: {
        using Move = int(VRT_CALL*)(int, int);
        static const Move kMoves[] = {VRT_CamLeft,     VRT_CamRight,    VRT_CamUp,
                                      VRT_CamDown,     VRT_CamUpLeft,   VRT_CamUpRight,
                                      VRT_CamDownLeft, VRT_CamDownRight};
        const Move move = kMoves[in_.Below(8)];
        const int32_t handle = Handle();
        Timed("move", [&] { return move(handle, Speed()); });
        return;
      }
      case 9: {
        using Lens = int(VRT_CALL*)(int, int, int);
        static const Lens kLens[] = {VRT_CamZoom, VRT_CamFocus, VRT_CamIris};
        const Lens lens = kLens[in_.Below(3)];
        const int32_t handle = Handle();
        const int32_t mode = Small();
        Timed("lens", [&] { return lens(handle, mode, Speed()); });
        return;
      }
      case 10: {
        const int32_t handle = Handle();
        const int32_t preset = Small();
        Timed("VRT_CamMoveToPrePosition",
              [&] { return VRT_CamMoveToPrePosition(handle, preset, Speed()); });
        return;
      }
      case 11: {
        const int32_t handle = Handle();
        std::vector<char> name = Name();
        Timed("VRT_CamMoveToPrePositionName",
              [&] { return VRT_CamMoveToPrePositionName(handle, name.data(), Speed()); });
        return;
      }
      case 12: {
        const int32_t handle = Handle();
        const int32_t preset = Small();
        std::vector<char> name = Name();
        const char* text = in_.Below(8) == 0 ? nullptr : name.data();
        Timed("VRT_CamSetPrePosition", [&] { return VRT_CamSetPrePosition(handle, preset, text); });
        return;
      }
      case 13: {
        const int32_t handle = Handle();
        std::vector<char> name = Name();
        const char* text = in_.Below(8) == 0 ? nullptr : name.data();
        Timed("VRT_CamSetPrePositionName", [&] { return VRT_CamSetPrePositionName(handle, text); });
        return;
      }
      case 14: {
        auto record = std::make_unique<VRT_PresetRecord>();
        in_.Fill(record.get(), sizeof *record);
        record->handle = Handle();
        record->position = Small();
        Timed("VRT_CamGetPrePosition", [&] { return VRT_CamGetPrePosition(record.get()); });
        return;
      }
      case 15: {
        const int32_t handle = Handle();
        Timed("VRT_CamDeletePrePosition",
              [&] { return VRT_CamDeletePrePosition(handle, Small()); });
        return;
      }
      case 16: {
        const int32_t handle = Handle();
        std::vector<char> name = Name();
        const char* text = in_.Below(8) == 0 ? nullptr : name.data();
        Timed("VRT_CamDeletePrePositionName",
              [&] { return VRT_CamDeletePrePositionName(handle, text); });
        return;
      }
      case 17: {
        const int32_t handle = Handle();
        const int32_t relay = Small();
        const int32_t mode = Small();
        // Pulses end within the run (or are cut short by its end).
        const int32_t time = in_.Below(4) == 0 ? in_.Number() : in_.Below(50);
        Timed("VRT_CamSetRelay", [&] { return VRT_CamSetRelay(handle, relay, mode, time); });
        return;
      }
      case 18: {
        const int32_t handle = Handle();
        const int32_t relay = Small();
        std::vector<char> name = Name();
        const char* text = in_.Below(8) == 0 ? nullptr : name.data();
        Timed("VRT_CamSetRelayName", [&] { return VRT_CamSetRelayName(handle, relay, text); });
        return;
      }
      case 19: {
        auto record = std::make_unique<VRT_RelayRecord>();
        in_.Fill(record.get(), sizeof *record);
        record->handle = Handle();
        record->relay = Small();
        Timed("VRT_CamGetRelay", [&] { return VRT_CamGetRelay(record.get()); });
        return;
      }
      case 20: {
        auto record = std::make_unique<VRT_CameraProperties>();
        in_.Fill(record.get(), sizeof *record);
        record->handle = Handle();
        VRT_CameraProperties* pointer = in_.Below(8) == 0 ? nullptr : record.get();
        Timed("VRT_CamGetProperties", [&] { return VRT_CamGetProperties(pointer); });
        return;
      }
      case 21: {
        auto record = std::make_unique<VRT_ModuleProperties>();
        VRT_ModuleProperties* pointer = in_.Below(8) == 0 ? nullptr : record.get();
        Timed("VRT_CamGetModuleProperties", [&] { return VRT_CamGetModuleProperties(pointer); });
        return;
      }
      case 22: {
        // The buffer is exactly as long as the host says it is.
        const int32_t number = CameraNumber();
        const int length = in_.Below(8) == 0 ? static_cast<int>(in_.Number()) : in_.Below(40);
        std::vector<char> buffer(length > 0 && length <= 64 ? static_cast<size_t>(length) : 1);
        char* pointer = in_.Below(8) == 0 ? nullptr : buffer.data();
        const int passed = length > 64 ? static_cast<int>(buffer.size()) : length;
        Timed("VRT_CamGetName", [&] { return VRT_CamGetName(number, pointer, passed); });
        return;
      }
      case 23: {
        const int32_t handle = Handle();
        const int which = in_.Below(6);
        const int32_t a = Small(), b = Small(), c = Small();
        std::vector<uint8_t> area(static_cast<size_t>(in_.Below(16)));
        in_.Fill(area.data(), area.size());
        Timed("program call", [&] {
          switch (which) {
            case 0:
              return VRT_CamStartProgram(handle, a, area.empty() ? nullptr : area.data());
            case 1:
              return VRT_CamSetProgramPosition(handle, a, b, c);
            case 2:
              return VRT_CamStopProgram(handle, a);
            case 3:
              return VRT_CamRunProgram(handle, a);
            case 4:
              return VRT_CamDeleteProgram(handle, a);
            default: {
              int32_t record = handle;
              return VRT_CamGetProgram(&record);
            }
          }
        });
        return;
      }
      case 24:
        Timed("VRT_CamExitModule", [] { return VRT_CamExitModule(); });
        return;
      case 25: {
        const int logSwitch = in_.Below(4) == 0 ? 0 : 1;
        const int where = in_.Below(4);
        const std::string dir = q7fuzz::WorkDir() + (where == 0 ? "/none" : "");
        const char* text = where == 1 && logSwitch == 0 ? nullptr : dir.c_str();
        Timed("VRT_CamInitModule", [&] { return VRT_CamInitModule(logSwitch, nullptr, text); });
        return;
      }
      case 26:
        Timed("VRT_CamCloseUi", [] { return VRT_CamCloseUi(); });
        return;
      case 27: {
        VRT_Callback callback = nullptr;
        if (in_.Bool()) callback = [] {};
        VRT_TAVORegisterCallback(callback, in_.U32());
        return;
      }
      case 28: {
        // The domes answer otherwise from now on (never not at all).
        static const domesim::ReplyMode kModes[] = {
            domesim::ReplyMode::kOk,    domesim::ReplyMode::kOk, domesim::ReplyMode::kNi,
            domesim::ReplyMode::kOl,    domesim::ReplyMode::kEr, domesim::ReplyMode::kGarbage,
            domesim::ReplyMode::kShort, domesim::ReplyMode::kCr};
        domesim::DomeSimulator& dome = *Domes().dome[in_.Below(2)];
        dome.SetReplyMode(kModes[in_.Below(8)]);
        dome.SetDelayMs(in_.Below(4) == 0 ? in_.Below(kMaxDelayMs + 1) : 0);
        return;
      }
      case 29:
      case 30:
        Race();
        return;
      default: {
        // Mostly moves on what is open, as a host does.
        const int32_t handle = handles_.empty() ? Handle() : handles_[in_.Byte() % handles_.size()];
        const int32_t speed = in_.Below(17);
        switch (op % 4) {
          case 0:
            Timed("VRT_CamLeft", [&] { return VRT_CamLeft(handle, speed); });
            break;
          case 1:
            Timed("VRT_CamUp", [&] { return VRT_CamUp(handle, speed); });
            break;
          case 2:
            Timed("VRT_CamZoom", [&] { return VRT_CamZoom(handle, in_.Below(2), speed); });
            break;
          default:
            Timed("VRT_CamSetRelay",
                  [&] { return VRT_CamSetRelay(handle, in_.Below(4), in_.Below(4), 10); });
            break;
        }
        return;
      }
    }
  }

  Input& in_;
  std::vector<int32_t> handles_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Lines& domes = Domes();
  // Every input starts from the same module: the file as configured, read
  // afresh, the domes answering at once, every camera closed.
  q7fuzz::EndModule();
  for (auto& dome : domes.dome) {
    dome->SetReplyMode(domesim::ReplyMode::kOk);
    dome->SetDelayMs(0);
    dome->ClearQueuedReplies();
    dome->ResetModel();
    dome->ClearLines();
  }
  // The file as the driver left it after a first load (its default relays
  // written), so that a start writes nothing.
  static const std::string settled = [] {
    q7fuzz::WriteFile(q7fuzz::SettingsPath(), kSettings);
    VRT_CamInitModule(0, nullptr, q7fuzz::WorkDir().c_str());
    q7fuzz::EndModule();
    return q7fuzz::ReadFile(q7fuzz::SettingsPath());
  }();
  q7fuzz::WriteFile(q7fuzz::SettingsPath(), settled);
  q7fuzz::RemoveFile(q7fuzz::LogPath());
  Input in(data, size);
  // The log costs a file open per line: on for one input in four.
  const int logSwitch = in.Below(4) == 0 ? 1 : 0;
  if (VRT_CamInitModule(logSwitch, nullptr, q7fuzz::WorkDir().c_str()) != 1)
    Fail("the configuration does not load", q7fuzz::ReadFile(q7fuzz::LogPath()));
  Session(in).Run();
  const int64_t start = q7fuzz::NowMs();
  q7fuzz::EndModule();
  if (q7fuzz::NowMs() - start > kCallBoundMs) Fail("the module's end took too long");
  // Whatever the host did, the file it leaves loads again, and a second load
  // reads what the first one did.
  const std::string file = q7fuzz::ReadFile(q7fuzz::SettingsPath());
  if (file != settled) {
    const int reloaded = VRT_CamInitModule(0, nullptr, q7fuzz::WorkDir().c_str());
    const std::string first = q7fuzz::ConfigurationText();
    q7fuzz::EndModule();
    if (reloaded != 1) Fail("the settings file the host's calls left does not load", file);
    VRT_CamInitModule(0, nullptr, q7fuzz::WorkDir().c_str());
    const std::string second = q7fuzz::ConfigurationText();
    q7fuzz::EndModule();
    if (second != first) Fail("the settings file reads differently a second time", file);
  }
  return 0;
}
