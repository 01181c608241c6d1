// A fresh platform and hub for every test, a hidden stand-in for the host's
// main window that counts the activation broadcasts, and ways to tell which
// icon the tray shows.
#pragma once

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "hubtest/hub_test.h"
#include "olvaro/api.h"
#include "platform/bitmap.h"
#include "platform/desktop.h"
#include "platform/gdi.h"
#include "platform/phoneshell.h"
#include "testkit/testkit.h"
#include "tray_notifier.h"

namespace glimmettest {

inline int g_activations = 0;

inline LRESULT CALLBACK mainProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  static const UINT activate = RegisterWindowMessage(u"ORVALO_ACTIVATE");
  if (msg == activate) {
    EXPECT_EQ(wParam, 0u);
    EXPECT_EQ(lParam, 0);
    ++g_activations;
    return 0;
  }
  return DefWindowProc(h, msg, wParam, lParam);
}

// What an icon draws at the small-icon size, as pixels.
inline std::vector<uint32_t> pixelsOf(HICON icon) {
  int cx = GetSystemMetrics(SM_CXSMICON), cy = GetSystemMetrics(SM_CYSMICON);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = cx;
  info.bmiHeader.biHeight = -cy;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, bitmap);
  std::memset(bits, 0x7F, size_t(cx) * size_t(cy) * 4);
  DrawIconEx(dc, 0, 0, icon, cx, cy, 0, nullptr, DI_NORMAL);
  std::vector<uint32_t> out(static_cast<uint32_t*>(bits), static_cast<uint32_t*>(bits) + cx * cy);
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(bitmap);
  return out;
}

// Whether `icon` draws as the named icon of `module` at the small size.
inline bool drawsAs(HICON icon, HMODULE module, LPCWSTR name) {
  if (!icon) return false;
  auto expected = static_cast<HICON>(
      LoadImage(module, name, IMAGE_ICON, GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  if (!expected) return false;
  bool same = pixelsOf(icon) == pixelsOf(expected);
  DestroyIcon(expected);
  return same;
}

// Whether a desktop pixmap (ARGB32, network order) shows the named icon of
// `module` at the small size: clear where the icon is, its colours opaque.
inline bool pixmapShows(const platform::DesktopPixmap& p, HMODULE module, LPCWSTR name) {
  int cx = GetSystemMetrics(SM_CXSMICON), cy = GetSystemMetrics(SM_CYSMICON);
  auto icon = static_cast<HICON>(LoadImage(module, name, IMAGE_ICON, cx, cy, 0));
  if (!icon || p.width != cx || p.height != cy || p.argb.size() != size_t(cx) * size_t(cy) * 4) return false;
  // Drawn over a grey that no icon uses, clear pixels keep the grey.
  std::vector<uint32_t> drawn = pixelsOf(icon);
  DestroyIcon(icon);
  for (size_t i = 0; i < drawn.size(); ++i) {
    const uint8_t* px = &p.argb[i * 4];
    uint32_t d = drawn[i];
    bool clear = (d & 0xFFFFFF) == 0x7F7F7F;
    if (clear ? px[0] != 0
              : px[0] != 0xFF || px[1] != uint8_t(d >> 16) || px[2] != uint8_t(d >> 8) || px[3] != uint8_t(d)) {
      return false;
    }
  }
  return true;
}

class TrayTest : public hubtest::HubTest {
 protected:
  void SetUp() override {
    hubtest::HubTest::SetUp();
    unsetenv("OLVARO_PLATFORM");
    g_activations = 0;
    WNDCLASS wc{};
    wc.lpfnWndProc = mainProc;
    wc.lpszClassName = u"GlimmetTestMain";
    RegisterClass(&wc);
    mainWindow = CreateWindowEx(0, u"GlimmetTestMain", u"Olvaro", WS_POPUP, 0, 0, 240, 320, nullptr, nullptr, nullptr,
                                nullptr);
  }
  void TearDown() override {
    notifier.reset();
    hubtest::HubTest::TearDown();
    unsetenv("OLVARO_PLATFORM");
  }

  void start() {
    notifier = std::make_unique<glimmet::TrayNotifier>();
    testkit::pump();
  }
  HWND sink() const { return notifier ? notifier->sinkWindow() : nullptr; }
  static void signedIn(bool yes) { KS_SetVariantLong("connection.state", yes ? 100 : 0); }
  static void unread(long count) {
    KS_SetVariantLong("messages.unread", count);
    testkit::pump();
  }

  // The icon the tray shows for the notifier; null when there is none.
  HICON trayIcon() const {
    for (const auto& icon : platform::shellTrayIcons())
      if (icon.hwnd == sink() && icon.id == glimmet::kTrayIconId) return icon.icon;
    return nullptr;
  }
  // Which of the host's three tray icons it draws as.
  std::string shown() const {
    HICON icon = trayIcon();
    HMODULE host = GetModuleHandle(nullptr);
    for (const char16_t* name : {u"ORVALO_GRAY", u"AA_ORVALO", u"MESSAGE_UNREAD"})
      if (drawsAs(icon, host, name)) return testkit::narrow(name);
    return icon ? "other" : "none";
  }
  // The unread icon's half of the blink, by the clock.
  static bool unreadPhase() { return (GetTickCount() / glimmet::kBlinkMs) % 2 == 1; }

  static std::vector<platform::ShellNotification> bubbles() {
    std::vector<platform::ShellNotification> out;
    for (auto& n : platform::shellNotifications())
      if (std::memcmp(&n.clsid, &glimmet::kBubbleClass, sizeof(CLSID)) == 0) out.push_back(n);
    return out;
  }

  HWND mainWindow = nullptr;
  std::unique_ptr<glimmet::TrayNotifier> notifier;
};

}  // namespace glimmettest
