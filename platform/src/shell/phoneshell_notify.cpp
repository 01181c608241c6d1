// Notification icons in the title bar, and notification bubbles: a titled
// box under the title bar showing the simple HTML it was given, whose
// "cmd:N" buttons send WM_COMMAND N to the notification's sink window.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "ascii.h"
#include "control_internal.h"
#include "dc_selection.h"
#include "gdi_object.h"
#include "phoneshell_internal.h"
#include "platform/desktop.h"
#include "platform/device_backend.h"
#include "platform/screen.h"
#include "window_internal.h"

namespace platform::shell {
namespace {

struct Icon {
  HWND hwnd;
  UINT id;
  UINT flags;
  UINT callback;
  HICON icon;
  std::u16string tip;
  // Its look in the desktop's tray, when one was given.
  bool hasLook = false;
  HICON lookIcon = nullptr, lookAttentionIcon = nullptr;
  bool attention = false;
  std::u16string openLabel{}, exitLabel{};  // its menu's, when the program named them
};

struct Notification {
  CLSID clsid;
  DWORD id;
  SHNP priority;
  DWORD flags;
  DWORD duration;
  HICON icon;
  HWND sink;
  std::u16string title;
  std::u16string html;
  LPARAM lParam;
  HWND bubble = nullptr;
};

struct TraySlot {
  int left, right;
  bool isIcon;
  size_t index;
};

struct Tray {
  std::recursive_mutex m;
  std::vector<Icon> icons;
  std::vector<Notification> notes;
  std::vector<TraySlot> slots;
  uint64_t desktopLook = 0;  // changes with the desktop tray item's look
};

Tray& T() {
  static Tray* t = new Tray;
  return *t;
}

bool sameClsid(const CLSID& a, const CLSID& b) { return std::memcmp(&a, &b, sizeof(CLSID)) == 0; }

int findNote(const CLSID& clsid, DWORD id) {
  auto& v = T().notes;
  for (size_t i = 0; i < v.size(); ++i)
    if (sameClsid(v[i].clsid, clsid) && v[i].id == id) return int(i);
  return -1;
}

// ---- The simple HTML of a bubble ------------------------------------------

struct Piece {
  enum Kind { Text, Break, Button } kind;
  std::u16string text;  // text, or the button's label
  int command = 0;      // buttons named "cmd:N"
  bool newRow = false;  // a button that starts a new row
};

std::u16string decodeEntities(const std::u16string& s) {
  static const struct {
    const char16_t* name;
    char16_t ch;
  } known[] = {{u"amp", u'&'}, {u"lt", u'<'}, {u"gt", u'>'}, {u"quot", u'"'}, {u"apos", u'\''}, {u"nbsp", u' '}};
  std::u16string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != u'&') {
      out += s[i];
      continue;
    }
    size_t semi = s.find(u';', i);
    if (semi == std::u16string::npos || semi - i > 8) {
      out += s[i];
      continue;
    }
    std::u16string name = s.substr(i + 1, semi - i - 1);
    char16_t ch = 0;
    if (!name.empty() && name[0] == u'#') {
      long v = 0;
      bool ok = name.size() > 1;
      for (size_t k = 1; k < name.size() && ok; ++k) {
        if (name[k] < u'0' || name[k] > u'9') ok = false;
        else v = v * 10 + (name[k] - u'0');
        if (v > 0xFFFF) ok = false;
      }
      if (ok && v > 0) ch = char16_t(v);
    } else {
      for (auto& k : known)
        if (name == k.name) ch = k.ch;
    }
    if (!ch) {
      out += s[i];
      continue;
    }
    out += ch;
    i = semi;
  }
  return out;
}

// Attributes of a tag body such as "input type='button' name='cmd:10'".
std::u16string attribute(const std::u16string& tag, const std::u16string& name) {
  std::u16string low = asciiLowered(tag);
  size_t pos = 0;
  while ((pos = low.find(name, pos)) != std::u16string::npos) {
    bool startOk = pos > 0 && (low[pos - 1] == u' ' || low[pos - 1] == u'\t' || low[pos - 1] == u'\n');
    size_t p = pos + name.size();
    while (p < low.size() && low[p] == u' ') ++p;
    if (!startOk || p >= low.size() || low[p] != u'=') {
      pos += name.size();
      continue;
    }
    ++p;
    while (p < low.size() && low[p] == u' ') ++p;
    if (p >= low.size()) return u"";
    char16_t q = tag[p];
    if (q == u'\'' || q == u'"') {
      size_t end = tag.find(q, p + 1);
      if (end == std::u16string::npos) end = tag.size();
      return decodeEntities(tag.substr(p + 1, end - p - 1));
    }
    size_t end = p;
    while (end < tag.size() && tag[end] != u' ' && tag[end] != u'/' && tag[end] != u'>') ++end;
    return decodeEntities(tag.substr(p, end - p));
  }
  return u"";
}

