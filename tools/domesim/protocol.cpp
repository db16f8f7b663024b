// How the simulated dome reads a command line, and how the simulator names it.
#include <charconv>
#include <cstdio>

#include "domesim/domesim.h"

namespace domesim {
namespace {

// Arguments each command takes.
int ArgumentCount(int number) {
  switch (number) {
    case 4:
    case 55:
      return 0;
    case 2:
    case 3:
    case 5:
    case 6:
    case 8:
    case 9:
    case 47:
      return 1;
    case 7:
    case 16:
      return 2;
    default:
      return -1;
  }
}

// A signed decimal as "%d" writes it: optional '-', then 1 to 9 digits.
bool ParseNumber(std::string_view text, int* value) {
  if (text.empty() || text.size() > 10 || text[0] == '+') return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, *value);
  return ec == std::errc() && ptr == end && text != "-";
}

std::string Format(const char* format, int a, int b = 0) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, format, a, b);
  return buffer;
}

// Range checks of the arguments; empty when fine.
std::string CheckArguments(int number, const std::vector<int>& args) {
  switch (number) {
    case 2:
      if (args[0] < 1 || args[0] > kMaxMonitor)
        return Format("monitor %d out of range 1..%d", args[0], kMaxMonitor);
      break;
    case 3:
      if (args[0] < 0) return Format("camera address %d out of range", args[0]);
      break;
    case 5:
    case 6:
      if (FunctionName(args[0]).empty()) return Format("unknown function %d", args[0]);
      break;
    case 7:
      for (int speed : args)
        if (speed < 1 || speed > 100) return Format("speed %d%% out of range 1..100", speed);
      break;
    case 16:
      if (args[1] < 1 || args[1] > 100) return Format("speed %d%% out of range 1..100", args[1]);
      [[fallthrough]];
    case 8:
    case 9:
      if (args[0] < 1 || args[0] > kMaxPresetLocation)
        return Format("preset location %d out of range 1..%d", args[0], kMaxPresetLocation);
      break;
    case 47:
      if (args[0] < 0 || args[0] > 5) return Format("menu key %d out of range 0..5", args[0]);
      break;
    default:
      break;
  }
  return {};
}

// Codes from 12 up switch something on or off rather than start a motion.
bool IsOutput(int code) { return code >= 12; }

const char* kMenuKeys[] = {"Set", "Up", "Down", "Right", "Left", "Menu (open/close)"};

}  // namespace

const char* ReplyModeName(ReplyMode mode) {
  switch (mode) {
    case ReplyMode::kOk:
      return "ok";
    case ReplyMode::kSilent:
      return "silent";
    case ReplyMode::kNi:
      return "ni";
    case ReplyMode::kOl:
      return "ol";
    case ReplyMode::kEr:
      return "er";
    case ReplyMode::kGarbage:
      return "garbage";
    case ReplyMode::kShort:
      return "short";
    case ReplyMode::kCr:
      return "cr";
  }
  return "?";
}

const std::vector<ReplyMode>& AllReplyModes() {
  static const std::vector<ReplyMode> modes = {
      ReplyMode::kOk, ReplyMode::kSilent,  ReplyMode::kNi,    ReplyMode::kOl,
      ReplyMode::kEr, ReplyMode::kGarbage, ReplyMode::kShort, ReplyMode::kCr};
  return modes;
}

std::optional<ReplyMode> ParseReplyMode(std::string_view name) {
  for (ReplyMode mode : AllReplyModes()) {
    if (name == ReplyModeName(mode)) return mode;
  }
  return std::nullopt;
}

std::string FunctionName(int code) {
  switch (code) {
    case 2:
      return "pan right";
    case 3:
      return "pan left";
    case 4:
      return "tilt up";
    case 5:
      return "tilt down";
    case 6:
      return "zoom mode 0";
    case 7:
      return "zoom mode 1";
    case 8:
      return "focus mode 0";
    case 9:
      return "focus mode 1";
    case 10:
      return "iris mode 1";
    case 11:
      return "iris mode 0";
    case 12:
      return "washer";
    case 13:
      return "AUX2";
    case 18:
      return "AUX1";
    case 19:
      return "wiper";
    case 21:
      return "lamps";
    case 22:
      return "lens slow";
    case 23:
      return "follow-up";
    case 24:
      return "AUX3";
    default:
      return {};
  }
}

