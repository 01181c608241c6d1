// Soft-key bars: two keys at the bottom of the screen, made from a module's
// menu-bar resource (or a menu), pressed with F1/F2 or the stylus; a key
// with items opens them as a menu. The Back key is handed to the window
// when the bar was asked to.
#include <algorithm>
#include <map>
#include <mutex>

#include "control_internal.h"
#include "dc_selection.h"
#include "menu_internal.h"
#include "phoneshell_internal.h"
#include "platform/resources.h"
#include "platform/screen.h"
#include "shell_font.h"
#include "window_activation.h"

namespace platform::shell {
namespace {

constexpr UINT kSoftKey = WM_USER + 500;  // wParam: key index
constexpr UINT kBack = WM_USER + 501;     // wParam: down

struct Key {
  UINT id = 0;
  std::u16string text;
  bool enabled = true;
  HMENU menu = nullptr;  // owned by the bar's menu
};

struct Bar {
  HWND owner = nullptr;
  std::vector<Key> keys;  // at most two
  HMENU barMenu = nullptr;
  bool overrideBack = false;
  bool notifyBack = false;
  int pressed = -1;
};

std::recursive_mutex& lockBars() {
  static auto* m = new std::recursive_mutex;
  return *m;
}
std::map<HWND, HWND>& barOfOwner() {
  static auto* m = new std::map<HWND, HWND>;
  return *m;
}

Bar* barOf(HWND h) { return controls::stateOf<Bar>(h); }

HMENU buildMenu(const std::vector<MenuBarItem>& items, int depth = 0) {
  HMENU m = CreatePopupMenu();
  for (const MenuBarItem& it : items) {
    UINT flags = (it.flags & MenuBarItem::Grayed) ? MF_GRAYED : 0;
    if (it.flags & MenuBarItem::Separator) {
      AppendMenu(m, MF_SEPARATOR, 0, nullptr);
    } else if ((it.flags & MenuBarItem::Popup) && depth < 8) {
      AppendMenu(m, MF_POPUP | flags, reinterpret_cast<UINT_PTR>(buildMenu(it.children, depth + 1)), it.text.c_str());
    } else {
      AppendMenu(m, MF_STRING | flags, it.id, it.text.c_str());
    }
  }
  return m;
}

RECT keyRect(HWND bar, int index) {
  RECT rc;
  GetClientRect(bar, &rc);
  int half = rc.right / 2;
  return index == 0 ? RECT{0, 0, half, rc.bottom} : RECT{half, 0, rc.right, rc.bottom};
}

HFONT keyFont() {
  static HFONT f = gdi::createShellFont(std::max(10, shellSoftKeyHeight() * 11 / 20), FW_BOLD);
  return f;
}

void paintBar(HWND h, Bar* b) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(h, &ps);
  RECT rc;
  GetClientRect(h, &rc);
  HBRUSH bg = CreateSolidBrush(kBarColour);
  FillRect(dc, &rc, bg);
  DeleteObject(bg);
  {
    gdi::DcSelection font(dc, keyFont());
    SetBkMode(dc, TRANSPARENT);
    for (size_t i = 0; i < b->keys.size() && i < 2; ++i) {
      const Key& k = b->keys[i];
      RECT r = keyRect(h, int(i));
      if (b->pressed == int(i)) {
        HBRUSH p = CreateSolidBrush(RGB(60, 110, 190));
        FillRect(dc, &r, p);
        DeleteObject(p);
      }
      SetTextColor(dc, k.enabled ? kBarText : kBarDisabledText);
      RECT tr = r;
      InflateRect(&tr, -4, 0);
      DrawText(dc, k.text.c_str(), int(k.text.size()), &tr,
               DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS | (i == 0 ? DT_LEFT : DT_RIGHT));
    }
    // The divider between the keys.
    RECT mid{rc.right / 2, rc.bottom / 4, rc.right / 2 + 1, rc.bottom * 3 / 4};
    HBRUSH d = CreateSolidBrush(RGB(80, 104, 150));
    FillRect(dc, &mid, d);
    DeleteObject(d);
  }
  EndPaint(h, &ps);
}

void press(HWND h, Bar* b, int index) {
  if (index < 0 || size_t(index) >= b->keys.size()) return;
  Key k = b->keys[size_t(index)];
  HWND owner = b->owner;
  if (!k.enabled || !IsWindow(owner)) return;
  if (k.menu) {
    b->pressed = index;
    InvalidateRect(h, nullptr, TRUE);
    RECT r;
    GetWindowRect(h, &r);
    UINT align = index == 0 ? TPM_LEFTALIGN : TPM_RIGHTALIGN;
    int x = index == 0 ? r.left : r.right;
    UINT cmd = UINT(TrackPopupMenuEx(k.menu, align | TPM_BOTTOMALIGN | TPM_RETURNCMD, x, r.top, owner, nullptr));
    if (IsWindow(h)) {
      if (Bar* still = barOf(h)) still->pressed = -1;
      InvalidateRect(h, nullptr, TRUE);
    }
    if (cmd && IsWindow(owner)) SendMessage(owner, WM_COMMAND, MAKEWPARAM(WORD(cmd), 0), 0);
    return;
  }
  SendMessage(owner, WM_COMMAND, MAKEWPARAM(WORD(k.id), 0), reinterpret_cast<LPARAM>(h));
}

int keyIndexOf(Bar* b, UINT id) {
  for (size_t i = 0; i < b->keys.size(); ++i)
    if (b->keys[i].id == id) return int(i);
  return -1;
}

LRESULT CALLBACK barProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  Bar* b = barOf(h);
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCT*>(lParam);
    controls::setState(h, cs->lpCreateParams);
    return DefWindowProc(h, msg, wParam, lParam);
  }
  if (!b) return DefWindowProc(h, msg, wParam, lParam);
  switch (msg) {
    case WM_NCDESTROY: {
      {
        std::lock_guard<std::recursive_mutex> g(lockBars());
        auto it = barOfOwner().find(b->owner);
        if (it != barOfOwner().end() && it->second == h) barOfOwner().erase(it);
      }
      if (b->barMenu) DestroyMenu(b->barMenu);
      delete b;
      controls::setState(h, nullptr);
      return 0;
    }
    case WM_PAINT:
      paintBar(h, b);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_ACTIVATE:
      win::bounceActivation(h, wParam, lParam);
      return 0;
    case WM_LBUTTONDOWN: {
      POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      for (int i = 0; i < 2; ++i) {
        RECT r = keyRect(h, i);
        if (PtInRect(&r, p)) press(h, b, i);
      }
      return 0;
    }
    case kSoftKey:
      press(h, b, int(wParam));
      return 0;
    case kBack:
      if (b->notifyBack && IsWindow(b->owner))
        SendMessage(b->owner, WM_HOTKEY, 0, MAKELPARAM(wParam ? 0 : MOD_KEYUP, VK_TBACK));
      return 0;
    case SHCMBM_GETSUBMENU: {
      int i = keyIndexOf(b, UINT(lParam));
      return i >= 0 ? reinterpret_cast<LRESULT>(b->keys[size_t(i)].menu) : 0;
    }
    case SHCMBM_GETMENU:
      return reinterpret_cast<LRESULT>(b->barMenu);
    case SHCMBM_SETSUBMENU: {
      int i = keyIndexOf(b, UINT(wParam));
      if (i < 0) return 0;
      HMENU old = b->keys[size_t(i)].menu;
      auto sub = reinterpret_cast<HMENU>(lParam);
      if (sub && !IsMenu(sub)) return 0;
      // The bar's menu owns the key menus: swap the item that holds it.
      UINT flags = MF_BYPOSITION | (sub ? MF_POPUP : MF_STRING);
      RemoveMenu(b->barMenu, UINT(i), MF_BYPOSITION);
      InsertMenu(b->barMenu, UINT(i), flags, sub ? reinterpret_cast<UINT_PTR>(sub) : b->keys[size_t(i)].id,
                 b->keys[size_t(i)].text.c_str());
      b->keys[size_t(i)].menu = sub;
      return reinterpret_cast<LRESULT>(old);
    }
    case SHCMBM_OVERRIDEKEY:
      if (wParam == VK_TBACK) {
        WORD mask = LOWORD(lParam), value = HIWORD(lParam);
        if (mask & SHMBOF_NODEFAULT) b->overrideBack = (value & SHMBOF_NODEFAULT) != 0;
        if (mask & SHMBOF_NOTIFY) b->notifyBack = (value & SHMBOF_NOTIFY) != 0;
        return TRUE;
      }
      return FALSE;
    case TB_ENABLEBUTTON: {
      int i = keyIndexOf(b, UINT(wParam));
      if (i < 0) return FALSE;
      b->keys[size_t(i)].enabled = LOWORD(lParam) != 0;
      InvalidateRect(h, nullptr, TRUE);
      return TRUE;
    }
    case TB_ISBUTTONENABLED: {
      int i = keyIndexOf(b, UINT(wParam));
      return i >= 0 && b->keys[size_t(i)].enabled;
    }
    case TB_GETBUTTONINFO:
    case TB_SETBUTTONINFO: {
      int i = keyIndexOf(b, UINT(wParam));
      auto* info = reinterpret_cast<TBBUTTONINFO*>(lParam);
      if (i < 0 || !info) return msg == TB_GETBUTTONINFO ? -1 : FALSE;
      Key& k = b->keys[size_t(i)];
      if (msg == TB_GETBUTTONINFO) {
        info->idCommand = int(k.id);
        if (info->dwMask & TBIF_STATE) info->fsState = k.enabled ? TBSTATE_ENABLED : 0;
        if ((info->dwMask & TBIF_TEXT) && info->pszText && info->cchText > 0) {
          size_t n = std::min(k.text.size(), size_t(info->cchText - 1));
          std::copy(k.text.begin(), k.text.begin() + long(n), info->pszText);
          info->pszText[n] = 0;
        }
        return i;
      }
      if (info->dwMask & TBIF_STATE) k.enabled = (info->fsState & TBSTATE_ENABLED) != 0;
      if ((info->dwMask & TBIF_TEXT) && info->pszText) k.text = info->pszText;
      InvalidateRect(h, nullptr, TRUE);
      return TRUE;
    }
  }
  return DefWindowProc(h, msg, wParam, lParam);
}

