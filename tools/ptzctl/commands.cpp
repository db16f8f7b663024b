#include "ptzctl/commands.h"

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <istream>
#include <thread>

#include "comm/port_survey.h"
#include "platform/port_entry.h"
#include "ptzctl/host_calls.h"

namespace ptzctl {

const char kCameraHelp[] =
    "host camera number, 0-based as in the exports (TavoID in the settings file; the driver's "
    "log shows it plus one); 0x... passes a raw handle instead";

namespace {

// Camera numbers the list command asks names for, at most.
constexpr int kMaxCameraNumber = 9999;

// Folds the results of a command's calls: the first failure wins.
class Outcome {
 public:
  int Add(int result) {
    if (!failed_) {
      last_ = result;
      failed_ = result < 0;
    }
    return result;
  }
  int Result() const { return last_; }

 private:
  int last_ = 1;
  bool failed_ = false;
};

bool ParseInt(const std::string& text, int* value) {
  if (text.empty()) return false;
  size_t used = 0;
  long long parsed = 0;
  try {
    parsed = std::stoll(text, &used, 10);
  } catch (...) {
    return false;
  }
  if (used != text.size() || parsed < INT32_MIN || parsed > INT32_MAX) return false;
  *value = static_cast<int>(parsed);
  return true;
}

// A preset argument: a number is a position, "next" the position after the
// last preset, "name:TEXT" the name TEXT, anything else a name.
struct PresetRef {
  bool by_name = false;
  bool next = false;
  int position = 0;
  std::string name;
};

PresetRef ParsePresetRef(const std::string& text) {
  PresetRef ref;
  if (text == "next") {
    ref.next = true;
  } else if (text.rfind("name:", 0) == 0) {
    ref.by_name = true;
    ref.name = text.substr(5);
  } else if (!ParseInt(text, &ref.position)) {
    ref.by_name = true;
    ref.name = text;
  }
  return ref;
}

int WithHandle(Session& s, const std::string& camera, const std::function<int(int)>& body) {
  int handle = 0;
  const int result = s.Handle(camera, &handle);
  if (result != 1) return result;
  return body(handle);
}

int List(Session& s) {
  Outcome outcome;
  if (outcome.Add(s.EnsureInit()) < 0) return outcome.Result();
  VRT_ModuleProperties module;
  if (outcome.Add(CallModuleProperties(s, &module)) != 1) return outcome.Result();
  // The exports offer no list of camera numbers: ask for names until every
  // camera of the table is found.
  std::vector<int> cameras;
  int number = 0;
  for (; number <= kMaxCameraNumber && static_cast<int>(cameras.size()) < module.cameraCount;
       ++number) {
    if (CallGetName(s, number, nullptr, true) == 1) cameras.push_back(number);
  }
  s.Print("cameras: " + std::to_string(cameras.size()) + " found among numbers 0.." +
          std::to_string(number - 1) + " (VRT_CamGetName answered -13 for the others)");
  for (int camera : cameras) {
    std::string name;
    outcome.Add(CallGetName(s, camera, &name));
    s.Print("camera " + std::to_string(camera) + " " + Quoted(name) + ":");
    const bool was_open = s.OpenHandles().count(camera) != 0;
    int handle = 0;
    if (outcome.Add(s.HandleFor(camera, &handle)) != 1) continue;
    outcome.Add(CallCameraProperties(s, handle, nullptr));
    if (!was_open) outcome.Add(s.Close(camera));
  }
  return outcome.Result();
}

int Stop(Session& s, const std::string& camera) {
  return WithHandle(s, camera, [&s](int handle) {
    Outcome outcome;
    // Between them the two diagonals stop all four directions.
    outcome.Add(CallMove(s, handle, Direction::kUpLeft, 0));
    outcome.Add(CallMove(s, handle, Direction::kDownRight, 0));
    outcome.Add(CallLens(s, handle, Lens::kZoom, 0, 0));
    outcome.Add(CallLens(s, handle, Lens::kFocus, 0, 0));
    outcome.Add(CallLens(s, handle, Lens::kIris, 0, 0));
    return outcome.Result();
  });
}

int PresetList(Session& s, const std::string& camera) {
  return WithHandle(s, camera, [&s](int handle) {
    Outcome outcome;
    const int count = outcome.Add(CallPresetCount(s, handle));
    for (int position = 0; position < count; ++position)
      outcome.Add(CallGetPreset(s, handle, position, nullptr));
    return outcome.Result();
  });
}

int RelayList(Session& s, const std::string& camera) {
  return WithHandle(s, camera, [&s](int handle) {
    Outcome outcome;
    const int count = outcome.Add(CallRelayCount(s, handle));
    for (int relay = 0; relay < count; ++relay)
      outcome.Add(CallGetRelay(s, handle, relay, nullptr));
    return outcome.Result();
  });
}

// The COM ports as the library in its directory sees them: the system's
// serial ports and the network lines of its ports directory, each probed.
int Ports(Session& s) {
  const char separator = s.LibraryPath().find('\\') != std::string::npos ? '\\' : '/';
  platform::SetPortDirectoryForTesting(s.LibraryDir() + separator + "ports");
  const std::vector<netline::PortReport> reports = netline::SurveyPorts();
  platform::SetPortDirectoryForTesting("");
  if (reports.empty()) s.Print("no COM ports");
  for (const netline::PortReport& port : reports) {
    char line[64];
    std::snprintf(line, sizeof line, "%-6s %-8s ", port.name.c_str(), netline::KindName(port.kind));
    s.Print(line + port.where + "  " + port.state);
  }
  return 0;
}

CLI::App* Sub(CLI::App* app, const std::string& name, const std::string& help) {
  CLI::App* sub = app->add_subcommand(name, help);
  sub->fallthrough(false);
  return sub;
}

}  // namespace

CommandSet::CommandSet(CLI::App* app) {
  AddModuleCommands(app);
  AddMotionCommands(app);
  AddPresetCommands(app);
  AddRelayCommands(app);
  AddOtherCommands(app);
}

void CommandSet::AddModuleCommands(CLI::App* app) {
  Sub(app, "list", "Module properties, every configured camera with its name and properties")
      ->callback([this] { action_ = [](Session& s) { return List(s); }; });
  Sub(app, "ports",
      "The COM ports as the driver in the library's directory sees them: serial ports and "
      "network lines (ports/COM<n> files), with their kind, where they lead and their state")
      ->callback([this] { action_ = [](Session& s) { return Ports(s); }; });
  Sub(app, "version", "VRT_CamGetVersion (needs no initialisation)")->callback([this] {
    action_ = [](Session& s) { return CallVersion(s); };
  });
  Sub(app, "init", "VRT_CamInitModule (scripts; other commands initialise as needed)")
      ->callback([this] { action_ = [](Session& s) { return s.Init(); }; });
  Sub(app, "exit", "Close the cameras opened here, then VRT_CamExitModule")->callback([this] {
    action_ = [](Session& s) { return s.Exit(); };
  });
  Sub(app, "restart", "exit, then init: the driver reads its settings file again")
      ->callback([this] {
        action_ = [](Session& s) {
          Outcome outcome;
          if (s.Initialised()) outcome.Add(s.Exit());
          outcome.Add(s.Init());
          return outcome.Result();
        };
      });
  CLI::App* open = Sub(app, "open", "VRT_CamOpen: open a camera (a script keeps it open)");
  open->add_option("CAM", number_, kCameraHelp)->required();
  open->callback([this] {
    action_ = [camera = number_](Session& s) {
      const int init = s.EnsureInit();
      return init < 0 ? init : s.Open(camera);
    };
  });
  CLI::App* close = Sub(app, "close", "VRT_CamClose for a camera opened before (scripts)");
  close->add_option("CAM", number_, kCameraHelp)->required();
  close->callback([this] { action_ = [camera = number_](Session& s) { return s.Close(camera); }; });
  CLI::App* name = Sub(app, "name", "VRT_CamGetName");
  name->add_option("CAM", number_, kCameraHelp)->required();
  name->callback([this] {
    action_ = [camera = number_](Session& s) {
      const int init = s.EnsureInit();
      return init < 0 ? init : CallGetName(s, camera, nullptr);
    };
  });
  CLI::App* props = Sub(app, "props", "VRT_CamGetProperties");
  props->add_option("CAM", camera_, kCameraHelp)->required();
  props->callback([this] {
    action_ = [camera = camera_](Session& s) {
      return WithHandle(s, camera,
                        [&s](int handle) { return CallCameraProperties(s, handle, nullptr); });
    };
  });
}

void CommandSet::AddMotionCommands(CLI::App* app) {
  for (Direction direction :
       {Direction::kLeft, Direction::kRight, Direction::kUp, Direction::kDown, Direction::kUpLeft,
        Direction::kUpRight, Direction::kDownLeft, Direction::kDownRight}) {
    CLI::App* move = Sub(app, DirectionName(direction),
                         std::string("Move ") + DirectionName(direction) +
                             " at a speed 1..16 until stopped; speed 0 stops this direction");
    move->add_option("CAM", camera_, kCameraHelp)->required();
    move->add_option("SPEED", speed_, "speed code 0..16, 0 stops")->required();
    move->callback([this, direction] {
      action_ = [camera = camera_, speed = speed_, direction](Session& s) {
        return WithHandle(s, camera,
                          [&](int handle) { return CallMove(s, handle, direction, speed); });
      };
    });
  }
  CLI::App* stop = Sub(app, "stop",
                       "Stop pan and tilt (up-left and down-right with speed 0 stop all four "
                       "directions), then zoom, focus and iris with speed 0 (the driver stops "
                       "only a lens movement it started itself)");
  stop->add_option("CAM", camera_, kCameraHelp)->required();
  stop->callback([this] { action_ = [camera = camera_](Session& s) { return Stop(s, camera); }; });
  for (Lens lens : {Lens::kZoom, Lens::kFocus, Lens::kIris}) {
    CLI::App* sub = Sub(app, LensName(lens),
                        std::string("VRT_Cam") +
                            (lens == Lens::kZoom    ? "Zoom"
                             : lens == Lens::kFocus ? "Focus"
                                                    : "Iris") +
                            ": MODE 0 or 1 picks the direction, SPEED 0 stops");
    sub->add_option("CAM", camera_, kCameraHelp)->required();
    sub->add_option("MODE", mode_, "0 or 1")->required();
    sub->add_option("SPEED", speed_, "speed code, 0 stops")->required();
    sub->callback([this, lens] {
      action_ = [camera = camera_, mode = mode_, speed = speed_, lens](Session& s) {
        return WithHandle(s, camera,
                          [&](int handle) { return CallLens(s, handle, lens, mode, speed); });
      };
    });
  }
}

void CommandSet::AddPresetCommands(CLI::App* app) {
  CLI::App* preset = Sub(app, "preset",
                         "Presets. PRESET is a position number (0-based), 'next' (store only: "
                         "after the last), or a name; name:TEXT forces a name");
  preset->require_subcommand(1);
  CLI::App* store = Sub(preset, "store",
                        "Store the current position: by number (VRT_CamSetPrePosition, only "
                        "the next free position is accepted) or by name "
                        "(VRT_CamSetPrePositionName)");
  store->add_option("CAM", camera_, kCameraHelp)->required();
  store->add_option("PRESET", what_, "position number, next, or name")->required();
  store->add_option("NAME", name_, "name stored with a numbered preset (default \"Preset N\")");
  store->callback([this] {
    action_ = [camera = camera_, what = what_, name = name_](Session& s) {
      return WithHandle(s, camera, [&](int handle) {
        PresetRef ref = ParsePresetRef(what);
        if (ref.by_name) return CallStorePresetName(s, handle, ref.name);
        if (ref.next) {
          ref.position = CallPresetCount(s, handle);
          if (ref.position < 0) return ref.position;
        }
        const std::string text = name.empty() ? "Preset " + std::to_string(ref.position) : name;
        return CallStorePreset(s, handle, ref.position, text);
      });
    };
  });
  CLI::App* recall = Sub(preset, "recall",
                         "Go to a preset by number (VRT_CamMoveToPrePosition) or by name "
                         "(VRT_CamMoveToPrePositionName)");
  recall->add_option("CAM", camera_, kCameraHelp)->required();
  recall->add_option("PRESET", what_, "position number or name")->required();
  recall->add_option("SPEED", recall_speed_, "speed handed to the driver")->capture_default_str();
  recall->callback([this] {
    action_ = [camera = camera_, what = what_, speed = recall_speed_](Session& s) {
      return WithHandle(s, camera, [&](int handle) {
        const PresetRef ref = ParsePresetRef(what);
        if (ref.by_name) return CallRecallPresetName(s, handle, ref.name, speed);
        if (ref.next) {
          s.Print("recall takes a preset number or name, not 'next'");
          return -3;
        }
        return CallRecallPreset(s, handle, ref.position, speed);
      });
    };
  });
  CLI::App* list = Sub(preset, "list", "Every preset (VRT_CamGetPrePosition with -1, then each)");
  list->add_option("CAM", camera_, kCameraHelp)->required();
  list->callback(
      [this] { action_ = [camera = camera_](Session& s) { return PresetList(s, camera); }; });
  CLI::App* get = Sub(preset, "get", "One preset record (VRT_CamGetPrePosition; -1 counts)");
  get->add_option("CAM", camera_, kCameraHelp)->required();
  get->add_option("POSITION", number_, "position number")->required();
  get->callback([this] {
    action_ = [camera = camera_, position = number_](Session& s) {
      return WithHandle(s, camera, [&](int handle) {
        return position == -1 ? CallPresetCount(s, handle)
                              : CallGetPreset(s, handle, position, nullptr);
      });
    };
  });
  CLI::App* remove = Sub(preset, "delete",
                         "Delete a preset by name (VRT_CamDeletePrePositionName); by number "
                         "the driver answers -19");
  remove->add_option("CAM", camera_, kCameraHelp)->required();
  remove->add_option("PRESET", what_, "position number or name")->required();
  remove->callback([this] {
    action_ = [camera = camera_, what = what_](Session& s) {
      return WithHandle(s, camera, [&](int handle) {
        const PresetRef ref = ParsePresetRef(what);
        if (ref.by_name) return CallDeletePresetName(s, handle, ref.name);
        if (ref.next) {
          s.Print("delete takes a preset number or name, not 'next'");
          return -3;
        }
        return CallDeletePreset(s, handle, ref.position);
      });
    };
  });
}

void CommandSet::AddRelayCommands(CLI::App* app) {
  CLI::App* relay = Sub(app, "relay",
                        "Relays (0-based). Relays 0, 1, 2 drive the dome's AUX1..AUX3 "
                        "functions; switching relay 1 on starts the camera's wash pulse when "
                        "it is the washer");
  relay->require_subcommand(1);
  struct Switch {
    const char* name;
    int mode;
    const char* help;
  };
  for (const Switch& sw : {Switch{"on", kRelayOn, "VRT_CamSetRelay mode 1"},
                           Switch{"off", kRelayOff, "VRT_CamSetRelay mode 0"},
                           Switch{"toggle", kRelayToggle, "VRT_CamSetRelay mode 2"}}) {
    CLI::App* sub = Sub(relay, sw.name, sw.help);
    sub->add_option("CAM", camera_, kCameraHelp)->required();
    sub->add_option("RELAY", relay_, "relay number, 0-based")->required();
    sub->callback([this, mode = sw.mode] {
      action_ = [camera = camera_, relay = relay_, mode](Session& s) {
        return WithHandle(s, camera,
                          [&](int handle) { return CallSetRelay(s, handle, relay, mode, 0); });
      };
    });
  }
  CLI::App* pulse = Sub(relay, "pulse",
                        "VRT_CamSetRelay mode 3: on, and off again after MS milliseconds (a "
                        "one-shot command waits for the end before it closes)");
  pulse->add_option("CAM", camera_, kCameraHelp)->required();
  pulse->add_option("RELAY", relay_, "relay number, 0-based")->required();
  pulse->add_option("MS", time_, "pulse length in milliseconds")->required();
  pulse->callback([this] {
    action_ = [camera = camera_, relay = relay_, time = time_](Session& s) {
      return WithHandle(s, camera, [&](int handle) {
        const int result = CallSetRelay(s, handle, relay, kRelayPulse, time);
        if (result == 1) s.HoldFor(time + 300);
        return result;
      });
    };
  });
  CLI::App* set = Sub(relay, "set", "VRT_CamSetRelay with any mode and time");
  set->add_option("CAM", camera_, kCameraHelp)->required();
  set->add_option("RELAY", relay_, "relay number, 0-based")->required();
  set->add_option("MODE", mode_, "0 off, 1 on, 2 toggle, 3 pulse")->required();
  set->add_option("TIME", set_time_, "milliseconds for mode 3")->capture_default_str();
  set->callback([this] {
    action_ = [camera = camera_, relay = relay_, mode = mode_, time = set_time_](Session& s) {
      return WithHandle(s, camera,
                        [&](int handle) { return CallSetRelay(s, handle, relay, mode, time); });
    };
  });
  CLI::App* name = Sub(relay, "name", "VRT_CamSetRelayName (the driver saves its settings)");
  name->add_option("CAM", camera_, kCameraHelp)->required();
  name->add_option("RELAY", relay_, "relay number, 0-based")->required();
  name->add_option("NAME", name_, "new name")->required();
  name->callback([this] {
    action_ = [camera = camera_, relay = relay_, name = name_](Session& s) {
      return WithHandle(s, camera,
                        [&](int handle) { return CallSetRelayName(s, handle, relay, name); });
    };
  });
  CLI::App* list = Sub(relay, "list", "Every relay (VRT_CamGetRelay with -1, then each)");
  list->add_option("CAM", camera_, kCameraHelp)->required();
  list->callback(
      [this] { action_ = [camera = camera_](Session& s) { return RelayList(s, camera); }; });
}

void CommandSet::AddOtherCommands(CLI::App* app) {
  std::string codes;
  for (int code = 0; code <= 44; ++code)
    codes += "\n  " + std::to_string(code) + "  " + ChannelLayout(code);
  CLI::App* channel = Sub(app, "channel",
                          "Raw TAVOPZTChannel call; the record is built from ARGS after the "
                          "code's layout (channel --help lists them)");
  channel->footer("Record layouts (handles: a camera number, opened as needed, or 0x...):" + codes);
  channel->add_option("--interface", interface_, "interface number")->capture_default_str();
  channel->add_option("CODE", code_, "function code")->required();
  channel->add_option("ARGS", args_, "record fields in layout order");
  channel->callback([this] {
    action_ = [iface = interface_, code = code_, args = args_](Session& s) {
      // Every code but the version and the module calls needs the module.
      if (code != 0 && code != 1 && code != 3 && code != 36) {
        const int init = s.EnsureInit();
        if (init < 0) return init;
      }
      return CallChannel(s, iface, code, args);
    };
  });
  CLI::App* configure = Sub(app, "configure",
                            "VRT_CamConfigure: the driver setup dialog (needs a display and "
                            "QUARO7K7_PTZ_setup beside the library; without them the driver "
                            "answers -12 and ptzctl says why)");
  configure->add_option("CAM", configure_camera_, "camera number, -1 for none")
      ->capture_default_str();
  configure->callback([this] {
    action_ = [camera = configure_camera_](Session& s) {
      const int init = s.EnsureInit();
      return init < 0 ? init : CallConfigure(s, camera);
    };
  });
  Sub(app, "closeui", "VRT_CamCloseUi: end every open driver dialog")->callback([this] {
    action_ = [](Session& s) { return CallCloseUi(s); };
  });
  CLI::App* callback = Sub(app, "callback", "VRT_TAVORegisterCallback with a no-op callback");
  callback->add_option("VALUE", callback_value_, "user value")->capture_default_str();
  callback->callback([this] {
    action_ = [value = callback_value_](Session& s) {
      return CallRegisterCallback(s, static_cast<uint32_t>(value));
    };
  });
  CLI::App* sleep = Sub(app, "sleep", "Wait (scripts)");
  sleep->add_option("MS", time_, "milliseconds")->required()->check(CLI::Range(0, 3600000));
  sleep->callback([this] {
    action_ = [ms = time_](Session&) {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      return 1;
    };
  });
  CLI::App* echo = Sub(app, "echo", "Print a text (scripts)");
  echo->add_option("TEXT", args_, "words to print");
  echo->callback([this] {
    action_ = [words = args_](Session& s) {
      std::string text;
      for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
      s.Print(text);
      return 1;
    };
  });
}

bool ResultAsExpected(int result, std::optional<int> expected) {
  return expected ? result == *expected : result >= 0;
}

bool SplitWords(const std::string& line, std::vector<std::string>* words, std::string* error) {
  words->clear();
  std::string word;
  bool in_word = false;
  char quote = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quote == '\'') {
      if (c == '\'') {
        quote = 0;
      } else {
        word += c;
      }
    } else if (c == '\\') {
      if (i + 1 == line.size()) {
        *error = "backslash at the end of the line";
        return false;
      }
      word += line[++i];
      in_word = true;
    } else if (quote == '"') {
      if (c == '"') {
        quote = 0;
      } else {
        word += c;
      }
    } else if (c == '"' || c == '\'') {
      quote = c;
      in_word = true;
    } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      if (in_word) words->push_back(word);
      word.clear();
      in_word = false;
    } else if (c == '#' && !in_word) {
      break;
    } else {
      word += c;
      in_word = true;
    }
  }
  if (quote != 0) {
    *error = std::string("unclosed ") + quote;
    return false;
  }
  if (in_word) words->push_back(word);
  return true;
}

