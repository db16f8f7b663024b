// Timed tasks a connection's worker thread runs when they come due.
#pragma once

#include <cstdint>

class CVRTCamera;
class CVRTComm;
class CVRTRelay;

class CVRTScheduledTask {
 public:
  static constexpr int kRelayPulse = 5;

  CVRTScheduledTask(int type, CVRTCamera* owner, uint32_t durationMs, uint32_t now);
  virtual ~CVRTScheduledTask() = default;

  int GetId() const { return id_; }
  int GetType() const { return type_; }
  CVRTCamera* GetOwner() const { return owner_; }
  uint32_t GetDueTime() const { return due_; }
  // True once the task's time has come, however late it is looked at (a
  // pulse end must go out even after the line was busy for a long time).
  // Measured from when the task was made, so that it stays right across the
  // wrap of the tick count.
  bool IsDue(uint32_t now) const;
  bool IsSame(const CVRTScheduledTask* other) const;
  // 1 when done (the worker then deletes the task).
  virtual int Run(CVRTComm* connection) = 0;

  // Due time for a task starting now: now + duration modulo 2^32, never 0.
  static uint32_t DueTime(uint32_t now, uint32_t durationMs);

 private:
  int id_;
  uint32_t start_;
  uint32_t due_;
  int type_;
  CVRTCamera* owner_;
};

// Ends a relay pulse: switches the relay off when it comes due.
class CRelayPulseTask : public CVRTScheduledTask {
 public:
  CRelayPulseTask(CVRTRelay* relay, uint32_t durationMs, CVRTCamera* camera, uint32_t now);
  CVRTRelay* GetRelay() const { return relay_; }
  int Run(CVRTComm* connection) override;

 private:
  CVRTRelay* relay_;
};
