// The connection's keys in its subtree of the settings file, described
// once, in the order Save writes them: its name, its COM port number and
// its port mode, each with what Load makes of a missing or unusable value.
// The camera subtrees "cam<n>" follow them.
//
// Free of the driver's other headers, so that test fixtures and tools that
// write settings files take the names and values from here too.
#pragma once

namespace comm_keys {

constexpr const char kName[] = "/Name";
constexpr const char kComPort[] = "/ComPort";
constexpr const char kPortMode[] = "/PortMode";

// The COM port numbers the settings keep: 0 (also a missing or non-numeric
// value) and numbers above the highest load as the default port; other
// values, negative ones too, stay as read.
constexpr int kDefaultComPort = 1;
constexpr int kHighestComPort = 47;
constexpr int LoadedComPort(int read) {
  return read == 0 || read > kHighestComPort ? kDefaultComPort : read;
}

// An empty or missing port mode loads, and saves, as this one.
constexpr const char kDefaultPortMode[] = "96,E,8,1";

}  // namespace comm_keys