std::vector<Piece> parseHtml(const std::u16string& html) {
  std::vector<Piece> out;
  std::u16string text;
  bool rowOpen = false;  // buttons since the last text or break share a row
  auto flushText = [&] {
    // Runs of white space show as one space, as in a browser.
    std::u16string t;
    for (char16_t c : text) {
      bool space = c == u' ' || c == u'\n' || c == u'\r' || c == u'\t';
      if (space && (!t.empty() && t.back() == u' ')) continue;
      t += space ? u' ' : c;
    }
    text.clear();
    bool blank = t.find_first_not_of(u' ') == std::u16string::npos;
    if (blank) return;
    out.push_back(Piece{Piece::Text, decodeEntities(t)});
    rowOpen = false;
  };
  size_t i = 0;
  while (i < html.size()) {
    if (html[i] != u'<') {
      text += html[i++];
      continue;
    }
    size_t end = html.find(u'>', i);
    if (end == std::u16string::npos) {
      text += html.substr(i);  // an unclosed tag is shown as text
      break;
    }
    std::u16string tag = html.substr(i + 1, end - i - 1);
    i = end + 1;
    std::u16string low = asciiLowered(tag);
    size_t n = 0;
    while (n < low.size() && low[n] != u' ' && low[n] != u'/' && low[n] != u'\t') ++n;
    std::u16string name = low.substr(0, n);
    if (name == u"br" || name == u"p" || name == u"/p" || name == u"div" || name == u"/div") {
      flushText();
      out.push_back(Piece{Piece::Break, u""});
      rowOpen = false;
    } else if (name == u"tr" || name == u"/tr" || name == u"table" || name == u"/table") {
      flushText();
      rowOpen = false;
    } else if (name == u"input" && asciiLowered(attribute(tag, u"type")) == u"button") {
      flushText();
      Piece b{Piece::Button, attribute(tag, u"value")};
      std::u16string nm = attribute(tag, u"name");
      if (asciiLowered(nm.substr(0, 4)) == u"cmd:") {
        long v = 0;
        bool ok = nm.size() > 4 && nm.size() < 14;
        for (size_t k = 4; k < nm.size() && ok; ++k) {
          if (nm[k] < u'0' || nm[k] > u'9') ok = false;
          else v = v * 10 + (nm[k] - u'0');
        }
        if (ok && v <= 0xFFFF) b.command = int(v);
      }
      b.newRow = !rowOpen;
      rowOpen = true;
      out.push_back(std::move(b));
    }
    // Any other tag is left out; its text content stays.
  }
  flushText();
  return out;
}

// ---- Bubble windows --------------------------------------------------------

constexpr UINT_PTR kHideTimer = 1;
// Buttons are numbered from here, clear of IDOK and IDCANCEL, which the
// dialog keys send to the bubble itself; each button's command is kept.
constexpr int kFirstButtonId = 0x100;

struct BubbleState {
  CLSID clsid;
  DWORD id;
  std::vector<Piece> pieces;
  std::vector<RECT> textRects;  // one per text piece, in order
  int titleHeight = 0;
  std::vector<int> commands;  // per button, by control id - kFirstButtonId
  // The window and focus a bubble opened for the keys took over, given back
  // when it goes.
  HWND returnActive = nullptr;
  HWND returnFocus = nullptr;
};

