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
//   threads                      "ok count=<n>": the threads the process has
//                                now (a library that leaves none of its own
//                                behind when it is unloaded leaves the count
//                                it found)
//   <export> <arguments...>      "= <result> ms=<elapsed> [<field>=<value>...]"
//   sleep <ms>                   "ok"
//   exit <status>                "ok", then ends the process at once with the
//                                library still loaded and whatever it has
//                                open, as a host that exits without cleaning
//                                up (Windows: ExitProcess)
//   configure-start <n> [host|<parent>]
//                                calls VRT_CamConfigure(n, ...) on a thread of
//                                its own ("host": with a window of that thread
//                                as the parent, a number: that handle) and
//                                answers "ok" at once
//   configure-wait <ms>          "= <result> ms=<elapsed>" once that call has
//                                returned, "error running" after the time
//   ui-<action> ...              (Windows) works the dialogs shown meanwhile
//                                as a user would; see RunUiCommand
//   quit                         ends the program
//
// Arguments are decimal or 0x-hexadecimal numbers, texts in double quotes
// (with \" \\ and \xHH escapes) or bare words, and `null` for a null
// pointer. Texts in output fields are quoted the same way. Records are
// printed field by field; the channel's record goes in and out as hex bytes.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>
#include <tlhelp32.h>
#else
#include <dirent.h>
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

// The number of threads the process has now; -1 when the system does not say.
int ThreadCount() {
  int count = 0;
#if defined(_WIN32)
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  CloseHandle(snapshot);
#else
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) return -1;
  while (const dirent* entry = readdir(tasks))
    if (entry->d_name[0] != '.') ++count;
  closedir(tasks);
#endif
  return count;
}

// ---------------------------------------------------------------- dialogs

// A configure call running on a thread of its own, as a host's window
// thread would make it.
struct ConfigureCall {
  std::thread thread;
  std::atomic<bool> done{false};
  int result = 0;
  long long ms = 0;
};

#if defined(_WIN32)
constexpr char kHostWindowCaption[] = "winhost window";

HWND MakeHostWindow() {
  static bool registered = false;
  if (!registered) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "winhost";
    RegisterClassA(&windowClass);
    registered = true;
  }
  HWND window = CreateWindowA("winhost", kHostWindowCaption, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                              nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  return window;
}

std::string QuoteText(const std::string& text) { return Quote(text.c_str(), text.size()); }

std::string WindowText(HWND window) {
  char buffer[1024] = {};
  SendMessageA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

std::string ClassOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

// The visible dialog of this process with this caption, waiting up to ms.
HWND FindDialog(const std::string& caption, int ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    HWND found = nullptr;
    for (HWND w = FindWindowExA(nullptr, nullptr, "#32770", caption.c_str()); w != nullptr;
         w = FindWindowExA(nullptr, w, "#32770", caption.c_str())) {
      DWORD process = 0;
      GetWindowThreadProcessId(w, &process);
      if (process == GetCurrentProcessId() && IsWindowVisible(w)) found = w;
    }
    if (found != nullptr || std::chrono::steady_clock::now() > deadline) return found;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void TreeLines(HWND tree, HTREEITEM item, int depth, std::string* out) {
  for (; item != nullptr; item = TreeView_GetNextSibling(tree, item)) {
    char text[512] = {};
    TVITEMA entry{};
    entry.mask = TVIF_HANDLE | TVIF_TEXT | TVIF_IMAGE | TVIF_STATE;
    entry.hItem = item;
    entry.pszText = text;
    entry.cchTextMax = sizeof text;
    entry.stateMask = TVIS_EXPANDED | TVIS_SELECTED;
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&entry));
    std::string line = std::to_string(depth) + ":" + std::to_string(entry.iImage) + ":" +
                       ((entry.state & TVIS_SELECTED) ? "*" : "") + text;
    *out += " " + QuoteText(line);
    TreeLines(tree, TreeView_GetChild(tree, item), depth + 1, out);
  }
}

HTREEITEM FindTreeItem(HWND tree, HTREEITEM item, const std::string& wanted) {
  for (; item != nullptr; item = TreeView_GetNextSibling(tree, item)) {
    char text[512] = {};
    TVITEMA entry{};
    entry.mask = TVIF_HANDLE | TVIF_TEXT;
    entry.hItem = item;
    entry.pszText = text;
    entry.cchTextMax = sizeof text;
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&entry));
    if (wanted == text) return item;
    if (HTREEITEM below = FindTreeItem(tree, TreeView_GetChild(tree, item), wanted)) return below;
  }
  return nullptr;
}

