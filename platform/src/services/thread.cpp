#include "platform/thread.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "platform/clock.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "waitable.h"

namespace platform {
namespace {

std::atomic<DWORD> g_nextThreadId{1};
thread_local DWORD t_threadId = 0;

struct RecursiveLock {
  std::mutex m;
  std::condition_variable cv;
  DWORD owner = 0;
  unsigned depth = 0;
};

struct ThreadObject : Waitable {
  ThreadObject() : Waitable(KernelKind::Thread) {}
  bool finished = false;
  bool suspended = false;
  DWORD exitCode = STILL_ACTIVE;
  DWORD id = 0;
  bool acquire(DWORD) override { return finished; }
};

struct EventObject : Waitable {
  EventObject() : Waitable(KernelKind::Event) {}
  bool manualReset = false;
  bool signalled = false;
  bool acquire(DWORD) override {
    if (!signalled) return false;
    if (!manualReset) signalled = false;
    return true;
  }
};

// Keeps a named mutex's existence visible to other processes: every holder
// keeps a shared lock on the name's file; whoever can take it exclusively
// (under the guard file) is the first.
struct NamedPresence {
  int fd = -1;
  ~NamedPresence() {
    if (fd >= 0) close(fd);
  }
};

struct MutexObject : Waitable {
  MutexObject() : Waitable(KernelKind::Mutex) {}
  DWORD owner = 0;
  unsigned depth = 0;
  std::u16string name;
  std::unique_ptr<NamedPresence> presence;
  bool acquire(DWORD tid) override {
    if (depth && owner != tid) return false;
    owner = tid;
    ++depth;
    return true;
  }
};

std::mutex g_namesLock;
std::map<std::u16string, std::weak_ptr<EventObject>>& namedEvents() {
  static auto* m = new std::map<std::u16string, std::weak_ptr<EventObject>>;
  return *m;
}
std::map<std::u16string, std::weak_ptr<MutexObject>>& namedMutexes() {
  static auto* m = new std::map<std::u16string, std::weak_ptr<MutexObject>>;
  return *m;
}

std::mutex g_commandLineLock;
std::u16string* g_commandLine = nullptr;

std::u16string readProcCommandLine() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string line;
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    std::string arg = all.substr(start, end - start);
    if (!line.empty()) line += ' ';
    if (arg.empty() || arg.find_first_of(" \t") != std::string::npos)
      line += '"' + arg + '"';
    else
      line += arg;
    start = end + 1;
  }
  return widen(line);
}

