#include "comm/network_address.h"

#include <cctype>

namespace netline {
namespace {

constexpr size_t kMaxHostLength = 253;

bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
}

bool IsIpv6Char(char c) {
  // Hex digits, colons, dots of an embedded IPv4 part, and a zone after %.
  return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.' || c == '%' ||
         std::isalnum(static_cast<unsigned char>(c));
}

std::string Trimmed(const std::string& text) {
  size_t begin = 0;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) begin = 3;
  while (begin < text.size() && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  size_t end = text.size();
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return text.substr(begin, end - begin);
}

bool StartsWithIgnoringCase(const std::string& text, const char* prefix) {
  size_t i = 0;
  for (; prefix[i] != '\0'; ++i) {
    if (i >= text.size() ||
        std::tolower(static_cast<unsigned char>(text[i])) != static_cast<unsigned char>(prefix[i]))
      return false;
  }
  return true;
}

bool Refuse(std::string* why, const char* reason) {
  if (why != nullptr) *why = reason;
  return false;
}

}  // namespace

std::string Address::Text() const {
  const std::string shownHost = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  return std::string(kind == Kind::kRfc2217 ? "rfc2217://" : "tcp://") + shownHost + ":" +
         std::to_string(port);
}

bool ParseAddress(const std::string& line, Address* out, std::string* why) {
  const std::string text = Trimmed(line);
  Address address;
  size_t pos = 0;
  if (StartsWithIgnoringCase(text, "rfc2217://")) {
    address.kind = Kind::kRfc2217;
    pos = 10;
  } else if (StartsWithIgnoringCase(text, "tcp://")) {
    address.kind = Kind::kRawTcp;
    pos = 6;
  } else {
    return Refuse(why, "it starts with neither rfc2217:// nor tcp://");
  }
  if (pos < text.size() && text[pos] == '[') {
    const size_t close = text.find(']', pos);
    if (close == std::string::npos) return Refuse(why, "the IPv6 address has no closing bracket");
    address.host = text.substr(pos + 1, close - pos - 1);
    if (address.host.empty() || address.host.find(':') == std::string::npos)
      return Refuse(why, "there is no IPv6 address in the brackets");
    for (char c : address.host)
      if (!IsIpv6Char(c)) return Refuse(why, "the IPv6 address has a character it cannot have");
    pos = close + 1;
  } else {
    const size_t colon = text.find(':', pos);
    address.host = text.substr(pos, colon == std::string::npos ? std::string::npos : colon - pos);
    if (address.host.empty()) return Refuse(why, "the host is missing");
    for (char c : address.host)
      if (!IsNameChar(c))
        return Refuse(why,
                      "the host has a character no name or IPv4 address has (an IPv6 "
                      "address goes in brackets)");
    pos += address.host.size();
    if (text.find(':', pos + 1) != std::string::npos)
      return Refuse(why, "an IPv6 address goes in brackets ([fd00::1]:4001)");
  }
  if (address.host.size() > kMaxHostLength) return Refuse(why, "the host name is too long");
  if (pos >= text.size() || text[pos] != ':') return Refuse(why, "no port after the host");
  const std::string digits = text.substr(pos + 1);
  if (digits.empty()) return Refuse(why, "the port is missing");
  if (digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
    return Refuse(why, "the port is not a number from 1 to 65535");
  const long port = std::stol(digits);
  if (port < 1 || port > 65535) return Refuse(why, "the port is not a number from 1 to 65535");
  address.port = static_cast<uint16_t>(port);
  if (out != nullptr) *out = address;
  return true;
}

}  // namespace netline
