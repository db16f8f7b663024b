// What the simulated domes do with the commands they understand.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "domesim/domesim.h"

namespace domesim {
namespace {

// Degrees per second for each percent of speed.
constexpr double kDegreesPerSecondPerPercent = 1.0;
constexpr double kMaxTilt = 90.0;

// +1, -1 or 0 for a pair of opposite keys.
int Pair(const std::vector<bool>& on, int plus, int minus) {
  if (on[plus] == on[minus]) return 0;
  return on[plus] ? 1 : -1;
}

// Active mode of a lens function pair: the mode of the key held alone, or -1.
int LensMode(const std::vector<bool>& on, int mode0, int mode1) {
  if (on[mode0] == on[mode1]) return -1;
  return on[mode0] ? 0 : 1;
}

std::string Mode(int mode) { return mode < 0 ? "-" : std::to_string(mode); }

}  // namespace

bool DomeState::IsOn(int function) const {
  return std::find(functions.begin(), functions.end(), function) != functions.end();
}

void DomeModel::Advance(Dome& dome, Clock::time_point now) {
  if (dome.moved_at != Clock::time_point{} && now > dome.moved_at) {
    double seconds = std::chrono::duration<double>(now - dome.moved_at).count();
    int pan = Pair(dome.on, 2, 3);   // right turns the pan angle up
    int tilt = Pair(dome.on, 5, 4);  // down turns away from the horizon
    if (pan != 0) {
      double p = dome.position.pan + pan * dome.pan_speed * kDegreesPerSecondPerPercent * seconds;
      p = std::fmod(p, 360.0);
      dome.position.pan = p < 0 ? p + 360.0 : p;
    }
    if (tilt != 0) {
      double t =
          dome.position.tilt + tilt * dome.tilt_speed * kDegreesPerSecondPerPercent * seconds;
      dome.position.tilt = std::clamp(t, 0.0, kMaxTilt);
    }
  }
  if (now > dome.moved_at) dome.moved_at = now;
}

DomeModel::Dome& DomeModel::Target(int node) { return domes_[{node, nodes_[node].camera}]; }

void DomeModel::Apply(const Command& command, Clock::time_point now) {
  if (!command.valid) return;
  const std::vector<int>& a = command.args;
  switch (command.number) {
    case 2:
      nodes_[command.node].monitor = a[0];
      return;
    case 3: {
      NodeSelection& selection = nodes_[command.node];
      selection.camera = a[0];
      Dome& dome = domes_[{command.node, a[0]}];
      Advance(dome, now);
      dome.monitor = selection.monitor;
      return;
    }
    case 55:
      return;
    default:
      break;
  }
  Dome& dome = Target(command.node);
  Advance(dome, now);
  switch (command.number) {
    case 4: {
      Dome fresh;
      fresh.monitor = dome.monitor;
      fresh.resets = dome.resets + 1;
      fresh.moved_at = now;
      dome = fresh;
      break;
    }
    case 5:
    case 6:
      dome.on[static_cast<size_t>(a[0])] = command.number == 5;
      break;
    case 7:
      dome.pan_speed = a[0];
      dome.tilt_speed = a[1];
      break;
    case 8:
    case 16: {
      dome.last_recalled = a[0];
      dome.last_recall_speed = command.number == 8 ? 100 : a[1];
      auto preset = dome.presets.find(a[0]);
      if (preset != dome.presets.end()) dome.position = preset->second;
      break;
    }
    case 9:
      dome.presets[a[0]] = dome.position;
      break;
    case 47:
      if (a[0] == 5) {
        dome.menu_open = !dome.menu_open;
      } else if (dome.menu_open) {
        ++dome.menu_keys;
      }
      dome.last_menu_key = a[0];
      break;
    default:
      break;
  }
}

DomeState DomeModel::Snapshot(int node, int camera, const Dome* dome, Clock::time_point now) const {
  DomeState state;
  state.node = node;
  state.camera = camera;
  auto selection = nodes_.find(node);
  state.selected = selection != nodes_.end() && selection->second.camera == camera;
  if (dome == nullptr) return state;
  Dome d = *dome;
  Advance(d, now);
  state.known = true;
  state.monitor = d.monitor;
  for (size_t code = 0; code < d.on.size(); ++code)
    if (d.on[code]) state.functions.push_back(static_cast<int>(code));
  int pan = Pair(d.on, 2, 3);
  state.pan = pan > 0 ? PanMotion::kRight : pan < 0 ? PanMotion::kLeft : PanMotion::kStopped;
  int tilt = Pair(d.on, 5, 4);
  state.tilt = tilt > 0 ? TiltMotion::kDown : tilt < 0 ? TiltMotion::kUp : TiltMotion::kStopped;
  state.pan_speed = d.pan_speed;
  state.tilt_speed = d.tilt_speed;
  state.zoom = LensMode(d.on, 6, 7);
  state.focus = LensMode(d.on, 8, 9);
  state.iris = LensMode(d.on, 11, 10);
  state.lens_slow = d.on[22];
  state.follow_up = d.on[23];
  state.aux1 = d.on[18];
  state.aux2 = d.on[13];
  state.aux3 = d.on[24];
  state.washer = d.on[12];
  state.wiper = d.on[19];
  state.lamps = d.on[21];
  state.menu_open = d.menu_open;
  state.last_menu_key = d.last_menu_key;
  state.menu_keys = d.menu_keys;
  state.position = d.position;
  state.presets = d.presets;
  state.last_recalled = d.last_recalled;
  state.last_recall_speed = d.last_recall_speed;
  state.resets = d.resets;
  return state;
}

DomeState DomeModel::State(int node, int camera, Clock::time_point now) const {
  auto dome = domes_.find({node, camera});
  return Snapshot(node, camera, dome == domes_.end() ? nullptr : &dome->second, now);
}

std::vector<DomeState> DomeModel::Domes(Clock::time_point now) const {
  std::vector<DomeState> all;
  for (const auto& [key, dome] : domes_) all.push_back(Snapshot(key.first, key.second, &dome, now));
  return all;
}

NodeSelection DomeModel::Selection(int node) const {
  auto selection = nodes_.find(node);
  return selection == nodes_.end() ? NodeSelection{} : selection->second;
}

void DomeModel::Clear() {
  domes_.clear();
  nodes_.clear();
}

std::string FormatStatus(const DomeState& s, bool with_position) {
  std::string out = s.node == kDirectNode ? "[direct" : "[node " + std::to_string(s.node);
  out += " cam " + std::to_string(s.camera) + "] mon " + std::to_string(s.monitor);
  out += " | pan ";
  out += s.pan == PanMotion::kLeft ? "left" : s.pan == PanMotion::kRight ? "right" : "-";
  out += " " + std::to_string(s.pan_speed) + "% tilt ";
  out += s.tilt == TiltMotion::kUp ? "up" : s.tilt == TiltMotion::kDown ? "down" : "-";
  out += " " + std::to_string(s.tilt_speed) + "%";
  out += " | zoom " + Mode(s.zoom) + " focus " + Mode(s.focus) + " iris " + Mode(s.iris);
  std::string on;
  for (int code : s.functions)
    if (code >= 12) on += " " + FunctionName(code);
  out += " | on:" + (on.empty() ? std::string(" -") : on);
  if (s.menu_open) out += " | menu open";
  out += " | presets " + std::to_string(s.presets.size());
  if (s.last_recalled > 0) out += ", went to " + std::to_string(s.last_recalled);
  if (with_position) {
    char position[48];
    std::snprintf(position, sizeof position, " | at %.1f/%.1f", s.position.pan, s.position.tilt);
    out += position;
  }
  return out;
}

}  // namespace domesim
