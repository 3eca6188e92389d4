#include "update/log/lock.h"

namespace {
const DWORD kSpinCount = 4000;
}

Lock::Lock() : abandoned(false) { InitializeCriticalSectionAndSpinCount(&section, kSpinCount); }
Lock::~Lock() {
  if (!abandoned) DeleteCriticalSection(&section);
}
void Lock::Enter() { EnterCriticalSection(&section); }
void Lock::Leave() { LeaveCriticalSection(&section); }

ScopedLock::ScopedLock(LockInterface* lock, bool takeNow) : lock(lock), held(false) {
  if (takeNow) Take();
}

ScopedLock::~ScopedLock() { Release(); }

void ScopedLock::Take() {
  if (held || !lock) return;
  lock->Enter();
  held = true;
}

void ScopedLock::Release() {
  if (!held) return;
  lock->Leave();
  held = false;
}
