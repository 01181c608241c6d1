// Message queues, sending and posting, the message loop, timers and the
// default window procedure.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <unordered_map>

#include "ascii.h"
#include "broadcast_relay.h"
#include "platform/clock.h"
#include "platform/gdi.h"
#include "platform/handles.h"
#include "platform/screen.h"
#include "platform/thread.h"
#include "window_internal.h"

#define ERROR_INVALID_WINDOW_HANDLE 1400L
#define ERROR_INVALID_THREAD_ID 1444L

namespace platform::win {
namespace {

struct Queues {
  std::mutex m;
  std::unordered_map<DWORD, std::shared_ptr<ThreadQueue>> byThread;
};

Queues& Q() {
  static Queues* q = new Queues;
  return *q;
}

// Completes a cross-thread send and wakes its sender.
void complete(SentMessage* s, LRESULT result) {
  ThreadQueue* sender = s->sender;
  std::lock_guard<std::mutex> g(sender->m);
  s->result = result;
  s->done = true;
  sender->cv.notify_all();
}

// The calling thread's queue; when the thread ends, senders still waiting on
// it are released with 0 instead of blocking for ever.
struct QueueHolder {
  std::shared_ptr<ThreadQueue> q;
  ~QueueHolder() {
    if (!q) return;
    std::deque<SentMessage*> pending;
    {
      std::lock_guard<std::mutex> g(q->m);
      q->alive = false;
      pending.swap(q->sent);
      q->posted.clear();
    }
    for (SentMessage* s : pending) complete(s, 0);
    // The real system destroys a thread's windows when the thread ends.
    dropThreadWindows(q->threadId);
    std::lock_guard<std::mutex> g(Q().m);
    auto it = Q().byThread.find(q->threadId);
    if (it != Q().byThread.end() && it->second == q) Q().byThread.erase(it);
  }
};

thread_local QueueHolder t_queue;
thread_local int t_inSend = 0;

struct Timer {
  HWND hwnd;
  UINT_PTR id;
  UINT elapse;
  int64_t due;
  TIMERPROC proc;
  DWORD thread;
  uint64_t seq;
};

std::vector<Timer>& timers() {
  static auto* t = new std::vector<Timer>;
  return *t;
}
uint64_t g_timerSeq = 0;
UINT_PTR g_threadTimerId = 0x7F00;

bool inRange(UINT msg, UINT mn, UINT mx) { return (mn == 0 && mx == 0) || (msg >= mn && msg <= mx); }

bool hwndMatches(HWND msgHwnd, HWND filter) {
  if (!filter) return true;
  if (msgHwnd == filter) return true;
  return IsChild(filter, msgHwnd);
}

// Runs one message another thread sent to this one; false when none waits.
bool handleOneSent(ThreadQueue* q) {
  SentMessage* s;
  {
    std::lock_guard<std::mutex> g(q->m);
    if (q->sent.empty()) return false;
    s = q->sent.front();
    q->sent.pop_front();
  }
  ++t_inSend;
  LRESULT r = callProc(s->hwnd, s->msg, s->wParam, s->lParam);
  --t_inSend;
  complete(s, r);
  return true;
}

bool takeTimer(DWORD thread, HWND filter, bool remove, MSG* out) {
  Guard g(lock());
  int64_t now = platform::clockMonotonicMs();
  Timer* best = nullptr;
  for (Timer& t : timers()) {
    if (t.thread != thread || t.due > now) continue;
    if (filter && !hwndMatches(t.hwnd, filter)) continue;
    if (!best || t.due < best->due || (t.due == best->due && t.seq < best->seq)) best = &t;
  }
  if (!best) return false;
  *out = MSG{best->hwnd, WM_TIMER, best->id, reinterpret_cast<LPARAM>(best->proc), DWORD(now), {}};
  if (remove) {
    best->due = now + best->elapse;
    best->seq = ++g_timerSeq;
  }
  return true;
}

int64_t threadTimerDue(DWORD thread) {
  Guard g(lock());
  int64_t due = -1;
  for (const Timer& t : timers())
    if (t.thread == thread && (due < 0 || t.due < due)) due = t.due;
  int64_t h = holdDue(thread);
  if (h >= 0 && (due < 0 || h < due)) due = h;
  return due;
}

bool fetch(MSG* out, HWND filter, UINT mn, UINT mx, UINT flags, bool wait) {
  auto q = currentQueue();
  bool remove = (flags & PM_REMOVE) != 0;
  DWORD tid = q->threadId;
  for (;;) {
    uint64_t seen;
    {
      std::lock_guard<std::mutex> g(q->m);
      seen = q->wakes;
    }
    while (handleOneSent(q.get())) {
    }
    if (platform::DeviceBackend* b = platform::deviceBackend()) b->pollInput();
    // The windows a filter admits, found before the queue is locked: the
    // tree lock is never taken while a queue lock is held.
    std::vector<HWND> admitted;
    if (filter) {
      Guard g(lock());
      if (Window* fw = find(filter)) {
        std::vector<Window*> todo{fw};
        while (!todo.empty()) {
          Window* cur = todo.back();
          todo.pop_back();
          admitted.push_back(cur->handle);
          for (HWND c : cur->children)
            if (Window* cw = find(c)) todo.push_back(cw);
        }
      }
    }
    auto admits = [&](HWND h) {
      return !filter || std::find(admitted.begin(), admitted.end(), h) != admitted.end();
    };
    {
      std::lock_guard<std::mutex> g(q->m);
      for (auto it = q->posted.begin(); it != q->posted.end(); ++it) {
        if (!inRange(it->message, mn, mx) || !admits(it->hwnd)) continue;
        *out = *it;
        if (remove) q->posted.erase(it);
        q->last = *out;
        return true;
      }
      if (q->quit && !filter) {
        *out = MSG{nullptr, WM_QUIT, WPARAM(q->quitCode), 0, DWORD(platform::clockMonotonicMs()), {}};
        if (remove) q->quit = false;
        return true;
      }
    }
    MSG hold;
    if (takeHold(tid, &hold)) {
      postTo(q, hold);
      continue;
    }
    if (inRange(WM_PAINT, mn, mx)) {
      if (HWND p = takePaint(tid, filter)) {
        *out = MSG{p, WM_PAINT, 0, 0, DWORD(platform::clockMonotonicMs()), {}};
        q->last = *out;
        return true;
      }
    }
    if (inRange(WM_TIMER, mn, mx) && takeTimer(tid, filter, remove, out)) {
      q->last = *out;
      return true;
    }
    if (!wait) return false;
    std::unique_lock<std::mutex> lk(q->m);
    auto ready = [&] { return !q->sent.empty() || !q->posted.empty() || q->quit || q->wakes != seen; };
    int64_t due = -1;
    bool headless = true;
    lk.unlock();
    due = threadTimerDue(tid);
    if (platform::DeviceBackend* b = platform::deviceBackend()) headless = std::strcmp(b->name(), "headless") == 0;
    lk.lock();
    if (!platform::clockIsManual() && due >= 0) {
      int64_t ms = std::max<int64_t>(1, due - platform::clockMonotonicMs());
      if (!headless) ms = std::min<int64_t>(ms, 10);
      q->cv.wait_for(lk, std::chrono::milliseconds(ms), ready);
    } else if (!headless) {
      q->cv.wait_for(lk, std::chrono::milliseconds(10), ready);
    } else {
      q->cv.wait(lk, ready);
    }
  }
}

std::map<std::u16string, UINT>& registered() {
  static auto* m = new std::map<std::u16string, UINT>;
  return *m;
}
std::mutex g_registeredLock;

}  // namespace

std::shared_ptr<ThreadQueue> currentQueue() {
  if (!t_queue.q) {
    auto q = std::make_shared<ThreadQueue>();
    q->threadId = GetCurrentThreadId();
    std::lock_guard<std::mutex> g(Q().m);
    Q().byThread[q->threadId] = q;
    t_queue.q = q;
  }
  return t_queue.q;
}

std::shared_ptr<ThreadQueue> queueOf(DWORD threadId) {
  std::lock_guard<std::mutex> g(Q().m);
  auto it = Q().byThread.find(threadId);
  return it == Q().byThread.end() ? nullptr : it->second;
}

void postTo(const std::shared_ptr<ThreadQueue>& q, const MSG& m) {
  std::lock_guard<std::mutex> g(q->m);
  if (!q->alive) return;
  q->posted.push_back(m);
  q->cv.notify_all();
}

void wake(const std::shared_ptr<ThreadQueue>& q) {
  if (!q) return;
  std::lock_guard<std::mutex> g(q->m);
  ++q->wakes;
  q->cv.notify_all();
}

LRESULT callProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  WNDPROC proc;
  {
    Guard g(lock());
    Window* w = find(h);
    if (!w) return 0;
    proc = w->proc;
  }
  return proc ? proc(h, msg, wParam, lParam) : 0;
}

