// The frames between the dialog classes and the dialog process.
#include "ui/dialog_wire.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using ui::wire::FrameBuffer;
using ui::wire::Kind;
using ui::wire::Reader;
using ui::wire::Writer;

std::string TwoFrames() {
  Writer w;
  w.Begin(Kind::kCall);
  w.Int(-7);
  w.Text(
      std::string("Einfahrt S\xc3\xbc"
                  "d\0end",
                  15));
  w.Text("");
  w.End();
  w.Begin(Kind::kDone);
  w.Int(2147483647);
  w.End();
  return w.Bytes();
}

// However the bytes arrive (one by one, two frames at once), the frames
// come out whole and in order, texts with NUL bytes and UTF-8 unchanged.
TEST(DialogWireTest, FramesComeOutWholeHoweverTheBytesArrive) {
  const std::string bytes = TwoFrames();
  for (size_t step = 1; step <= bytes.size(); ++step) {
    FrameBuffer in;
    std::vector<std::string> frames;
    std::string frame;
    bool damaged = false;
    for (size_t at = 0; at < bytes.size(); at += step) {
      in.Add(bytes.data() + at, std::min(step, bytes.size() - at));
      while (in.Next(&frame, &damaged)) frames.push_back(frame);
      ASSERT_FALSE(damaged);
    }
    ASSERT_EQ(frames.size(), 2u) << "step " << step;
    Reader first(frames[0].data(), frames[0].size());
    EXPECT_EQ(first.TheKind(), Kind::kCall);
    EXPECT_EQ(first.Int(), -7);
    EXPECT_EQ(first.Text(), std::string("Einfahrt S\xc3\xbc"
                                        "d\0end",
                                        15));
    EXPECT_EQ(first.Text(), "");
    EXPECT_FALSE(first.Damaged());
    Reader second(frames[1].data(), frames[1].size());
    EXPECT_EQ(second.TheKind(), Kind::kDone);
    EXPECT_EQ(second.Int(), 2147483647);
    EXPECT_FALSE(second.Damaged());
  }
}

// A frame shorter than its fields: what is missing reads as 0 or "", and
// the frame is known damaged; a text longer than what is left is not read
// past the frame's end.
TEST(DialogWireTest, ReadingPastAFramesEndGivesNothingAndMarksItDamaged) {
  Writer w;
  w.Begin(Kind::kAnswer);
  w.Int(5);
  w.End();
  const std::string frame = w.Bytes().substr(4);
  Reader r(frame.data(), frame.size());
  EXPECT_EQ(r.TheKind(), Kind::kAnswer);
  EXPECT_EQ(r.Int(), 5);
  EXPECT_FALSE(r.Damaged());
  EXPECT_EQ(r.Text(), "");
  EXPECT_TRUE(r.Damaged());
  EXPECT_EQ(r.Int(), 0);

  // A text claiming 100 bytes with 3 there.
  const std::string lying = std::string("\x40", 1) + std::string("\x64\0\0\0abc", 7);
  Reader t(lying.data(), lying.size());
  t.TheKind();
  EXPECT_EQ(t.Text(), "");
  EXPECT_TRUE(t.Damaged());
  Reader empty(nullptr, 0);
  empty.TheKind();
  EXPECT_TRUE(empty.Damaged());
}

// A length of 0 or beyond the largest frame is damage, not a wait for
// more bytes (a stream out of step must not grow the buffer for ever).
TEST(DialogWireTest, AnImpossibleLengthIsDamage) {
  for (const std::string& head : {std::string("\0\0\0\0", 4), std::string("\x01\0\0\x01", 4),
                                  std::string("\xff\xff\xff\xff")}) {
    FrameBuffer in;
    in.Add(head.data(), head.size());
    std::string frame;
    bool damaged = false;
    EXPECT_FALSE(in.Next(&frame, &damaged));
    EXPECT_TRUE(damaged);
  }
  // The largest frame allowed is only waited for.
  FrameBuffer in;
  const std::string largest("\0\0\0\x01", 4);
  in.Add(largest.data(), largest.size());
  std::string frame;
  bool damaged = false;
  EXPECT_FALSE(in.Next(&frame, &damaged));
  EXPECT_FALSE(damaged);
}

}  // namespace
