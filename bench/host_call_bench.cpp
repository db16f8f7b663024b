// Cost of a host call against a simulated dome, next to the same bytes
// written and read by hand on the same pseudo-terminal in the same run; and
// the same over a loopback network line (the simulator served over TCP),
// next to the same bytes written and read by hand on a raw socket.
//
//   benchmarks --benchmark_filter=HostCall
//
// The driver's figures are printed as ratios to the raw baseline at the end.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "domesim/domesim.h"
#include "quaro7k7_ptz.h"
#include "ratio.h"

namespace {

namespace fs = std::filesystem;

using InitFn = int (*)(int, void*, const char*);
using ExitFn = int (*)();
using OpenFn = int (*)(int, int*);
using CloseFn = int (*)(int);
using MoveFn = int (*)(int, int);
using PresetFn = int (*)(int, int, int);

// One host with the library loaded from a private directory and one camera
// on a simulated line.
class Host {
 public:
  // network: -1 a pty, else the dome served over TCP in that mode.
  explicit Host(bool log, int network = -1) {
    char pattern[] = "/tmp/q7-bench-XXXXXX";
    dir_ = mkdtemp(pattern);
    fs::copy_file(QUARO7_LIBRARY_PATH, dir_ / "QUARO7K7_PTZ.so");
    std::ofstream(dir_ / "QUARO7K7_PTZ.xml")
        << "<?xml version='1.0' encoding='iso-8859-1'?>\n<settings><comm1>"
           "<Name value=\"Bench\"/><ComPort value=\"1\"/><PortMode value=\"96,E,8,1\"/>"
           "<cam1><Name value=\"Cam\"/><TavoID value=\"0\"/><SysID value=\"1\"/>"
           "<NodeAddress value=\"128\"/><CamAccFactor value=\"6\"/>"
           "<WaitForResponse value=\"1\"/><DefaultPreposSpeed value=\"90\"/>"
           "<NofStorageLocations value=\"99\"/><ControlMonitor value=\"1\"/>"
           "<NofRelays value=\"3\"/><positions><PrePos1><Name value=\"P\"/><ID value=\"0\"/>"
           "<MemId value=\"1\"/></PrePos1></positions></cam1></comm1></settings>\n";
    if (network < 0) {
      sim_.Publish(dir_.string(), 1);
    } else {
      server_ = std::make_unique<domesim::NetworkServer>(
          sim_, network == 0 ? domesim::NetMode::kRaw : domesim::NetMode::kRfc2217);
      server_->Publish(dir_.string(), 1);
    }
    lib_ = dlopen((dir_ / "QUARO7K7_PTZ.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (lib_ == nullptr) throw std::runtime_error(dlerror());
    init_ = Sym<InitFn>("VRT_CamInitModule");
    exit_ = Sym<ExitFn>("VRT_CamExitModule");
    open_ = Sym<OpenFn>("VRT_CamOpen");
    close_ = Sym<CloseFn>("VRT_CamClose");
    left_ = Sym<MoveFn>("VRT_CamLeft");
    recall_ = Sym<PresetFn>("VRT_CamMoveToPrePosition");
    if (init_(log ? 1 : 0, nullptr, dir_.c_str()) != 1) throw std::runtime_error("init");
    if (open_(0, &handle_) != 1) throw std::runtime_error("open");
  }
  ~Host() {
    close_(handle_);
    exit_();
    dlclose(lib_);
    server_.reset();
    sim_.Close();
    fs::remove_all(dir_);
  }
  domesim::DomeSimulator& Sim() { return sim_; }
  int MoveStartStop() { return left_(handle_, 12) + left_(handle_, 0); }
  int Recall() { return recall_(handle_, 0, 50); }

 private:
  template <typename F>
  F Sym(const char* name) {
    void* p = dlsym(lib_, name);
    if (p == nullptr) throw std::runtime_error(name);
    return reinterpret_cast<F>(p);
  }
  fs::path dir_;
  domesim::DomeSimulator sim_;
  std::unique_ptr<domesim::NetworkServer> server_;
  void* lib_ = nullptr;
  InitFn init_;
  ExitFn exit_;
  OpenFn open_;
  CloseFn close_;
  MoveFn left_;
  PresetFn recall_;
  int handle_ = 0;
};

// The same lines written and answered by hand: write, poll, read 3 bytes.
class RawLine {
 public:
  explicit RawLine(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    tcsetattr(fd_, TCSANOW, &t);
  }
  ~RawLine() { close(fd_); }
  bool RoundTrip(const char* line) {
    const size_t length = std::strlen(line);
    if (write(fd_, line, length) != static_cast<ssize_t>(length)) return false;
    char reply[3];
    size_t got = 0;
    while (got < sizeof reply) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 2000) <= 0) return false;
      const ssize_t n = read(fd_, reply + got, sizeof reply - got);
      if (n <= 0) return false;
      got += static_cast<size_t>(n);
    }
    return true;
  }

