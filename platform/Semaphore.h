// Named semaphores of count 1 (a lock shared between processes). The lock is a robust
// process-shared mutex: when its holder dies, the next waiter gets it, so a killed process
// cannot leave it held. It must be released by the thread that took it and is not recursive.
#pragma once

#include "SecurityAttributes.h"
#include "Win32Types.h"

constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

// Only initial and maximum count 1 are provided. Creating an existing name opens it
// (GetLastError() == ERROR_ALREADY_EXISTS).
HANDLE CreateSemaphoreA(SECURITY_ATTRIBUTES* attributes, LONG initialCount, LONG maximumCount,
                        LPCSTR name);

// Takes the semaphore; INFINITE waits for as long as it takes.
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);

// Gives the semaphore back (count 1). FALSE with ERROR_TOO_MANY_POSTS when this thread does not
// hold it.
BOOL ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LONG* previousCount);
