#include "ptzctl/session.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "ptzctl/result_codes.h"

namespace ptzctl {
namespace fs = std::filesystem;

namespace {

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool ParseInt(const std::string& text, int base, long long* value) {
  if (text.empty()) return false;
  size_t used = 0;
  try {
    *value = std::stoll(text, &used, base);
  } catch (...) {
    return false;
  }
  return used == text.size();
}

}  // namespace

std::string HexHandle(int handle) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(handle));
  return text;
}

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c > 0x7e) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

Session::Session(Printer printer) : printer_(std::move(printer)) {}

Session::~Session() { Unload(); }

bool Session::Load(const std::string& path, std::string* error) {
  Unload();
  std::error_code ec;
  const fs::path absolute = fs::absolute(path, ec);
  const std::string name = ec ? path : absolute.lexically_normal().string();
  std::unique_ptr<DynamicLibrary> library = LoadDynamicLibrary(name, error);
  if (!library) return false;
  std::vector<std::string> missing;
  DriverApi api;
  if (!BindDriverApi(*library, &api, &missing)) {
    if (error != nullptr) {
      *error = name + " is not the PTZ driver: missing export";
      *error += missing.size() == 1 ? " " : "s ";
      for (size_t i = 0; i < missing.size(); ++i) *error += (i ? ", " : "") + missing[i];
    }
    return false;
  }
  library_ = std::move(library);
  library_path_ = name;
  api_ = api;
  tail_.SetPath(LogPath());
  return true;
}

void Session::Unload() {
  Shutdown();
  library_.reset();
  api_ = DriverApi();
  library_path_.clear();
}

std::string Session::LibraryDir() const { return fs::path(library_path_).parent_path().string(); }

std::string Session::LogDir() const { return log_dir_.empty() ? LibraryDir() : log_dir_; }

std::string Session::LogPath() const {
  return (fs::path(LogDir()) / fs::path(library_path_).stem()).string() + ".log";
}

void Session::Print(const std::string& line) {
  if (printer_) printer_(line);
}

void Session::PrintNewLogLines() {
  if (tail_.Path() != LogPath()) tail_.SetPath(LogPath());
  for (const std::string& line : tail_.NewLines()) Print("    log  " + line);
}

int Session::Report(const std::string& call, int result, const std::string& detail, Kind kind) {
  std::string text = call + "  ->  ";
  if (kind == Kind::kVersion && result >= 0) {
    char version[32];
    std::snprintf(version, sizeof version, "0x%X", static_cast<unsigned>(result));
    text += version;
  } else if (kind == Kind::kCount && result >= 0) {
    text += std::to_string(result);
  } else {
    text += DescribeResult(result);
  }
  if (!detail.empty()) text += ", " + detail;
  Print(text);
  if (trace_) PrintNewLogLines();
  if (observer_) observer_(call, result);
  return result;
}

int Session::Init() {
  if (!Loaded()) return -18;
  if (tail_.Path() != LogPath()) tail_.SetPath(LogPath());
  const std::string dir = LogDir();
  const int result = api_.InitModule(log_switch_, nullptr, dir.c_str());
  // The module counts as initialised whatever the answer: its tables may
  // hold what was loaded before the failing step, and ExitModule clears them.
  initialised_ = true;
  return Report("VRT_CamInitModule(" + std::to_string(log_switch_) + ", NULL, " + Quoted(dir) + ")",
                result);
}

int Session::EnsureInit() { return initialised_ ? 1 : Init(); }

int Session::Exit() {
  if (!Loaded()) return -18;
  WaitForHold();
  CloseAll();
  initialised_ = false;
  handles_.clear();
  return Report("VRT_CamExitModule()", api_.ExitModule());
}

void Session::Shutdown() {
  if (Loaded() && initialised_) Exit();
}

int Session::Open(int camera) {
  if (!Loaded()) return -18;
  int handle = 0;
  const int result = api_.Open(camera, &handle);
  std::string detail;
  if (result == 1) {
    handles_[camera] = handle;
    detail = "handle " + HexHandle(handle);
  }
  return Report("VRT_CamOpen(" + std::to_string(camera) + ", &handle)", result, detail);
}

int Session::Close(int camera) {
  auto it = handles_.find(camera);
  if (it == handles_.end()) {
    Print("camera " + std::to_string(camera) + " is not open in this session");
    return -13;
  }
  const int handle = it->second;
  const int result = api_.Close(handle);
  if (result == 1) handles_.erase(it);
  return Report("VRT_CamClose(" + HexHandle(handle) + ")", result);
}

void Session::CloseAll() {
  while (!handles_.empty()) {
    const int camera = handles_.begin()->first;
    if (Close(camera) != 1) handles_.erase(camera);
  }
}

void Session::Forget(int handle) {
  for (auto it = handles_.begin(); it != handles_.end(); ++it) {
    if (it->second == handle) {
      handles_.erase(it);
      return;
    }
  }
}

int Session::Handle(const std::string& camera, int* handle) {
  long long value = 0;
  if (camera.size() > 2 && camera[0] == '0' && (camera[1] == 'x' || camera[1] == 'X')) {
    if (!ParseInt(camera.substr(2), 16, &value) || value < 0 || value > 0xFFFFFFFFLL) {
      Print("not a handle: " + camera);
      return -3;
    }
    *handle = static_cast<int>(static_cast<unsigned>(value));
    return 1;
  }
  if (!ParseInt(camera, 10, &value) || value < INT32_MIN || value > INT32_MAX) {
    Print("not a camera number: " + camera);
    return -3;
  }
  return HandleFor(static_cast<int>(value), handle);
}

int Session::HandleFor(int camera, int* handle) {
  auto it = handles_.find(camera);
  if (it != handles_.end()) {
    *handle = it->second;
    return 1;
  }
  const int init = EnsureInit();
  if (init != 1) return init;
  const int result = Open(camera);
  if (result != 1) return result;
  *handle = handles_[camera];
  return 1;
}

void Session::HoldFor(int ms) {
  if (ms <= 0) return;
  hold_until_ms_ = std::max(hold_until_ms_, NowMs() + ms);
}

void Session::WaitForHold() {
  const long long left = hold_until_ms_ - NowMs();
  hold_until_ms_ = 0;
  if (left > 0) std::this_thread::sleep_for(std::chrono::milliseconds(left));
}

}  // namespace ptzctl
