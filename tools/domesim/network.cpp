// The dome served over TCP: a listening socket, one client at a time, and
// the bytes passed between the client and the simulator's pty, raw or with
// the telnet COM port control option.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include "domesim/domesim.h"

namespace domesim {
namespace {

namespace fs = std::filesystem;

constexpr unsigned char kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                        kSe = 240;
constexpr unsigned char kBinary = 0, kSga = 3, kComPort = 44;

enum TelnetState { kData, kIacSeen, kVerb, kSbOption, kSbData, kSbIac };

[[noreturn]] void ThrowErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Writes all of it to a socket (or, with socket false, to the pty), waiting
// for room up to a second in all; what does not go out then is lost (a
// client that stopped reading).
void WriteAll(int fd, const char* data, size_t n, bool socket = true) {
  size_t sent = 0;
  int waits = 0;
  while (sent < n && fd >= 0) {
    const ssize_t k = socket ? ::send(fd, data + sent, n - sent, MSG_NOSIGNAL)
                             : ::write(fd, data + sent, n - sent);
    if (k > 0) {
      sent += static_cast<size_t>(k);
      continue;
    }
    if (k < 0 && errno == EINTR) continue;
    if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waits++ < 100) {
      pollfd p{fd, POLLOUT, 0};
      ::poll(&p, 1, 10);
      continue;
    }
    return;
  }
}

speed_t SpeedOf(int64_t baud) {
  switch (baud) {
    case 110:
      return B110;
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    default:
      return B0;
  }
}

}  // namespace

NetworkServer::NetworkServer(DomeSimulator& sim, NetMode mode, int port, const std::string& host)
    : sim_(sim), mode_(mode), host_(host), port_(port) {
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) ThrowErrno("pipe2");
  try {
    Listen();
  } catch (...) {
    CloseFd(wake_[0]);
    CloseFd(wake_[1]);
    throw;
  }
  thread_ = std::thread(&NetworkServer::Loop, this);
}

NetworkServer::~NetworkServer() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
  }
  Wake();
  if (thread_.joinable()) thread_.join();
  CloseClient();
  std::lock_guard<std::mutex> lock(mu_);
  CloseFd(listen_fd_);
  CloseFd(wake_[0]);
  CloseFd(wake_[1]);
}

void NetworkServer::Listen() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) ThrowErrno("socket");
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port_));
  if (::inet_pton(AF_INET, host_.c_str(), &address.sin_addr) != 1) {
    ::close(fd);
    throw std::invalid_argument("not an IPv4 address: " + host_);
  }
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 4) != 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    ThrowErrno("listen on " + host_ + ":" + std::to_string(port_));
  }
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  std::lock_guard<std::mutex> lock(mu_);
  port_ = ntohs(address.sin_port);
  listen_fd_ = fd;
}

std::string NetworkServer::Url() const {
  return std::string(mode_ == NetMode::kRfc2217 ? "rfc2217://" : "tcp://") + host_ + ":" +
         std::to_string(port_);
}

void NetworkServer::Publish(const std::string& dir, int com) {
  if (com < 1) throw std::invalid_argument("COM port number must be 1 or more");
  const fs::path ports = fs::path(dir) / "ports";
  fs::create_directories(ports);
  const fs::path file = ports / ("COM" + std::to_string(com));
  static std::atomic<unsigned> counter{0};
  const fs::path temporary =
      ports / (".COM" + std::to_string(com) + "." + std::to_string(::getpid()) + "." +
               std::to_string(counter++) + ".tmp");
  {
    std::ofstream out(temporary);
    out << Url() << "\n";
    if (!out) throw std::runtime_error("cannot write " + temporary.string());
  }
  if (::rename(temporary.c_str(), file.c_str()) != 0) {
    const int saved = errno;
    ::unlink(temporary.c_str());
    errno = saved;
    ThrowErrno("rename to " + file.string());
  }
}

void NetworkServer::Wake() {
  const char byte = 'x';
  if (wake_[1] >= 0) (void)!::write(wake_[1], &byte, 1);
}

