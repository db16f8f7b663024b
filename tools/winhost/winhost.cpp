// winhost: a host for the driver library, driven line by line.
//
// It loads QUARO7K7_PTZ.dll (QUARO7K7_PTZ.so on Linux) the way a TAVO host
// does, looks up every export under its exact name, and then calls the
// exports as the commands on standard input say. Each command gets exactly
// one line on standard output, so a test can drive it through two pipes:
//
//   load <path>                  "ok" when the library loaded and every export
//                                was found, else "error <why>"
//   unload                       "ok"
//   <export> <arguments...>      "= <result> ms=<elapsed> [<field>=<value>...]"
//   sleep <ms>                   "ok"
//   exit <status>                "ok", then ends the process at once with the
//                                library still loaded and whatever it has
//                                open, as a host that exits without cleaning
//                                up (Windows: ExitProcess)
//   quit                         ends the program
//
// Arguments are decimal or 0x-hexadecimal numbers, texts in double quotes
// (with \" \\ and \xHH escapes) or bare words, and `null` for a null
// pointer. Texts in output fields are quoted the same way. Records are
// printed field by field; the channel's record goes in and out as hex bytes.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "quaro7k7_ptz.h"

namespace {

// ---------------------------------------------------------------- the library

// clang-format off
#define WINHOST_PLAIN_EXPORTS(X) \
  X(VRT_CamInitModule) X(VRT_CamExitModule) X(VRT_CamGetModuleProperties) \
  X(VRT_CamGetProperties) X(VRT_CamOpen) X(VRT_CamClose) X(VRT_CamGetName) \
  X(VRT_CamConfigure) X(VRT_CamLeft) X(VRT_CamRight) X(VRT_CamUp) X(VRT_CamDown) \
  X(VRT_CamUpLeft) X(VRT_CamUpRight) X(VRT_CamDownLeft) X(VRT_CamDownRight) \
  X(VRT_CamZoom) X(VRT_CamFocus) X(VRT_CamIris) X(VRT_CamMoveToPrePosition) \
  X(VRT_CamMoveToPrePositionName) X(VRT_CamSetPrePosition) X(VRT_CamSetPrePositionName) \
  X(VRT_CamGetPrePosition) X(VRT_CamDeletePrePosition) X(VRT_CamDeletePrePositionName) \
  X(VRT_CamStartProgram) X(VRT_CamSetProgramPosition) X(VRT_CamStopProgram) \
  X(VRT_CamRunProgram) X(VRT_CamDeleteProgram) X(VRT_CamGetProgram) X(VRT_CamSetRelay) \
  X(VRT_CamSetRelayName) X(VRT_CamGetRelay) X(VRT_TAVORegisterCallback) X(TAVOPZTChannel)
// clang-format on

struct Api {
  decltype(&::VRT_CamGetVersion) VRT_CamGetVersion = nullptr;
  decltype(&::VRT_CamCloseUi) VRT_CamCloseUi = nullptr;
#define WINHOST_MEMBER(name) decltype(&::name) name = nullptr;
  WINHOST_PLAIN_EXPORTS(WINHOST_MEMBER)
#undef WINHOST_MEMBER
};

class Library {
 public:
  ~Library() { Unload(); }

  // Loads the file and finds every export; false with the reason in *error.
  bool Load(const std::string& path, std::string* error) {
    Unload();
#if defined(_WIN32)
    handle_ = LoadLibraryA(path.c_str());
    if (handle_ == nullptr) {
      *error = "LoadLibrary failed with error " + std::to_string(GetLastError());
      return false;
    }
#else
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
      const char* why = dlerror();
      *error = std::string("dlopen failed: ") + (why != nullptr ? why : "?");
      return false;
    }
#endif
    std::string missing;
    auto find = [&](const char* name) {
      void* symbol = Symbol(name);
      if (symbol == nullptr) missing += std::string(missing.empty() ? "" : " ") + name;
      return symbol;
    };
    api_.VRT_CamGetVersion =
        reinterpret_cast<decltype(api_.VRT_CamGetVersion)>(find(QUARO7_SYMBOL_GET_VERSION));
    api_.VRT_CamCloseUi =
        reinterpret_cast<decltype(api_.VRT_CamCloseUi)>(find(QUARO7_SYMBOL_CLOSE_UI));
#define WINHOST_FIND(name) api_.name = reinterpret_cast<decltype(api_.name)>(find(#name));
    WINHOST_PLAIN_EXPORTS(WINHOST_FIND)
#undef WINHOST_FIND
    if (!missing.empty()) {
      *error = "missing exports: " + missing;
      Unload();
      return false;
    }
    return true;
  }

