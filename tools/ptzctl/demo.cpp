#include "ptzctl/demo.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <thread>

#include "domesim/domesim.h"
#include "ptzctl/drive.h"
#include "ptzctl/host_calls.h"
#include "ptzctl/result_codes.h"
#include "ptzctl/session.h"

namespace ptzctl {
namespace fs = std::filesystem;

namespace {

constexpr int kComPort = 1;
// Camera 0 sits on the line without a node (direct form, "@..."), camera 1
// behind node 5 (addressed form, "$5,...").
constexpr int kGateNode = domesim::kDirectNode;
constexpr int kGateAddress = 1;
constexpr int kYardNode = 5;
constexpr int kYardAddress = 2;
constexpr int kWashPulseMs = 1000;
constexpr int kPresetSpeed = 90;

const char kSettingsName[] = "QUARO7K7_PTZ.xml";
const char kWireTraceName[] = "wire-trace.txt";

std::string CameraXml(const std::string& name, int tavo_id, int sys_id, int node,
                      const std::string& positions, const std::string& relays) {
  auto key = [](const char* k, const std::string& v) {
    return std::string("<") + k + " value=\"" + v + "\"/>";
  };
  auto num = [&key](const char* k, int v) { return key(k, std::to_string(v)); };
  return "      " + key("Name", name) + num("TavoID", tavo_id) + num("SysID", sys_id) +
         num("NodeAddress", node) + "\n      " + num("CamAccFactor", 6) + num("CamAccDefault", 6) +
         num("CamAccDefaultState", 1) + num("WaitForResponse", 1) +
         num("WashPulseTime", kWashPulseMs) + "\n      " + num("DefaultPreposSpeed", kPresetSpeed) +
         num("NofStorageLocations", 99) + num("DefaultLensSlow", 0) + num("ControlMonitor", 1) +
         num("NofRelays", 3) + "\n      " + num("AutoFocus", 1) + num("AutoIris", 1) +
         num("Aux1Func", 0) + num("Aux2Func", 1) + num("Aux3Func", 3) + "\n      <positions>" +
         positions + "</positions>\n      <relays>" + relays + "</relays>\n";
}

std::string Relays(const char* a, const char* b, const char* c) {
  return std::string("<Relay1><Name value=\"") + a + "\"/></Relay1><Relay2><Name value=\"" + b +
         "\"/></Relay2><Relay3><Name value=\"" + c + "\"/></Relay3>";
}

std::string ClockText() {
  const auto now = std::chrono::system_clock::now();
  const time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  tm local{};
  localtime_r(&seconds, &local);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(ms));
  return text;
}

// This program's path, or its name when that is unknown.
std::string ProgramPath() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? std::string("ptzctl") : self.string();
}

// The simulator tool installed beside this program, or the one of the build
// tree; its bare name when neither is there.
std::string SimulatorPath(const std::string& self) {
  const fs::path dir = fs::path(self).parent_path();
  for (const fs::path& candidate :
       {dir / "quaro7-domesim", dir / ".." / "domesim" / "quaro7-domesim"}) {
    std::error_code error;
    if (fs::exists(candidate, error)) return candidate.lexically_normal().string();
  }
  return "quaro7-domesim";
}

// "pan right 62% tilt - | zoom - | on: washer | at 37.2/0.0": the part of the
// dome's state the demo talks about.
std::string ShortDomeState(const domesim::DomeState& d) {
  std::string text = "pan ";
  text += d.pan == domesim::PanMotion::kLeft    ? "left " + std::to_string(d.pan_speed) + "%"
          : d.pan == domesim::PanMotion::kRight ? "right " + std::to_string(d.pan_speed) + "%"
                                                : std::string("-");
  text += " tilt ";
  text += d.tilt == domesim::TiltMotion::kUp     ? "up " + std::to_string(d.tilt_speed) + "%"
          : d.tilt == domesim::TiltMotion::kDown ? "down " + std::to_string(d.tilt_speed) + "%"
                                                 : std::string("-");
  text += " | zoom " + (d.zoom < 0 ? std::string("-") : std::to_string(d.zoom));
  std::string on;
  if (d.washer) on += " washer";
  if (d.lamps) on += " lamps";
  if (d.aux1) on += " AUX1";
  text += " | on:" + (on.empty() ? std::string(" -") : on);
  char at[48];
  std::snprintf(at, sizeof at, " | at %.1f/%.1f", d.position.pan, d.position.tilt);
  return text + at;
}