int RunCommandWords(Session& session, std::vector<std::string> words) {
  std::optional<int> expected;
  if (!words.empty() && words[0] == "expect") {
    int code = 0;
    if (words.size() < 3 || !ParseInt(words[1], &code)) {
      session.Print("usage: expect CODE COMMAND ...");
      return 2;
    }
    expected = code;
    words.erase(words.begin(), words.begin() + 2);
  }
  CLI::App app{"ptzctl script line"};
  app.allow_windows_style_options(false);
  app.require_subcommand(1);
  CommandSet commands(&app);
  std::vector<std::string> reversed(words.rbegin(), words.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& error) {
    session.Print(std::string("cannot parse: ") + error.what());
    return 2;
  }
  CommandSet::Action action = commands.TakeAction();
  if (!action) {
    session.Print("no command");
    return 2;
  }
  const int result = action(session);
  if (ResultAsExpected(result, expected)) return 0;
  if (expected) {
    session.Print("unexpected result " + std::to_string(result) + ", expected " +
                  std::to_string(*expected));
  }
  return 1;
}

int RunScript(Session& session, std::istream& in, const std::string& name) {
  std::string line;
  int number = 0;
  int status = 0;
  while (std::getline(in, line)) {
    ++number;
    std::vector<std::string> words;
    std::string error;
    const std::string where = name + ":" + std::to_string(number);
    if (!SplitWords(line, &words, &error)) {
      session.Print(where + ": " + error);
      return 2;
    }
    if (words.empty()) continue;
    std::string shown;
    for (const std::string& word : words) shown += (shown.empty() ? "" : " ") + word;
    session.Print(where + "> " + shown);
    const int line_status = RunCommandWords(session, words);
    if (line_status == 2) return 2;
    if (line_status != 0) status = 1;
  }
  return status;
}

}  // namespace ptzctl
