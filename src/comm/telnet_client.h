// The client side of a telnet connection to a serial device server with the
// COM port control option (RFC 2217 over RFC 854/855): a state machine with
// no system calls. Received bytes go in, the line's data and the answers
// owed to the server come out; what the driver sends is encoded here.
//
// Options: this side offers BINARY, SUPPRESS-GO-AHEAD and COM-PORT-OPTION
// and asks the server for BINARY and SUPPRESS-GO-AHEAD; every other option
// is refused, either way (so a server's ECHO never sends the command lines
// back as answers). Negotiation follows the loop-free rules of RFC 1143: a
// request for a state the option is in is not answered.
//
// Data: IAC (255) is doubled when sent and undoubled when received. While
// an option for BINARY is not in force in a direction, a CR is sent as
// CR NUL and a NUL after a received CR is dropped.
//
// The server's COM port messages: the answers to the line settings (checked
// against what was asked for), line and modem state notifications (line
// errors are kept until taken), flow control suspend and resume, purge
// answers, and a request for this side's signature (answered).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace netline {

namespace telnet {
constexpr uint8_t kIac = 255;
constexpr uint8_t kDont = 254;
constexpr uint8_t kDo = 253;
constexpr uint8_t kWont = 252;
constexpr uint8_t kWill = 251;
constexpr uint8_t kSb = 250;
constexpr uint8_t kSe = 240;
constexpr uint8_t kBinary = 0;
constexpr uint8_t kSuppressGoAhead = 3;
constexpr uint8_t kComPort = 44;
}  // namespace telnet

// COM port option command codes (client to server; the server answers
// with the code plus 100).
namespace comport {
constexpr uint8_t kSignature = 0;
constexpr uint8_t kSetBaudRate = 1;
constexpr uint8_t kSetDataSize = 2;
constexpr uint8_t kSetParity = 3;
constexpr uint8_t kSetStopSize = 4;
constexpr uint8_t kSetControl = 5;
constexpr uint8_t kNotifyLineState = 6;
constexpr uint8_t kNotifyModemState = 7;
constexpr uint8_t kFlowControlSuspend = 8;
constexpr uint8_t kFlowControlResume = 9;
constexpr uint8_t kSetLineStateMask = 10;
constexpr uint8_t kSetModemStateMask = 11;
constexpr uint8_t kPurgeData = 12;
constexpr uint8_t kServerOffset = 100;

// SET-PARITY values.
constexpr uint8_t kParityNone = 1, kParityOdd = 2, kParityEven = 3, kParityMark = 4,
                  kParitySpace = 5;
// SET-STOPSIZE values.
constexpr uint8_t kStopOne = 1, kStopTwo = 2, kStopOneAndHalf = 3;
// SET-CONTROL values used here.
constexpr uint8_t kFlowNone = 1, kFlowXonXoff = 2, kFlowHardware = 3, kDtrOff = 9, kRtsOff = 12;
// PURGE-DATA values.
constexpr uint8_t kPurgeReceive = 1, kPurgeTransmit = 2, kPurgeBoth = 3;
// NOTIFY-LINESTATE bits that report a fault on the line.
constexpr uint8_t kLineErrors = 0x02 | 0x04 | 0x08 | 0x10 | 0x80;
}  // namespace comport

struct ComPortSettings {
  uint32_t baud = 9600;
  uint8_t dataSize = 8;
  uint8_t parity = comport::kParityNone;
  uint8_t stopSize = comport::kStopOne;
  uint8_t flow = comport::kFlowNone;
};

class TelnetClient {
 public:
  enum class Option { kNo, kYes, kWantNo, kWantYes };
  enum class Confirmation { kPending, kConfirmed, kDiffers };
  // The signature this side gives when the server asks for it.
  static constexpr const char* kSignature = "QUARO7K7_PTZ";
  // The longest subnegotiation kept; the rest of a longer one is dropped.
  static constexpr size_t kMaxSubnegotiation = 256;

  // The offers that open a connection.
  std::string Start();
  // Takes bytes received from the server: the line's data is appended to
  // *data, answers owed to the server to *reply.
  void Receive(const uint8_t* bytes, size_t count, std::string* data, std::string* reply);
  // The line's bytes as they are sent.
  std::string Encode(const void* bytes, size_t count) const;

  // The line settings as COM port commands (with DTR and RTS off), and from
  // now on the answers to them are checked. Empty until the server agreed
  // to the option.
  std::string SetLine(const ComPortSettings& settings);
  std::string Purge(uint8_t what) const;

  bool ComPortAgreed() const { return us_[telnet::kComPort] == Option::kYes; }
  // The server declined the option (or withdrew it).
  bool ComPortRefused() const { return started_ && us_[telnet::kComPort] == Option::kNo; }
  // kDiffers with *what ("parity 1, not 3") once an answer is not what was
  // asked for; kConfirmed once baud rate, data size, parity and stop size
  // are answered as asked.
  Confirmation LineConfirmed(std::string* what) const;
  bool Suspended() const { return suspended_; }
  uint8_t LineState() const { return lineState_; }
  uint8_t ModemState() const { return modemState_; }
  // The line error bits notified since the last call.
  uint8_t TakeLineErrors();
  uint32_t PurgesAnswered() const { return purgesAnswered_; }
  const std::string& ServerSignature() const { return serverSignature_; }
  Option Local(uint8_t option) const { return us_[option]; }
  Option Remote(uint8_t option) const { return him_[option]; }

 private:
  enum class State { kData, kCr, kIac, kVerb, kSbOption, kSbData, kSbIac };

  void Command(uint8_t verb, uint8_t option, std::string* reply);
  void Subnegotiation(std::string* reply);
  bool LocalSupported(uint8_t option) const;
  bool RemoteSupported(uint8_t option) const;

  std::array<Option, 256> us_{};
  std::array<Option, 256> him_{};
  bool started_ = false;
  State state_ = State::kData;
  uint8_t verb_ = 0;
  uint8_t sbOption_ = 0;
  std::string sb_;
  bool sbOverflow_ = false;

  bool expecting_ = false;
  ComPortSettings asked_;
  // Answers to the line settings received since SetLine; -1 none yet.
  int64_t baudAnswer_ = -1;
  int dataAnswer_ = -1, parityAnswer_ = -1, stopAnswer_ = -1;

  bool suspended_ = false;
  uint8_t lineState_ = 0;
  uint8_t modemState_ = 0;
  uint8_t lineErrors_ = 0;
  uint32_t purgesAnswered_ = 0;
  std::string serverSignature_;
};

}  // namespace netline
