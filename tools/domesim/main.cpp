// quaro7-domesim: a QUARO7 dome on a pseudo-terminal, published as a COM port.
#include <signal.h>
#include <time.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <deque>
#include <exception>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "domesim/domesim.h"

namespace {

std::mutex print_mu;

// "14:03:07.215 " in local time.
std::string TimeStamp() {
  auto now = std::chrono::system_clock::now();
  time_t seconds = std::chrono::system_clock::to_time_t(now);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
  tm local{};
  localtime_r(&seconds, &local);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d ", local.tm_hour, local.tm_min,
                local.tm_sec, static_cast<int>(ms.count()));
  return text;
}

void Print(const std::string& text) {
  std::lock_guard<std::mutex> lock(print_mu);
  std::fputs(text.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "QUARO7 dome simulator: answers QUARO7 command lines on a pseudo-terminal that is "
      "published as <port-dir>/ports/COM<n>, and shows what the dome does."};
  std::string port_dir;
  int com = 0;
  std::string reply = "ok";
  int delay_ms = 0;
  bool trace = false;
  bool control = false;
  int babble_ms = 0;
  std::string version;
  app.add_option("--port-dir", port_dir, "Directory whose ports/ sub-directory gets the COM link")
      ->required();
  app.add_option("--com", com, "COM port number to publish")->required()->check(CLI::Range(1, 255));
  std::vector<std::string> modes;
  for (domesim::ReplyMode mode : domesim::AllReplyModes())
    modes.push_back(domesim::ReplyModeName(mode));
  app.add_option("--reply", reply,
                 "Answer: ok (OK, ER for lines not understood), silent, ni, ol, er, garbage, "
                 "short (O), cr (a bare CR)")
      ->check(CLI::IsMember(modes))
      ->capture_default_str();
  app.add_option("--delay", delay_ms, "Milliseconds to wait before each answer")
      ->check(CLI::Range(0, 600000))
      ->capture_default_str();
  app.add_option("--babble", babble_ms,
                 "Send random bytes unasked every this many milliseconds (0: never)")
      ->check(CLI::Range(0, 600000))
      ->capture_default_str();
  app.add_flag("--control", control,
               "Read control commands from standard input: reply MODE, delay MS, babble MS, "
               "hangup, reopen, outage MS, status; with --listen also drop, refuse, accept");
  app.add_option("--version-reply", version,
                 "Answer to the version query @55 without the CR (default OK1,23,4,56)");
  app.add_flag("--trace", trace, "Print every line received with its meaning and the answer");
  int listen_port = -1;
  std::string net_mode = "rfc2217";
  app.add_option("--listen", listen_port,
                 "Serve the dome over TCP on 127.0.0.1:PORT (0: any free port) and publish "
                 "COM<n> as a network line file naming it")
      ->check(CLI::Range(0, 65535));
  app.add_option("--net", net_mode,
                 "With --listen: rfc2217 (telnet with the COM port option) or tcp (raw bytes)")
      ->check(CLI::IsMember({"rfc2217", "tcp"}))
      ->capture_default_str();
  CLI11_PARSE(app, argc, argv);

  // SIGINT and SIGTERM are taken with sigtimedwait below; blocked before any
  // thread starts so that every thread inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  try {
    domesim::DomeSimulator sim;
    sim.SetReplyMode(*domesim::ParseReplyMode(reply));
    sim.SetDelayMs(delay_ms);
    sim.SetBabble(babble_ms);
    if (!version.empty()) sim.SetVersionReply(version + "\r");
    if (trace) sim.SetTraceSink([](const std::string& line) { Print(TimeStamp() + line); });
    std::unique_ptr<domesim::NetworkServer> net;
    std::string published;
    if (listen_port >= 0) {
      net = std::make_unique<domesim::NetworkServer>(
          sim, net_mode == "tcp" ? domesim::NetMode::kRaw : domesim::NetMode::kRfc2217,
          listen_port);
      net->Publish(port_dir, com);
      published = port_dir + "/ports/COM" + std::to_string(com);
      Print("quaro7-domesim: dome on " + sim.SlavePath() + ", served as " + net->Url() +
            ", published in " + published);
    } else {
      sim.Publish(port_dir, com);
      published = sim.PublishedPath();
      Print("quaro7-domesim: dome on " + sim.SlavePath() + ", published as " + published);
    }
    Print("quaro7-domesim: reply " + reply + ", delay " + std::to_string(delay_ms) +
          " ms; Ctrl-C ends");

    // Commands from standard input, one a line, run by the loop below. The
    // reader only queues them; it is detached, since a read that blocks
    // cannot be interrupted at exit.
    struct Commands {
      std::mutex mu;
      std::deque<std::string> lines;
    };
    auto commands = std::make_shared<Commands>();
    if (control) {
      std::thread([commands] {
        std::string line;
        while (std::getline(std::cin, line)) {
          std::lock_guard<std::mutex> lock(commands->mu);
          commands->lines.push_back(line);
        }
      }).detach();
    }
    auto run_commands = [&] {
      for (;;) {
        std::string line;
        {
          std::lock_guard<std::mutex> lock(commands->mu);
          if (commands->lines.empty()) return;
          line = std::move(commands->lines.front());
          commands->lines.pop_front();
        }
        try {
          std::string done = domesim::RunControlCommand(sim, line, net.get());
          if (!done.empty()) Print("quaro7-domesim: " + done);
        } catch (const std::exception& error) {
          Print(std::string("quaro7-domesim: ") + error.what());
        }
      }
    };

    // Status of each dome, printed when anything but its position changed.
    std::map<std::pair<int, int>, std::string> shown;
    timespec tick{0, 100 * 1000 * 1000};
    int signal_number = 0;
    while ((signal_number = sigtimedwait(&signals, nullptr, &tick)) < 0) {
      run_commands();
      // The program reads no line records (the trace is printed as lines
      // come): without this a long run keeps every line it ever received.
      sim.ClearLines();
      for (const domesim::DomeState& dome : sim.Domes()) {
        std::string& last = shown[{dome.node, dome.camera}];
        std::string now = domesim::FormatStatus(dome, false);
        if (now == last) continue;
        last = now;
        Print(TimeStamp() + domesim::FormatStatus(dome, true));
      }
    }
    std::string link = published;
    net.reset();
    if (listen_port >= 0) std::remove(published.c_str());
    sim.Close();
    Print(std::string("quaro7-domesim: ") + (signal_number == SIGINT ? "SIGINT" : "SIGTERM") +
          ", removed " + link);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "quaro7-domesim: %s\n", error.what());
    return 1;
  }
  return 0;
}