void NetworkServer::Drop() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    drop_ = true;
  }
  Wake();
  // Done once the thread has closed it.
  std::unique_lock<std::mutex> lock(mu_);
  changed_.wait_for(lock, std::chrono::seconds(2), [this] { return !drop_; });
}

void NetworkServer::SetRefusing(bool refusing) {
  if (!refusing) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (!refusing_) return;
    }
    Listen();
    {
      std::lock_guard<std::mutex> lock(mu_);
      refusing_ = false;
    }
    Wake();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (refusing_) return;
    refusing_ = true;
  }
  Drop();
  // The thread closes the listening socket on its next turn.
  Wake();
  std::unique_lock<std::mutex> lock(mu_);
  changed_.wait_for(lock, std::chrono::seconds(2), [this] { return listen_fd_ < 0; });
}

bool NetworkServer::Refusing() const {
  std::lock_guard<std::mutex> lock(mu_);
  return refusing_;
}

void NetworkServer::SetDeclineComPort(bool decline) {
  std::lock_guard<std::mutex> lock(mu_);
  decline_ = decline;
}

bool NetworkServer::ClientConnected() const {
  std::lock_guard<std::mutex> lock(mu_);
  return connected_;
}

size_t NetworkServer::Connections() const {
  std::lock_guard<std::mutex> lock(mu_);
  return connections_;
}

bool NetworkServer::WaitForConnections(size_t n, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mu_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms),
                           [&] { return connections_ >= n; });
}

RemoteLineSettings NetworkServer::Settings() const {
  std::lock_guard<std::mutex> lock(mu_);
  return settings_;
}

void NetworkServer::CloseClient() {
  CloseFd(client_fd_);
  CloseFd(pty_fd_);
  std::lock_guard<std::mutex> lock(mu_);
  connected_ = false;
}

void NetworkServer::Accept() {
  int listen_fd;
  {
    std::lock_guard<std::mutex> lock(mu_);
    listen_fd = listen_fd_;
  }
  const int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) return;
  // A new client takes the line over, as when a device server kicks the
  // old user.
  CloseClient();
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  client_fd_ = fd;
  const std::string slave = sim_.SlavePath();
  pty_fd_ = slave.empty() ? -1 : ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  bool decline = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++connections_;
    connected_ = pty_fd_ >= 0;
    settings_ = RemoteLineSettings();
    decline = decline_;
  }
  changed_.notify_all();
  if (pty_fd_ < 0) {
    CloseClient();  // the dome's port is gone
    return;
  }
  termios raw{};
  if (::tcgetattr(pty_fd_, &raw) == 0) {
    ::cfmakeraw(&raw);
    ::tcsetattr(pty_fd_, TCSANOW, &raw);
  }
  state_ = kData;
  sb_.clear();
  std::fill(std::begin(sent_do_), std::end(sent_do_), false);
  std::fill(std::begin(sent_will_), std::end(sent_will_), false);
  client_binary_ = false;
  cr_seen_ = false;
  if (mode_ == NetMode::kRfc2217) {
    std::string offers;
    const auto offer = [&](unsigned char verb, unsigned char option) {
      offers += static_cast<char>(kIac);
      offers += static_cast<char>(verb);
      offers += static_cast<char>(option);
    };
    if (!decline) {
      offer(kDo, kComPort);
      sent_do_[kComPort] = true;
    }
    for (unsigned char option : {kBinary, kSga}) {
      offer(kWill, option);
      offer(kDo, option);
      sent_will_[option] = sent_do_[option] = true;
    }
    SendToClient(offers);
  }
}

void NetworkServer::SendToClient(const std::string& bytes) {
  WriteAll(client_fd_, bytes.data(), bytes.size());
}

void NetworkServer::ToClient(const char* bytes, size_t n) {
  if (mode_ == NetMode::kRaw) {
    WriteAll(client_fd_, bytes, n);
    return;
  }
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += bytes[i];
    if (static_cast<unsigned char>(bytes[i]) == kIac) out += static_cast<char>(kIac);
  }
  SendToClient(out);
}

