// Painting a screen full of text rows at two device sizes, and one
// SendMessage to a window of another thread.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "platform/bitmap.h"
#include "platform/gdi.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "testkit/testkit.h"

namespace {

HFONT g_font = nullptr;

LRESULT CALLBACK rowsProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m != WM_PAINT) return DefWindowProc(h, m, w, l);
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(h, &ps);
  RECT c;
  GetClientRect(h, &c);
  HDC mem = CreateCompatibleDC(dc);
  HBITMAP bmp = CreateCompatibleBitmap(dc, c.right, c.bottom);
  HGDIOBJ oldBmp = SelectObject(mem, bmp);
  TRIVERTEX v[2] = {{0, 0, 0xFF00, 0xFF00, 0xFF00, 0}, {c.right, c.bottom, 242 << 8, 234 << 8, 225 << 8, 0}};
  GRADIENT_RECT gr{0, 1};
  GradientFill(mem, v, 2, &gr, 1, GRADIENT_FILL_RECT_V);
  HGDIOBJ oldFont = SelectObject(mem, g_font);
  SetBkMode(mem, TRANSPARENT);
  int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  int rowH = dpi * 20 / 64;
  for (int y = 0, i = 0; y < c.bottom; y += rowH, ++i) {
    RECT title{rowH, y, c.right, y + rowH / 2};
    RECT text{rowH, y + rowH / 2, c.right, y + rowH};
    std::u16string t = u"Contact number " + std::u16string(1, char16_t(u'A' + i % 26));
    SetTextColor(mem, RGB(0, 0, 0));
    DrawText(mem, t.c_str(), -1, &title, DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
    SetTextColor(mem, RGB(124, 125, 127));
    DrawText(mem, u"Away - back in ten minutes, call me on the mobile", -1, &text,
             DT_SINGLELINE | DT_BOTTOM | DT_END_ELLIPSIS | DT_NOPREFIX);
  }
  SelectObject(mem, oldFont);
  BitBlt(dc, 0, 0, c.right, c.bottom, mem, 0, 0, SRCCOPY);
  SelectObject(mem, oldBmp);
  DeleteObject(bmp);
  DeleteDC(mem);
  EndPaint(h, &ps);
  return 0;
}

ATOM registerRows() {
  WNDCLASS wc{};
  wc.lpfnWndProc = rowsProc;
  wc.lpszClassName = u"BenchRows";
  return RegisterClass(&wc);
}

void BM_PaintTextRows(benchmark::State& state) {
  static ATOM atom = registerRows();
  (void)atom;
  testkit::Options o;
  o.width = int(state.range(0));
  o.height = int(state.range(1));
  o.dpi = o.width >= 480 ? 192 : 131;
  testkit::Session session(o);
  LOGFONT lf{};
  lf.lfHeight = -(o.dpi * 16 / 144);
  g_font = CreateFontIndirect(&lf);
  HWND w = CreateWindowEx(0, u"BenchRows", u"", WS_POPUP | WS_VISIBLE, 0, 0, o.width, o.height, nullptr, nullptr,
                          nullptr, nullptr);
  testkit::pump();
  for (auto _ : state) {
    InvalidateRect(w, nullptr, FALSE);
    UpdateWindow(w);
  }
  DestroyWindow(w);
  DeleteObject(g_font);
}
BENCHMARK(BM_PaintTextRows)->Args({240, 320})->Args({480, 640})->Unit(benchmark::kMicrosecond);

LRESULT CALLBACK echoProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_APP) return LRESULT(w + 1);
  return DefWindowProc(h, m, w, l);
}

void BM_SendMessageAcrossThreads(benchmark::State& state) {
  static ATOM atom = [] {
    WNDCLASS wc{};
    wc.lpfnWndProc = echoProc;
    wc.lpszClassName = u"BenchEcho";
    return RegisterClass(&wc);
  }();
  (void)atom;
  std::mutex m;
  std::condition_variable cv;
  HWND target = nullptr;
  DWORD tid = 0;
  std::thread ui([&] {
    HWND h = CreateWindowEx(0, u"BenchEcho", u"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    {
      std::lock_guard<std::mutex> g(m);
      target = h;
      tid = GetCurrentThreadId();
    }
    cv.notify_all();
    MSG msg;
    while (GetMessage(&msg, nullptr, 0, 0) > 0) DispatchMessage(&msg);
    DestroyWindow(h);
  });
  {
    std::unique_lock<std::mutex> g(m);
    cv.wait(g, [&] { return target != nullptr; });
  }
  WPARAM i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(SendMessage(target, WM_APP, i++, 0));
  PostThreadMessage(tid, WM_QUIT, 0, 0);
  ui.join();
}
BENCHMARK(BM_SendMessageAcrossThreads)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