// Activating a window brings it to the front; the title bar stays above.
void raiseTitleBar() {
  if (HWND t = shellTitleBar()) SetWindowPos(t, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

// Gives the keys back to the window that had them before the bubble took
// them, then destroys the bubble.
void destroyBubbleWindow(HWND b) {
  if (!b || !IsWindow(b)) return;
  auto* st = controls::stateOf<BubbleState>(b);
  HWND active = GetActiveWindow();
  if (st && active == b) {
    HWND back = st->returnActive, focus = st->returnFocus;
    if (back && IsWindow(back) && IsWindowVisible(back)) {
      SetActiveWindow(back);
      if (focus && IsWindow(focus) && GetActiveWindow() == back && (focus == back || IsChild(back, focus)))
        SetFocus(focus);
      raiseTitleBar();
    }
  }
  DestroyWindow(b);
}

void focusFirstButton(HWND bubble) {
  HWND first = GetNextDlgTabItem(bubble, nullptr, FALSE);
  if (!first || GetParent(first) != bubble) return;
  SetFocus(first);
  raiseTitleBar();
}

WNDPROC g_buttonProc = nullptr;

// The bubble's buttons take the phone's keys: Left/Up and Right/Down step
// between them, the action key presses one (the button's own handling),
// Back closes the bubble to the tray.
LRESULT CALLBACK bubbleButtonProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_KEYDOWN) {
    HWND bubble = GetParent(h);
    switch (wParam) {
      case VK_LEFT:
      case VK_UP:
      case VK_RIGHT:
      case VK_DOWN:
        SendMessage(bubble, WM_NEXTDLGCTL, (wParam == VK_LEFT || wParam == VK_UP) ? 1 : 0, 0);
        return 0;
      case VK_ESCAPE:
        PostMessage(bubble, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
        return 0;
    }
  }
  return CallWindowProc(g_buttonProc ? g_buttonProc : DefWindowProc, h, msg, wParam, lParam);
}

HFONT bubbleFont() { return GetStockObject(DEFAULT_GUI_FONT); }

void layoutBubble(HWND h, BubbleState* st, int width, int* heightOut) {
  HDC dc = GetDC(h);
  {
    gdi::DcSelection font(dc, bubbleFont());
    TEXTMETRIC tm{};
    GetTextMetrics(dc, &tm);
    int lh = std::max<int>(12, tm.tmHeight);
    st->titleHeight = lh + 6;
    int y = st->titleHeight + 4;
    int pad = 6;
    st->textRects.clear();
    st->commands.clear();
    // Destroy old buttons.
    for (HWND c = GetWindow(h, GW_CHILD); c;) {
      HWND next = GetWindow(c, GW_HWNDNEXT);
      DestroyWindow(c);
      c = next;
    }
    size_t i = 0;
    bool lastWasBreak = false;
    while (i < st->pieces.size()) {
      Piece& p = st->pieces[i];
      if (p.kind == Piece::Text) {
        RECT r{pad, y, width - pad, y + lh};
        DrawText(dc, p.text.c_str(), int(p.text.size()), &r, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        r.right = width - pad;
        st->textRects.push_back(r);
        y = r.bottom;
        lastWasBreak = false;
        ++i;
      } else if (p.kind == Piece::Break) {
        // A break ends a line; a second one leaves an empty line.
        if (lastWasBreak) y += lh;
        lastWasBreak = true;
        ++i;
      } else {
        size_t j = i + 1;
        while (j < st->pieces.size() && st->pieces[j].kind == Piece::Button && !st->pieces[j].newRow) ++j;
        int count = int(j - i);
        int gap = 4;
        int bw = (width - 2 * pad - gap * (count - 1)) / std::max(1, count);
        int bh = lh + 10;
        y += 4;
        for (int k = 0; k < count; ++k) {
          Piece& b = st->pieces[i + size_t(k)];
          int id = kFirstButtonId + int(st->commands.size());
          HWND button = CreateWindowEx(0, WC_BUTTON, b.text.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
                                       pad + k * (bw + gap), y, bw, bh, h, reinterpret_cast<HMENU>(intptr_t(id)), nullptr,
                                       nullptr);
          if (!button) continue;
          st->commands.push_back(b.command);
          if (!g_buttonProc) g_buttonProc = reinterpret_cast<WNDPROC>(GetWindowLongPtr(button, GWLP_WNDPROC));
          SetWindowLongPtr(button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(bubbleButtonProc));
        }
        y += bh;
        lastWasBreak = false;
        i = j;
      }
    }
    *heightOut = y + pad;
  }
  ReleaseDC(h, dc);
}

void paintBubble(HWND h, BubbleState* st) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(h, &ps);
  RECT rc;
  GetClientRect(h, &rc);
  FillRect(dc, &rc, GetSysColorBrush(COLOR_INFOBK));
  RECT band{0, 0, rc.right, st->titleHeight};
  HBRUSH b = CreateSolidBrush(RGB(214, 226, 244));
  FillRect(dc, &band, b);
  DeleteObject(b);
  {
    gdi::DcSelection font(dc, bubbleFont());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_INFOTEXT));
    std::u16string title;
    HICON icon = nullptr;
    {
      std::lock_guard<std::recursive_mutex> g(T().m);
      int n = findNote(st->clsid, st->id);
      if (n >= 0) {
        title = T().notes[size_t(n)].title;
        icon = T().notes[size_t(n)].icon;
      }
    }
    int left = 6;
    if (icon) {
      int s = std::min(16, st->titleHeight - 4);
      DrawIconEx(dc, 4, (st->titleHeight - s) / 2, icon, s, s, 0, nullptr, DI_NORMAL);
      left = s + 8;
    }
    RECT tr{left, 0, rc.right - 4, st->titleHeight};
    DrawText(dc, title.c_str(), int(title.size()), &tr, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    size_t k = 0;
    for (const Piece& p : st->pieces) {
      if (p.kind != Piece::Text || k >= st->textRects.size()) continue;
      RECT r = st->textRects[k++];
      DrawText(dc, p.text.c_str(), int(p.text.size()), &r, DT_WORDBREAK | DT_NOPREFIX);
    }
  }
  EndPaint(h, &ps);
}

