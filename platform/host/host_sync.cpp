// The lock and condition variable of platform.h on POSIX threads, for the
// host and the fake platform alike.
#include "platform/platform.h"

void InitializeSRWLock(PSRWLOCK lock) { pthread_mutex_init(&lock->mutex, nullptr); }

void AcquireSRWLockExclusive(PSRWLOCK lock) { pthread_mutex_lock(&lock->mutex); }

void ReleaseSRWLockExclusive(PSRWLOCK lock) { pthread_mutex_unlock(&lock->mutex); }

void InitializeConditionVariable(PCONDITION_VARIABLE condition) {
  pthread_cond_init(&condition->condition, nullptr);
}

BOOL SleepConditionVariableSRW(PCONDITION_VARIABLE condition, PSRWLOCK lock, DWORD, ULONG) {
  return pthread_cond_wait(&condition->condition, &lock->mutex) == 0;
}

void WakeConditionVariable(PCONDITION_VARIABLE condition) {
  pthread_cond_signal(&condition->condition);
}

void WakeAllConditionVariable(PCONDITION_VARIABLE condition) {
  pthread_cond_broadcast(&condition->condition);
}
