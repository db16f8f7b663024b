// A host without a toolkit: its main thread ticks every 50 ms.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "host_scenario.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::atomic<bool> quit{false};
  testhost::Outcome outcome;
  std::thread worker([&] {
    outcome = testhost::Scenario(argv[1], nullptr);
    quit = true;
  });
  while (!quit) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ++testhost::ticks;
  }
  worker.join();
  std::printf("%s\n", outcome.report.c_str());
  return outcome.ok ? 0 : 1;
}