LRESULT CALLBACK bubbleProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* st = controls::stateOf<BubbleState>(h);
  if (msg == WM_NCCREATE) {
    controls::setState(h, reinterpret_cast<CREATESTRUCT*>(lParam)->lpCreateParams);
    return DefWindowProc(h, msg, wParam, lParam);
  }
  if (!st) return DefWindowProc(h, msg, wParam, lParam);
  switch (msg) {
    case WM_NCDESTROY: {
      {
        std::lock_guard<std::recursive_mutex> g(T().m);
        int n = findNote(st->clsid, st->id);
        if (n >= 0 && T().notes[size_t(n)].bubble == h) T().notes[size_t(n)].bubble = nullptr;
      }
      delete st;
      controls::setState(h, nullptr);
      return 0;
    }
    case WM_PAINT:
      paintBubble(h, st);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_ACTIVATE: {
      // Where the keys were, to give them back when the bubble goes.
      auto prev = reinterpret_cast<HWND>(lParam);
      if (LOWORD(wParam) != WA_INACTIVE && prev && prev != h && IsWindow(prev) &&
          reinterpret_cast<WNDPROC>(GetWindowLongPtr(prev, GWLP_WNDPROC)) != bubbleProc) {
        st->returnActive = prev;
        HWND focus = GetFocus();
        st->returnFocus = focus && (focus == prev || IsChild(prev, focus)) ? focus : nullptr;
      }
      break;
    }
    case WM_COMMAND: {
      auto from = reinterpret_cast<HWND>(lParam);
      if (!from) {
        // Back, through the dialog keys or a button: the bubble goes, the
        // notification stays in the tray.
        if (LOWORD(wParam) == IDCANCEL) destroyBubbleWindow(h);
        return 0;
      }
      int index = int(LOWORD(wParam)) - kFirstButtonId;
      if (HIWORD(wParam) != BN_CLICKED || GetParent(from) != h || index < 0 || size_t(index) >= st->commands.size())
        return 0;
      HWND sink = nullptr;
      {
        std::lock_guard<std::recursive_mutex> g(T().m);
        int n = findNote(st->clsid, st->id);
        if (n >= 0) sink = T().notes[size_t(n)].sink;
      }
      int cmd = st->commands[size_t(index)];
      // Posted: the sink usually removes the notification, and with it
      // this window, while handling the command.
      if (cmd && sink && IsWindow(sink)) PostMessage(sink, WM_COMMAND, MAKEWPARAM(WORD(cmd), 0), 0);
      return 0;
    }
    case WM_TIMER:
      if (wParam == kHideTimer) {
        KillTimer(h, kHideTimer);
        destroyBubbleWindow(h);  // the notification stays in the tray
      }
      return 0;
  }
  return DefWindowProc(h, msg, wParam, lParam);
}

LPCWSTR bubbleClass() {
  static bool once = [] {
    WNDCLASS wc{};
    wc.lpfnWndProc = bubbleProc;
    wc.cbWndExtra = controls::kExtraBytes;
    wc.lpszClassName = u"SHNotificationBubble";
    return RegisterClass(&wc) != 0;
  }();
  (void)once;
  return u"SHNotificationBubble";
}