void NetworkServer::FromClient(const unsigned char* bytes, size_t n) {
  if (mode_ == NetMode::kRaw) {
    WriteAll(pty_fd_, reinterpret_cast<const char*>(bytes), n, false);
    return;
  }
  std::string data;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char b = bytes[i];
    switch (state_) {
      case kData:
        if (b == kIac) {
          state_ = kIacSeen;
          break;
        }
        // Outside BINARY a CR goes as CR NUL.
        if (!(cr_seen_ && b == 0 && !client_binary_)) data += static_cast<char>(b);
        cr_seen_ = b == '\r';
        break;
      case kIacSeen:
        if (b == kIac) {
          data += static_cast<char>(b);
          state_ = kData;
        } else if (b >= kWill) {
          verb_ = b;
          state_ = kVerb;
        } else if (b == kSb) {
          state_ = kSbOption;
        } else {
          state_ = kData;
        }
        break;
      case kVerb:
        ClientCommand(verb_, b);
        state_ = kData;
        break;
      case kSbOption:
        sb_.assign(1, static_cast<char>(b));
        state_ = kSbData;
        break;
      case kSbData:
        if (b == kIac)
          state_ = kSbIac;
        else if (sb_.size() < 512)
          sb_ += static_cast<char>(b);
        break;
      case kSbIac:
        if (b == kIac) {
          sb_ += static_cast<char>(b);
          state_ = kSbData;
        } else {
          if (b == kSe) ClientSubnegotiation();
          state_ = kData;
        }
        break;
    }
  }
  if (!data.empty()) WriteAll(pty_fd_, data.data(), data.size(), false);
}

void NetworkServer::ClientCommand(unsigned char verb, unsigned char option) {
  std::string reply;
  const auto answer = [&](unsigned char v) {
    reply += static_cast<char>(kIac);
    reply += static_cast<char>(v);
    reply += static_cast<char>(option);
  };
  bool decline = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    decline = decline_;
  }
  const bool wanted = option == kBinary || option == kSga || (option == kComPort && !decline);
  if (verb == kWill) {
    if (!wanted) {
      answer(kDont);
    } else if (!sent_do_[option]) {
      sent_do_[option] = true;
      answer(kDo);
    }
    if (option == kBinary && wanted) client_binary_ = true;
    if (option == kComPort && wanted) {
      std::lock_guard<std::mutex> lock(mu_);
      settings_.option_agreed = true;
    }
  } else if (verb == kWont) {
    if (option == kBinary) client_binary_ = false;
    if (sent_do_[option]) {
      sent_do_[option] = false;
      answer(kDont);
    }
  } else if (verb == kDo) {
    const bool mine = option == kBinary || option == kSga;
    if (!mine) {
      answer(kWont);
    } else if (!sent_will_[option]) {
      sent_will_[option] = true;
      answer(kWill);
    }
  } else if (verb == kDont) {
    if (sent_will_[option]) {
      sent_will_[option] = false;
      answer(kWont);
    }
  }
  SendToClient(reply);
}

void NetworkServer::ClientSubnegotiation() {
  if (sb_.size() < 2 || static_cast<unsigned char>(sb_[0]) != kComPort) return;
  const int code = static_cast<unsigned char>(sb_[1]);
  std::string value = sb_.substr(2);
  {
    std::lock_guard<std::mutex> lock(mu_);
    switch (code) {
      case 0:  // signature
        value = "quaro7-domesim";
        break;
      case 1:
        if (value.size() == 4) {
          settings_.baud = (static_cast<int64_t>(static_cast<unsigned char>(value[0])) << 24) |
                           (static_cast<unsigned char>(value[1]) << 16) |
                           (static_cast<unsigned char>(value[2]) << 8) |
                           static_cast<unsigned char>(value[3]);
        }
        break;
      case 2:
        if (value.size() == 1) settings_.data_size = static_cast<unsigned char>(value[0]);
        break;
      case 3:
        if (value.size() == 1) settings_.parity = static_cast<unsigned char>(value[0]);
        break;
      case 4:
        if (value.size() == 1) settings_.stop_size = static_cast<unsigned char>(value[0]);
        break;
      case 5:
        if (value.size() == 1) settings_.controls.push_back(static_cast<unsigned char>(value[0]));
        break;
      case 12:
        ++settings_.purges;
        break;
      default:
        break;
    }
  }
  if (code >= 1 && code <= 4) ApplyToPty();
  if (code == 12 && pty_fd_ >= 0) ::tcflush(pty_fd_, TCIFLUSH);
  std::string reply;
  reply += static_cast<char>(kIac);
  reply += static_cast<char>(kSb);
  reply += static_cast<char>(kComPort);
  reply += static_cast<char>(code + 100);
  for (char c : value) {
    reply += c;
    if (static_cast<unsigned char>(c) == kIac) reply += c;
  }
  reply += static_cast<char>(kIac);
  reply += static_cast<char>(kSe);
  SendToClient(reply);
}