LPCWSTR barClass() {
  static bool once = [] {
    WNDCLASS wc{};
    wc.lpfnWndProc = barProc;
    wc.cbWndExtra = controls::kExtraBytes;
    wc.lpszClassName = u"menu_worker";
    return RegisterClass(&wc) != 0;
  }();
  (void)once;
  return u"menu_worker";
}

HWND activeBar() {
  HWND app = appWindowOf(GetActiveWindow());
  for (int guard = 0; app && guard < 8; ++guard) {
    if (HWND b = SHFindMenuBar(app)) return b;
    app = GetWindow(app, GW_OWNER);
  }
  return nullptr;
}


}  // namespace

bool softKeyFilter(UINT vk, bool down) {
  if (vk != VK_TSOFT1 && vk != VK_TSOFT2 && vk != VK_TBACK) return false;
  if (platform::activeMenuWindow()) return false;  // the open menu takes its own keys
  HWND bar = activeBar();
  if (!bar) return false;
  Bar* b = barOf(bar);
  if (!b) return false;
  if (vk == VK_TBACK) {
    if (!b->overrideBack && !b->notifyBack) return false;  // Back goes to the focused window
    if (b->notifyBack) PostMessage(bar, kBack, down, 0);
    return true;
  }
  if (down) PostMessage(bar, kSoftKey, vk == VK_TSOFT1 ? 0 : 1, 0);
  return true;
}

}  // namespace platform::shell