// The text of a message box: its longest static text.
BOOL CALLBACK CollectStatic(HWND child, LPARAM found) {
  auto* text = reinterpret_cast<std::string*>(found);
  if (ClassOf(child) == "Static") {
    const std::string mine = WindowText(child);
    if (mine.size() > text->size()) *text = mine;
  }
  return TRUE;
}

// Works the dialogs as a user: finds them by caption and their controls by
// id, clicks (posted, as a click comes), types, selects.
//   ui-wait "<caption>" <ms>           "ok owner=\"<owner's caption>\""
//   ui-gone "<caption>" <ms>           "ok" once no such dialog is shown
//   ui-painted "<caption>" <ms>        "ok" once the dialog and its controls
//                                      have drawn themselves (a dialog a user
//                                      sees, no longer starting up)
//   ui-click "<caption>" <id>          "ok", "error disabled"
//   ui-text "<caption>" <id> "<text>"  types the text (WM_SETTEXT)
//   ui-state "<caption>" <id>          "ok enabled=E checked=C text=\"...\""
//   ui-select "<caption>" <id> <index> selects an entry as a user does
//   ui-entries "<caption>" <id>        "ok \"<entry>\"..."
//   ui-tree "<caption>" <id>           "ok \"<depth>:<image>:[*]<text>\"..." (*: selected)
//   ui-treeselect "<caption>" <id> "<text>"
//   ui-msgbox <ms>                     "ok text=\"...\" icon=... yes=Y no=N" of the message box
//   ui-answer <button id>              clicks that button of the message box
//   ui-ports <name>...                 the serial device map names exactly these
//                                      ports, in this order
std::string RunUiCommand(const std::string& command, const std::vector<Token>& t) {
  if (command == "ui-ports") {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                        REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
      return "error no serial device map";
    }
    for (;;) {
      char name[256];
      DWORD length = sizeof name;
      if (RegEnumValueA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        break;
      if (RegDeleteValueA(key, name) != ERROR_SUCCESS) break;
    }
    for (size_t i = 0; i < t.size(); ++i) {
      const std::string value = "\\Device\\TestSerial" + std::to_string(i);
      RegSetValueExA(key, value.c_str(), 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(t[i].text.c_str()),
                     static_cast<DWORD>(t[i].text.size() + 1));
    }
    RegCloseKey(key);
    return "ok";
  }
  auto need = [&](size_t n) {
    if (t.size() < n) throw BadArguments();
  };
  auto number = [&](size_t i) {
    return static_cast<int>(std::strtol(t[i].text.c_str(), nullptr, 0));
  };
  if (command == "ui-msgbox" || command == "ui-answer") {
    need(1);
    const int ms = command == "ui-msgbox" ? number(0) : 2000;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    HWND box = nullptr;
    std::string text;
    // The box is complete once it shows its text and its buttons.
    for (;;) {
      box = FindDialog("QUARO7K7_PTZ", 0);
      text.clear();
      if (box != nullptr) EnumChildWindows(box, &CollectStatic, reinterpret_cast<LPARAM>(&text));
      if (box != nullptr && !text.empty() &&
          (GetDlgItem(box, IDOK) != nullptr || GetDlgItem(box, IDYES) != nullptr))
        break;
      if (std::chrono::steady_clock::now() > deadline) return "error no message box";
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (command == "ui-answer") {
      HWND button = GetDlgItem(box, number(0));
      if (button == nullptr) return "error no such button";
      PostMessageA(button, BM_CLICK, 0, 0);
      return "ok";
    }
    return "ok text=" + QuoteText(text) + " yes=" + (GetDlgItem(box, IDYES) ? "1" : "0") +
           " no=" + (GetDlgItem(box, IDNO) ? "1" : "0") +
           " ok=" + (GetDlgItem(box, IDOK) ? "1" : "0");
  }
  need(2);
  const std::string caption = t[0].text;
  if (command == "ui-gone") {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(number(1));
    while (FindDialog(caption, 0) != nullptr) {
      if (std::chrono::steady_clock::now() > deadline) return "error still shown";
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return "ok";
  }
  HWND dialog = FindDialog(caption, command == "ui-wait" ? number(1) : 2000);
  if (dialog == nullptr) return "error no dialog " + QuoteText(caption);
  if (command == "ui-wait") {
    HWND owner = GetWindow(dialog, GW_OWNER);
    return "ok owner=" + QuoteText(owner != nullptr ? WindowText(owner) : std::string());
  }
  if (command == "ui-painted") {
    // Drawn now by the dialog's own thread, which this waits for.
    RedrawWindow(dialog, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    DWORD_PTR ignored = 0;
    const UINT ms = static_cast<UINT>(number(1));
    if (SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_NORMAL, ms, &ignored) == 0)
      return "error not answering";
    return "ok";
  }
  HWND control = GetDlgItem(dialog, number(1));
  if (control == nullptr) return "error no control " + t[1].text;
  const std::string kind = ClassOf(control);
  if (command == "ui-click") {
    if (!IsWindowEnabled(control)) return "error disabled";
    PostMessageA(control, BM_CLICK, 0, 0);
    return "ok";
  }
  if (command == "ui-text") {
    need(3);
    SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(t[2].text.c_str()));
    return "ok";
  }
  if (command == "ui-state") {
    const LRESULT check = SendMessageA(control, BM_GETCHECK, 0, 0);
    return std::string("ok enabled=") + (IsWindowEnabled(control) ? "1" : "0") +
           " checked=" + (check == BST_CHECKED ? "1" : "0") +
           " text=" + QuoteText(WindowText(control));
  }
  const bool combo = kind == "ComboBox";
  if (command == "ui-select") {
    need(3);
    const int index = number(2);
    SendMessageA(control, combo ? CB_SETCURSEL : LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(number(1), combo ? CBN_SELCHANGE : LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(control));
    return "ok";
  }
  if (command == "ui-entries") {
    const LRESULT count = SendMessageA(control, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0);
    std::string out = "ok";
    for (LRESULT i = 0; i < count; ++i) {
      char text[512] = {};
      SendMessageA(control, combo ? CB_GETLBTEXT : LB_GETTEXT, static_cast<WPARAM>(i),
                   reinterpret_cast<LPARAM>(text));
      out += " " + QuoteText(text);
    }
    return out;
  }
  if (command == "ui-tree") {
    std::string out = "ok";
    TreeLines(control, TreeView_GetRoot(control), 0, &out);
    return out;
  }
  if (command == "ui-treeselect") {
    need(3);
    HTREEITEM item = FindTreeItem(control, TreeView_GetRoot(control), t[2].text);
    if (item == nullptr) return "error no item " + QuoteText(t[2].text);
    SendMessageA(control, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
    return "ok";
  }
  return "error unknown command " + command;
}
#endif

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IOLBF, 4096);
  Library library;
  std::unique_ptr<ConfigureCall> configure;
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
    if (command == "threads") {
      reply("ok count=" + std::to_string(ThreadCount()));
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
    if (command.compare(0, 3, "ui-") == 0) {
#if defined(_WIN32)
      try {
        reply(RunUiCommand(command, tokens));
      } catch (const BadArguments&) {
        reply("error bad arguments for " + command);
      }
#else
      reply("error no dialogs to work here");
#endif
      continue;
    }
    // A configure call may be waited for after the library has gone (the
    // unload ends its dialogs).
    if (command == "configure-wait") {
      const long ms = tokens.empty() ? 0 : std::strtol(tokens[0].text.c_str(), nullptr, 10);
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
      while (configure && !configure->done && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (!configure || !configure->done) {
        reply(configure ? "error running" : "error no configure call");
        continue;
      }
      configure->thread.join();
      reply("= " + std::to_string(configure->result) + " ms=" + std::to_string(configure->ms));
      configure.reset();
      continue;
    }
    if (!library.Loaded()) {
      reply("error no library loaded");
      continue;
    }
    if (command == "configure-start") {
      if (configure && configure->thread.joinable()) configure->thread.join();
      if (tokens.empty()) {
        reply("error bad arguments for " + command);
        continue;
      }
      const int number = static_cast<int>(std::strtol(tokens[0].text.c_str(), nullptr, 0));
      const bool withWindow = tokens.size() > 1 && tokens[1].text == "host";
      // Any other second argument: the parent handle as a number.
      const uintptr_t given =
          tokens.size() > 1 && !withWindow
              ? static_cast<uintptr_t>(std::strtoull(tokens[1].text.c_str(), nullptr, 0))
              : 0;
      configure = std::make_unique<ConfigureCall>();
      ConfigureCall* call = configure.get();
      auto configureExport = library.api().VRT_CamConfigure;
      call->thread = std::thread([call, configureExport, number, withWindow, given] {
        void* parent = reinterpret_cast<void*>(given);
#if defined(_WIN32)
        HWND window = withWindow ? MakeHostWindow() : nullptr;
        if (window != nullptr) ShowWindow(window, SW_SHOWNOACTIVATE);
        parent = window;
#else
        (void)withWindow;
#endif
        const auto start = std::chrono::steady_clock::now();
        call->result = configureExport(number, parent);
        call->ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - start)
                       .count();
#if defined(_WIN32)
        if (window != nullptr) DestroyWindow(window);
#endif
        call->done = true;
      });
      reply("ok");
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
  // A configure call still running ends with the process.
  if (configure && configure->thread.joinable()) configure->thread.detach();
  return 0;
}