void killTimersOf(HWND h) {
  Guard g(lock());
  auto& t = timers();
  t.erase(std::remove_if(t.begin(), t.end(), [&](const Timer& x) { return x.hwnd == h; }), t.end());
}

void killThreadTimers(DWORD threadId) {
  Guard g(lock());
  auto& t = timers();
  t.erase(std::remove_if(t.begin(), t.end(), [&](const Timer& x) { return x.thread == threadId; }), t.end());
}

}  // namespace platform::win

using namespace platform::win;

LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (hwnd == HWND_BROADCAST) {
    std::vector<HWND> all;
    {
      Guard g(lock());
      all = topLevels();
    }
    for (HWND h : all) SendMessage(h, msg, wParam, lParam);
    return 0;
  }
  std::shared_ptr<ThreadQueue> target;
  {
    Guard g(lock());
    Window* w = find(hwnd);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    target = w->queue;
  }
  auto me = currentQueue();
  if (target == me) return callProc(hwnd, msg, wParam, lParam);

  // Another thread's window: queue the call there and wait, handling what is
  // sent to this thread meanwhile so two threads sending to each other go on.
  SentMessage s{hwnd, msg, wParam, lParam};
  s.sender = me.get();
  {
    std::lock_guard<std::mutex> g(target->m);
    if (!target->alive) return 0;
    target->sent.push_back(&s);
    target->cv.notify_all();
  }
  for (;;) {
    {
      std::unique_lock<std::mutex> lk(me->m);
      me->cv.wait(lk, [&] { return s.done || !me->sent.empty(); });
      if (s.done) return s.result;
    }
    handleOneSent(me.get());
  }
}