// File names for a mutex name: letters and digits kept, the rest hex-coded.
std::string lockFileName(const std::u16string& name) {
  std::string utf8 = narrow(name), out = "mutex-";
  static const char* hex = "0123456789abcdef";
  for (unsigned char c : utf8) {
    if (isalnum(c) || c == '-' || c == '_') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

// Opens the name's presence file; reports in *existed whether any other
// holder (in any process) had it open.
std::unique_ptr<NamedPresence> claimName(const std::u16string& name, bool* existed) {
  std::string folder = configFolder() + "/run";
  for (size_t pos = 1; pos <= folder.size(); ++pos)
    if (pos == folder.size() || folder[pos] == '/') mkdir(folder.substr(0, pos).c_str(), 0700);
  int guard = open((folder + "/guard.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (guard < 0) return nullptr;
  auto p = std::make_unique<NamedPresence>();
  if (flock(guard, LOCK_EX) == 0) {
    p->fd = open((folder + "/" + lockFileName(name)).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (p->fd >= 0) {
      *existed = flock(p->fd, LOCK_EX | LOCK_NB) != 0;
      if (flock(p->fd, LOCK_SH) != 0) p.reset();
    } else {
      p.reset();
    }
  } else {
    p.reset();
  }
  close(guard);
  return p;
}

void lockRecursive(RecursiveLock* l, DWORD tid) {
  std::unique_lock<std::mutex> g(l->m);
  if (l->depth && l->owner == tid) {
    ++l->depth;
    return;
  }
  l->cv.wait(g, [&] { return l->depth == 0; });
  l->owner = tid;
  l->depth = 1;
}

}  // namespace

DWORD currentThreadId() {
  if (!t_threadId) t_threadId = g_nextThreadId++;
  return t_threadId;
}

DWORD waitOn(Waitable& w, DWORD milliseconds) {
  DWORD tid = currentThreadId();
  std::unique_lock<std::mutex> g(w.lock);
  if (milliseconds == INFINITE) {
    w.changed.wait(g, [&] { return w.acquire(tid); });
    return WAIT_OBJECT_0;
  }
  bool ok = w.changed.wait_for(g, std::chrono::milliseconds(milliseconds), [&] { return w.acquire(tid); });
  return ok ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

void setCommandLine(const std::u16string& line) {
  std::lock_guard<std::mutex> g(g_commandLineLock);
  if (!g_commandLine)
    g_commandLine = new std::u16string(line);
  else
    *g_commandLine = line;
}

}  // namespace platform

using namespace platform;

void InitializeCriticalSection(LPCRITICAL_SECTION cs) {
  if (cs) cs->impl = new RecursiveLock;
}

void DeleteCriticalSection(LPCRITICAL_SECTION cs) {
  if (!cs) return;
  delete static_cast<RecursiveLock*>(cs->impl);
  cs->impl = nullptr;
}

void EnterCriticalSection(LPCRITICAL_SECTION cs) { lockRecursive(static_cast<RecursiveLock*>(cs->impl), currentThreadId()); }

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
  auto* l = static_cast<RecursiveLock*>(cs->impl);
  DWORD tid = currentThreadId();
  std::lock_guard<std::mutex> g(l->m);
  if (l->depth && l->owner != tid) return FALSE;
  l->owner = tid;
  ++l->depth;
  return TRUE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION cs) {
  auto* l = static_cast<RecursiveLock*>(cs->impl);
  std::lock_guard<std::mutex> g(l->m);
  // Leaving a section this thread does not hold would hand it to nobody.
  if (!l->depth || l->owner != currentThreadId()) return;
  if (--l->depth == 0) {
    l->owner = 0;
    l->cv.notify_one();
  }
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID param, DWORD flags,
                    LPDWORD threadId) {
  if (!start) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto t = std::make_shared<ThreadObject>();
  t->id = g_nextThreadId++;
  t->suspended = (flags & CREATE_SUSPENDED) != 0;
  if (threadId) *threadId = t->id;
  HANDLE h = addHandle(t);
  try {
    std::thread([t, start, param] {
      {
        std::unique_lock<std::mutex> g(t->lock);
        t->changed.wait(g, [&] { return !t->suspended; });
      }
      t_threadId = t->id;
      DWORD code = start(param);
      std::lock_guard<std::mutex> g(t->lock);
      t->exitCode = code;
      t->finished = true;
      t->changed.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    removeHandle(h);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return h;
}

DWORD ResumeThread(HANDLE thread) {
  auto t = lookupHandleAs<ThreadObject>(thread, KernelKind::Thread);
  if (!t) {
    SetLastError(ERROR_INVALID_HANDLE);
    return static_cast<DWORD>(-1);
  }
  std::lock_guard<std::mutex> g(t->lock);
  DWORD was = t->suspended ? 1 : 0;
  t->suspended = false;
  t->changed.notify_all();
  return was;
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
  auto t = lookupHandleAs<ThreadObject>(thread, KernelKind::Thread);
  if (!t || !exitCode) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> g(t->lock);
  *exitCode = t->exitCode;
  return TRUE;
}

DWORD GetCurrentThreadId() { return currentThreadId(); }

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

HANDLE CreateEvent(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR name) {
  std::shared_ptr<EventObject> e;
  bool existed = false;
  std::lock_guard<std::mutex> g(g_namesLock);
  if (name && *name) {
    auto& slot = namedEvents()[name];
    e = slot.lock();
    existed = e != nullptr;
    if (!e) slot = e = std::make_shared<EventObject>();
  } else {
    e = std::make_shared<EventObject>();
  }
  if (!existed) {
    e->manualReset = manualReset != FALSE;
    e->signalled = initialState != FALSE;
  }
  HANDLE h = addHandle(e);
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

static BOOL setEventState(HANDLE event, bool on) {
  auto e = lookupHandleAs<EventObject>(event, KernelKind::Event);
  if (!e) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> g(e->lock);
  e->signalled = on;
  if (on) e->changed.notify_all();
  return TRUE;
}

BOOL SetEvent(HANDLE event) { return setEventState(event, true); }

BOOL ResetEvent(HANDLE event) { return setEventState(event, false); }

HANDLE CreateMutex(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCWSTR name) {
  std::shared_ptr<MutexObject> m;
  bool existed = false;
  {
    std::lock_guard<std::mutex> g(g_namesLock);
    if (name && *name) {
      auto& slot = namedMutexes()[name];
      m = slot.lock();
      if (m) {
        existed = true;
      } else {
        m = std::make_shared<MutexObject>();
        m->name = name;
        // The name becomes a file name; one too long for that is refused.
        if (lockFileName(m->name).size() > 240) {
          SetLastError(ERROR_FILENAME_EXCED_RANGE);
          return nullptr;
        }
        m->presence = claimName(m->name, &existed);
        if (!m->presence) {
          SetLastError(ERROR_ACCESS_DENIED);
          return nullptr;
        }
        slot = m;
      }
    } else {
      m = std::make_shared<MutexObject>();
    }
  }
  // An existing mutex is opened, never taken, as on Win32.
  if (initialOwner && !existed) {
    std::lock_guard<std::mutex> g(m->lock);
    m->acquire(currentThreadId());
  }
  HANDLE h = addHandle(m);
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

BOOL ReleaseMutex(HANDLE mutex) {
  auto m = lookupHandleAs<MutexObject>(mutex, KernelKind::Mutex);
  if (!m) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> g(m->lock);
  if (!m->depth || m->owner != currentThreadId()) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  if (--m->depth == 0) {
    m->owner = 0;
    m->changed.notify_all();
  }
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE h, DWORD milliseconds) {
  auto o = lookupHandle(h);
  if (!o || o->kind == KernelKind::File || o->kind == KernelKind::Mapping || o->kind == KernelKind::Find) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  return waitOn(*std::static_pointer_cast<Waitable>(o), milliseconds);
}

void Sleep(DWORD ms) {
  if (clockIsManual()) {
    clockAdvance(ms);
    std::this_thread::yield();
    return;
  }
  if (ms == 0) {
    std::this_thread::yield();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

LPWSTR GetCommandLine() {
  std::lock_guard<std::mutex> g(g_commandLineLock);
  if (!g_commandLine) g_commandLine = new std::u16string(readProcCommandLine());
  return g_commandLine->data();
}
