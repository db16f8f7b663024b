#include "host_fixture.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

namespace q7host {

namespace fs = std::filesystem;

// ---------------------------------------------------------------- settings file

std::string XmlAttribute(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

namespace {

void Key(std::ostringstream& out, const std::string& name, const std::string& value) {
  out << "<" << name << " value=\"" << XmlAttribute(value) << "\"/>";
}
void Key(std::ostringstream& out, const std::string& name, int value) {
  Key(out, name, std::to_string(value));
}

}  // namespace

std::string SettingsXml(const std::vector<ConnectionConfig>& connections) {
  std::ostringstream out;
  out << "<?xml version='1.0' encoding='iso-8859-1'?>\n<settings>\n";
  int n = 0;
  for (const ConnectionConfig& connection : connections) {
    ++n;
    out << "\t<comm" << n << ">";
    Key(out, comm_keys::kName + 1, connection.name);
    Key(out, comm_keys::kComPort + 1, connection.comPort);
    Key(out, comm_keys::kPortMode + 1, connection.portMode);
    out << "\n";
    int m = 0;
    for (const CameraConfig& camera : connection.cameras) {
      ++m;
      out << "\t\t<cam" << m << ">";
      Key(out, camera_keys::kName + 1, camera.name);
      Key(out, camera_keys::ElementName(camera_keys::TavoID), camera.tavoId);
      Key(out, camera_keys::ElementName(camera_keys::SysID), camera.sysId);
      Key(out, camera_keys::ElementName(camera_keys::NodeAddress), camera.nodeAddress);
      Key(out, camera_keys::ElementName(camera_keys::CamAccFactor), camera.camAccFactor);
      Key(out, camera_keys::ElementName(camera_keys::WaitForResponse), camera.waitForResponse);
      Key(out, camera_keys::ElementName(camera_keys::WashPulseTime), camera.washPulseTime);
      Key(out, camera_keys::ElementName(camera_keys::DefaultPreposSpeed),
          camera.defaultPreposSpeed);
      Key(out, camera_keys::ElementName(camera_keys::NofStorageLocations),
          camera.nofStorageLocations);
      Key(out, camera_keys::ElementName(camera_keys::ControlMonitor), camera.controlMonitor);
      Key(out, camera_keys::ElementName(camera_keys::NofRelays), camera.nofRelays);
      for (const auto& [name, value] : camera.extraKeys) Key(out, name, value);
      out << camera.innerXml << "\n\t\t</cam" << m << ">\n";
    }
    out << "\t</comm" << n << ">\n";
  }
  out << "</settings>\n";
  return out.str();
}

// ---------------------------------------------------------------- the library

std::vector<std::string> ExportedSymbolNames() {
  std::vector<std::string> names = {QUARO7_SYMBOL_GET_VERSION, QUARO7_SYMBOL_CLOSE_UI};
#define Q7HOST_NAME(name) names.push_back(#name);
  Q7HOST_PLAIN_EXPORTS(Q7HOST_NAME)
#undef Q7HOST_NAME
  return names;
}

LoadedLibrary::LoadedLibrary(const std::string& path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* why = dlerror();
    error_ = "dlopen " + path + ": " + (why ? why : "unknown error");
    return;
  }
  auto find = [this](const char* name) {
    void* symbol = dlsym(handle_, name);
    if (symbol == nullptr) error_ += std::string(error_.empty() ? "" : ", ") + "missing " + name;
    return symbol;
  };
  api_.VRT_CamGetVersion =
      reinterpret_cast<decltype(api_.VRT_CamGetVersion)>(find(QUARO7_SYMBOL_GET_VERSION));
  api_.VRT_CamCloseUi =
      reinterpret_cast<decltype(api_.VRT_CamCloseUi)>(find(QUARO7_SYMBOL_CLOSE_UI));
#define Q7HOST_FIND(name) api_.name = reinterpret_cast<decltype(api_.name)>(find(#name));
  Q7HOST_PLAIN_EXPORTS(Q7HOST_FIND)
#undef Q7HOST_FIND
}

LoadedLibrary::~LoadedLibrary() { Unload(); }

void* LoadedLibrary::Symbol(const char* name) const {
  return handle_ == nullptr ? nullptr : dlsym(handle_, name);
}

void LoadedLibrary::Unload() {
  if (handle_ == nullptr) return;
  dlclose(handle_);
  handle_ = nullptr;
  api_ = Api();
}

// ---------------------------------------------------------------- helpers

std::string Format(const char* format, ...) {
  char buffer[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

bool FileExists(const std::string& path) {
  std::error_code ignored;
  return fs::exists(path, ignored);
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::vector<std::string> SplitLogLines(const std::string& text) {
  // A stamp inside a line starts a new one: the port's own messages are
  // written without a line end, so the next stamped line follows them.
  static const std::regex stamp(R"(\d{4}/\d{2}/\d{2}, \d{2}:\d{2}\.\d{2}\t)");
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find("\r\n", start);
    const std::string line =
        text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    std::string rest = line;
    std::smatch match;
    bool first = true;
    while (std::regex_search(rest, match, stamp)) {
      if (!first || match.position(0) > 0) lines.push_back(rest.substr(0, match.position(0)));
      rest = match.suffix();
      first = false;
    }
    lines.push_back(rest);
    if (end == std::string::npos) break;
    start = end + 2;
  }
  return lines;
}

std::string HexHandle(int handle) { return Format("%08X", static_cast<unsigned>(handle)); }

// ---------------------------------------------------------------- the host

void HostTest::SetUp() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/q7host-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  ASSERT_NE(mkdtemp(buffer.data()), nullptr) << "mkdtemp " << pattern;
  dir_ = buffer.data();
  std::error_code error;
  fs::copy_file(QUARO7_LIBRARY_PATH, LibraryPath(), error);
  ASSERT_FALSE(error) << "copy " << QUARO7_LIBRARY_PATH << ": " << error.message();
}

void HostTest::TearDown() {
  Unload();
  simulators_.clear();
  if (!dir_.empty()) {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
}

void HostTest::WriteSettings(const std::vector<ConnectionConfig>& connections) {
  WriteSettingsText(SettingsXml(connections));
}

void HostTest::WriteSettingsText(const std::string& text) { WriteFile(SettingsPath(), text); }

domesim::DomeSimulator& HostTest::Simulator(int com) {
  auto& slot = simulators_[com];
  if (!slot) {
    slot = std::make_unique<domesim::DomeSimulator>();
    slot->Publish(dir_, com);
  }
  return *slot;
}

const Api& HostTest::Load() {
  if (!library_) {
    library_ = std::make_unique<LoadedLibrary>(LibraryPath());
    EXPECT_TRUE(library_->ok()) << library_->error();
  }
  return library_->api();
}

void HostTest::Unload() {
  if (!library_) return;
  if (initialised_ && library_->ok()) Exit();
  library_.reset();
}

int64_t HostTest::UnloadAsItStands() {
  initialised_ = false;
  const int64_t start = NowMs();
  library_.reset();
  return NowMs() - start;
}

int HostTest::Init(int logSwitch) {
  const Api& a = Load();
  if (a.VRT_CamInitModule == nullptr) return 0;
  initialised_ = true;
  return a.VRT_CamInitModule(logSwitch, nullptr, dir_.c_str());
}

int HostTest::Exit() {
  initialised_ = false;
  return api().VRT_CamExitModule();
}

int HostTest::Open(int tavoId) {
  int handle = 0;
  const int result = api().VRT_CamOpen(tavoId, &handle);
  EXPECT_EQ(result, 1) << "VRT_CamOpen(" << tavoId << ")";
  return result == 1 ? handle : 0;
}

int HostTest::StartCamera(const CameraConfig& camera, const ConnectionConfig& connection) {
  ConnectionConfig line = connection;
  line.cameras = {camera};
  WriteSettings({line});
  Simulator(line.comPort);
  EXPECT_EQ(Init(), 1);
  const int handle = Open(camera.tavoId);
  Simulator(line.comPort).ClearLines();
  return handle;
}

std::string HostTest::LogText() const { return ReadFile(LogPath()); }

std::vector<std::string> HostTest::LogLines() const { return SplitLogLines(LogText()); }

::testing::AssertionResult HostTest::HasLogLine(const std::string& line) const {
  for (const std::string& l : LogLines())
    if (l == line) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "no log line \"" << line << "\" in:\n" << LogText();
}

::testing::AssertionResult HostTest::LacksLogLine(const std::string& line) const {
  for (const std::string& l : LogLines())
    if (l == line)
      return ::testing::AssertionFailure() << "unexpected log line \"" << line << "\" in:\n"
                                           << LogText();
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult HostTest::LogContains(const std::string& text) const {
  if (LogText().find(text) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\"" << text << "\" not in the log:\n" << LogText();
}

int HostTest::CountLogLines(const std::string& line) const {
  int count = 0;
  for (const std::string& l : LogLines())
    if (l == line) ++count;
  return count;
}

::testing::AssertionResult HostTest::WaitForLogLine(const std::string& line, int timeout_ms,
                                                    int count) const {
  const int64_t deadline = NowMs() + timeout_ms;
  while (NowMs() < deadline) {
    if (CountLogLines(line) >= count) return ::testing::AssertionSuccess();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const int found = CountLogLines(line);
  if (found >= count) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "log line \"" << line << "\" " << found << " times, not "
                                       << count << ", after " << timeout_ms << " ms, in:\n"
                                       << LogText();
}

std::vector<std::string> HostTest::Wire(int com) { return Simulator(com).TakeLines(); }

}  // namespace q7host