BOOL PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  MSG m{hwnd, msg, wParam, lParam, DWORD(platform::clockMonotonicMs()), {}};
  if (hwnd == HWND_BROADCAST) {
    postLocalBroadcast(msg, wParam, lParam);
    std::u16string name = registeredName(msg);
    if (!name.empty()) relayBroadcast(name, wParam, lParam);
    return TRUE;
  }
  if (!hwnd) {
    postTo(currentQueue(), m);
    return TRUE;
  }
  std::shared_ptr<ThreadQueue> q;
  {
    Guard g(lock());
    Window* w = find(hwnd);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    q = w->queue;
  }
  {
    std::lock_guard<std::mutex> g(q->m);
    if (!q->alive) return FALSE;
  }
  postTo(q, m);
  return TRUE;
}

BOOL PostThreadMessage(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto q = queueOf(threadId);
  if (!q) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  postTo(q, MSG{nullptr, msg, wParam, lParam, DWORD(platform::clockMonotonicMs()), {}});
  return TRUE;
}

void PostQuitMessage(int exitCode) {
  auto q = currentQueue();
  std::lock_guard<std::mutex> g(q->m);
  q->quit = true;
  q->quitCode = exitCode;
  q->cv.notify_all();
}

BOOL GetMessage(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax) {
  if (!msg || (hwnd && !IsWindow(hwnd))) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return -1;
  }
  fetch(msg, hwnd, filterMin, filterMax, PM_REMOVE, true);
  return msg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL PeekMessage(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags) {
  if (!msg) return FALSE;
  return fetch(msg, hwnd, filterMin, filterMax, removeFlags, false) ? TRUE : FALSE;
}