  void Unload() {
    if (handle_ == nullptr) return;
#if defined(_WIN32)
    FreeLibrary(handle_);
#else
    dlclose(handle_);
#endif
    handle_ = nullptr;
    api_ = Api();
  }

  bool Loaded() const { return handle_ != nullptr; }
  const Api& api() const { return api_; }

 private:
  void* Symbol(const char* name) {
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(handle_, name));
#else
    return dlsym(handle_, name);
#endif
  }

#if defined(_WIN32)
  HMODULE handle_ = nullptr;
#else
  void* handle_ = nullptr;
#endif
  Api api_;
};

// ---------------------------------------------------------------- commands

struct Token {
  std::string text;
  bool null = false;
};

// Splits a command line; false for an unterminated quote or a bad escape.
bool Tokenize(const std::string& line, std::vector<Token>* tokens) {
  size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r') {
      ++i;
      continue;
    }
    Token token;
    if (line[i] != '"') {
      const size_t end = line.find_first_of(" \t\r", i);
      token.text = line.substr(i, end == std::string::npos ? std::string::npos : end - i);
      token.null = token.text == "null";
      i = end == std::string::npos ? line.size() : end;
      tokens->push_back(token);
      continue;
    }
    ++i;
    bool closed = false;
    while (i < line.size()) {
      const char c = line[i++];
      if (c == '"') {
        closed = true;
        break;
      }
      if (c != '\\') {
        token.text += c;
        continue;
      }
      if (i >= line.size()) return false;
      const char e = line[i++];
      if (e == 'x') {
        if (i + 2 > line.size()) return false;
        char* end = nullptr;
        const std::string hex = line.substr(i, 2);
        const long value = std::strtol(hex.c_str(), &end, 16);
        if (end != hex.c_str() + 2) return false;
        token.text += static_cast<char>(value);
        i += 2;
      } else if (e == '"' || e == '\\') {
        token.text += e;
      } else {
        return false;
      }
    }
    if (!closed) return false;
    tokens->push_back(token);
  }
  return true;
}