// Shows (or re-lays out) the bubble of notification n. Lock held.
HWND showBubble(size_t n) {
  Notification& note = T().notes[n];
  RECT work = shellWorkArea();
  int width = work.right - work.left - 8;
  auto* st = new BubbleState{note.clsid, note.id, parseHtml(note.html), {}, 0, {}, nullptr, nullptr};
  bool hadKeys = false;
  if (note.bubble && IsWindow(note.bubble)) {
    // A bubble laid out again keeps the keys it had, and where they go back.
    if (auto* old = controls::stateOf<BubbleState>(note.bubble)) {
      st->returnActive = old->returnActive;
      st->returnFocus = old->returnFocus;
    }
    hadKeys = GetActiveWindow() == note.bubble;
    DestroyWindow(note.bubble);
  }
  HWND h = CreateWindowEx(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, bubbleClass(), note.title.c_str(), WS_POPUP | WS_BORDER,
                          work.left + 4, work.top + 4, width, 40, nullptr, nullptr, nullptr, st);
  if (!h) return nullptr;
  note.bubble = h;
  int height = 40;
  layoutBubble(h, st, width - 2, &height);
  height = std::min<int>(height + 2, work.bottom - work.top - 8);
  MoveWindow(h, work.left + 4, work.top + 4, width, height, TRUE);
  if (note.duration > 0) SetTimer(h, kHideTimer, note.duration * 1000, nullptr);
  ShowWindow(h, SW_SHOWNA);
  if (hadKeys) focusFirstButton(h);
  return h;
}

// ---- The desktop's notification service -----------------------------------

// A notification's key there: its class and id folded together (FNV-1a);
// plain notes use a key of their own.
constexpr uint64_t kPlainNoteKey = 1;
uint64_t desktopKey(const CLSID& clsid, DWORD id) {
  uint64_t h = 1469598103934665603ull;
  auto mix = [&](const void* p, size_t n) {
    for (size_t i = 0; i < n; ++i) h = (h ^ static_cast<const uint8_t*>(p)[i]) * 1099511628211ull;
  };
  mix(&clsid, sizeof clsid);
  mix(&id, sizeof id);
  return h == kPlainNoteKey ? h + 1 : h;
}

DesktopNote desktopNoteOf(const Notification& n) {
  DesktopNote d;
  d.summary = n.title;
  d.sink = n.sink;
  for (const Piece& p : parseHtml(n.html)) {
    if (p.kind == Piece::Text) {
      if (!d.body.empty() && d.body.back() != u'\n') d.body += u' ';
      d.body += p.text;
    } else if (p.kind == Piece::Break) {
      if (!d.body.empty() && d.body.back() != u'\n') d.body += u'\n';
    } else if (p.command) {
      d.buttons.emplace_back(p.text, p.command);
    }
  }
  while (!d.body.empty() && (d.body.back() == u'\n' || d.body.back() == u' ')) d.body.pop_back();
  if (!d.buttons.empty()) d.dismissCommand = d.buttons.back().second;
  return d;
}

void toDesktop(const Notification& n) {
  if (DeviceBackend* b = deviceBackend()) b->desktopNotify(desktopKey(n.clsid, n.id), desktopNoteOf(n));
}

void closeOnDesktop(const Notification& n) {
  if (DeviceBackend* b = deviceBackend()) b->desktopNotifyClose(desktopKey(n.clsid, n.id));
}

void hideBubble(Notification& note) {
  HWND b = note.bubble;
  note.bubble = nullptr;
  destroyBubbleWindow(b);
}

}  // namespace

// Icons and notifications whose window is gone go with it.
void prune() {
  auto& icons = T().icons;
  icons.erase(std::remove_if(icons.begin(), icons.end(), [](const Icon& i) { return !IsWindow(i.hwnd); }), icons.end());
  auto& notes = T().notes;
  for (size_t i = notes.size(); i-- > 0;)
    if (notes[i].sink && !IsWindow(notes[i].sink)) {
      Notification n = notes[i];
      notes.erase(notes.begin() + long(i));
      hideBubble(n);
      closeOnDesktop(n);
    }
}

int paintTray(HDC dc, int right, int top, int size) {
  std::lock_guard<std::recursive_mutex> g(T().m);
  prune();
  T().slots.clear();
  int x = right;
  auto& icons = T().icons;
  for (size_t i = icons.size(); i-- > 0;) {
    x -= size + 4;
    if (icons[i].icon) DrawIconEx(dc, x, top, icons[i].icon, size, size, 0, nullptr, DI_NORMAL);
    T().slots.push_back(TraySlot{x - 2, x + size + 2, true, i});
  }
  auto& notes = T().notes;
  for (size_t i = notes.size(); i-- > 0;) {
    if (!notes[i].icon) continue;
    x -= size + 4;
    DrawIconEx(dc, x, top, notes[i].icon, size, size, 0, nullptr, DI_NORMAL);
    T().slots.push_back(TraySlot{x - 2, x + size + 2, false, i});
  }
  return x;
}