BOOL TranslateMessage(const MSG* msg) {
  if (!msg || msg->message != WM_KEYDOWN) return FALSE;
  UINT vk = UINT(msg->wParam);
  bool shift = GetKeyState(VK_SHIFT) < 0;
  WCHAR ch = 0;
  if (vk >= 'A' && vk <= 'Z') {
    ch = shift ? WCHAR(vk) : WCHAR(vk - 'A' + 'a');
  } else if (vk >= '0' && vk <= '9') {
    ch = WCHAR(vk);
  } else {
    switch (vk) {
      case VK_SPACE:
        ch = u' ';
        break;
      case VK_RETURN:
        ch = u'\r';
        break;
      case VK_BACK:
        ch = 8;
        break;
      case VK_TAB:
        ch = u'\t';
        break;
      case VK_ESCAPE:
        ch = 27;
        break;
      case VK_F8:  // the star key
        ch = u'*';
        break;
      case VK_F9:  // the pound key
        ch = u'#';
        break;
    }
  }
  if (!ch) return FALSE;
  PostMessage(msg->hwnd, WM_CHAR, ch, msg->lParam);
  return TRUE;
}

LRESULT DispatchMessage(const MSG* msg) {
  if (!msg || !msg->hwnd) {
    if (msg && msg->message == WM_TIMER && msg->lParam)
      reinterpret_cast<TIMERPROC>(msg->lParam)(nullptr, WM_TIMER, msg->wParam, DWORD(platform::clockMonotonicMs()));
    return 0;
  }
  if (msg->message == WM_TIMER && msg->lParam) {
    if (!IsWindow(msg->hwnd)) return 0;
    reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam,
                                             DWORD(platform::clockMonotonicMs()));
    return 0;
  }
  {
    Guard g(lock());
    Window* w = find(msg->hwnd);
    // A window only runs on its own thread.
    if (!w || w->threadId != GetCurrentThreadId()) return 0;
  }
  return callProc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL InSendMessage() { return t_inSend > 0; }

LRESULT CallWindowProc(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return proc ? proc(hwnd, msg, wParam, lParam) : 0;
}

namespace platform::win {

void postLocalBroadcast(UINT msg, WPARAM wParam, LPARAM lParam) {
  MSG m{nullptr, msg, wParam, lParam, DWORD(platform::clockMonotonicMs()), {}};
  std::vector<std::pair<HWND, std::shared_ptr<ThreadQueue>>> all;
  {
    Guard g(lock());
    for (HWND h : topLevels())
      if (Window* w = find(h)) all.emplace_back(h, w->queue);
  }
  for (auto& [h, q] : all) {
    m.hwnd = h;
    postTo(q, m);
  }
}

std::u16string registeredName(UINT msg) {
  if (msg < 0xC000) return std::u16string();
  std::lock_guard<std::mutex> g(g_registeredLock);
  for (const auto& [key, id] : registered())
    if (id == msg) return key;
  return std::u16string();
}

}  // namespace platform::win

UINT RegisterWindowMessage(LPCWSTR name) {
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::u16string key = platform::asciiLowered(name);
  std::lock_guard<std::mutex> g(g_registeredLock);
  auto& m = registered();
  // Whoever registers a message may be sent it by other processes.
  startBroadcastListener();
  auto it = m.find(key);
  if (it != m.end()) return it->second;
  UINT id = UINT(0xC000 + m.size());
  if (id > 0xFFFF) return 0;
  m[key] = id;
  return id;
}

DWORD GetMessagePos() {
  auto q = currentQueue();
  return DWORD(MAKELONG(WORD(q->last.pt.x), WORD(q->last.pt.y)));
}

LONG GetMessageTime() { return LONG(currentQueue()->last.time); }

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc) {
  std::shared_ptr<ThreadQueue> q;
  {
    Guard g(lock());
    DWORD thread;
    if (hwnd) {
      Window* w = find(hwnd);
      if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
      }
      thread = w->threadId;
      q = w->queue;
    } else {
      q = currentQueue();
      thread = q->threadId;
      bool known = false;
      for (const Timer& t : timers())
        if (!t.hwnd && t.id == id && t.thread == thread) known = true;
      if (!known) id = ++g_threadTimerId;
    }
    // Like the real system, no timer runs faster than every 10 ms; a zero
    // period would otherwise never let the queue fall idle.
    UINT elapse = std::clamp<UINT>(elapseMs, 10, 0x7FFFFFFF);
    int64_t due = platform::clockMonotonicMs() + elapse;
    auto& all = timers();
    auto it = std::find_if(all.begin(), all.end(), [&](const Timer& t) { return t.hwnd == hwnd && t.id == id && t.thread == thread; });
    if (it != all.end()) {
      it->elapse = elapse;
      it->due = due;
      it->proc = proc;
      it->seq = ++g_timerSeq;
    } else {
      all.push_back(Timer{hwnd, id, elapse, due, proc, thread, ++g_timerSeq});
    }
  }
  wake(q);
  return id ? id : 1;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
  Guard g(lock());
  auto& all = timers();
  DWORD me = GetCurrentThreadId();
  auto it = std::find_if(all.begin(), all.end(), [&](const Timer& t) {
    return t.hwnd == hwnd && t.id == id && (hwnd || t.thread == me);
  });
  if (it == all.end()) return FALSE;
  all.erase(it);
  return TRUE;
}

