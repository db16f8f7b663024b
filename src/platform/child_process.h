// A program of ours started beside the library, with one end of a socket
// pair as its channel back to us (the setup dialogs' process on Linux).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace platform {

// One end of a stream channel to another process. Writes and reads may come
// from different threads; each of them from one thread at a time.
class ProcessChannel {
 public:
  virtual ~ProcessChannel() = default;
  // Writes all of data; false once the other end has gone.
  virtual bool Write(const char* data, size_t size) = 0;
  // Reads what is there, at most size bytes, waiting at most timeoutMs
  // (-1: as long as it takes). The bytes read; 0 when the other end has
  // closed, -1 on a failure, -2 when the time ran out.
  virtual int Read(char* data, size_t size, int timeoutMs) = 0;
  // Ends the channel in both directions: the other side reads its end, a
  // read waiting here returns 0.
  virtual void Shutdown() = 0;
};

// The channel a program was started with (the descriptor kChildChannelFd),
// for the started program itself.
constexpr int kChildChannelFd = 3;
std::unique_ptr<ProcessChannel> InheritedChannel();

class ChildProcess {
 public:
  virtual ~ChildProcess() = default;
  ProcessChannel& Channel() { return *channel_; }
  // Waits at most timeoutMs for the program to end (killing it after that)
  // and says how it ended ("exit status 1", "killed by signal 9").
  virtual std::string WaitForEnd(int timeoutMs) = 0;
  // Process id, for the log.
  virtual int Id() const = 0;

 protected:
  std::unique_ptr<ProcessChannel> channel_;
};

// Starts the program with argument list args (args[0] its name) and a
// channel to it; nullptr with one line in why when it cannot start. The
// program's standard streams go nowhere; no other descriptor of this
// process reaches it.
std::unique_ptr<ChildProcess> StartChildProcess(const std::string& program,
                                                const std::string& argument, std::string* why);

}  // namespace platform
