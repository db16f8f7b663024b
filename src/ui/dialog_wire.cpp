#include "ui/dialog_wire.h"

namespace ui {
namespace wire {

namespace {

void PutU32(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

std::uint32_t GetU32(const char* at) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i)
    value |= static_cast<std::uint32_t>(static_cast<unsigned char>(at[i])) << (8 * i);
  return value;
}

}  // namespace

void Writer::Begin(Kind kind) {
  start_ = bytes_.size();
  PutU32(bytes_, 0);
  bytes_.push_back(static_cast<char>(kind));
}

void Writer::Int(std::int32_t value) { PutU32(bytes_, static_cast<std::uint32_t>(value)); }

void Writer::Text(const std::string& text) {
  PutU32(bytes_, static_cast<std::uint32_t>(text.size()));
  bytes_.append(text);
}

void Writer::End() {
  const auto length = static_cast<std::uint32_t>(bytes_.size() - start_ - 4);
  for (int i = 0; i < 4; ++i) bytes_[start_ + i] = static_cast<char>((length >> (8 * i)) & 0xff);
}

Kind Reader::TheKind() {
  if (at_ >= end_) {
    damaged_ = true;
    return Kind{};
  }
  return static_cast<Kind>(static_cast<unsigned char>(*at_++));
}

std::int32_t Reader::Int() {
  if (end_ - at_ < 4) {
    damaged_ = true;
    at_ = end_;
    return 0;
  }
  const std::uint32_t value = GetU32(at_);
  at_ += 4;
  return static_cast<std::int32_t>(value);
}

std::string Reader::Text() {
  if (end_ - at_ < 4) {
    damaged_ = true;
    at_ = end_;
    return std::string();
  }
  const std::uint32_t length = GetU32(at_);
  at_ += 4;
  if (static_cast<std::uint64_t>(end_ - at_) < length) {
    damaged_ = true;
    at_ = end_;
    return std::string();
  }
  std::string text(at_, length);
  at_ += length;
  return text;
}

bool FrameBuffer::Next(std::string* frame, bool* damaged) {
  *damaged = false;
  if (pending_.size() - used_ < 4) return false;
  const std::uint32_t length = GetU32(pending_.data() + used_);
  if (length > kMaxFrame || length == 0) {
    *damaged = true;
    return false;
  }
  if (pending_.size() - used_ - 4 < length) return false;
  frame->assign(pending_, used_ + 4, length);
  used_ += 4 + length;
  // The bytes handed out go once they are a good part of the buffer.
  if (used_ == pending_.size()) {
    pending_.clear();
    used_ = 0;
  } else if (used_ > 65536 && used_ * 2 > pending_.size()) {
    pending_.erase(0, used_);
    used_ = 0;
  }
  return true;
}

// The texts come here as UTF-8 already: the dialogs' window (CodePageWindow)
// converts them from and to the settings file's code page, because the
// process toolkit declares UTF-8. The channel carries them as they are.
std::string ToChannel(const std::string& text) { return text; }
std::string FromChannel(const std::string& text) { return text; }

}  // namespace wire
}  // namespace ui
