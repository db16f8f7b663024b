// Decoding what a terminal sends for the keys of the interactive mode: plain
// characters, the arrow keys and the numeric keypad (with NumLock off it sends
// cursor keys, in application keypad mode ESC O p .. ESC O y).
#pragma once

#include <string>
#include <vector>

namespace ptzctl {

enum class KeyKind {
  kChar,  // `ch` holds the byte
  kUp,
  kDown,
  kLeft,
  kRight,
  kUpLeft,     // Home, keypad 7
  kUpRight,    // Page Up, keypad 9
  kDownLeft,   // End, keypad 1
  kDownRight,  // Page Down, keypad 3
  kCenter,     // keypad 5
  kZoomIn,     // keypad +
  kZoomOut,    // keypad -
  kEnter,
  kEscape,
  kOther,  // a sequence with no meaning here
};

struct Key {
  KeyKind kind = KeyKind::kOther;
  char ch = 0;
  bool operator==(const Key& other) const { return kind == other.kind && ch == other.ch; }
};

const char* KeyKindName(KeyKind kind);

class KeyDecoder {
 public:
  // Feeds one byte and returns the keys it completes (a lone ESC followed by
  // an ordinary byte gives two).
  std::vector<Key> Feed(unsigned char byte);
  // Called when no byte followed for a moment: a pending ESC is the Escape
  // key, an unfinished sequence is dropped.
  std::vector<Key> Flush();
  // True while a sequence has begun but not ended.
  bool Pending() const { return state_ != State::kGround && state_ != State::kIgnore; }

 private:
  // kIgnore swallows the rest of a sequence that was given up.
  enum class State { kGround, kEscape, kCsi, kSs3, kIgnore };
  Key FinishCsi(char final_byte) const;
  static Key FinishSs3(char final_byte);

  State state_ = State::kGround;
  std::string params_;
};

}  // namespace ptzctl
