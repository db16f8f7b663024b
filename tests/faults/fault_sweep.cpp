// The fault-injection sweep: runs the host session of fault_scenario once
// without faults, then, for every platform operation, with its 1st, 2nd,
// 3rd ... call failing until a run has no call left to fail; with
// --onwards also once with every call of the operation failing from the
// first and from the middle on. Each run is a process of its own with a
// time bound (a run that does not end is a hang); a run fails when its
// checks fail, a sanitizer reports (a leak, undefined behaviour, a bad
// access), it crashes or it hangs. Prints per operation the calls of the
// fault-free session, the faults injected and the failed runs.
//
//   fault_sweep SCENARIO WORKDIR [--jobs N] [--timeout S] [--onwards] [OP...]
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* const kOperations[] = {
    "serial.open",   "serial.settings", "serial.timeouts", "serial.clear",   "serial.read",
    "serial.write",  "serial.purge",    "serial.close",    "settings.probe", "settings.chmod",
    "settings.read", "settings.open",   "settings.write",  "settings.flush", "settings.rename",
    "settings.lock", "settings.remove", "log.open",        "log.write",      "thread.create",
    "store.alloc",
};

struct Run {
  Run() = default;
  Run(std::string o, unsigned long n, bool on = false) : op(std::move(o)), at(n), onwards(on) {}
  std::string op;  // empty: the baseline
  unsigned long at = 0;
  bool onwards = false;
  // Filled in by Execute.
  bool passed = false;
  bool injected = false;
  bool timedOut = false;
  std::string why;
  std::map<std::string, unsigned long> calls;
  double seconds = 0;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::string Tail(const std::string& text, size_t lines) {
  size_t at = text.size();
  for (size_t n = 0; at > 0 && n <= lines; --at)
    if (text[at - 1] == '\n') ++n;
  return text.substr(at);
}

class Sweep {
 public:
  Sweep(std::string scenario, std::string work, int timeoutS)
      : Scenario(std::move(scenario)), Work(std::move(work)), TimeoutS(timeoutS) {}

  void Execute(Run* run, int slot) const {
    const std::string name =
        run->op.empty() ? "baseline"
                        : run->op + "-" + std::to_string(run->at) + (run->onwards ? "-on" : "");
    const std::string report = Work + "/" + name + ".report";
    const std::string output = Work + "/" + name + ".out";
    const std::string tmp = Work + "/tmp" + std::to_string(slot);
    mkdir(tmp.c_str(), 0755);
    unlink(report.c_str());
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
      setpgid(0, 0);
      const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fd, 1);
      dup2(fd, 2);
      setenv("TMPDIR", tmp.c_str(), 1);
      setenv("Q7FAULT_REPORT", report.c_str(), 1);
      setenv("Q7FAULT_BASELINE_DIR", (Work + "/baseline").c_str(), 1);
      if (run->op.empty()) {
        setenv("Q7FAULT_BASELINE_WRITE", "1", 1);
      } else {
        setenv("Q7FAULT_OP", run->op.c_str(), 1);
        setenv("Q7FAULT_AT", std::to_string(run->at).c_str(), 1);
        if (run->onwards) setenv("Q7FAULT_ON", "1", 1);
      }
      setenv("ASAN_OPTIONS", "detect_leaks=1:exitcode=23:abort_on_error=0", 1);
      setenv("UBSAN_OPTIONS", "halt_on_error=1:print_stacktrace=1", 1);
      execl(Scenario.c_str(), Scenario.c_str(), "--gtest_brief=1", static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    const auto deadline = start + std::chrono::seconds(TimeoutS);
    for (;;) {
      const pid_t done = waitpid(child, &status, WNOHANG);
      if (done == child) break;
      if (std::chrono::steady_clock::now() > deadline) {
        kill(-child, SIGKILL);
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        run->timedOut = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    run->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::istringstream in(ReadAll(report));
    std::string word, op;
    unsigned long n = 0;
    while (in >> word >> op >> n) {
      if (word == "injected") run->injected = true;
      if (word == "calls") run->calls[op] = n;
    }
    if (run->timedOut) {
      run->why = "no end within " + std::to_string(TimeoutS) + " s (hang)";
    } else if (WIFSIGNALED(status)) {
      run->why = "killed by signal " + std::to_string(WTERMSIG(status));
    } else if (WEXITSTATUS(status) == 23) {
      run->why = "sanitizer report (leak)";
    } else if (WEXITSTATUS(status) != 0) {
      run->why = "exit status " + std::to_string(WEXITSTATUS(status));
    } else if (run->calls.empty()) {
      run->why = "no call count reported (library not unloaded?)";
    } else {
      run->passed = true;
    }
    if (!run->passed) {
      std::lock_guard<std::mutex> hold(PrintLock);
      std::cout << "FAILED " << name << ": " << run->why << "\n"
                << Tail(ReadAll(output), 60) << "\n";
    }
  }

  // Runs every run of the queue, `jobs` at a time.
  void RunAll(std::vector<Run*> runs, int jobs) const {
    std::mutex lock;
    size_t next = 0;
    std::vector<std::thread> workers;
    for (int slot = 0; slot < jobs; ++slot) {
      workers.emplace_back([&, slot] {
        for (;;) {
          Run* run;
          {
            std::lock_guard<std::mutex> hold(lock);
            if (next == runs.size()) return;
            run = runs[next++];
          }
          Execute(run, slot);
        }
      });
    }
    for (std::thread& w : workers) w.join();
  }

 private:
  const std::string Scenario;
  const std::string Work;
  const int TimeoutS;
  mutable std::mutex PrintLock;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr
        << "usage: fault_sweep SCENARIO WORKDIR [--jobs N] [--timeout S] [--onwards] [OP...]\n";
    return 2;
  }
  int jobs = 2;
  int timeoutS = 60;
  bool onwards = false;
  std::vector<std::string> ops;
  for (int i = 3; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--jobs" && i + 1 < argc) {
      jobs = std::atoi(argv[++i]);
    } else if (arg == "--timeout" && i + 1 < argc) {
      timeoutS = std::atoi(argv[++i]);
    } else if (arg == "--onwards") {
      onwards = true;
    } else {
      ops.push_back(arg);
    }
  }
  if (ops.empty()) ops.assign(std::begin(kOperations), std::end(kOperations));
  const std::string work = argv[2];
  mkdir(work.c_str(), 0755);
  mkdir((work + "/baseline").c_str(), 0755);
  const auto start = std::chrono::steady_clock::now();
  Sweep sweep(argv[1], work, timeoutS);