LRESULT DefWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_NCCREATE:
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(hwnd, &ps);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_ERASEBKGND: {
      HBRUSH brush;
      {
        Guard g(lock());
        Window* w = find(hwnd);
        if (!w) return 0;
        brush = w->cls->wc.hbrBackground;
      }
      if (!brush) return 0;
      RECT r;
      GetClientRect(hwnd, &r);
      FillRect(reinterpret_cast<HDC>(wParam), &r, brush);
      return 1;
    }
    case WM_SETTEXT: {
      Guard g(lock());
      Window* w = find(hwnd);
      if (!w) return FALSE;
      auto* s = reinterpret_cast<LPCWSTR>(lParam);
      w->text = s ? std::u16string(s) : std::u16string();
      if ((w->style & WS_CAPTION) == WS_CAPTION) w->ncDirty = true;
      return TRUE;
    }
    case WM_GETTEXT: {
      Guard g(lock());
      Window* w = find(hwnd);
      auto* buf = reinterpret_cast<LPWSTR>(lParam);
      if (!w || !buf || wParam == 0) return 0;
      size_t n = std::min(w->text.size(), size_t(wParam) - 1);
      std::memcpy(buf, w->text.data(), n * sizeof(WCHAR));
      buf[n] = 0;
      return LRESULT(n);
    }
    case WM_GETTEXTLENGTH: {
      Guard g(lock());
      Window* w = find(hwnd);
      return w ? LRESULT(w->text.size()) : 0;
    }
    case WM_SETFONT: {
      {
        Guard g(lock());
        Window* w = find(hwnd);
        if (!w) return 0;
        w->font = reinterpret_cast<HGDIOBJ>(wParam);
      }
      if (LOWORD(lParam)) InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    }
    case WM_GETFONT: {
      Guard g(lock());
      Window* w = find(hwnd);
      return w ? reinterpret_cast<LRESULT>(w->font) : 0;
    }
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE) SetFocus(hwnd);
      return 0;
    case WM_CONTEXTMENU:
    case WM_MOUSEWHEEL: {
      // Not handled here: a child passes it to its parent unchanged, so a
      // context menu still names the window that was clicked however far it
      // travels up.
      HWND parent = nullptr;
      {
        Guard g(lock());
        Window* w = find(hwnd);
        if (w && (w->style & WS_CHILD)) parent = w->parent;
      }
      if (msg == WM_CONTEXTMENU && !wParam) wParam = WPARAM(hwnd);
      return parent ? SendMessage(parent, msg, wParam, lParam) : 0;
    }
    case WM_NEXTDLGCTL: {
      HWND next = lParam ? reinterpret_cast<HWND>(wParam) : GetNextDlgTabItem(hwnd, GetFocus(), wParam != 0);
      if (next) SetFocus(next);
      return 0;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORSCROLLBAR: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
      SetBkColor(dc, GetSysColor(COLOR_WINDOW));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    }
  }
  return 0;
}

namespace platform {

int64_t nextTimerDue() { return threadTimerDue(GetCurrentThreadId()); }

void wakeAllQueues() {
  std::vector<std::shared_ptr<ThreadQueue>> all;
  {
    std::lock_guard<std::mutex> g(Q().m);
    for (auto& [_, q] : Q().byThread) all.push_back(q);
  }
  for (auto& q : all) wake(q);
}

}  // namespace platform