bool trayTap(int x) {
  HWND target = nullptr;
  UINT message = 0, id = 0;
  {
    std::lock_guard<std::recursive_mutex> g(T().m);
    for (const TraySlot& s : T().slots) {
      if (x < s.left || x >= s.right) continue;
      if (!s.isIcon) {
        if (s.index < T().notes.size()) showTrayNotification(s.index);
        return true;
      }
      if (s.index >= T().icons.size()) return false;
      const Icon& ic = T().icons[s.index];
      if (!(ic.flags & NIF_MESSAGE) || !ic.callback) return true;
      target = ic.hwnd;
      message = ic.callback;
      id = ic.id;
      break;
    }
  }
  if (!target) return false;
  PostMessage(target, message, id, WM_LBUTTONDOWN);
  PostMessage(target, message, id, WM_LBUTTONUP);
  return true;
}

void showTrayNotification(size_t index) {
  HWND bubble = nullptr;
  {
    std::lock_guard<std::recursive_mutex> g(T().m);
    if (index < T().notes.size()) bubble = showBubble(index);
  }
  // Opened by the user: its buttons take the keys.
  if (bubble) focusFirstButton(bubble);
}

}  // namespace platform::shell

namespace platform {

std::vector<TrayIcon> shellTrayIcons() {
  using namespace shell;
  std::lock_guard<std::recursive_mutex> g(T().m);
  std::vector<TrayIcon> out;
  for (auto& ic : T().icons)
    if (IsWindow(ic.hwnd)) out.push_back(TrayIcon{ic.hwnd, ic.id, ic.icon, ic.callback, ic.tip});
  return out;
}

bool shellTrayIconRect(HWND hwnd, UINT id, RECT* out) {
  using namespace shell;
  HWND title = shellTitleBar();
  UpdateWindow(title);
  std::lock_guard<std::recursive_mutex> g(T().m);
  for (const TraySlot& s : T().slots) {
    if (!s.isIcon || s.index >= T().icons.size()) continue;
    const Icon& ic = T().icons[s.index];
    if (ic.hwnd == hwnd && ic.id == id && out) {
      RECT r;
      GetWindowRect(title, &r);
      *out = RECT{s.left, r.top, s.right, r.bottom};
      return true;
    }
  }
  return false;
}

bool shellTrayNotificationRect(const CLSID& clsid, DWORD id, RECT* out) {
  using namespace shell;
  HWND title = shellTitleBar();
  UpdateWindow(title);
  std::lock_guard<std::recursive_mutex> g(T().m);
  int n = findNote(clsid, id);
  if (n < 0) return false;
  for (const TraySlot& s : T().slots) {
    if (s.isIcon || s.index != size_t(n)) continue;
    if (out) {
      RECT r;
      GetWindowRect(title, &r);
      *out = RECT{s.left, r.top, s.right, r.bottom};
    }
    return true;
  }
  return false;
}

HWND shellNotificationBubble(const CLSID& clsid, DWORD id) {
  using namespace shell;
  std::lock_guard<std::recursive_mutex> g(T().m);
  int n = findNote(clsid, id);
  if (n < 0) return nullptr;
  HWND b = T().notes[size_t(n)].bubble;
  return b && IsWindow(b) ? b : nullptr;
}

bool shellNotificationPresent(const CLSID& clsid, DWORD id) {
  using namespace shell;
  std::lock_guard<std::recursive_mutex> g(T().m);
  return findNote(clsid, id) >= 0;
}

std::vector<ShellNotification> shellNotifications() {
  using namespace shell;
  std::lock_guard<std::recursive_mutex> g(T().m);
  prune();
  std::vector<ShellNotification> out;
  for (const Notification& n : T().notes)
    out.push_back(ShellNotification{n.clsid, n.id, n.priority, n.duration, n.icon, n.flags, n.sink, n.html, n.title,
                                    n.lParam});
  return out;
}

namespace {
std::mutex g_desktopLock;
std::vector<std::pair<std::u16string, std::u16string>> g_desktopNotes;
int g_desktopFocus = -1;  // -1: as the backend says
}  // namespace

void shell::desktopRecordReset() {
  std::lock_guard<std::mutex> g(g_desktopLock);
  g_desktopNotes.clear();
  g_desktopFocus = -1;
}

std::vector<std::pair<std::u16string, std::u16string>> shellDesktopNotes() {
  std::lock_guard<std::mutex> g(g_desktopLock);
  return g_desktopNotes;
}

void shellDesktopSetFocused(bool focused) {
  std::lock_guard<std::mutex> g(g_desktopLock);
  g_desktopFocus = focused ? 1 : 0;
}

void shellDesktopNote(const std::u16string& summary, const std::u16string& body) {
  {
    std::lock_guard<std::mutex> g(g_desktopLock);
    g_desktopNotes.emplace_back(summary, body);
  }
  DesktopNote d;
  d.summary = summary;
  d.body = body;
  if (DeviceBackend* b = deviceBackend()) b->desktopNotify(shell::kPlainNoteKey, d);
}

bool shellDesktopFocused() {
  {
    std::lock_guard<std::mutex> g(g_desktopLock);
    if (g_desktopFocus >= 0) return g_desktopFocus == 1;
  }
  DeviceBackend* b = deviceBackend();
  return !b || b->desktopFocused();
}

namespace {

// As a taskbar counts them: top-level windows in view that are not tool
// windows (the shell's bars, bubbles and menus are).
bool programShowsWindow() {
  win::Guard g(win::lock());
  for (HWND t : win::topLevels())
    if (win::Window* w = win::find(t); w && (w->style & WS_VISIBLE) && !(w->exStyle & WS_EX_TOOLWINDOW)) return true;
  return false;
}

DesktopPixmap pixmapOf(HICON icon) {
  DesktopPixmap p;
  const IconObject* o = icon ? asIcon(icon) : nullptr;
  if (!o || o->width <= 0 || o->height <= 0) return p;
  p.width = o->width;
  p.height = o->height;
  p.argb.reserve(o->color.size() * 4);
  for (size_t i = 0; i < o->color.size(); ++i) {
    uint32_t c = o->color[i];
    p.argb.push_back(i < o->mask.size() && o->mask[i] ? 0 : 0xFF);
    p.argb.push_back(uint8_t(c >> 16));
    p.argb.push_back(uint8_t(c >> 8));
    p.argb.push_back(uint8_t(c));
  }
  return p;
}

}  // namespace

bool shell::desktopTrayWanted(uint64_t* generation) {
  bool shows = programShowsWindow();
  std::lock_guard<std::recursive_mutex> g(T().m);
  if (generation) *generation = T().desktopLook;
  return !shows && std::any_of(T().icons.begin(), T().icons.end(), [](const Icon& i) { return IsWindow(i.hwnd); });
}

void shellDesktopTrayLook(HWND hwnd, UINT id, HICON icon, HICON attentionIcon, bool attention) {
  using namespace shell;
  std::lock_guard<std::recursive_mutex> g(T().m);
  for (Icon& ic : T().icons)
    if (ic.hwnd == hwnd && ic.id == id) {
      if (ic.hasLook && ic.lookIcon == icon && ic.lookAttentionIcon == attentionIcon && ic.attention == attention)
        return;
      ic.hasLook = true;
      ic.lookIcon = icon;
      ic.lookAttentionIcon = attentionIcon;
      ic.attention = attention;
      ++T().desktopLook;
    }
}

void shellDesktopTrayMenu(HWND hwnd, UINT id, const std::u16string& openLabel, const std::u16string& exitLabel) {
  using namespace shell;
  std::lock_guard<std::recursive_mutex> g(T().m);
  for (Icon& ic : T().icons)
    if (ic.hwnd == hwnd && ic.id == id && (ic.openLabel != openLabel || ic.exitLabel != exitLabel)) {
      ic.openLabel = openLabel;
      ic.exitLabel = exitLabel;
      ++T().desktopLook;
    }
}

bool shellDesktopTray(DesktopTrayItem* out) {
  using namespace shell;
  if (!desktopTrayWanted(nullptr)) return false;
  std::lock_guard<std::recursive_mutex> g(T().m);
  prune();
  if (T().icons.empty()) return false;
  const Icon& ic = T().icons.front();
  if (out) {
    *out = DesktopTrayItem{};
    out->title = ic.tip.empty() ? u"Olvaro" : ic.tip;
    out->icon = pixmapOf(ic.hasLook && ic.lookIcon ? ic.lookIcon : ic.icon);
    out->attentionIcon = pixmapOf(ic.hasLook && ic.lookAttentionIcon ? ic.lookAttentionIcon : ic.icon);
    out->attention = ic.hasLook && ic.attention;
    out->hwnd = ic.hwnd;
    out->id = ic.id;
    out->callback = (ic.flags & NIF_MESSAGE) ? ic.callback : 0;
    out->openLabel = ic.openLabel.empty() ? u"Open" : ic.openLabel;
    out->exitLabel = ic.exitLabel.empty() ? u"Exit" : ic.exitLabel;
  }
  return true;
}

}  // namespace platform