  Run baseline;
  sweep.Execute(&baseline, 0);
  if (!baseline.passed) {
    std::cout << "the session fails without faults\n";
    return 1;
  }

  // Every call the fault-free session makes, then onwards one by one until
  // a run has no call left to fail (a fault may add calls: re-sends, retries).
  std::map<std::string, std::deque<Run>> byOp;
  std::vector<Run*> queue;
  for (const std::string& op : ops) {
    const unsigned long calls = baseline.calls.count(op) ? baseline.calls.at(op) : 0;
    for (unsigned long n = 1; n <= calls; ++n) {
      byOp[op].push_back(Run{op, n});
      queue.push_back(&byOp[op].back());
    }
    if (onwards && calls > 0) {
      byOp[op].push_back(Run{op, 1, true});
      queue.push_back(&byOp[op].back());
      if (calls > 2) {
        byOp[op].push_back(Run{op, calls / 2 + 1, true});
        queue.push_back(&byOp[op].back());
      }
    }
  }
  sweep.RunAll(queue, jobs);
  std::map<std::string, unsigned long> next;
  for (const std::string& op : ops)
    next[op] = baseline.calls.count(op) ? baseline.calls.at(op) + 1 : 1;
  std::vector<std::string> open(ops);
  constexpr unsigned long kBeyond = 50;
  while (!open.empty()) {
    std::vector<Run*> round;
    for (const std::string& op : open) {
      byOp[op].push_back(Run{op, next[op]++});
      round.push_back(&byOp[op].back());
    }
    sweep.RunAll(round, jobs);
    std::vector<std::string> still;
    for (Run* run : round) {
      if (!run->injected) continue;
      if (run->at > baseline.calls[run->op] + kBeyond) {
        std::cout << "FAILED " << run->op << ": still a call at " << run->at << "\n";
        run->passed = false;
        continue;
      }
      still.push_back(run->op);
    }
    open.swap(still);
  }

  int failed = 0;
  unsigned long totalRuns = 1;
  std::printf("%-17s %7s %9s %7s %8s\n", "operation", "calls", "injected", "failed", "max s");
  for (const std::string& op : ops) {
    unsigned long injected = 0, bad = 0;
    double slowest = 0;
    for (const Run& run : byOp[op]) {
      ++totalRuns;
      if (run.injected) ++injected;
      if (!run.passed) ++bad;
      if (run.seconds > slowest) slowest = run.seconds;
    }
    failed += static_cast<int>(bad);
    std::printf("%-17s %7lu %9lu %7lu %8.1f\n", op.c_str(),
                baseline.calls.count(op) ? baseline.calls.at(op) : 0, injected, bad, slowest);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%lu runs in %.0f s; %d failed\n", totalRuns, seconds, failed);
  return failed == 0 ? 0 : 1;
}