 private:
  int fd_;
};

void HostCall_Raw_MoveStartStop(benchmark::State& state) {
  domesim::DomeSimulator sim;
  RawLine line(sim.SlavePath());
  for (auto _ : state) {
    bool ok = line.RoundTrip("@5,3\r") && line.RoundTrip("@7,70,1\r") && line.RoundTrip("@6,3\r");
    if (!ok) state.SkipWithError("raw round trip failed");
  }
}
BENCHMARK(HostCall_Raw_MoveStartStop)->UseRealTime();

void HostCall_Driver_MoveStartStop(benchmark::State& state) {
  Host host(state.range(0) != 0);
  for (auto _ : state) {
    if (host.MoveStartStop() != 2) state.SkipWithError("driver call failed");
    host.Sim().ClearLines();
  }
}
BENCHMARK(HostCall_Driver_MoveStartStop)->Arg(0)->Arg(1)->ArgName("log")->UseRealTime();

void HostCall_Raw_PresetRecall(benchmark::State& state) {
  domesim::DomeSimulator sim;
  RawLine line(sim.SlavePath());
  for (auto _ : state) {
    if (!line.RoundTrip("@16,1,90\r")) state.SkipWithError("raw round trip failed");
  }
}
BENCHMARK(HostCall_Raw_PresetRecall)->UseRealTime();

void HostCall_Driver_PresetRecall(benchmark::State& state) {
  Host host(state.range(0) != 0);
  for (auto _ : state) {
    if (host.Recall() != 1) state.SkipWithError("driver call failed");
    host.Sim().ClearLines();
  }
}
BENCHMARK(HostCall_Driver_PresetRecall)->Arg(0)->Arg(1)->ArgName("log")->UseRealTime();

// The same lines on a TCP connection to the simulator's raw server.
class RawSocket {
 public:
  explicit RawSocket(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
      throw std::runtime_error("connect");
  }
  ~RawSocket() { close(fd_); }
  bool RoundTrip(const char* line) {
    const size_t length = std::strlen(line);
    if (send(fd_, line, length, MSG_NOSIGNAL) != static_cast<ssize_t>(length)) return false;
    char reply[3];
    size_t got = 0;
    while (got < sizeof reply) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 2000) <= 0) return false;
      const ssize_t n = recv(fd_, reply + got, sizeof reply - got, 0);
      if (n <= 0) return false;
      got += static_cast<size_t>(n);
    }
    return true;
  }

 private:
  int fd_;
};

void NetLine_RawSocket_MoveStartStop(benchmark::State& state) {
  domesim::DomeSimulator sim;
  domesim::NetworkServer server(sim, domesim::NetMode::kRaw);
  RawSocket line(server.Port());
  for (auto _ : state) {
    bool ok = line.RoundTrip("@5,3\r") && line.RoundTrip("@7,70,1\r") && line.RoundTrip("@6,3\r");
    if (!ok) state.SkipWithError("raw round trip failed");
  }
}
BENCHMARK(NetLine_RawSocket_MoveStartStop)->UseRealTime();

// Arg 0: a tcp:// line, 1: an rfc2217:// line (with a purge before each line).
void NetLine_Driver_MoveStartStop(benchmark::State& state) {
  Host host(false, static_cast<int>(state.range(0)));
  for (auto _ : state) {
    if (host.MoveStartStop() != 2) state.SkipWithError("driver call failed");
    host.Sim().ClearLines();
  }
}
BENCHMARK(NetLine_Driver_MoveStartStop)->Arg(0)->Arg(1)->ArgName("rfc2217")->UseRealTime();

static const bench::CompareTo kNetRatios({"NetLine_Driver_MoveStartStop/rfc2217:0/real_time",
                                          "NetLine_Driver_MoveStartStop/rfc2217:1/real_time"},
                                         "NetLine_RawSocket_MoveStartStop/real_time");
static const bench::CompareTo kMoveRatios({"HostCall_Driver_MoveStartStop/log:0/real_time",
                                           "HostCall_Driver_MoveStartStop/log:1/real_time"},
                                          "HostCall_Raw_MoveStartStop/real_time");
static const bench::CompareTo kRecallRatios({"HostCall_Driver_PresetRecall/log:0/real_time",
                                             "HostCall_Driver_PresetRecall/log:1/real_time"},
                                            "HostCall_Raw_PresetRecall/real_time");

}  // namespace
