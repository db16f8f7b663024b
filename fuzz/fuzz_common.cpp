#include "fuzz_common.h"

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "camera/camera.h"
#include "comm/comm.h"
#include "driver/driver.h"
#include "platform/module_path.h"
#include "quaro7k7_ptz.h"

namespace q7fuzz {

namespace fs = std::filesystem;

namespace {

void RemoveWorkDir() {
  std::error_code ignored;
  fs::remove_all(WorkDir(), ignored);
}

}  // namespace

const std::string& WorkDir() {
  // Never destroyed: the handler that removes the directory runs after the
  // program's static objects are gone.
  static const std::string& dir = *new std::string([] {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/q7fuzz-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) Fail("cannot make a directory from " + pattern);
    return std::string(buffer.data());
  }());
  static const bool removed = (std::atexit(RemoveWorkDir), true);
  (void)removed;
  return dir;
}

const std::string& SettingsPath() {
  static const std::string path = [] {
    std::string program;
    if (!platform::LibraryFileName(&program)) Fail("the program's file name is not known");
    return program.substr(0, program.rfind('/') + 1) + CVRTDriver::kSettingsFileName;
  }();
  return path;
}

std::string LogPath() { return WorkDir() + "/QUARO7K7_PTZ.log"; }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) Fail("cannot write " + path);
}

void RemoveFile(const std::string& path) { ::unlink(path.c_str()); }

void EndModule() {
  VRT_CamExitModule();
  CXMLSettingsAPI& settings = Driver().Settings;
  while (settings.OpenCount() > 0) settings.CloseDocument();
}

std::string ConfigurationText() {
  CVRTDriver& driver = Driver();
  std::ostringstream out;
  out << "table " << driver.CameraCount() << "\n";
  std::vector<CVRTComm*> connections;
  driver.GetConnections(&connections);
  for (CVRTComm* comm : connections) {
    out << "comm key=" << comm->GetKey() << " name=" << comm->GetName()
        << " port=" << comm->GetComPort() << " mode=" << comm->GetPortMode() << "\n";
    std::vector<CVRTCamera*> cameras;
    comm->GetCameras(&cameras);
    for (CVRTCamera* c : cameras) {
      out << " cam key=" << c->KeyPath << " name=" << c->Name << " tavo=" << c->TavoID
          << " sys=" << c->SysID << " node=" << c->NodeAddress << " acc=" << c->CamAccFactor << "/"
          << c->CamAccDefault << "/" << c->CamAccDefaultState << " wait=" << c->WaitForResponse
          << " wash=" << c->WashPulseTime << " prepos=" << c->DefaultPreposSpeed
          << " locations=" << c->NofStorageLocations << " slow=" << c->DefaultLensSlow
          << " monitor=" << c->ControlMonitor << " aux=" << c->Aux1Func << "/" << c->Aux2Func << "/"
          << c->Aux3Func << " relays=" << c->NofRelays << " auto=" << c->AutoFocus << "/"
          << c->AutoIris << "\n";
      for (const auto& p : c->PrePositions)
        out << "  preset name=" << p->Name << " id=" << p->ID << " mem=" << p->MemId << "\n";
      for (const auto& r : c->Relays) out << "  relay name=" << r->Name << "\n";
      for (int i = 0; i < CVRTCamera::kLocationCount; ++i) {
        const auto& slot = c->StorageLocations[i];
        if (slot.useCount != 0)
          out << "  location " << i << " uses=" << slot.useCount << " at=" << slot.location << "\n";
      }
    }
  }
  return out.str();
}

void Fail(const std::string& message, const std::string& detail) {
  std::fprintf(stderr, "\n*** %s\n", message.c_str());
  if (!detail.empty()) std::fprintf(stderr, "%s\n", detail.c_str());
  std::fflush(stderr);
  std::abort();
}

void Trace(const char* what, int result, int64_t ms) {
  static const bool on = getenv("Q7FUZZ_TRACE") != nullptr;
  if (on) std::fprintf(stderr, "%s -> %d (%lld ms)\n", what, result, static_cast<long long>(ms));
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace q7fuzz