std::string Quote(const char* text, size_t limit) {
  std::string out = "\"";
  for (size_t i = 0; i < limit && text[i] != '\0'; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c > 0x7e) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string Hex32(int32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

class BadArguments : public std::exception {};

// The arguments of one call, taken in order.
class Arguments {
 public:
  explicit Arguments(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

  int Int() {
    const Token& token = Next();
    if (token.null) throw BadArguments();
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(token.text.c_str(), &end, 0);
    if (token.text.empty() || *end != '\0' || errno != 0) throw BadArguments();
    return static_cast<int>(static_cast<int64_t>(value));
  }
  bool NextIsNull() const { return index_ < tokens_.size() && tokens_[index_].null; }
  bool More() const { return index_ < tokens_.size(); }
  // A text argument, or null.
  const Token& Text() { return Next(); }

  // The text in a zeroed field of at least `size` bytes, as a host passes
  // its fixed-size name fields; null stays null.
  const char* Field(size_t size) {
    const Token& token = Next();
    if (token.null) return nullptr;
    fields_.emplace_back(std::max(size, token.text.size() + 1), '\0');
    std::memcpy(fields_.back().data(), token.text.data(), token.text.size());
    return fields_.back().data();
  }

  void End() const {
    if (index_ != tokens_.size()) throw BadArguments();
  }

 private:
  const Token& Next() {
    if (index_ >= tokens_.size()) throw BadArguments();
    return tokens_[index_++];
  }

  std::vector<Token> tokens_;
  size_t index_ = 0;
  std::vector<std::vector<char>> fields_;
};

void VRT_CALL DummyCallback() {}

constexpr size_t kNameField = 32;
constexpr size_t kChannelRecordSize = 256;

// Runs one export; fills *result and appends " name=value" fields to *out.
// False when the export is unknown.
bool CallExport(const Api& api, const std::string& name, Arguments& a, int* result,
                std::string* out) {
  auto simple = [&](int (*f)(int, int)) {
    const int x = a.Int(), y = a.Int();
    a.End();
    return f(x, y);
  };
  auto three = [&](int (*f)(int, int, int)) {
    const int x = a.Int(), y = a.Int(), z = a.Int();
    a.End();
    return f(x, y, z);
  };

  if (name == "VRT_CamGetVersion") {
    a.End();
    *result = api.VRT_CamGetVersion();
  } else if (name == "VRT_CamCloseUi") {
    a.End();
    *result = api.VRT_CamCloseUi();
  } else if (name == "VRT_CamExitModule") {
    a.End();
    *result = api.VRT_CamExitModule();
  } else if (name == "VRT_CamInitModule") {
    const int logSwitch = a.Int();
    const Token& dir = a.Text();
    a.End();
    char reserved[65] = {0};
    *result = api.VRT_CamInitModule(logSwitch, reserved, dir.null ? nullptr : dir.text.c_str());
  } else if (name == "VRT_CamGetModuleProperties") {
    const bool null = a.NextIsNull();
    if (null) a.Text();
    a.End();
    VRT_ModuleProperties p;
    std::memset(&p, 0x5A, sizeof p);
    *result = api.VRT_CamGetModuleProperties(null ? nullptr : &p);
    if (!null) {
      *out += " name=" + Quote(p.moduleName, sizeof p.moduleName);
      *out += " description=" + Quote(p.description, sizeof p.description);
      *out += " cameras=" + std::to_string(p.cameraCount);
      *out += " connections=" + std::to_string(p.connections);
    }
  } else if (name == "VRT_CamGetProperties") {
    const bool null = a.NextIsNull();
    VRT_CameraProperties p;
    std::memset(&p, 0, sizeof p);
    if (null) {
      a.Text();
    } else {
      p.handle = a.Int();
    }
    a.End();
    *result = api.VRT_CamGetProperties(null ? nullptr : &p);
    if (!null) {
      *out += " caps=";
      for (int i = 0; i < 5; ++i) *out += (i ? "," : "") + std::to_string(p.capability[i]);
      *out += " relays=" + std::to_string(p.relayCount);
      *out += " locations=" + std::to_string(p.storageLocations);
      *out += " presets=" + std::to_string(p.presetCount);
    }
  } else if (name == "VRT_CamOpen") {
    const int number = a.Int();
    const bool null = a.More() && a.NextIsNull();
    if (null) a.Text();
    a.End();
    int handle = 0;
    *result = api.VRT_CamOpen(number, null ? nullptr : &handle);
    if (!null) *out += " handle=" + Hex32(handle);
  } else if (name == "VRT_CamClose") {
    const int handle = a.Int();
    a.End();
    *result = api.VRT_CamClose(handle);
  } else if (name == "VRT_CamGetName") {
    const int number = a.Int();
    const bool null = a.NextIsNull();
    int length = 0;
    if (null) {
      a.Text();
      length = a.More() ? a.Int() : 32;
    } else {
      length = a.Int();
    }
    a.End();
    char buffer[256];
    std::memset(buffer, 'X', sizeof buffer);
    buffer[sizeof buffer - 1] = '\0';
    if (length < 0 || length > 255) throw BadArguments();
    *result = api.VRT_CamGetName(number, null ? nullptr : buffer, length);
    if (!null) *out += " name=" + Quote(buffer, sizeof buffer);
  } else if (name == "VRT_CamConfigure") {
    const int number = a.Int();
    a.End();
    *result = api.VRT_CamConfigure(number, nullptr);
  } else if (name == "VRT_CamLeft") {
    *result = simple(api.VRT_CamLeft);
  } else if (name == "VRT_CamRight") {
    *result = simple(api.VRT_CamRight);
  } else if (name == "VRT_CamUp") {
    *result = simple(api.VRT_CamUp);
  } else if (name == "VRT_CamDown") {
    *result = simple(api.VRT_CamDown);
  } else if (name == "VRT_CamUpLeft") {
    *result = simple(api.VRT_CamUpLeft);
  } else if (name == "VRT_CamUpRight") {
    *result = simple(api.VRT_CamUpRight);
  } else if (name == "VRT_CamDownLeft") {
    *result = simple(api.VRT_CamDownLeft);
  } else if (name == "VRT_CamDownRight") {
    *result = simple(api.VRT_CamDownRight);
  } else if (name == "VRT_CamZoom") {
    *result = three(api.VRT_CamZoom);
  } else if (name == "VRT_CamFocus") {
    *result = three(api.VRT_CamFocus);
  } else if (name == "VRT_CamIris") {
    *result = three(api.VRT_CamIris);
  } else if (name == "VRT_CamMoveToPrePosition") {
    *result = three(api.VRT_CamMoveToPrePosition);
  } else if (name == "VRT_CamMoveToPrePositionName") {
    const int handle = a.Int();
    const char* preset = a.Field(kNameField);
    const int speed = a.Int();
    a.End();
    *result = api.VRT_CamMoveToPrePositionName(handle, preset, speed);
  } else if (name == "VRT_CamSetPrePosition") {
    const int handle = a.Int();
    const int number = a.Int();
    const char* preset = a.Field(kNameField);
    a.End();
    *result = api.VRT_CamSetPrePosition(handle, number, preset);
  } else if (name == "VRT_CamSetPrePositionName") {
    const int handle = a.Int();
    const char* preset = a.Field(kNameField);
    a.End();
    *result = api.VRT_CamSetPrePositionName(handle, preset);
  } else if (name == "VRT_CamGetPrePosition") {
    VRT_PresetRecord record;
    std::memset(&record, 0, sizeof record);
    record.handle = a.Int();
    record.position = a.Int();
    a.End();
    *result = api.VRT_CamGetPrePosition(&record);
    *out += " position=" + std::to_string(record.position);
    *out += " name=" + Quote(record.name, sizeof record.name);
    *out += " active=" + std::to_string(record.active);
  } else if (name == "VRT_CamDeletePrePosition") {
    *result = simple(api.VRT_CamDeletePrePosition);
  } else if (name == "VRT_CamDeletePrePositionName") {
    const int handle = a.Int();
    const char* preset = a.Field(kNameField);
    a.End();
    *result = api.VRT_CamDeletePrePositionName(handle, preset);
  } else if (name == "VRT_CamStartProgram") {
    const int handle = a.Int(), program = a.Int();
    a.End();
    char area[64] = {0};
    *result = api.VRT_CamStartProgram(handle, program, area);
  } else if (name == "VRT_CamSetProgramPosition") {
    const int handle = a.Int(), x = a.Int(), y = a.Int(), z = a.Int();
    a.End();
    *result = api.VRT_CamSetProgramPosition(handle, x, y, z);
  } else if (name == "VRT_CamStopProgram") {
    *result = simple(api.VRT_CamStopProgram);
  } else if (name == "VRT_CamRunProgram") {
    *result = simple(api.VRT_CamRunProgram);
  } else if (name == "VRT_CamDeleteProgram") {
    *result = simple(api.VRT_CamDeleteProgram);
  } else if (name == "VRT_CamGetProgram") {
    int32_t record[16] = {0};
    record[0] = a.Int();
    a.End();
    *result = api.VRT_CamGetProgram(record);
  } else if (name == "VRT_CamSetRelay") {
    const int handle = a.Int(), relay = a.Int(), mode = a.Int(), time = a.Int();
    a.End();
    *result = api.VRT_CamSetRelay(handle, relay, mode, time);
  } else if (name == "VRT_CamSetRelayName") {
    const int handle = a.Int(), relay = a.Int();
    const char* relayName = a.Field(kNameField);
    a.End();
    *result = api.VRT_CamSetRelayName(handle, relay, relayName);
  } else if (name == "VRT_CamGetRelay") {
    VRT_RelayRecord record;
    std::memset(&record, 0, sizeof record);
    record.handle = a.Int();
    record.relay = a.Int();
    a.End();
    *result = api.VRT_CamGetRelay(&record);
    *out += " caps=" + std::to_string(record.capabilities);
    *out += " state=" + std::to_string(record.state);
    *out += " name=" + Quote(record.name, sizeof record.name);
  } else if (name == "VRT_TAVORegisterCallback") {
    const Token& callback = a.Text();
    const int value = a.Int();
    a.End();
    *result = api.VRT_TAVORegisterCallback(callback.null ? nullptr : &DummyCallback,
                                           static_cast<uint32_t>(value));
  } else if (name == "TAVOPZTChannel") {
    const int interfaceNumber = a.Int(), code = a.Int();
    const Token& hex = a.Text();
    a.End();
    unsigned char record[kChannelRecordSize] = {0};
    size_t length = 0;
    if (!hex.null) {
      if (hex.text.size() % 2 != 0 || hex.text.size() / 2 > sizeof record) throw BadArguments();
      for (size_t i = 0; i < hex.text.size(); i += 2) {
        char* end = nullptr;
        const std::string byte = hex.text.substr(i, 2);
        record[length++] = static_cast<unsigned char>(std::strtoul(byte.c_str(), &end, 16));
        if (end != byte.c_str() + 2) throw BadArguments();
      }
    }
    *result = api.TAVOPZTChannel(interfaceNumber, code, hex.null ? nullptr : record);
    if (!hex.null) {
      std::string bytes;
      char two[4];
      for (size_t i = 0; i < length; ++i) {
        std::snprintf(two, sizeof two, "%02x", record[i]);
        bytes += two;
      }
      *out += " record=" + bytes;
    }
  } else {
    return false;
  }
  return true;
}

// Ends the process without unloading the library first: the library learns
// of it while the process ends.
[[noreturn]] void ExitNow(int status) {
#if defined(_WIN32)
  ExitProcess(static_cast<UINT>(status));
#else
  std::exit(status);
#endif
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IOLBF, 4096);
  Library library;
  std::string line;
  auto reply = [](const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  };
  while (std::getline(std::cin, line)) {
    std::vector<Token> tokens;
    if (!Tokenize(line, &tokens)) {
      reply("error bad quoting");
      continue;
    }
    if (tokens.empty()) continue;
    const std::string command = tokens.front().text;
    tokens.erase(tokens.begin());
    if (command == "quit") break;
    if (command == "load") {
      std::string error;
      if (tokens.size() != 1) {
        reply("error load takes one path");
      } else if (library.Load(tokens[0].text, &error)) {
        reply("ok");
      } else {
        reply("error " + error);
      }
      continue;
    }
    if (command == "unload") {
      library.Unload();
      reply("ok");
      continue;
    }
    if (command == "exit") {
      const int status = tokens.size() == 1
                             ? static_cast<int>(std::strtol(tokens[0].text.c_str(), nullptr, 10))
                             : 0;
      reply("ok");
      ExitNow(status);
    }
    if (command == "sleep") {
      const long ms = tokens.size() == 1 ? std::strtol(tokens[0].text.c_str(), nullptr, 10) : 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      reply("ok");
      continue;
    }
    if (!library.Loaded()) {
      reply("error no library loaded");
      continue;
    }
    Arguments arguments(std::move(tokens));
    int result = 0;
    std::string fields;
    try {
      const auto start = std::chrono::steady_clock::now();
      if (!CallExport(library.api(), command, arguments, &result, &fields)) {
        reply("error unknown command " + command);
        continue;
      }
      const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - start)
                          .count();
      reply("= " + std::to_string(result) + " ms=" + std::to_string(ms) + fields);
    } catch (const BadArguments&) {
      reply("error bad arguments for " + command);
    }
  }
  return 0;
}
