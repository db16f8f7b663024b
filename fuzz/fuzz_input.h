// Reads a fuzz input as a sequence of decisions. Once the bytes run out every
// read gives zeros, so any input, however short, is a whole run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace q7fuzz {

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Empty() const { return pos_ >= size_; }
  size_t Left() const { return size_ - pos_; }

  uint8_t Byte() { return Empty() ? 0 : data_[pos_++]; }
  bool Bool() { return (Byte() & 1) != 0; }
  // 0 .. n-1 (n at most 256).
  int Below(int n) { return n <= 1 ? 0 : Byte() % n; }
  uint16_t U16() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
  uint32_t U32() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(Byte()) << (8 * i);
    return value;
  }
  int32_t I32() { return static_cast<int32_t>(U32()); }

  // A number a host may pass: mostly small, sometimes at the edges of int.
  int32_t Number() {
    switch (Below(8)) {
      case 0:
        return I32();
      case 1: {
        static const int32_t kEdges[] = {INT32_MIN, INT32_MIN + 1,
                                         -65536,    -256,
                                         -2,        -1,
                                         0,         1,
                                         2,         15,
                                         16,        17,
                                         63,        64,
                                         99,        100,
                                         255,       256,
                                         999,       1000,
                                         32767,     65535,
                                         INT32_MAX};
        return kEdges[Below(sizeof kEdges / sizeof kEdges[0])];
      }
      default:
        return static_cast<int8_t>(Byte());
    }
  }

  // Copies the next bytes into out (zeros once the input is used up).
  void Fill(void* out, size_t count) {
    auto* bytes = static_cast<uint8_t*>(out);
    for (size_t i = 0; i < count; ++i) bytes[i] = Byte();
  }

  // A string of 0 .. max bytes, its length taken first.
  std::string Text(size_t max) {
    const size_t length = max == 0 ? 0 : Byte() % (max + 1);
    std::string text(length, '\0');
    Fill(text.data(), length);
    return text;
  }

  // The rest of the input.
  std::string Rest() {
    std::string rest(reinterpret_cast<const char*>(data_ + pos_), Left());
    pos_ = size_;
    return rest;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace q7fuzz
