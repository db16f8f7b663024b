#include "ptzctl/keys.h"

#include <cstdlib>

namespace ptzctl {
namespace {

constexpr unsigned char kEsc = 0x1b;
constexpr size_t kMaxParams = 16;

Key Make(KeyKind kind) { return Key{kind, 0}; }

Key Cursor(char final_byte) {
  switch (final_byte) {
    case 'A':
      return Make(KeyKind::kUp);
    case 'B':
      return Make(KeyKind::kDown);
    case 'C':
      return Make(KeyKind::kRight);
    case 'D':
      return Make(KeyKind::kLeft);
    case 'H':
      return Make(KeyKind::kUpLeft);
    case 'F':
      return Make(KeyKind::kDownLeft);
    case 'E':
    case 'G':
      return Make(KeyKind::kCenter);
    default:
      return Make(KeyKind::kOther);
  }
}

}  // namespace

const char* KeyKindName(KeyKind kind) {
  switch (kind) {
    case KeyKind::kChar:
      return "char";
    case KeyKind::kUp:
      return "up";
    case KeyKind::kDown:
      return "down";
    case KeyKind::kLeft:
      return "left";
    case KeyKind::kRight:
      return "right";
    case KeyKind::kUpLeft:
      return "up-left";
    case KeyKind::kUpRight:
      return "up-right";
    case KeyKind::kDownLeft:
      return "down-left";
    case KeyKind::kDownRight:
      return "down-right";
    case KeyKind::kCenter:
      return "center";
    case KeyKind::kZoomIn:
      return "zoom-in";
    case KeyKind::kZoomOut:
      return "zoom-out";
    case KeyKind::kEnter:
      return "enter";
    case KeyKind::kEscape:
      return "escape";
    case KeyKind::kOther:
      return "other";
  }
  return "?";
}

std::vector<Key> KeyDecoder::Feed(unsigned char byte) {
  std::vector<Key> keys;
  switch (state_) {
    case State::kGround:
      if (byte == kEsc) {
        state_ = State::kEscape;
      } else if (byte == '\r' || byte == '\n') {
        keys.push_back(Make(KeyKind::kEnter));
      } else {
        keys.push_back(Key{KeyKind::kChar, static_cast<char>(byte)});
      }
      break;
    case State::kEscape:
      if (byte == '[') {
        state_ = State::kCsi;
        params_.clear();
      } else if (byte == 'O') {
        state_ = State::kSs3;
      } else {
        // Escape, then a key of its own (Alt+key arrives this way).
        keys.push_back(Make(KeyKind::kEscape));
        state_ = State::kGround;
        for (const Key& key : Feed(byte)) keys.push_back(key);
      }
      break;
    case State::kCsi:
      if (byte >= 0x40 && byte <= 0x7e) {
        keys.push_back(FinishCsi(static_cast<char>(byte)));
        state_ = State::kGround;
      } else if (byte >= 0x20 && byte <= 0x3f && params_.size() < kMaxParams) {
        params_ += static_cast<char>(byte);
      } else {
        // Not a sequence a terminal sends for a key: give up on it, and let
        // no rest of it pass for keys of their own.
        keys.push_back(Make(KeyKind::kOther));
        state_ = byte >= 0x20 && byte <= 0x3f ? State::kIgnore : State::kGround;
      }
      break;
    case State::kIgnore:
      if (byte >= 0x20 && byte <= 0x3f) break;
      state_ = State::kGround;
      if (byte > 0x3f && byte <= 0x7e) break;  // the sequence's own end
      return Feed(byte);
    case State::kSs3:
      keys.push_back(FinishSs3(static_cast<char>(byte)));
      state_ = State::kGround;
      break;
  }
  return keys;
}

std::vector<Key> KeyDecoder::Flush() {
  std::vector<Key> keys;
  if (state_ == State::kEscape) keys.push_back(Make(KeyKind::kEscape));
  state_ = State::kGround;
  params_.clear();
  return keys;
}

Key KeyDecoder::FinishCsi(char final_byte) const {
  if (final_byte != '~') {
    // "ESC [ 1 ; 5 A" (a modifier held) is still the arrow.
    return Cursor(final_byte);
  }
  switch (std::atoi(params_.c_str())) {
    case 1:
    case 7:
      return Make(KeyKind::kUpLeft);
    case 4:
    case 8:
      return Make(KeyKind::kDownLeft);
    case 5:
      return Make(KeyKind::kUpRight);
    case 6:
      return Make(KeyKind::kDownRight);
    default:
      return Make(KeyKind::kOther);
  }
}

Key KeyDecoder::FinishSs3(char final_byte) {
  switch (final_byte) {
    case 'q':
      return Make(KeyKind::kDownLeft);
    case 'r':
      return Make(KeyKind::kDown);
    case 's':
      return Make(KeyKind::kDownRight);
    case 't':
      return Make(KeyKind::kLeft);
    case 'u':
      return Make(KeyKind::kCenter);
    case 'v':
      return Make(KeyKind::kRight);
    case 'w':
      return Make(KeyKind::kUpLeft);
    case 'x':
      return Make(KeyKind::kUp);
    case 'y':
      return Make(KeyKind::kUpRight);
    case 'k':
      return Make(KeyKind::kZoomIn);
    case 'm':
      return Make(KeyKind::kZoomOut);
    case 'M':
      return Make(KeyKind::kEnter);
    default:
      return Cursor(final_byte);
  }
}

}  // namespace ptzctl