void NetworkServer::ApplyToPty() {
  if (pty_fd_ < 0) return;
  RemoteLineSettings now = Settings();
  termios tio{};
  if (::tcgetattr(pty_fd_, &tio) != 0) return;
  if (now.baud > 0 && SpeedOf(now.baud) != B0) {
    ::cfsetispeed(&tio, SpeedOf(now.baud));
    ::cfsetospeed(&tio, SpeedOf(now.baud));
  }
  if (now.data_size >= 5 && now.data_size <= 8) {
    static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag = (tio.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | kSizes[now.data_size - 5];
  }
  if (now.parity >= 1 && now.parity <= 5) {
    tio.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR);
    if (now.parity == 2) tio.c_cflag |= PARENB | PARODD;
    if (now.parity == 3) tio.c_cflag |= PARENB;
    if (now.parity == 4) tio.c_cflag |= PARENB | PARODD | CMSPAR;
    if (now.parity == 5) tio.c_cflag |= PARENB | CMSPAR;
  }
  if (now.stop_size >= 1 && now.stop_size <= 3) {
    if (now.stop_size == 1)
      tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
    else
      tio.c_cflag |= CSTOPB;
  }
  ::tcsetattr(pty_fd_, TCSANOW, &tio);
}

void NetworkServer::Loop() {
  char buffer[1024];
  for (;;) {
    int listen_fd;
    bool drop, refusing;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (stopping_) return;
      drop = drop_;
      refusing = refusing_;
      listen_fd = listen_fd_;
    }
    if (drop) {
      CloseClient();
      {
        std::lock_guard<std::mutex> lock(mu_);
        drop_ = false;
      }
      changed_.notify_all();
    }
    if (refusing && listen_fd >= 0) {
      {
        std::lock_guard<std::mutex> lock(mu_);
        CloseFd(listen_fd_);
      }
      listen_fd = -1;
      changed_.notify_all();
    }
    pollfd fds[4] = {{wake_[0], POLLIN, 0},
                     {listen_fd, POLLIN, 0},
                     {client_fd_, POLLIN, 0},
                     {pty_fd_, POLLIN, 0}};
    const int ready = ::poll(fds, 4, 200);
    if (ready < 0 && errno != EINTR) return;
    if (ready <= 0) continue;
    if (fds[0].revents & POLLIN) {
      while (::read(wake_[0], buffer, sizeof buffer) > 0) {
      }
    }
    if (listen_fd >= 0 && (fds[1].revents & POLLIN)) Accept();
    if (client_fd_ >= 0 && fds[2].fd == client_fd_ && fds[2].revents != 0) {
      const ssize_t n = ::recv(client_fd_, buffer, sizeof buffer, 0);
      if (n > 0) {
        FromClient(reinterpret_cast<const unsigned char*>(buffer), static_cast<size_t>(n));
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        CloseClient();
        continue;
      }
    }
    if (pty_fd_ >= 0 && fds[3].fd == pty_fd_ && fds[3].revents != 0) {
      const ssize_t n = ::read(pty_fd_, buffer, sizeof buffer);
      if (n > 0) {
        ToClient(buffer, static_cast<size_t>(n));
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        // The dome's port hung up: the server loses its line.
        CloseClient();
      }
    }
  }
}

}  // namespace domesim
