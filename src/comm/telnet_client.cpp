#include "comm/telnet_client.h"

namespace netline {
namespace {

void AppendCommand(std::string* out, uint8_t verb, uint8_t option) {
  out->push_back(static_cast<char>(telnet::kIac));
  out->push_back(static_cast<char>(verb));
  out->push_back(static_cast<char>(option));
}

// IAC SB COM-PORT-OPTION code value... IAC SE, with IAC in the value doubled.
std::string ComPortCommand(uint8_t code, const uint8_t* value, size_t length) {
  std::string out;
  out.push_back(static_cast<char>(telnet::kIac));
  out.push_back(static_cast<char>(telnet::kSb));
  out.push_back(static_cast<char>(telnet::kComPort));
  out.push_back(static_cast<char>(code));
  for (size_t i = 0; i < length; ++i) {
    out.push_back(static_cast<char>(value[i]));
    if (value[i] == telnet::kIac) out.push_back(static_cast<char>(telnet::kIac));
  }
  out.push_back(static_cast<char>(telnet::kIac));
  out.push_back(static_cast<char>(telnet::kSe));
  return out;
}

std::string ComPortByte(uint8_t code, uint8_t value) { return ComPortCommand(code, &value, 1); }

}  // namespace

bool TelnetClient::LocalSupported(uint8_t option) const {
  return option == telnet::kBinary || option == telnet::kSuppressGoAhead ||
         option == telnet::kComPort;
}

bool TelnetClient::RemoteSupported(uint8_t option) const {
  return option == telnet::kBinary || option == telnet::kSuppressGoAhead;
}

std::string TelnetClient::Start() {
  std::string out;
  started_ = true;
  for (uint8_t option : {telnet::kBinary, telnet::kSuppressGoAhead, telnet::kComPort}) {
    if (us_[option] == Option::kNo) {
      us_[option] = Option::kWantYes;
      AppendCommand(&out, telnet::kWill, option);
    }
  }
  for (uint8_t option : {telnet::kBinary, telnet::kSuppressGoAhead}) {
    if (him_[option] == Option::kNo) {
      him_[option] = Option::kWantYes;
      AppendCommand(&out, telnet::kDo, option);
    }
  }
  return out;
}

void TelnetClient::Receive(const uint8_t* bytes, size_t count, std::string* data,
                           std::string* reply) {
  for (size_t i = 0; i < count; ++i) {
    const uint8_t b = bytes[i];
    switch (state_) {
      case State::kCr:
        state_ = State::kData;
        // CR NUL is a carriage return alone.
        if (b == 0 && him_[telnet::kBinary] != Option::kYes) break;
        [[fallthrough]];
      case State::kData:
        if (b == telnet::kIac) {
          state_ = State::kIac;
        } else {
          data->push_back(static_cast<char>(b));
          if (b == '\r') state_ = State::kCr;
        }
        break;
      case State::kIac:
        if (b == telnet::kIac) {
          data->push_back(static_cast<char>(b));
          state_ = State::kData;
        } else if (b == telnet::kWill || b == telnet::kWont || b == telnet::kDo ||
                   b == telnet::kDont) {
          verb_ = b;
          state_ = State::kVerb;
        } else if (b == telnet::kSb) {
          state_ = State::kSbOption;
        } else {
          // NOP, GA, a stray SE and the rest carry nothing for the line.
          state_ = State::kData;
        }
        break;
      case State::kVerb:
        Command(verb_, b, reply);
        state_ = State::kData;
        break;
      case State::kSbOption:
        sbOption_ = b;
        sb_.clear();
        sbOverflow_ = false;
        state_ = State::kSbData;
        break;
      case State::kSbData:
        if (b == telnet::kIac) {
          state_ = State::kSbIac;
        } else if (sb_.size() < kMaxSubnegotiation) {
          sb_.push_back(static_cast<char>(b));
        } else {
          sbOverflow_ = true;
        }
        break;
      case State::kSbIac:
        if (b == telnet::kIac) {
          if (sb_.size() < kMaxSubnegotiation)
            sb_.push_back(static_cast<char>(b));
          else
            sbOverflow_ = true;
          state_ = State::kSbData;
        } else if (b == telnet::kSe) {
          if (!sbOverflow_) Subnegotiation(reply);
          state_ = State::kData;
        } else {
          // A subnegotiation cut off by another command: it is dropped and
          // the command is taken as one.
          state_ = State::kIac;
          --i;
        }
        break;
    }
  }
}

void TelnetClient::Command(uint8_t verb, uint8_t option, std::string* reply) {
  if (verb == telnet::kWill || verb == telnet::kWont) {
    Option& state = him_[option];
    const bool will = verb == telnet::kWill;
    switch (state) {
      case Option::kNo:
        if (!will) break;
        if (RemoteSupported(option)) {
          state = Option::kYes;
          AppendCommand(reply, telnet::kDo, option);
        } else {
          AppendCommand(reply, telnet::kDont, option);
        }
        break;
      case Option::kYes:
        if (will) break;
        state = Option::kNo;
        AppendCommand(reply, telnet::kDont, option);
        break;
      case Option::kWantNo:
        state = Option::kNo;
        break;
      case Option::kWantYes:
        state = will ? Option::kYes : Option::kNo;
        break;
    }
    return;
  }
  Option& state = us_[option];
  const bool doIt = verb == telnet::kDo;
  switch (state) {
    case Option::kNo:
      if (!doIt) break;
      if (LocalSupported(option)) {
        state = Option::kYes;
        AppendCommand(reply, telnet::kWill, option);
      } else {
        AppendCommand(reply, telnet::kWont, option);
      }
      break;
    case Option::kYes:
      if (doIt) break;
      state = Option::kNo;
      AppendCommand(reply, telnet::kWont, option);
      break;
    case Option::kWantNo:
      state = Option::kNo;
      break;
    case Option::kWantYes:
      state = doIt ? Option::kYes : Option::kNo;
      break;
  }
}

void TelnetClient::Subnegotiation(std::string* reply) {
  if (sbOption_ != telnet::kComPort || sb_.empty()) return;
  const uint8_t code = static_cast<uint8_t>(sb_[0]);
  const std::string value = sb_.substr(1);
  const auto byteValue = [&value]() -> int {
    return value.size() == 1 ? static_cast<uint8_t>(value[0]) : -1;
  };
  switch (code) {
    case comport::kServerOffset + comport::kSignature:
      if (value.empty()) {
        const std::string mine = kSignature;
        reply->append(ComPortCommand(comport::kSignature,
                                     reinterpret_cast<const uint8_t*>(mine.data()), mine.size()));
      } else {
        serverSignature_ = value;
      }
      break;
    case comport::kServerOffset + comport::kSetBaudRate:
      if (value.size() == 4) {
        baudAnswer_ = (static_cast<int64_t>(static_cast<uint8_t>(value[0])) << 24) |
                      (static_cast<uint8_t>(value[1]) << 16) |
                      (static_cast<uint8_t>(value[2]) << 8) | static_cast<uint8_t>(value[3]);
      }
      break;
    case comport::kServerOffset + comport::kSetDataSize:
      dataAnswer_ = byteValue();
      break;
    case comport::kServerOffset + comport::kSetParity:
      parityAnswer_ = byteValue();
      break;
    case comport::kServerOffset + comport::kSetStopSize:
      stopAnswer_ = byteValue();
      break;
    case comport::kServerOffset + comport::kNotifyLineState:
      if (value.size() == 1) {
        lineState_ = static_cast<uint8_t>(value[0]);
        lineErrors_ |= lineState_ & comport::kLineErrors;
      }
      break;
    case comport::kServerOffset + comport::kNotifyModemState:
      if (value.size() == 1) modemState_ = static_cast<uint8_t>(value[0]);
      break;
    case comport::kServerOffset + comport::kFlowControlSuspend:
      suspended_ = true;
      break;
    case comport::kServerOffset + comport::kFlowControlResume:
      suspended_ = false;
      break;
    case comport::kServerOffset + comport::kPurgeData:
      ++purgesAnswered_;
      break;
    default:
      // Control answers (DTR, RTS, flow control), mask answers and codes
      // this side never asked about need nothing.
      break;
  }
}

std::string TelnetClient::Encode(const void* bytes, size_t count) const {
  const uint8_t* in = static_cast<const uint8_t*>(bytes);
  const bool binary = us_[telnet::kBinary] == Option::kYes;
  std::string out;
  out.reserve(count + 4);
  for (size_t i = 0; i < count; ++i) {
    out.push_back(static_cast<char>(in[i]));
    if (in[i] == telnet::kIac) out.push_back(static_cast<char>(telnet::kIac));
    if (in[i] == '\r' && !binary) out.push_back('\0');
  }
  return out;
}

std::string TelnetClient::SetLine(const ComPortSettings& settings) {
  if (!ComPortAgreed()) return std::string();
  asked_ = settings;
  expecting_ = true;
  baudAnswer_ = -1;
  dataAnswer_ = parityAnswer_ = stopAnswer_ = -1;
  const uint8_t baud[4] = {
      static_cast<uint8_t>(settings.baud >> 24), static_cast<uint8_t>(settings.baud >> 16),
      static_cast<uint8_t>(settings.baud >> 8), static_cast<uint8_t>(settings.baud)};
  std::string out = ComPortCommand(comport::kSetBaudRate, baud, sizeof baud);
  out += ComPortByte(comport::kSetDataSize, settings.dataSize);
  out += ComPortByte(comport::kSetParity, settings.parity);
  out += ComPortByte(comport::kSetStopSize, settings.stopSize);
  out += ComPortByte(comport::kSetControl, settings.flow);
  out += ComPortByte(comport::kSetControl, comport::kDtrOff);
  out += ComPortByte(comport::kSetControl, comport::kRtsOff);
  return out;
}

std::string TelnetClient::Purge(uint8_t what) const {
  if (!ComPortAgreed()) return std::string();
  return ComPortByte(comport::kPurgeData, what);
}

TelnetClient::Confirmation TelnetClient::LineConfirmed(std::string* what) const {
  if (!expecting_) return Confirmation::kPending;
  const auto differs = [what](const char* name, int64_t got, int64_t asked) {
    if (what != nullptr)
      *what = std::string(name) + " " + std::to_string(got) + ", not " + std::to_string(asked);
    return Confirmation::kDiffers;
  };
  if (baudAnswer_ >= 0 && baudAnswer_ != asked_.baud)
    return differs("baud rate", baudAnswer_, asked_.baud);
  if (dataAnswer_ >= 0 && dataAnswer_ != asked_.dataSize)
    return differs("data size", dataAnswer_, asked_.dataSize);
  if (parityAnswer_ >= 0 && parityAnswer_ != asked_.parity)
    return differs("parity", parityAnswer_, asked_.parity);
  if (stopAnswer_ >= 0 && stopAnswer_ != asked_.stopSize)
    return differs("stop size", stopAnswer_, asked_.stopSize);
  if (baudAnswer_ < 0 || dataAnswer_ < 0 || parityAnswer_ < 0 || stopAnswer_ < 0)
    return Confirmation::kPending;
  return Confirmation::kConfirmed;
}

uint8_t TelnetClient::TakeLineErrors() {
  const uint8_t errors = lineErrors_;
  lineErrors_ = 0;
  return errors;
}

}  // namespace netline