namespace platform {

HWND shellActiveMenuBar() { return shell::activeBar(); }

bool shellSoftKeyRect(int key, RECT* out) {
  HWND bar = shell::activeBar();
  shell::Bar* b = bar ? shell::barOf(bar) : nullptr;
  if (!b || !out || key < 0 || size_t(key) >= b->keys.size()) return false;
  RECT r = shell::keyRect(bar, key);
  POINT a{r.left, r.top}, c{r.right, r.bottom};
  ClientToScreen(bar, &a);
  ClientToScreen(bar, &c);
  *out = RECT{a.x, a.y, c.x, c.y};
  return true;
}

std::u16string shellSoftKeyText(int key) {
  HWND bar = shell::activeBar();
  shell::Bar* b = bar ? shell::barOf(bar) : nullptr;
  if (!b || key < 0 || size_t(key) >= b->keys.size()) return u"";
  return b->keys[size_t(key)].text;
}

}  // namespace platform

using namespace platform;
using namespace platform::shell;

BOOL SHCreateMenuBar(SHMENUBARINFO* info) {
  if (!info || info->cbSize < sizeof(SHMENUBARINFO) || !IsWindow(info->hwndParent)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto* b = new Bar;
  b->owner = appWindowOf(info->hwndParent);
  std::vector<MenuBarItem> items;
  if (info->dwFlags & SHCMBF_EMPTYBAR) {
    // No keys.
  } else if (info->dwFlags & SHCMBF_HMENU) {
    // The keys are the items of a menu the caller made: copy them.
    std::vector<menus::Item> src;
    auto menu = reinterpret_cast<HMENU>(uintptr_t(info->nToolBarId));
    if (!menus::snapshot(menu, &src)) {
      delete b;
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    std::function<void(const std::vector<menus::Item>&, std::vector<MenuBarItem>*, int)> copy =
        [&](const std::vector<menus::Item>& in, std::vector<MenuBarItem>* out, int depth) {
          for (const menus::Item& it : in) {
            MenuBarItem m;
            m.id = it.id;
            m.text = it.text;
            if (it.flags & MF_SEPARATOR) m.flags |= MenuBarItem::Separator;
            if (it.flags & MF_GRAYED) m.flags |= MenuBarItem::Grayed;
            if ((it.flags & MF_POPUP) && depth < 8) {
              m.flags |= MenuBarItem::Popup;
              std::vector<menus::Item> sub;
              menus::snapshot(it.sub, &sub);
              copy(sub, &m.children, depth + 1);
            }
            out->push_back(std::move(m));
          }
        };
    copy(src, &items, 0);
  } else if (!loadMenuBar(info->hInstRes, info->nToolBarId, &items)) {
    delete b;
    SetLastError(ERROR_RESOURCE_NOT_FOUND);
    return FALSE;
  }
  b->barMenu = CreateMenu();
  for (size_t i = 0; i < items.size() && i < 2; ++i) {
    const MenuBarItem& it = items[i];
    Key k;
    k.id = it.id;
    k.text = it.text;
    k.enabled = !(it.flags & MenuBarItem::Grayed);
    if ((it.flags & MenuBarItem::Popup)) {
      k.menu = buildMenu(it.children);
      AppendMenu(b->barMenu, MF_POPUP, reinterpret_cast<UINT_PTR>(k.menu), k.text.c_str());
    } else {
      AppendMenu(b->barMenu, MF_STRING, k.id, k.text.c_str());
    }
    b->keys.push_back(std::move(k));
  }
  // A window has one bar: a new one replaces the old.
  if (HWND old = SHFindMenuBar(b->owner)) DestroyWindow(old);
  RECT work = shellWorkArea();
  HWND bar = CreateWindowEx(WS_EX_TOPMOST | WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW, barClass(), u"", WS_POPUP, 0,
                            work.bottom, screenWidth(), screenHeight() - work.bottom, b->owner, nullptr, nullptr, b);
  if (!bar) {
    DestroyMenu(b->barMenu);
    delete b;
    return FALSE;
  }
  {
    std::lock_guard<std::recursive_mutex> g(lockBars());
    barOfOwner()[b->owner] = bar;
  }
  watchWindow(b->owner);
  if (!(info->dwFlags & SHCMBF_HIDDEN)) ShowWindow(bar, SW_SHOWNA);
  info->hwndMB = bar;
  return TRUE;
}

HWND SHFindMenuBar(HWND hwnd) {
  std::lock_guard<std::recursive_mutex> g(lockBars());
  auto it = barOfOwner().find(appWindowOf(hwnd));
  if (it == barOfOwner().end()) return nullptr;
  if (!IsWindow(it->second)) {
    barOfOwner().erase(it);
    return nullptr;
  }
  return it->second;
}

BOOL DrawMenuBar(HWND hwnd) {
  HWND bar = SHFindMenuBar(hwnd);
  if (!bar) return FALSE;
  InvalidateRect(bar, nullptr, TRUE);
  return TRUE;
}

void SHSendBackToFocusWindow(UINT msg, WPARAM, LPARAM lParam) {
  if (msg != WM_HOTKEY || HIWORD(lParam) != VK_TBACK) return;
  HWND focus = GetFocus();
  if (!focus) return;
  bool up = (LOWORD(lParam) & MOD_KEYUP) != 0;
  WCHAR cls[16] = {};
  GetClassName(focus, cls, 16);
  std::u16string c(cls);
  bool edit = c == u"EDIT" || c == u"CAPEDIT" || c == u"Edit" || c == u"CapEdit";
  if (edit && GetWindowTextLength(focus) > 0 && !(GetWindowLong(focus, GWL_STYLE) & ES_READONLY)) {
    // In a box with text, Back deletes what is before the caret.
    if (!up) {
      SendMessage(focus, WM_KEYDOWN, VK_BACK, 1);
      SendMessage(focus, WM_CHAR, 8, 1);
    } else {
      SendMessage(focus, WM_KEYUP, VK_BACK, LPARAM(0xC0000001));
    }
    return;
  }
  SendMessage(focus, up ? WM_KEYUP : WM_KEYDOWN, VK_TBACK, up ? LPARAM(0xC0000001) : 1);
}
