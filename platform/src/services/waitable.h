// Kernel objects a thread can wait on. Each keeps its own lock and
// condition; `acquire` is asked under that lock whether a waiter may go on,
// and takes what it must (an auto-reset event resets, a mutex is owned).
#pragma once

#include <condition_variable>
#include <mutex>

#include "handles.h"

namespace platform {

struct Waitable : KernelObject {
  using KernelObject::KernelObject;
  std::mutex lock;
  std::condition_variable changed;
  virtual bool acquire(DWORD threadId) = 0;
};

// Wait with the Win32 result codes; used by WaitForSingleObject.
DWORD waitOn(Waitable& w, DWORD milliseconds);

// This thread's id as GetCurrentThreadId reports it.
DWORD currentThreadId();

}  // namespace platform