class Tour {
 public:
  explicit Tour(const DemoOptions& options)
      : options_(options), session_([this](const std::string& line) { OnHostLine(line); }) {}

  int Run() {
    try {
      if (!Prepare()) return 2;
    } catch (const std::exception& error) {
      std::fprintf(stderr, "ptzctl demo: %s\n", error.what());
      return 2;
    }
    Steps();
    if (options_.drive && !quit_) Drive();
    Finish();
    return failures_ == 0 ? 0 : 1;
  }

 private:
  // ------------------------------------------------------------ output

  std::string Paint(const char* code, const std::string& text) const {
    return options_.color ? std::string("\033[") + code + "m" + text + "\033[0m" : text;
  }
  void Out(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
  void OnHostLine(const std::string& line) {
    Out("  " + Paint("36", "host") + "  " + line);
    ShowWire();
  }

  // Prints the lines the dome received since the last look and writes them
  // to the wire trace.
  void ShowWire() {
    for (const std::string& line : TakeWire()) Out("  " + Paint("33", "wire") + "  " + line);
  }
  std::vector<std::string> TakeWire() {
    std::vector<std::string> out;
    const std::vector<domesim::ReceivedLine> records = sim_->Records();
    const auto steady_now = std::chrono::steady_clock::now();
    for (; wire_seen_ < records.size(); ++wire_seen_) {
      const domesim::ReceivedLine& record = records[wire_seen_];
      step_wire_.push_back(record.line);
      const std::string text = domesim::FormatReceivedLine(record);
      const auto age =
          std::chrono::duration_cast<std::chrono::milliseconds>(steady_now - record.when).count();
      wire_file_ << ClockText() << " (" << age << " ms ago)  " << text << "\n";
      out.push_back(text);
    }
    wire_file_.flush();
    return out;
  }

  void Title(const std::string& title, const std::string& text) {
    if (quit_) return;
    step_wire_.clear();
    ++step_;
    Out("");
    Out(Paint("1", "[" + std::to_string(step_) + "] " + title));
    if (!text.empty()) Out("  " + text);
  }

  void Note(const std::string& text) { Out("  " + text); }

  void Check(bool ok, const std::string& what) {
    if (ok) {
      Out("  " + Paint("32", "ok") + "    " + what);
    } else {
      ++failures_;
      Out("  " + Paint("1;31", "FAIL") + "  " + what);
    }
  }

  // The host line already shows the result; only a surprise gets a line.
  int Expect(int result, int expected, const std::string& what) {
    if (result != expected) {
      Check(false, what + ": " + DescribeResult(result) + ", expected " + DescribeResult(expected));
    }
    return result;
  }

  bool Sent(const std::string& line) const {
    for (const std::string& sent : step_wire_) {
      if (sent == line) return true;
    }
    return false;
  }
  void ExpectWire(const std::string& line, const std::string& what) {
    ShowWire();
    Check(Sent(line), "the dome received " + line + " (" + what + ")");
  }

  domesim::DomeState Dome(int camera) const {
    return camera == 0 ? sim_->State(kGateNode, kGateAddress)
                       : sim_->State(kYardNode, kYardAddress);
  }
  void ShowDome(int camera) {
    ShowWire();
    Out("  " + Paint("32", "dome") + "  camera " + std::to_string(camera) + ": " +
        domesim::FormatStatus(Dome(camera)));
  }

  void Pause() {
    ShowWire();
    if (!pauses_ || quit_) return;
    std::fputs(Paint("2", "  -- Enter: next step, c: run to the end, q: stop --").c_str(), stdout);
    std::fflush(stdout);
    std::string answer;
    if (!std::getline(std::cin, answer)) {
      pauses_ = false;
      return;
    }
    if (answer == "c" || answer == "C") pauses_ = false;
    if (answer == "q" || answer == "Q") quit_ = true;
  }

  static void Wait(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
  // How long a movement runs: long enough to watch with pauses, short in a
  // check run (still several degrees at the speeds used).
  int Moment(int ms) const { return options_.pauses ? ms : ms / 3; }

  // ------------------------------------------------------------ setup

  bool Prepare() {
    pauses_ = options_.pauses;
    dir_ = fs::absolute(options_.dir).lexically_normal();
    fs::create_directories(dir_);
    const fs::path source = fs::absolute(options_.library);
    if (!fs::exists(source)) {
      std::fprintf(stderr, "ptzctl demo: no library at %s (build it, or give --lib)\n",
                   source.c_str());
      return false;
    }
    library_ = dir_ / source.filename();
    std::error_code same_error;
    if (!fs::equivalent(source, library_, same_error)) {
      fs::remove(library_);  // a running process may still map the old copy
      fs::copy_file(source, library_);
      // The program that draws the setup dialogs, where the build has one,
      // goes beside it.
      const fs::path dialogs = source.parent_path() / "QUARO7K7_PTZ_setup";
      if (fs::exists(dialogs)) {
        fs::remove(dir_ / dialogs.filename());
        fs::copy_file(dialogs, dir_ / dialogs.filename());
      }
    }
    // A fresh run: this run's settings, log and trace only.
    fs::remove(dir_ / (library_.stem().string() + ".log"));
    {
      std::ofstream settings(dir_ / kSettingsName, std::ios::binary | std::ios::trunc);
      settings << DemoSettingsXml();
      if (!settings) throw std::runtime_error("cannot write " + (dir_ / kSettingsName).string());
    }
    wire_file_.open(dir_ / kWireTraceName, std::ios::trunc);

    sim_ = std::make_unique<domesim::DomeSimulator>();
    sim_->Publish(dir_.string(), kComPort);

    Out(Paint("1", "QUARO7K7_PTZ demo: the driver library, a host and a simulated dome"));
    Out("  directory  " + dir_.string());
    Out("  library    " + library_.string() + " (a copy of " + source.string() + ")");
    Out("  settings   " + (dir_ / kSettingsName).string() + ": line \"Line 1\" on COM" +
        std::to_string(kComPort) +
        ", camera 0 \"Gate\" (no node, "
        "dome address 1), camera 1 \"Yard\" (node 5, dome address 2)");
    Out("  dome       simulator on " + sim_->SlavePath() + ", linked as " + sim_->PublishedPath());
    Out("  Lines: host = a call into the library and its result, wire = a line the dome "
        "received with its meaning and answer, dome = the simulated dome's state.");

    std::string error;
    if (!session_.Load(library_.string(), &error)) {
      std::fprintf(stderr, "ptzctl demo: cannot load %s: %s\n", library_.c_str(), error.c_str());
      return false;
    }
    session_.SetLogDir(dir_.string());
    return true;
  }

  // ------------------------------------------------------------ the tour

  void Steps() {
    Title("Start the module",
          "The host calls VRT_CamInitModule with the log directory; the driver reads " +
              std::string(kSettingsName) + " from its own directory.");
    Expect(session_.Init(), 1, "VRT_CamInitModule");
    VRT_ModuleProperties module{};
    Expect(CallModuleProperties(session_, &module), 1, "VRT_CamGetModuleProperties");
    Check(module.cameraCount == 2, "two cameras configured");
    Check(module.connections == 100, "one connection (reported times 100)");
    std::string name;
    CallGetName(session_, 0, &name);
    Check(name == "Gate", "camera 0 is \"Gate\"");
    CallGetName(session_, 1, &name);
    Check(name == "Yard", "camera 1 is \"Yard\"");
    Pause();

    Title("Open both cameras",
          "Opening a camera opens the COM port and sends the dome its initialisation lines.");
    Expect(session_.Open(0), 1, "VRT_CamOpen camera 0");
    ExpectWire("@3,1", "camera 0 selected, direct form");
    Expect(session_.Open(1), 1, "VRT_CamOpen camera 1");
    ExpectWire("$5,3,2", "camera 1 selected behind node 5");
    gate_ = Handle(0);
    yard_ = Handle(1);
    Pause();
    if (quit_) return;

    Title("Pan camera 0 to the right", "Speed 8 of 16; the dome turns until it is told to stop.");
    Expect(CallMove(session_, gate_, Direction::kRight, 8), 1, "VRT_CamRight");
    ExpectWire("@5,2", "start pan right");
    Check(Dome(0).pan == domesim::PanMotion::kRight, "the dome pans right");
    Wait(Moment(600));
    ShowDome(0);
    Expect(CallMove(session_, gate_, Direction::kRight, 0), 1, "VRT_CamRight with speed 0");
    ExpectWire("@6,2", "stop pan right");
    Check(Dome(0).pan == domesim::PanMotion::kStopped && Dome(0).position.pan > 5,
          "the dome stopped, turned away from 0 degrees");
    ShowDome(0);
    Pause();
    if (quit_) return;

    Title("Tilt camera 0 down", "");
    Expect(CallMove(session_, gate_, Direction::kDown, 6), 1, "VRT_CamDown");
    ExpectWire("@5,5", "start tilt down");
    Wait(Moment(400));
    Expect(CallMove(session_, gate_, Direction::kDown, 0), 1, "VRT_CamDown with speed 0");
    ExpectWire("@6,5", "stop tilt down");
    Check(Dome(0).tilt == domesim::TiltMotion::kStopped && Dome(0).position.tilt > 5,
          "the dome looks down now");
    ShowDome(0);
    Pause();
    if (quit_) return;

    Title("Zoom camera 0", "Mode 1 and 0 are the two zoom directions; speed 0 stops.");
    Expect(CallLens(session_, gate_, Lens::kZoom, 1, 4), 1, "VRT_CamZoom");
    ExpectWire("@5,7", "start zoom mode 1");
    Check(Dome(0).zoom == 1, "the dome zooms");
    ShowDome(0);
    Expect(CallLens(session_, gate_, Lens::kZoom, 1, 0), 1, "VRT_CamZoom with speed 0");
    ExpectWire("@6,7", "stop zoom");
    Check(Dome(0).zoom == -1, "the zoom stopped");
    Pause();
    if (quit_) return;

    Title("Store a preset by number",
          "The host appends at the next position; the driver picks a free storage location in "
          "the dome (location 1 holds \"Door\" from the settings file).");
    const int count = CallPresetCount(session_, gate_);
    Check(count == 1, "one preset configured");
    Expect(CallStorePreset(session_, gate_, count, "Gate view"), 1, "VRT_CamSetPrePosition");
    ExpectWire("@9,2", "store at location 2");
    gate_view_ = Dome(0).position;
    Check(Dome(0).presets.count(2) == 1, "the dome holds location 2");
    Pause();
    if (quit_) return;

    Title("Turn away and store a preset by name", "");
    Expect(CallMove(session_, gate_, Direction::kLeft, 12), 1, "VRT_CamLeft");
    Wait(Moment(500));
    Expect(CallMove(session_, gate_, Direction::kLeft, 0), 1, "VRT_CamLeft with speed 0");
    Expect(CallStorePresetName(session_, gate_, "Driveway"), 1, "VRT_CamSetPrePositionName");
    ExpectWire("@9,3", "store at location 3");
    driveway_ = Dome(0).position;
    ShowDome(0);
    Pause();
    if (quit_) return;

    Title("Recall the presets",
          "By number and by name; the dome goes there at the camera's preset speed (" +
              std::to_string(kPresetSpeed) + "%).");
    Expect(CallRecallPreset(session_, gate_, 1, 16), 1, "VRT_CamMoveToPrePosition 1");
    ExpectWire("@16,2," + std::to_string(kPresetSpeed), "go to location 2");
    Check(Near(Dome(0).position, gate_view_), "the dome is back at \"Gate view\"");
    ShowDome(0);
    Expect(CallRecallPresetName(session_, gate_, "Driveway", 16), 1,
           "VRT_CamMoveToPrePositionName");
    ExpectWire("@16,3," + std::to_string(kPresetSpeed), "go to location 3");
    Check(Near(Dome(0).position, driveway_), "the dome is back at \"Driveway\"");
    Check(CallRecallPresetName(session_, gate_, "Garage", 16) == QUARO7_NO_SUCH_PRESET,
          "a name the camera does not know is refused with -23");
    Pause();
    if (quit_) return;

    Title("Camera 1, behind node 5",
          "The same calls; the lines now carry the node address ($5,...), and the driver "
          "switches the line to this camera first.");
    Expect(CallMove(session_, yard_, Direction::kDownLeft, 8), 1, "VRT_CamDownLeft");
    ExpectWire("$5,5,3", "start pan left");
    ExpectWire("$5,5,5", "start tilt down");
    Wait(Moment(400));
    Expect(CallMove(session_, yard_, Direction::kDownLeft, 0), 1, "VRT_CamDownLeft with speed 0");
    Expect(CallStorePresetName(session_, yard_, "Parking"), 1, "VRT_CamSetPrePositionName");
    ExpectWire("$5,9,1", "store at location 1 of this dome");
    ShowDome(1);
    Check(Dome(0).pan == domesim::PanMotion::kStopped, "camera 0 stays where it was");
    Pause();
    if (quit_) return;

    Title("Wash",
          "Relay 1 is the washer on camera 0 (Aux2Func 1): switching it on starts a wash pulse "
          "of WashPulseTime (" +
              std::to_string(kWashPulseMs) + " ms) that the driver ends by itself.");
    Expect(CallSetRelay(session_, gate_, 1, kRelayOn, 0), 1, "VRT_CamSetRelay(relay 1, on)");
    ExpectWire("@5,12", "washer on");
    Check(Dome(0).washer, "the washer runs");
    ShowDome(0);
    Note("waiting for the end of the pulse ...");
    const bool ended = WaitFor([this] { return !Dome(0).washer; }, kWashPulseMs + 2000);
    ShowWire();
    Check(ended && Sent("@6,12"), "the driver switched the washer off after the pulse");
    Pause();
    if (quit_) return;

    Title("Lamps and relay names", "Relay 2 drives the lamps (Aux3Func 3).");
    Expect(CallSetRelay(session_, gate_, 2, kRelayOn, 0), 1, "VRT_CamSetRelay(relay 2, on)");
    ExpectWire("@5,21", "lamps on");
    Check(Dome(0).lamps, "the lamps are on");
    Expect(CallSetRelayName(session_, gate_, 2, "Floodlights"), 1, "VRT_CamSetRelayName");
    VRT_RelayRecord relay{};
    Expect(CallGetRelay(session_, gate_, 2, &relay), 1, "VRT_CamGetRelay");
    Check(FieldText(relay.name, sizeof relay.name) == "Floodlights" && relay.state == 1,
          "relay 2 is \"Floodlights\", on");
    Pause();
    if (quit_) return;

    Title("Restart the module",
          "Close the cameras, VRT_CamExitModule, unload and load the library again, "
          "VRT_CamInitModule: everything now comes from the settings file.");
    session_.Exit();
    std::string error;
    const std::string path = session_.LibraryPath();
    session_.Unload();
    Check(session_.Load(path, &error),
          "library loaded again" + (error.empty() ? "" : ": " + error));
    if (!session_.Loaded()) return;
    session_.SetLogDir(dir_.string());
    Expect(session_.Init(), 1, "VRT_CamInitModule");
    Expect(session_.Open(0), 1, "VRT_CamOpen camera 0");
    Expect(session_.Open(1), 1, "VRT_CamOpen camera 1");
    gate_ = Handle(0);
    yard_ = Handle(1);
    const int presets = CallPresetCount(session_, gate_);
    std::vector<std::string> names;
    for (int i = 0; i < presets; ++i) {
      VRT_PresetRecord record{};
      if (CallGetPreset(session_, gate_, i, &record) == 1)
        names.push_back(FieldText(record.name, sizeof record.name));
    }
    Check(names == std::vector<std::string>({"Door", "Gate view", "Driveway"}),
          "camera 0 kept its presets Door, Gate view, Driveway");
    VRT_PresetRecord parking{};
    CallGetPreset(session_, yard_, 0, &parking);
    Check(FieldText(parking.name, sizeof parking.name) == "Parking",
          "camera 1 kept its preset Parking");
    VRT_RelayRecord renamed{};
    CallGetRelay(session_, gate_, 2, &renamed);
    Check(FieldText(renamed.name, sizeof renamed.name) == "Floodlights",
          "relay 2 kept its name Floodlights");
    Expect(CallRecallPresetName(session_, gate_, "Gate view", 16), 1,
           "VRT_CamMoveToPrePositionName after the restart");
    ExpectWire("@16,2," + std::to_string(kPresetSpeed), "same storage location as before");
    Check(Near(Dome(0).position, gate_view_), "the dome is back at \"Gate view\"");
    ShowDome(0);
    Pause();
  }

  void Drive() {
    Title("Your turn: drive camera 0", "");
    DriveOptions drive;
    drive.camera = "0";
    drive.poll_lines = [this] {
      std::vector<std::string> lines;
      for (const std::string& line : TakeWire()) lines.push_back("wire  " + line);
      return lines;
    };
    drive.status_extra = [this] { return "dome " + ShortDomeState(Dome(0)); };
    // The mode prints the calls above its status line itself.
    if (RunDrive(session_, drive) == 2) Note("(drive needs a terminal)");
  }

  void Finish() {
    if (session_.Loaded()) {
      step_wire_.clear();
      Out("");
      session_.Shutdown();
    }
    ShowWire();
    sim_->Close();
    wire_file_.close();
    Out("");
    if (failures_ == 0) {
      Out(Paint("1;32", "Every check passed."));
    } else {
      Out(Paint("1;31",
                std::to_string(failures_) + " check" + (failures_ == 1 ? "" : "s") + " failed."));
    }
    Out("The run is in " + dir_.string() + ":");
    Out("  " + std::string(kSettingsName) + "     the driver's settings, as it saved them");
    Out("  " + library_.stem().string() + ".log     the driver's log");
    Out("  " + std::string(kWireTraceName) + "       every line the dome received");
    const std::string self = ProgramPath();
    Out("Try it by hand, with the simulator as a process of its own:");
    Out("  " + SimulatorPath(self) + " --port-dir " + dir_.string() + " --com 1 --trace &");
    Out("  " + self + " --lib " + library_.string() + " --trace list");
    Out("  " + self + " --lib " + library_.string() + " drive 0");
  }

  // ------------------------------------------------------------ helpers

  int Handle(int camera) const {
    auto it = session_.OpenHandles().find(camera);
    return it == session_.OpenHandles().end() ? 0 : it->second;
  }

  static bool Near(const domesim::Position& a, const domesim::Position& b) {
    return std::fabs(a.pan - b.pan) < 0.5 && std::fabs(a.tilt - b.tilt) < 0.5;
  }

  template <typename Condition>
  static bool WaitFor(Condition condition, int timeout_ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!condition()) {
      if (std::chrono::steady_clock::now() > end) return false;
      Wait(20);
    }
    return true;
  }

  const DemoOptions& options_;
  Session session_;
  std::unique_ptr<domesim::DomeSimulator> sim_;
  fs::path dir_;
  fs::path library_;
  std::ofstream wire_file_;
  size_t wire_seen_ = 0;
  std::vector<std::string> step_wire_;
  int step_ = 0;
  int failures_ = 0;
  bool pauses_ = true;
  bool quit_ = false;
  int gate_ = 0;
  int yard_ = 0;
  domesim::Position gate_view_;
  domesim::Position driveway_;
};

}  // namespace

std::string DemoSettingsXml() {
  return "<?xml version='1.0' encoding='iso-8859-1'?>\n"
         "<settings>\n"
         "  <comm1><Name value=\"Line 1\"/><ComPort value=\"" +
         std::to_string(kComPort) +
         "\"/><PortMode value=\"96,E,8,1\"/>\n"
         "    <cam1>\n" +
         CameraXml("Gate", 0, kGateAddress, kGateNode,
                   "<PrePos1><Name value=\"Door\"/><ID value=\"0\"/><MemId value=\"1\"/></PrePos1>",
                   Relays("Aux", "Washer", "Lamps")) +
         "    </cam1>\n"
         "    <cam2>\n" +
         CameraXml("Yard", 1, kYardAddress, kYardNode, "", Relays("Aux", "Washer", "Lamps")) +
         "    </cam2>\n"
         "  </comm1>\n"
         "</settings>\n";
}

int RunDemo(const DemoOptions& options) {
  Tour tour(options);
  return tour.Run();
}

}  // namespace ptzctl
