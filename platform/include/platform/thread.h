// Threads, critical sections, events, named mutexes, waiting, the command
// line and the per-thread error code.
#pragma once

#include <string>

#include "platform/handles.h"

typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID);

#define INFINITE 0xFFFFFFFF
#define WAIT_OBJECT_0 0x00000000L
#define WAIT_ABANDONED 0x00000080L
#define WAIT_TIMEOUT 0x00000102L
#define WAIT_FAILED ((DWORD)0xFFFFFFFF)
#define STILL_ACTIVE 259
#define CREATE_SUSPENDED 0x00000004

// Re-entrant for its owning thread. The storage holds a pointer to the real
// lock, made by InitializeCriticalSection.
struct CRITICAL_SECTION {
  void* impl;
};
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;

void InitializeCriticalSection(LPCRITICAL_SECTION cs);
void DeleteCriticalSection(LPCRITICAL_SECTION cs);
void EnterCriticalSection(LPCRITICAL_SECTION cs);
// Succeeds when the section is free or already held by this thread.
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs);
void LeaveCriticalSection(LPCRITICAL_SECTION cs);

HANDLE CreateThread(LPSECURITY_ATTRIBUTES sa, SIZE_T stackSize, LPTHREAD_START_ROUTINE start, LPVOID param,
                    DWORD flags, LPDWORD threadId);
DWORD ResumeThread(HANDLE thread);
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();

// Events; a name is shared within the process (a second CreateEvent with the
// same name returns the same event and ERROR_ALREADY_EXISTS).
HANDLE CreateEvent(LPSECURITY_ATTRIBUTES sa, BOOL manualReset, BOOL initialState, LPCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);

// A named mutex exists once per user (per configuration folder) across
// processes: creating one that another process or this one holds open
// reports ERROR_ALREADY_EXISTS. Ownership by waiting is per process.
HANDLE CreateMutex(LPSECURITY_ATTRIBUTES sa, BOOL initialOwner, LPCWSTR name);
BOOL ReleaseMutex(HANDLE mutex);

// Waits on a thread, event, mutex or process. Timeouts are real time.
DWORD WaitForSingleObject(HANDLE h, DWORD milliseconds);

// With the platform clock in manual mode Sleep does not wait: it runs the
// clock forward by `ms`, so code that sleeps in a loop sees time pass.
void Sleep(DWORD ms);

// The whole command line, program first, as the process was started.
LPWSTR GetCommandLine();

namespace platform {

// Replaces what GetCommandLine returns (tests, and hosts that build their
// own line).
void setCommandLine(const std::u16string& line);

}  // namespace platform
