// Control commands for a running simulator: what the quaro7-domesim tool
// reads from its standard input to change the dome's behaviour at run time.
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "domesim/domesim.h"

namespace domesim {
namespace {

// A whole decimal number from 0 to 600000 (ten minutes of milliseconds).
int Milliseconds(const std::string& word, const std::string& command) {
  if (word.empty() || word.size() > 6 || word.find_first_not_of("0123456789") != std::string::npos)
    throw std::invalid_argument(command + ": milliseconds expected, got '" + word + "'");
  const int ms = std::atoi(word.c_str());
  if (ms > 600000) throw std::invalid_argument(command + ": at most 600000 ms");
  return ms;
}

std::string Status(const DomeSimulator& sim) {
  std::string text = std::string("reply ") + ReplyModeName(sim.GetReplyMode()) + ", delay " +
                     std::to_string(sim.DelayMs()) + " ms, babble ";
  text += sim.BabbleIntervalMs() > 0 ? std::to_string(sim.BabbleIntervalMs()) + " ms" : "off";
  text += sim.IsOpen() ? ", port " + sim.SlavePath() : ", port hung up";
  if (!sim.PublishedPath().empty()) text += " as " + sim.PublishedPath();
  return text;
}

}  // namespace

std::string RunControlCommand(DomeSimulator& sim, std::string_view line, NetworkServer* net) {
  std::istringstream in{std::string(line)};
  std::string command, argument, extra;
  in >> command;
  if (command.empty() || command[0] == '#') return {};
  in >> argument >> extra;
  const bool wants_argument =
      command == "reply" || command == "delay" || command == "babble" || command == "outage";
  const bool network = command == "drop" || command == "refuse" || command == "accept";
  if (network && net == nullptr)
    throw std::invalid_argument(command + ": the dome is not served over TCP (--listen)");
  if (!wants_argument && !network && command != "hangup" && command != "reopen" &&
      command != "status")
    throw std::invalid_argument(
        "unknown command '" + command +
        "' (reply, delay, babble, hangup, reopen, outage, status, drop, refuse, accept)");
  if (wants_argument && argument.empty())
    throw std::invalid_argument(command + ": an argument is missing");
  if (!extra.empty() || (!wants_argument && !argument.empty()))
    throw std::invalid_argument(command + ": too many arguments");

  if (command == "reply") {
    std::optional<ReplyMode> mode = ParseReplyMode(argument);
    if (!mode) throw std::invalid_argument("reply: unknown mode '" + argument + "'");
    sim.SetReplyMode(*mode);
    return "reply " + argument;
  }
  if (command == "delay") {
    sim.SetDelayMs(Milliseconds(argument, command));
    return "delay " + std::to_string(sim.DelayMs()) + " ms";
  }
  if (command == "babble") {
    const int ms = Milliseconds(argument, command);
    sim.SetBabble(ms);
    return ms > 0 ? "babble every " + std::to_string(ms) + " ms" : "babble off";
  }
  if (command == "drop") {
    net->Drop();
    return "connection dropped";
  }
  if (command == "refuse") {
    net->SetRefusing(true);
    return "refusing connections";
  }
  if (command == "accept") {
    net->SetRefusing(false);
    return "accepting connections on port " + std::to_string(net->Port());
  }
  if (command == "hangup") {
    sim.Hangup();
    return "hung up";
  }
  if (command == "reopen") {
    sim.Reopen();
    return "reopened: " + Status(sim);
  }
  if (command == "outage") {
    const int ms = Milliseconds(argument, command);
    sim.Hangup();
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    sim.Reopen();
    return "back after " + std::to_string(ms) + " ms: " + Status(sim);
  }
  std::string status = Status(sim);
  if (net != nullptr)
    status += ", " + net->Url() +
              (net->Refusing()          ? " refusing"
               : net->ClientConnected() ? " connected"
                                        : " listening");
  return status;
}

}  // namespace domesim
