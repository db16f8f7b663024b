#include "platform/posix/mode_string.h"

#include <cctype>
#include <cstddef>

namespace platform {
namespace {

// A cursor over the mode string; every Parse* call consumes what it accepts
// and returns false, leaving the cursor undefined, when the text is invalid.
class Cursor {
 public:
  explicit Cursor(const std::string& text) : text_(text) {}

  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
  void Advance(size_t n = 1) { pos_ += n; }

  void SkipSpaces() {
    while (!AtEnd() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
  }

  // Consumes word (ASCII, any case) when the text continues with it.
  bool Accept(const char* word) {
    size_t i = 0;
    for (; word[i] != '\0'; ++i) {
      if (pos_ + i >= text_.size()) return false;
      if (std::tolower(static_cast<unsigned char>(text_[pos_ + i])) !=
          std::tolower(static_cast<unsigned char>(word[i]))) {
        return false;
      }
    }
    pos_ += i;
    return true;
  }

  // An unsigned decimal number of at most 9 digits.
  bool ParseNumber(uint32_t* value) {
    uint32_t n = 0;
    size_t digits = 0;
    while (!AtEnd() && std::isdigit(static_cast<unsigned char>(Peek()))) {
      if (++digits > 9) return false;
      n = n * 10 + static_cast<uint32_t>(Peek() - '0');
      Advance();
    }
    *value = n;
    return digits > 0;
  }

  // True at the end of a keyword value: end of text or a blank.
  bool AtValueEnd() const { return AtEnd() || Peek() == ' ' || Peek() == '\t'; }

 private:
  const std::string& text_;
  size_t pos_ = 0;
};

// The MODE command's two-digit abbreviations of the classic rates.
struct Abbreviation {
  uint32_t code;
  uint32_t baud;
};
constexpr Abbreviation kAbbreviations[] = {{11, 110},  {15, 150},  {30, 300},
                                           {60, 600},  {12, 1200}, {24, 2400},
                                           {48, 4800}, {96, 9600}, {19, 19200}};
constexpr uint32_t kRates[] = {110,  150,   300,   600,   1200,   2400,  4800,
                               9600, 19200, 38400, 57600, 115200, 230400};

bool ParseBaud(Cursor* c, uint32_t* baud) {
  uint32_t n = 0;
  if (!c->ParseNumber(&n)) return false;
  for (const Abbreviation& a : kAbbreviations) {
    if (a.code == n) n = a.baud;
  }
  for (const uint32_t rate : kRates) {
    if (rate == n) {
      *baud = n;
      return true;
    }
  }
  return false;
}

bool ParseParity(Cursor* c, Parity* parity) {
  switch (std::tolower(static_cast<unsigned char>(c->Peek()))) {
    case 'n':
      *parity = Parity::kNone;
      break;
    case 'o':
      *parity = Parity::kOdd;
      break;
    case 'e':
      *parity = Parity::kEven;
      break;
    case 'm':
      *parity = Parity::kMark;
      break;
    case 's':
      *parity = Parity::kSpace;
      break;
    default:
      return false;
  }
  c->Advance();
  return true;
}

bool ParseDataBits(Cursor* c, int* dataBits) {
  uint32_t n = 0;
  if (!c->ParseNumber(&n) || n < 5 || n > 8) return false;
  *dataBits = static_cast<int>(n);
  return true;
}

bool ParseStopBits(Cursor* c, StopBits* stopBits) {
  if (c->Accept("1.5")) {
    *stopBits = StopBits::kOneAndHalf;
  } else if (c->Accept("1")) {
    *stopBits = StopBits::kOne;
  } else if (c->Accept("2")) {
    *stopBits = StopBits::kTwo;
  } else {
    return false;
  }
  return true;
}

bool ParseOnOff(Cursor* c, bool* on) {
  if (c->Accept("on")) {
    *on = true;
  } else if (c->Accept("off")) {
    *on = false;
  } else {
    return false;
  }
  return true;
}

bool ParseLineControl(Cursor* c, bool allowToggle, LineControl* control) {
  if (c->Accept("on")) {
    *control = LineControl::kOn;
  } else if (c->Accept("off")) {
    *control = LineControl::kOff;
  } else if (c->Accept("hs")) {
    *control = LineControl::kHandshake;
  } else if (allowToggle && c->Accept("tg")) {
    *control = LineControl::kToggle;
  } else {
    return false;
  }
  return true;
}

// A comma, with blanks around it, between two positional fields. False at the
// end of the text (the remaining fields are omitted) or on anything else;
// *bad tells the two apart.
bool NextField(Cursor* c, bool* bad) {
  c->SkipSpaces();
  if (c->AtEnd()) return false;
  if (c->Peek() != ',') {
    *bad = true;
    return false;
  }
  c->Advance();
  c->SkipSpaces();
  return true;
}

bool ParsePositional(Cursor* c, LineSettings* s, bool* stopGiven) {
  if (!ParseBaud(c, &s->baud)) return false;
  bool bad = false;
  if (!NextField(c, &bad)) return !bad;
  if (!ParseParity(c, &s->parity)) return false;
  if (!NextField(c, &bad)) return !bad;
  if (!ParseDataBits(c, &s->dataBits)) return false;
  if (!NextField(c, &bad)) return !bad;
  if (!ParseStopBits(c, &s->stopBits)) return false;
  *stopGiven = true;
  if (!NextField(c, &bad)) return !bad;
  switch (std::tolower(static_cast<unsigned char>(c->Peek()))) {
    case 'x':
      s->xonXoff = true;
      break;
    case 'p':
      s->ctsFlow = true;
      s->dsrFlow = true;
      s->dtr = LineControl::kHandshake;
      s->rts = LineControl::kHandshake;
      break;
    default:
      return false;
  }
  c->Advance();
  c->SkipSpaces();
  return c->AtEnd();
}

bool ParseKeywords(Cursor* c, LineSettings* s, bool* stopGiven) {
  bool baudGiven = false;
  c->SkipSpaces();
  while (!c->AtEnd()) {
    bool ok = false;
    if (c->Accept("baud=")) {
      ok = ParseBaud(c, &s->baud);
      baudGiven = true;
    } else if (c->Accept("parity=")) {
      ok = ParseParity(c, &s->parity);
    } else if (c->Accept("data=")) {
      ok = ParseDataBits(c, &s->dataBits);
    } else if (c->Accept("stop=")) {
      ok = ParseStopBits(c, &s->stopBits);
      *stopGiven = true;
    } else if (c->Accept("to=")) {
      ok = ParseOnOff(c, &s->writeTimeout);
    } else if (c->Accept("xon=")) {
      ok = ParseOnOff(c, &s->xonXoff);
    } else if (c->Accept("odsr=")) {
      ok = ParseOnOff(c, &s->dsrFlow);
    } else if (c->Accept("octs=")) {
      ok = ParseOnOff(c, &s->ctsFlow);
    } else if (c->Accept("dtr=")) {
      ok = ParseLineControl(c, false, &s->dtr);
    } else if (c->Accept("rts=")) {
      ok = ParseLineControl(c, true, &s->rts);
    } else if (c->Accept("idsr=")) {
      ok = ParseOnOff(c, &s->dsrSensitive);
    }
    if (!ok || !c->AtValueEnd()) return false;
    c->SkipSpaces();
  }
  return baudGiven;
}

}  // namespace

bool ParseModeString(const std::string& mode, LineSettings* out) {
  if (out == nullptr) return false;
  Cursor c(mode);
  c.SkipSpaces();
  // An optional device name in front, as MODE takes it: "COM1:" or "COM1 ".
  if (c.Accept("com")) {
    uint32_t port = 0;
    if (!c.ParseNumber(&port)) return false;
    c.SkipSpaces();
    if (c.Peek() == ':') c.Advance();
    c.SkipSpaces();
  }

  LineSettings s;
  bool stopGiven = false;
  const bool keywordForm = mode.find('=') != std::string::npos;
  const bool ok =
      keywordForm ? ParseKeywords(&c, &s, &stopGiven) : ParsePositional(&c, &s, &stopGiven);
  if (!ok) return false;
  if (!stopGiven && s.baud == 110) s.stopBits = StopBits::kTwo;
  // A UART sends 1.5 stop bits only with 5 data bits, and 2 only with more.
  if (s.stopBits == StopBits::kOneAndHalf && s.dataBits != 5) return false;
  if (s.stopBits == StopBits::kTwo && s.dataBits == 5) return false;
  *out = s;
  return true;
}

}  // namespace platform
