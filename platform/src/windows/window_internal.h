// Internal state of the window system, shared by the window, message, input,
// paint and scroll sources. One recursive lock guards the window tree, the
// classes and the timers; each thread's queue has its own lock, taken only
// inside the tree lock or alone, never the other way round. Window
// procedures are always called with no lock held.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "geometry.h"
#include "platform/window.h"

namespace platform::win {

struct ThreadQueue;

struct SentMessage {
  HWND hwnd;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
  LRESULT result = 0;
  bool done = false;
  ThreadQueue* sender = nullptr;
};

struct ThreadQueue {
  DWORD threadId = 0;
  std::mutex m;
  std::condition_variable cv;
  std::deque<MSG> posted;
  std::deque<SentMessage*> sent;
  bool alive = true;
  bool quit = false;
  int quitCode = 0;
  uint64_t wakes = 0;
  int handlingSent = 0;  // depth of cross-thread sends being handled
  MSG last{};            // for GetMessagePos / GetMessageTime
};

struct ScrollBar {
  int min = 0;
  int max = 0;
  UINT page = 0;
  int pos = 0;
  int trackPos = 0;
};

struct WindowClass {
  std::u16string name;
  WNDCLASS wc{};
  ATOM atom = 0;
};

struct Window {
  HWND handle = nullptr;
  std::shared_ptr<WindowClass> cls;
  WNDPROC proc = nullptr;
  HINSTANCE instance = nullptr;
  std::u16string text;
  DWORD style = 0;
  DWORD exStyle = 0;
  RECT rect{};  // in the parent's client coordinates (screen for top-level)
  HWND parent = nullptr;
  HWND owner = nullptr;
  std::vector<HWND> children;  // Z order, topmost first
  UINT_PTR id = 0;
  LONG_PTR userData = 0;
  LONG_PTR msgResult = 0;
  std::vector<uint8_t> extra;
  std::shared_ptr<ThreadQueue> queue;
  DWORD threadId = 0;
  RECT invalid{};  // client coordinates; empty when valid
  bool erase = false;
  bool ncDirty = false;
  bool destroying = false;
  HGDIOBJ font = nullptr;
  ScrollBar bars[2];  // SB_HORZ, SB_VERT
};

// The tree lock.
std::recursive_mutex& lock();
using Guard = std::lock_guard<std::recursive_mutex>;

// With the lock held.
Window* find(HWND h);
std::vector<HWND>& topLevels();
std::vector<HWND>& siblingsOf(Window* w);
bool isVisibleChain(Window* w);  // the window and all its ancestors visible
RECT windowRectOnScreen(Window* w);
RECT clientRectInWindow(Window* w);  // client area in window coordinates
RECT clientRectOnScreen(Window* w);
HWND rootOf(Window* w);
bool isAncestor(HWND ancestor, HWND h);

// Queues.
std::shared_ptr<ThreadQueue> currentQueue();
std::shared_ptr<ThreadQueue> queueOf(DWORD threadId);
void postTo(const std::shared_ptr<ThreadQueue>& q, const MSG& m);
void wake(const std::shared_ptr<ThreadQueue>& q);
LRESULT callProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam);

// Painting.
void invalidateClient(Window* w, const RECT* rect, bool erase);  // rect in client coordinates
void invalidateTree(Window* w);
void invalidateScreenArea(const RECT& screenRect);  // everything under an area
// Finds a window of this thread that needs painting; draws pending frames.
HWND takePaint(DWORD threadId, HWND filter);
void drawNonClient(HWND h);

// Timers.
void killTimersOf(HWND h);
void killThreadTimers(DWORD threadId);

// Input state bound to windows.
void forgetWindowInput(HWND h);  // focus, capture, activation of a window going away
void forgetWindowQuietly(HWND h);               // the same, sending nothing
// Removes a finished thread's windows without sending them anything.
void dropThreadWindows(DWORD threadId);
bool takeHold(DWORD threadId, MSG* out);
int64_t holdDue(DWORD threadId);
void resetInput();

// Scroll bars: the non-client part under a screen point, and a press on it.
bool scrollHit(Window* w, POINT screenPt, int* bar);
void scrollPress(HWND h, int bar, POINT screenPt);
void scrollDrag(POINT screenPt);
bool scrollRelease(POINT screenPt);

using gdi::rectEmpty;
using gdi::rectIntersect;
using gdi::rectUnion;
using gdi::scrollBarWidth;

}  // namespace platform::win