Command ParseLine(std::string_view line) {
  Command command;
  if (line.empty()) {
    command.error = "empty line";
    return command;
  }
  if (line.size() > kMaxLineLength) {
    command.error = Format("line too long (%d bytes)", static_cast<int>(line.size()));
    return command;
  }
  if (line[0] != '@' && line[0] != '$') {
    command.error = "no @ or $ at the start";
    return command;
  }
  std::vector<std::string_view> fields;
  std::string_view rest = line.substr(1);
  for (;;) {
    size_t comma = rest.find(',');
    fields.push_back(rest.substr(0, comma));
    if (comma == std::string_view::npos) break;
    rest = rest.substr(comma + 1);
  }
  std::vector<int> numbers;
  for (std::string_view field : fields) {
    int value = 0;
    if (!ParseNumber(field, &value)) {
      command.error = "bad number '" + EscapeBytes(field) + "'";
      return command;
    }
    numbers.push_back(value);
  }
  size_t first = 0;
  if (line[0] == '$') {
    command.node = numbers[0];
    if (command.node < 0 || command.node >= kDirectNode) {
      command.error = Format("node %d out of range 0..127", command.node);
      return command;
    }
    if (numbers.size() < 2) {
      command.error = "no command number";
      return command;
    }
    first = 1;
  }
  command.number = numbers[first];
  command.args.assign(numbers.begin() + static_cast<std::ptrdiff_t>(first) + 1, numbers.end());
  int expected = ArgumentCount(command.number);
  if (expected < 0) {
    command.error = Format("unknown command %d", command.number);
    return command;
  }
  if (static_cast<int>(command.args.size()) != expected) {
    command.error = Format("command %d takes %d argument(s), got ", command.number, expected) +
                    std::to_string(command.args.size());
    return command;
  }
  command.error = CheckArguments(command.number, command.args);
  command.valid = command.error.empty();
  return command;
}

std::string DescribeCommand(const Command& command) {
  std::string prefix = command.node == kDirectNode ? "" : Format("node %d: ", command.node);
  if (!command.valid) return prefix + "not understood: " + command.error;
  const std::vector<int>& a = command.args;
  std::string text;
  switch (command.number) {
    case 2:
      text = Format("select monitor %d", a[0]);
      break;
    case 3:
      text = Format("select camera %d", a[0]);
      break;
    case 4:
      text = "reset dome (erases presets)";
      break;
    case 5:
      text = IsOutput(a[0]) ? FunctionName(a[0]) + " on" : "start " + FunctionName(a[0]);
      break;
    case 6:
      text = IsOutput(a[0]) ? FunctionName(a[0]) + " off" : "stop " + FunctionName(a[0]);
      break;
    case 7:
      text = Format("speed pan %d%% tilt %d%%", a[0], a[1]);
      break;
    case 8:
      text = Format("go to preset %d at full speed", a[0]);
      break;
    case 9:
      text = Format("store preset %d", a[0]);
      break;
    case 16:
      text = Format("go to preset %d at %d%%", a[0], a[1]);
      break;
    case 47:
      text = std::string("menu key ") + kMenuKeys[a[0]];
      break;
    case 55:
      text = "version query";
      break;
    default:
      break;
  }
  return prefix + text;
}

std::string DescribeLine(std::string_view line) { return DescribeCommand(ParseLine(line)); }

std::string EscapeBytes(std::string_view bytes) {
  std::string out;
  for (char c : bytes) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (byte < 0x20 || byte > 0x7e) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

std::string FormatReceivedLine(const ReceivedLine& line) {
  std::string out = EscapeBytes(line.line) + "  " + line.text + "  -> ";
  out += line.reply.empty() ? "(no answer)" : "\"" + EscapeBytes(line.reply) + "\"";
  return out;
}

}  // namespace domesim