using namespace platform;
using namespace platform::shell;

BOOL Shell_NotifyIcon(DWORD message, PNOTIFYICONDATA data) {
  if (!data || data->cbSize < sizeof(NOTIFYICONDATA)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  {
    std::lock_guard<std::recursive_mutex> g(T().m);
    prune();
    auto& v = T().icons;
    auto it = std::find_if(v.begin(), v.end(), [&](const Icon& i) { return i.hwnd == data->hWnd && i.id == data->uID; });
    auto apply = [&](Icon& ic) {
      if (!ic.hasLook && (data->uFlags & (NIF_ICON | NIF_TIP))) ++T().desktopLook;
      if (data->uFlags & NIF_MESSAGE) ic.callback = data->uCallbackMessage;
      if (data->uFlags & NIF_ICON) ic.icon = data->hIcon;
      if (data->uFlags & NIF_TIP) {
        size_t n = 0;
        while (n < 63 && data->szTip[n]) ++n;  // never past the record
        ic.tip.assign(data->szTip, n);
      }
      ic.flags |= data->uFlags;
    };
    switch (message) {
      case NIM_ADD: {
        if (it != v.end() || !IsWindow(data->hWnd)) {
          SetLastError(ERROR_INVALID_PARAMETER);
          return FALSE;
        }
        Icon ic{data->hWnd, data->uID, 0, 0, nullptr, u""};
        apply(ic);
        v.push_back(ic);
        break;
      }
      case NIM_MODIFY:
        if (it == v.end()) {
          SetLastError(ERROR_INVALID_PARAMETER);
          return FALSE;
        }
        apply(*it);
        break;
      case NIM_DELETE:
        if (it == v.end()) {
          SetLastError(ERROR_INVALID_PARAMETER);
          return FALSE;
        }
        v.erase(it);
        ++T().desktopLook;
        break;
      default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
  }
  shellTitleBar();
  titleChanged();
  return TRUE;
}

LRESULT SHNotificationAdd(SHNOTIFICATIONDATA* data) {
  if (!data || data->cbStruct < sizeof(SHNOTIFICATIONDATA)) return ERROR_INVALID_PARAMETER;
  {
    std::lock_guard<std::recursive_mutex> g(T().m);
    prune();
    if (findNote(data->clsid, data->dwID) >= 0) return ERROR_ALREADY_EXISTS;
    Notification n{data->clsid,
                   data->dwID,
                   data->npPriority,
                   data->grfFlags,
                   data->csDuration,
                   data->hicon,
                   data->hwndSink,
                   data->pszTitle ? std::u16string(data->pszTitle) : std::u16string(),
                   data->pszHTML ? std::u16string(data->pszHTML) : std::u16string(),
                   data->lParam};
    T().notes.push_back(std::move(n));
    if (!(data->grfFlags & SHNF_STRAIGHTTOTRAY)) showBubble(T().notes.size() - 1);
    toDesktop(T().notes.back());
  }
  shellTitleBar();
  titleChanged();
  return ERROR_SUCCESS;
}

LRESULT SHNotificationUpdate(DWORD mask, SHNOTIFICATIONDATA* data) {
  if (!data) return ERROR_INVALID_PARAMETER;
  {
    std::lock_guard<std::recursive_mutex> g(T().m);
    int i = findNote(data->clsid, data->dwID);
    if (i < 0) return ERROR_FILE_NOT_FOUND;
    Notification& n = T().notes[size_t(i)];
    if (mask & SHNUM_ICON) n.icon = data->hicon;
    if (mask & SHNUM_DURATION) n.duration = data->csDuration;
    if (mask & SHNUM_TITLE) n.title = data->pszTitle ? data->pszTitle : u"";
    if (mask & SHNUM_HTML) n.html = data->pszHTML ? data->pszHTML : u"";
    if (n.bubble && (mask & (SHNUM_HTML | SHNUM_TITLE))) showBubble(size_t(i));
    else if (n.bubble) InvalidateRect(n.bubble, nullptr, TRUE);
    if (mask & (SHNUM_HTML | SHNUM_TITLE)) toDesktop(T().notes[size_t(i)]);
  }
  titleChanged();
  return ERROR_SUCCESS;
}

LRESULT SHNotificationRemove(const CLSID* clsid, DWORD id) {
  if (!clsid) return ERROR_INVALID_PARAMETER;
  {
    std::lock_guard<std::recursive_mutex> g(T().m);
    int i = findNote(*clsid, id);
    if (i < 0) return ERROR_FILE_NOT_FOUND;
    Notification n = T().notes[size_t(i)];
    T().notes.erase(T().notes.begin() + i);
    hideBubble(n);
    closeOnDesktop(n);
  }
  titleChanged();
  return ERROR_SUCCESS;
}
