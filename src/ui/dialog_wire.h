// What crosses the channel between the dialog classes (in the host's
// process) and the dialog process that draws their windows: the window
// calls going out, the window's events coming back. Every message is one
// frame: a 32-bit length (of what follows), a one-byte kind, then fields
// (32-bit integers little-endian, texts as a 32-bit length and UTF-8 bytes).
#pragma once

#include <cstdint>
#include <string>

namespace ui {
namespace wire {

// Raised whenever a message changes shape; the dialog process refuses a
// host of another build.
constexpr int kVersion = 1;

// The program's file name beside the library.
constexpr char kProgramFile[] = "QUARO7K7_PTZ_setup";

enum class Kind : std::uint8_t {
  // --- to the dialog process ---
  kHello = 1,  // version
  kShow,       // window, parent window (0: none), resource id, host window (two halves)
  kCall,       // window, method, arguments: carried out, no answer
  kAsk,        // window, method, arguments: answered with kAnswer
  kDone,       // event number: the host has handled that event
  kPostEnd,    // window, result: ends the window from outside
  // --- to the host ---
  kReady = 64,  // the toolkit runs
  kFailed,      // why: the toolkit could not start; the process ends
  kAnswer,      // number, text
  kEvent,       // window, event number, event, two arguments
  kEnded,       // window, result: the window has gone
};

// The window's events, each answered with kDone once the host handled it.
enum class Event : std::uint8_t { kInit = 1, kCommand, kTimer, kOk, kCancel, kDestroy };

// The window calls (DialogWindow's methods).
enum class Method : std::uint8_t {
  kSetText = 1,
  kGetText,
  kEnable,
  kIsEnabled,
  kSetFocus,
  kSetLimit,
  kSetCheck,
  kGetCheck,
  kResetList,
  kAddEntry,
  kInsertEntry,
  kEntryCount,
  kSetEntryData,
  kGetEntryData,
  kSetSelection,
  kGetSelection,
  kInsertTreeItem,
  kSetTreeItemText,
  kGetTreeItemText,
  kDeleteTreeItem,
  kDeleteAllTreeItems,
  kGetSelectedTreeItem,
  kSelectTreeItem,
  kExpandTreeItem,
  kSortTreeChildren,
  kSetRedraw,
  kSetRange,
  kSetPosition,
  kGetPosition,
  kMessageBox,
  kSetTimer,
  kKillTimer,
  kEndDialog,
};

// Frames larger than this are refused as damaged (a text of the dialogs is
// far smaller).
constexpr std::uint32_t kMaxFrame = 16u << 20;

// Appends frames to a buffer.
class Writer {
 public:
  // Starts a frame of kind; the fields follow; End closes it.
  void Begin(Kind kind);
  void Int(std::int32_t value);
  void Text(const std::string& text);
  void End();
  std::string& Bytes() { return bytes_; }

 private:
  std::string bytes_;
  size_t start_ = 0;
};

// Reads the fields of one frame (without its length). A read past the end
// gives 0 or "" and marks the frame damaged.
class Reader {
 public:
  Reader(const char* data, size_t size) : at_(data), end_(data + size) {}
  Kind TheKind();
  std::int32_t Int();
  std::string Text();
  bool Damaged() const { return damaged_; }

 private:
  const char* at_;
  const char* end_;
  bool damaged_ = false;
};

// Collects bytes as they arrive and hands out whole frames.
class FrameBuffer {
 public:
  void Add(const char* data, size_t size) { pending_.append(data, size); }
  // The next whole frame's bytes into frame; false while it is not all
  // there. damaged: a frame longer than kMaxFrame.
  bool Next(std::string* frame, bool* damaged);

 private:
  std::string pending_;
  size_t used_ = 0;
};

// The texts on their way to the dialog process and back; they are UTF-8 on
// both sides (the dialogs' window converts them from the code page).
std::string ToChannel(const std::string& text);
std::string FromChannel(const std::string& text);

}  // namespace wire
}  // namespace ui
