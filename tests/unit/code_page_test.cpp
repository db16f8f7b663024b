// The settings' code page (ISO-8859-1 here) and UTF-8, both ways, at the
// edges: the C1 range, the last byte, invalid and unrepresentable input.
#include "platform/code_page.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using platform::CodePageToUtf8;
using platform::Utf8ToCodePage;

TEST(CodePage, EveryByteGoesToUtf8AndBackUnchanged) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string utf8 = CodePageToUtf8(all);
  EXPECT_EQ(utf8.size(), 128u + 2 * 128u);
  const platform::CodePageText back = Utf8ToCodePage(utf8);
  EXPECT_TRUE(back.complete);
  EXPECT_EQ(back.text, all);
  // The C1 range is characters of its own, not the Windows letters.
  EXPECT_EQ(CodePageToUtf8("\x80\x9f"), "\xc2\x80\xc2\x9f");
  EXPECT_EQ(CodePageToUtf8("S\xfc"
                           "d\xff"),
            "S\xc3\xbc"
            "d\xc3\xbf");
  EXPECT_EQ(CodePageToUtf8(""), "");
  const platform::CodePageText empty = Utf8ToCodePage("");
  EXPECT_TRUE(empty.complete);
  EXPECT_EQ(empty.text, "");
}

TEST(CodePage, AccentedNamesKeepOneBytePerCharacterAlsoWhenLong) {
  const platform::CodePageText name = Utf8ToCodePage(
      "Einfahrt S\xc3\xbc"
      "d");
  EXPECT_TRUE(name.complete);
  EXPECT_EQ(name.text,
            "Einfahrt S\xfc"
            "d");
  std::string longUtf8, longBytes;
  for (int i = 0; i < 50000; ++i) {
    longUtf8 += "\xc3\xa9x";
    longBytes += "\xe9x";
  }
  const platform::CodePageText converted = Utf8ToCodePage(longUtf8);
  EXPECT_TRUE(converted.complete);
  EXPECT_EQ(converted.text, longBytes);
  EXPECT_EQ(CodePageToUtf8(longBytes), longUtf8);
}

TEST(CodePage, CharactersBeyondTheCodePageAndBrokenUtf8AreRefused) {
  const char* const refused[] = {
      "Kasse \xe2\x82\xac",        // the euro sign
      "\xd0\x92\xd1\x85\xd0\xbe",  // Cyrillic
      "\xc4\x80",                  // U+0100, the first character past the code page
      "\xf0\x9f\x93\xb7",          // beyond the basic plane
      "\x80",                      // a continuation byte alone
      "S\xfc"
      "d",       // the code page's own bytes are no UTF-8
      "ab\xc3",  // cut off after the lead byte
      "\xc3"
      "A",         // lead byte without its continuation
      "\xc0\x80",  // overlong forms
      "\xc1\xbf",
      "\xed\xa0\x80",  // a surrogate
  };
  for (const char* text : refused) {
    const platform::CodePageText result = Utf8ToCodePage(text);
    EXPECT_FALSE(result.complete) << text;
    // Never a replacement character in place of the one that does not fit.
    EXPECT_EQ(result.text.find('?'), std::string::npos) << text;
  }
}

}  // namespace
