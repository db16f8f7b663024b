// A serial line whose far end answers each command line with bytes given in
// advance: each answer is a list of pieces, each written after its own
// pause, so an answer may come whole, split, late, cut short, followed by
// stray bytes, or as a flood. Lines beyond the script are answered "OK\r".
//
// The line is a pseudo-terminal published as <dir>/ports/COM<n>, like the
// dome simulator's; its slave side stays open on this end, so a driver that
// closes the port causes no hang-up.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace q7fuzz {

class ScriptedLine {
 public:
  struct Piece {
    int pauseMs = 0;
    std::string bytes;
  };
  using Answer = std::vector<Piece>;

  ScriptedLine(const std::string& dir, int com, std::deque<Answer> script);
  ~ScriptedLine();
  ScriptedLine(const ScriptedLine&) = delete;
  ScriptedLine& operator=(const ScriptedLine&) = delete;

  // Command lines received so far, and the pauses their answers took.
  size_t LinesReceived() const;
  int64_t PausedMs() const;

 private:
  void Reader();
  void AnswerLine();

  const bool tracing_;
  int master_ = -1;
  int slave_ = -1;
  int wake_[2] = {-1, -1};
  std::string link_;
  std::thread reader_;
  mutable std::mutex mu_;
  std::condition_variable stop_;
  bool stopping_ = false;
  std::deque<Answer> script_;
  std::string pending_;  // the line being received (reader thread)
  size_t lines_ = 0;
  int64_t paused_ = 0;
};

}  // namespace q7fuzz
