// Locks of the logging subsystem. Callers hold them through ScopedLock so a
// lock is never left taken on an early return.
#pragma once

#include <windows.h>

// The interface the log's lock users see; the destructor is virtual so an
// owner may delete through it.
class LockInterface {
 public:
  virtual ~LockInterface() {}
  virtual void Enter() = 0;
  virtual void Leave() = 0;
};

// A critical section that spins before sleeping: the log's locks are held
// for one file write at most, so a short spin usually wins.
class Lock : public LockInterface {
 public:
  Lock();
  ~Lock() override;
  void Enter() override;
  void Leave() override;
  // Leaves the critical section undeleted, for a thread that may still use it.
  void Abandon() { abandoned = true; }

  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  CRITICAL_SECTION section;
  bool abandoned;
};

class ScopedLock {
 public:
  explicit ScopedLock(LockInterface* lock, bool takeNow = true);
  ~ScopedLock();
  void Take();
  void Release();

  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  LockInterface* lock;
  bool held;
};
