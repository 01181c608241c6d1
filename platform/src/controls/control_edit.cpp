// "EDIT" and "CAPEDIT": single- and multi-line text boxes with a caret, a
// selection, password masking, a length limit and the clipboard. Positions
// are UTF-16 indices; the caret never rests inside a surrogate pair or a
// "\r\n", so a typed non-BMP character or a line break is one step.
#include <algorithm>
#include <vector>

#include "control_internal.h"
#include "dc_selection.h"
#include "platform/shell.h"

namespace platform::controls {
namespace {

constexpr int kDefaultLimit = 30000;
constexpr int kMargin = 2;

struct Line {
  size_t start;  // first index
  size_t end;    // one past the last shown character (before any break)
  size_t next;   // where the next line starts
};

struct EditState {
  std::u16string text;
  size_t anchor = 0;
  size_t caret = 0;
  size_t limit = kDefaultLimit;
  bool modified = false;
  bool focused = false;
  bool capitalise = false;
  WCHAR passwordChar = 0;
  int scrollX = 0;       // single-line: pixels scrolled to the left
  size_t firstLine = 0;  // multi-line: the top visible line
};

LONG styleOf(HWND h) { return GetWindowLong(h, GWL_STYLE); }
bool multiLine(HWND h) { return (styleOf(h) & ES_MULTILINE) != 0; }

bool isHigh(WCHAR c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLow(WCHAR c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Moves a position off the middle of a surrogate pair or a "\r\n".
size_t snap(const std::u16string& s, size_t pos) {
  pos = std::min(pos, s.size());
  if (pos > 0 && pos < s.size()) {
    if (isLow(s[pos]) && isHigh(s[pos - 1])) --pos;
    else if (s[pos] == u'\n' && s[pos - 1] == u'\r') --pos;
  }
  return pos;
}

size_t prevPos(const std::u16string& s, size_t pos) {
  if (pos == 0) return 0;
  return snap(s, pos - 1);
}

size_t nextPos(const std::u16string& s, size_t pos) {
  if (pos >= s.size()) return s.size();
  if (isHigh(s[pos]) && pos + 1 < s.size() && isLow(s[pos + 1])) return pos + 2;
  if (s[pos] == u'\r' && pos + 1 < s.size() && s[pos + 1] == u'\n') return pos + 2;
  return pos + 1;
}

// What is shown for a stretch of text: the password character once per
// character, else the text itself. `map[i]` is the shown index of text
// index start + i.
std::u16string shown(const EditState* st, size_t start, size_t end, std::vector<int>* map) {
  std::u16string out;
  map->clear();
  for (size_t i = start; i < end; ++i) {
    map->push_back(int(out.size()));
    if (st->passwordChar) {
      if (isLow(st->text[i]) && i > start && isHigh(st->text[i - 1])) continue;
      out += st->passwordChar;
    } else {
      out += st->text[i];
    }
  }
  map->push_back(int(out.size()));
  return out;
}

class Measure {
 public:
  explicit Measure(HWND h) : window_{h, GetDC(h)}, font_(window_.dc, fontOf(h)) {}
  // x of every boundary of `s`: xs[0] = 0, xs[i] = width of the first i.
  std::vector<int> offsets(const std::u16string& s) {
    std::vector<int> dx(s.size());
    if (!s.empty()) GetTextExtentExPoint(dc(), s.c_str(), int(s.size()), -1, nullptr, dx.data(), nullptr);
    std::vector<int> xs(s.size() + 1, 0);
    for (size_t i = 0; i < s.size(); ++i) xs[i + 1] = std::max(xs[i], dx[i]);
    return xs;
  }
  HDC dc() const { return window_.dc; }

 private:
  // Released after the font is put back: members go in reverse order.
  struct WindowDc {
    HWND h;
    HDC dc;
    ~WindowDc() { ReleaseDC(h, dc); }
  } window_;
  gdi::DcSelection font_;
};

RECT textArea(HWND h) {
  RECT rc;
  GetClientRect(h, &rc);
  InflateRect(&rc, -kMargin, -1);
  if (rc.right < rc.left) rc.right = rc.left;
  return rc;
}

// Lines of the text: broken at line breaks and, for a multi-line box
// without horizontal scrolling, wrapped at word ends to the box's width.
std::vector<Line> layout(HWND h, EditState* st) {
  std::vector<Line> lines;
  const std::u16string& s = st->text;
  if (!multiLine(h)) {
    lines.push_back(Line{0, s.size(), s.size()});
    return lines;
  }
  bool wrap = !(styleOf(h) & ES_AUTOHSCROLL);
  RECT area = textArea(h);
  int width = std::max<int>(1, area.right - area.left);
  Measure m(h);
  size_t start = 0;
  for (;;) {
    size_t brk = start;
    while (brk < s.size() && s[brk] != u'\r' && s[brk] != u'\n') ++brk;
    size_t after = brk;
    if (brk < s.size()) after = (s[brk] == u'\r' && brk + 1 < s.size() && s[brk + 1] == u'\n') ? brk + 2 : brk + 1;
    size_t ls = start;
    if (wrap && brk > ls) {
      std::vector<int> map;
      std::u16string vis = shown(st, ls, brk, &map);
      std::vector<int> xs = m.offsets(vis);
      while (ls < brk) {
        int base = xs[size_t(map[ls - start])];
        size_t fit = ls;
        while (fit < brk && xs[size_t(map[nextPos(s, fit) - start])] - base <= width) fit = nextPos(s, fit);
        if (fit >= brk) break;
        if (fit == ls) fit = nextPos(s, ls);  // one character wider than the box
        size_t cut = fit;
        for (size_t k = fit; k > ls; --k)
          if (s[k - 1] == u' ') {
            cut = k;
            break;
          }
        lines.push_back(Line{ls, cut, cut});
        ls = cut;
      }
    }
    lines.push_back(Line{ls, brk, after});
    if (after >= s.size() && brk >= s.size()) break;
    if (after == brk) break;
    start = after;
    if (start >= s.size()) {
      lines.push_back(Line{start, start, start});
      break;
    }
  }
  return lines;
}

size_t lineOf(const std::vector<Line>& lines, size_t pos) {
  for (size_t i = 0; i < lines.size(); ++i)
    if (pos < lines[i].next || i + 1 == lines.size()) {
      if (pos <= lines[i].end || pos < lines[i].next) return i;
    }
  return lines.empty() ? 0 : lines.size() - 1;
}

// The x of a position within its line, in text-area pixels (unscrolled).
int xOf(HWND h, EditState* st, const Line& line, size_t pos) {
  std::vector<int> map;
  std::u16string vis = shown(st, line.start, line.end, &map);
  Measure m(h);
  std::vector<int> xs = m.offsets(vis);
  pos = std::clamp(pos, line.start, line.end);
  return xs[size_t(map[pos - line.start])];
}

// The position in a line nearest to x.
size_t posAtX(HWND h, EditState* st, const Line& line, int x) {
  std::vector<int> map;
  std::u16string vis = shown(st, line.start, line.end, &map);
  Measure m(h);
  std::vector<int> xs = m.offsets(vis);
  size_t best = line.start;
  int bestDist = 1 << 30;
  for (size_t p = line.start; p <= line.end; p = nextPos(st->text, p)) {
    int d = std::abs(xs[size_t(map[p - line.start])] - x);
    if (d < bestDist) {
      bestDist = d;
      best = p;
    }
    if (p >= line.end) break;
  }
  return best;
}

int visibleLines(HWND h) {
  RECT a = textArea(h);
  return std::max(1, int(a.bottom - a.top) / std::max(1, lineHeight(h)));
}

void updateScrollBar(HWND h, EditState* st, size_t lineCount) {
  if (!(styleOf(h) & WS_VSCROLL)) return;
  SCROLLINFO si{sizeof(SCROLLINFO), SIF_RANGE | SIF_PAGE | SIF_POS, 0, int(lineCount) - 1,
                UINT(visibleLines(h)), int(st->firstLine), 0};
  SetScrollInfo(h, SB_VERT, &si, TRUE);
}

// Scrolls so the caret can be seen.
void showCaret(HWND h, EditState* st) {
  std::vector<Line> lines = layout(h, st);
  size_t li = lineOf(lines, st->caret);
  RECT a = textArea(h);
  int width = a.right - a.left;
  if (multiLine(h)) {
    size_t vis = size_t(visibleLines(h));
    if (li < st->firstLine) st->firstLine = li;
    if (li >= st->firstLine + vis) st->firstLine = li - vis + 1;
    if (st->firstLine + vis > lines.size()) st->firstLine = lines.size() > vis ? lines.size() - vis : 0;
    if (!(styleOf(h) & ES_AUTOHSCROLL)) st->scrollX = 0;
    updateScrollBar(h, st, lines.size());
  }
  if (!multiLine(h) || (styleOf(h) & ES_AUTOHSCROLL)) {
    int x = xOf(h, st, lines[li], st->caret);
    if (x - st->scrollX > width - 1) st->scrollX = x - width + 1 + width / 4;
    if (x < st->scrollX) st->scrollX = std::max(0, x - width / 4);
    if (st->scrollX < 0) st->scrollX = 0;
  }
  InvalidateRect(h, nullptr, TRUE);
}

void changed(HWND h, EditState* st) {
  st->modified = true;
  showCaret(h, st);
  notifyParent(h, EN_UPDATE);
  notifyParent(h, EN_CHANGE);
}

size_t selMin(const EditState* st) { return std::min(st->anchor, st->caret); }
size_t selMax(const EditState* st) { return std::max(st->anchor, st->caret); }

// Replaces the selection with `in`, cut to the limit. Returns false when
// nothing could go in because the box is full.
bool replaceSelection(HWND h, EditState* st, std::u16string in) {
  LONG style = styleOf(h);
  if (!multiLine(h)) {
    // A single line keeps only what comes before a line break.
    size_t br = in.find_first_of(u"\r\n");
    if (br != std::u16string::npos) in.resize(br);
  }
  if (style & ES_UPPERCASE)
    for (auto& c : in) c = upperOf(c);
  if (style & ES_LOWERCASE)
    for (auto& c : in) c = lowerOf(c);
  size_t a = selMin(st), b = selMax(st);
  size_t room = st->limit > st->text.size() - (b - a) ? st->limit - (st->text.size() - (b - a)) : 0;
  bool full = false;
  if (in.size() > room) {
    full = true;
    size_t n = room;
    if (n > 0 && n < in.size() && isLow(in[n]) && isHigh(in[n - 1])) --n;
    if (n > 0 && n < in.size() && in[n] == u'\n' && in[n - 1] == u'\r') --n;
    in.resize(n);
  }
  if (in.empty() && a == b) {
    if (full) notifyParent(h, EN_MAXTEXT);
    return !full;
  }
  st->text.replace(a, b - a, in);
  st->caret = st->anchor = a + in.size();
  changed(h, st);
  if (full) notifyParent(h, EN_MAXTEXT);
  return true;
}

void setSelection(HWND h, EditState* st, size_t anchor, size_t caret) {
  st->anchor = snap(st->text, anchor);
  st->caret = snap(st->text, caret);
  showCaret(h, st);
}

void deleteRange(HWND h, EditState* st, size_t a, size_t b) {
  if (a >= b) return;
  st->text.erase(a, b - a);
  st->caret = st->anchor = a;
  changed(h, st);
}

void copySelection(HWND h, EditState* st) {
  if (st->passwordChar) return;  // a password is never copied out
  size_t a = selMin(st), b = selMax(st);
  if (a == b || !OpenClipboard(h)) return;
  EmptyClipboard();
  std::u16string part = st->text.substr(a, b - a);
  HLOCAL mem = LocalAlloc(LMEM_FIXED, (part.size() + 1) * sizeof(WCHAR));
  if (mem) {
    auto* p = static_cast<WCHAR*>(mem);
    std::copy(part.begin(), part.end(), p);
    p[part.size()] = 0;
    if (!SetClipboardData(CF_UNICODETEXT, mem)) LocalFree(mem);
  }
  CloseClipboard();
}

void paste(HWND h, EditState* st) {
  if (styleOf(h) & ES_READONLY) return;
  if (!OpenClipboard(h)) return;
  std::u16string in;
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    auto* p = static_cast<const WCHAR*>(data);
    size_t n = LocalSize(data) / sizeof(WCHAR);
    size_t len = 0;
    while (len < n && p[len]) ++len;
    in.assign(p, len);
  }
  CloseClipboard();
  if (!in.empty()) replaceSelection(h, st, in);
}

// CAPEDIT: a letter typed at the start of the text or of a sentence is
// made a capital.
bool sentenceStart(const EditState* st, size_t pos) {
  while (pos > 0 && st->text[pos - 1] == u' ') --pos;
  if (pos == 0) return true;
  WCHAR c = st->text[pos - 1];
  return c == u'.' || c == u'!' || c == u'?' || c == u'\n' || c == u'\r';
}

void typeChar(HWND h, EditState* st, WCHAR ch) {
  LONG style = styleOf(h);
  if (style & ES_READONLY) return;
  if (ch == 8) {
    if (selMin(st) != selMax(st)) deleteRange(h, st, selMin(st), selMax(st));
    else deleteRange(h, st, prevPos(st->text, st->caret), st->caret);
    return;
  }
  if (ch == 1) {  // Ctrl+A
    setSelection(h, st, 0, st->text.size());
    return;
  }
  if (ch == 3) {  // Ctrl+C
    copySelection(h, st);
    return;
  }
  if (ch == 24) {  // Ctrl+X
    copySelection(h, st);
    if (!st->passwordChar) deleteRange(h, st, selMin(st), selMax(st));
    return;
  }
  if (ch == 22) {  // Ctrl+V
    paste(h, st);
    return;
  }
  if (ch == u'\r' || ch == u'\n') {
    if (multiLine(h)) replaceSelection(h, st, u"\r\n");
    return;
  }
  if (ch < 0x20 || ch == 0x7F) return;
  if ((style & ES_NUMBER) && !(ch >= u'0' && ch <= u'9')) return;
  if (isLow(ch) && st->caret > 0 && isHigh(st->text[st->caret - 1]) && selMin(st) == selMax(st)) {
    // The second half of a character typed in two units: join it to the
    // first one, which the caret is already past.
    if (st->text.size() + 1 > st->limit) {
      deleteRange(h, st, st->caret - 1, st->caret);
      notifyParent(h, EN_MAXTEXT);
      return;
    }
    st->text.insert(st->caret, 1, ch);
    st->caret = st->anchor = st->caret + 1;
    changed(h, st);
    return;
  }
  if (st->capitalise && isLetter(ch) && sentenceStart(st, selMin(st))) ch = upperOf(ch);
  replaceSelection(h, st, std::u16string(1, ch));
}

void moveCaret(HWND h, EditState* st, size_t to, bool extend) {
  to = snap(st->text, to);
  st->caret = to;
  if (!extend) st->anchor = to;
  showCaret(h, st);
}

bool keyDown(HWND h, EditState* st, WPARAM vk) {
  bool shift = GetKeyState(VK_SHIFT) < 0;
  bool ml = multiLine(h);
  std::vector<Line> lines = layout(h, st);
  size_t li = lineOf(lines, st->caret);
  switch (vk) {
    case VK_LEFT:
      if (!shift && selMin(st) != selMax(st)) moveCaret(h, st, selMin(st), false);
      else moveCaret(h, st, prevPos(st->text, st->caret), shift);
      return true;
    case VK_RIGHT:
      if (!shift && selMin(st) != selMax(st)) moveCaret(h, st, selMax(st), false);
      else moveCaret(h, st, nextPos(st->text, st->caret), shift);
      return true;
    case VK_HOME:
      moveCaret(h, st, ml ? lines[li].start : 0, shift);
      return true;
    case VK_END:
      moveCaret(h, st, ml ? lines[li].end : st->text.size(), shift);
      return true;
    case VK_UP:
    case VK_DOWN: {
      if (!ml) return false;
      if ((vk == VK_UP && li == 0) || (vk == VK_DOWN && li + 1 >= lines.size())) return true;
      int x = xOf(h, st, lines[li], st->caret);
      size_t to = posAtX(h, st, lines[vk == VK_UP ? li - 1 : li + 1], x);
      moveCaret(h, st, to, shift);
      return true;
    }
    case VK_DELETE:
      if (styleOf(h) & ES_READONLY) return true;
      if (selMin(st) != selMax(st)) deleteRange(h, st, selMin(st), selMax(st));
      else deleteRange(h, st, st->caret, nextPos(st->text, st->caret));
      return true;
  }
  return false;
}

size_t hitTest(HWND h, EditState* st, int x, int y) {
  std::vector<Line> lines = layout(h, st);
  RECT a = textArea(h);
  size_t li = 0;
  if (multiLine(h)) {
    int row = (y - a.top) / std::max(1, lineHeight(h));
    li = size_t(std::clamp<long>(long(st->firstLine) + row, 0, long(lines.size()) - 1));
  }
  return posAtX(h, st, lines[li], x - a.left + st->scrollX);
}

void paint(HWND h, EditState* st) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(h, &ps);
  RECT rc;
  GetClientRect(h, &rc);
  LONG style = styleOf(h);
  bool enabled = IsWindowEnabled(h);
  HBRUSH bg = askColours(h, dc, (style & ES_READONLY) || !enabled ? WM_CTLCOLORSTATIC : WM_CTLCOLOREDIT);
  FillRect(dc, &rc, bg);
  if (!enabled) SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
  COLORREF textColour = GetTextColor(dc);
  {
    gdi::DcSelection font(dc, fontOf(h));
    SetBkMode(dc, TRANSPARENT);
    RECT a = textArea(h);
    IntersectClipRect(dc, a.left, a.top, a.right, a.bottom);
    int lh = lineHeight(h);
    std::vector<Line> lines = layout(h, st);
    bool showSel = st->focused || (style & ES_NOHIDESEL);
    size_t s0 = selMin(st), s1 = selMax(st);
    HBRUSH hi = GetSysColorBrush(COLOR_HIGHLIGHT);
    size_t first = multiLine(h) ? st->firstLine : 0;
    for (size_t i = first; i < lines.size(); ++i) {
      int y = a.top + int(i - first) * lh;
      if (y >= a.bottom) break;
      const Line& L = lines[i];
      std::vector<int> map;
      std::u16string vis = shown(st, L.start, L.end, &map);
      std::vector<int> xs;
      {
        SIZE sz;
        std::vector<int> dx(vis.size());
        if (!vis.empty()) GetTextExtentExPoint(dc, vis.c_str(), int(vis.size()), -1, nullptr, dx.data(), &sz);
        xs.assign(vis.size() + 1, 0);
        for (size_t k = 0; k < vis.size(); ++k) xs[k + 1] = std::max(xs[k], dx[k]);
      }
      int x0 = a.left - st->scrollX;
      int lineWidth = xs.back();
      if (!multiLine(h)) {
        if ((style & 3) == ES_CENTER) x0 = a.left + (a.right - a.left - lineWidth) / 2;
        if ((style & 3) == ES_RIGHT) x0 = a.right - lineWidth;
      }
      SetTextColor(dc, textColour);
      ExtTextOut(dc, x0, y, 0, nullptr, vis.c_str(), UINT(vis.size()), nullptr);
      if (showSel && s0 != s1) {
        size_t from = std::clamp(s0, L.start, L.end), to = std::clamp(s1, L.start, L.end);
        bool breakSelected = s0 <= L.end && s1 > L.end && L.next > L.end;
        if (from < to || breakSelected) {
          int xa = x0 + xs[size_t(map[from - L.start])];
          int xb = x0 + xs[size_t(map[to - L.start])] + (breakSelected ? lh / 3 : 0);
          RECT sel{xa, y, xb, y + lh};
          FillRect(dc, &sel, hi);
          SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
          int ia = map[from - L.start], ib = map[to - L.start];
          ExtTextOut(dc, xa, y, 0, nullptr, vis.c_str() + ia, UINT(ib - ia), nullptr);
        }
      }
      if (st->focused && st->caret >= L.start && st->caret <= L.end && lineOf(lines, st->caret) == i) {
        int cx = x0 + xs[size_t(map[st->caret - L.start])];
        RECT caret{cx, y, cx + 1, y + lh};
        FillRect(dc, &caret, GetStockObject(BLACK_BRUSH));
      }
    }
  }
  EndPaint(h, &ps);
}

LRESULT editCommon(HWND h, UINT msg, WPARAM wParam, LPARAM lParam, bool capitalise) {
  auto* st = stateOf<EditState>(h);
  if (!st && msg != WM_NCCREATE) return DefWindowProc(h, msg, wParam, lParam);
  LRESULT result;
  if (controlLifecycle<EditState>(h, msg, wParam, lParam, &result, [&](const CREATESTRUCT* cs) {
        auto* s = new EditState;
        s->capitalise = capitalise;
        if (cs && (cs->style & ES_PASSWORD)) s->passwordChar = u'*';
        if (cs && cs->lpszName && !IS_INTRESOURCE(cs->lpszName)) s->text = cs->lpszName;
        if (cs && !(cs->style & ES_MULTILINE)) {
          size_t br = s->text.find_first_of(u"\r\n");
          if (br != std::u16string::npos) s->text.resize(br);
        }
        return s;
      }))
    return result;
  switch (msg) {
    case WM_PAINT:
      paint(h, st);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_SIZE:
      showCaret(h, st);
      return 0;
    case WM_ENABLE:
      InvalidateRect(h, nullptr, TRUE);
      return 0;
    case WM_SETTEXT: {
      auto* s = reinterpret_cast<LPCWSTR>(lParam);
      st->text = s ? std::u16string(s) : std::u16string();
      if (!multiLine(h)) {
        size_t br = st->text.find_first_of(u"\r\n");
        if (br != std::u16string::npos) st->text.resize(br);
      }
      st->anchor = st->caret = 0;
      st->scrollX = 0;
      st->firstLine = 0;
      st->modified = false;
      DefWindowProc(h, msg, wParam, lParam);
      showCaret(h, st);
      if (!multiLine(h)) notifyParent(h, EN_CHANGE);
      return TRUE;
    }
    case WM_GETTEXT: {
      auto* buf = reinterpret_cast<LPWSTR>(lParam);
      if (!buf || wParam == 0) return 0;
      size_t n = std::min(st->text.size(), size_t(wParam) - 1);
      std::copy(st->text.begin(), st->text.begin() + long(n), buf);
      buf[n] = 0;
      return LRESULT(n);
    }
    case WM_GETTEXTLENGTH:
      return LRESULT(st->text.size());
    case WM_SETFOCUS:
      st->focused = true;
      InvalidateRect(h, nullptr, TRUE);
      notifyParent(h, EN_SETFOCUS);
      return 0;
    case WM_KILLFOCUS:
      st->focused = false;
      InvalidateRect(h, nullptr, TRUE);
      notifyParent(h, EN_KILLFOCUS);
      return 0;
    case WM_GETDLGCODE: {
      if (multiLine(h)) return DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS | DLGC_WANTALLKEYS;
      // Up and Down leave a one-line box for the next control, as on a
      // phone; Left and Right stay inside it.
      LRESULT code = DLGC_WANTCHARS | DLGC_HASSETSEL;
      auto* m = reinterpret_cast<const MSG*>(lParam);
      if (!m || m->message != WM_KEYDOWN || (m->wParam != VK_UP && m->wParam != VK_DOWN)) code |= DLGC_WANTARROWS;
      return code;
    }
    case WM_CHAR:
      typeChar(h, st, WCHAR(wParam));
      return 0;
    case WM_KEYDOWN:
      if (keyDown(h, st, wParam)) return 0;
      break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      if (GetFocus() != h) SetFocus(h);
      size_t p = hitTest(h, st, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
      if (msg == WM_LBUTTONDBLCLK) {
        // A double tap selects the word under the stylus.
        size_t a = p, b = p;
        auto inWord = [&](size_t i) { return st->text[i] != u' ' && st->text[i] != u'\r' && st->text[i] != u'\n'; };
        while (a > 0 && inWord(a - 1)) --a;
        while (b < st->text.size() && inWord(b)) ++b;
        setSelection(h, st, a, b);
        return 0;
      }
      SetCapture(h);
      moveCaret(h, st, p, (wParam & MK_SHIFT) != 0);
      return 0;
    }
    case WM_MOUSEMOVE:
      if (GetCapture() == h && (wParam & MK_LBUTTON))
        moveCaret(h, st, hitTest(h, st, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)), true);
      return 0;
    case WM_LBUTTONUP:
      if (GetCapture() == h) ReleaseCapture();
      return 0;
    case WM_VSCROLL: {
      std::vector<Line> lines = layout(h, st);
      size_t vis = size_t(visibleLines(h));
      size_t maxFirst = lines.size() > vis ? lines.size() - vis : 0;
      long f = long(st->firstLine);
      switch (LOWORD(wParam)) {
        case SB_LINEUP: f -= 1; break;
        case SB_LINEDOWN: f += 1; break;
        case SB_PAGEUP: f -= long(vis); break;
        case SB_PAGEDOWN: f += long(vis); break;
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION: f = short(HIWORD(wParam)); break;
        case SB_TOP: f = 0; break;
        case SB_BOTTOM: f = long(maxFirst); break;
      }
      st->firstLine = size_t(std::clamp<long>(f, 0, long(maxFirst)));
      updateScrollBar(h, st, lines.size());
      InvalidateRect(h, nullptr, TRUE);
      notifyParent(h, EN_VSCROLL);
      return 0;
    }
    case WM_COPY:
      copySelection(h, st);
      return 0;
    case WM_CUT:
      if (styleOf(h) & ES_READONLY) return 0;
      copySelection(h, st);
      if (!st->passwordChar) deleteRange(h, st, selMin(st), selMax(st));
      return 0;
    case WM_PASTE:
      paste(h, st);
      return 0;
    case WM_CLEAR:
      if (!(styleOf(h) & ES_READONLY)) deleteRange(h, st, selMin(st), selMax(st));
      return 0;
    case EM_GETSEL: {
      DWORD a = DWORD(selMin(st)), b = DWORD(selMax(st));
      if (wParam) *reinterpret_cast<DWORD*>(wParam) = a;
      if (lParam) *reinterpret_cast<DWORD*>(lParam) = b;
      return LRESULT(MAKELONG(std::min<DWORD>(a, 0xFFFF), std::min<DWORD>(b, 0xFFFF)));
    }
    case EM_SETSEL: {
      // (-1) removes the selection; a start of 0 and an end of -1 selects
      // everything.
      long a = long(INT(wParam)), b = long(INT(lParam));
      size_t n = st->text.size();
      if (a < 0) {
        setSelection(h, st, st->caret, st->caret);
        return 0;
      }
      size_t sa = std::min(size_t(a), n), sb = b < 0 ? n : std::min(size_t(b), n);
      setSelection(h, st, sa, sb);
      return 0;
    }
    case EM_REPLACESEL:
      if (lParam) replaceSelection(h, st, std::u16string(reinterpret_cast<LPCWSTR>(lParam)));
      return 0;
    case EM_LIMITTEXT: {
      size_t lim = size_t(wParam);
      st->limit = lim == 0 ? (multiLine(h) ? 0xFFFFFFFFu : 0x7FFFFFFEu) : lim;
      return 0;
    }
    case EM_GETLIMITTEXT:
      return LRESULT(st->limit);
    case EM_GETMODIFY:
      return st->modified;
    case EM_SETMODIFY:
      st->modified = wParam != 0;
      return 0;
    case EM_SETPASSWORDCHAR:
      if (multiLine(h)) return 0;
      st->passwordChar = WCHAR(wParam);
      SetWindowLong(h, GWL_STYLE, wParam ? (styleOf(h) | ES_PASSWORD) : (styleOf(h) & ~ES_PASSWORD));
      showCaret(h, st);
      return 0;
    case EM_GETPASSWORDCHAR:
      return st->passwordChar;
    case EM_SETREADONLY:
      SetWindowLong(h, GWL_STYLE, wParam ? (styleOf(h) | ES_READONLY) : (styleOf(h) & ~ES_READONLY));
      InvalidateRect(h, nullptr, TRUE);
      return TRUE;
    case EM_EMPTYUNDOBUFFER:
      return 0;
    case EM_SCROLLCARET:
      showCaret(h, st);
      return TRUE;
    case EM_GETLINECOUNT:
      return LRESULT(layout(h, st).size());
    case EM_GETFIRSTVISIBLELINE:
      return multiLine(h) ? LRESULT(st->firstLine) : 0;
    case EM_LINEFROMCHAR: {
      std::vector<Line> lines = layout(h, st);
      size_t pos = INT(wParam) < 0 ? st->caret : std::min(size_t(wParam), st->text.size());
      return LRESULT(lineOf(lines, pos));
    }
    case EM_LINEINDEX: {
      std::vector<Line> lines = layout(h, st);
      size_t li = INT(wParam) < 0 ? lineOf(lines, st->caret) : size_t(wParam);
      return li < lines.size() ? LRESULT(lines[li].start) : -1;
    }
    case EM_LINELENGTH: {
      std::vector<Line> lines = layout(h, st);
      size_t pos = INT(wParam) < 0 ? st->caret : std::min(size_t(wParam), st->text.size());
      const Line& L = lines[lineOf(lines, pos)];
      return LRESULT(L.end - L.start);
    }
  }
  return DefWindowProc(h, msg, wParam, lParam);
}

}  // namespace

LRESULT CALLBACK editProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  return editCommon(h, msg, wParam, lParam, false);
}

LRESULT CALLBACK capEditProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  return editCommon(h, msg, wParam, lParam, true);
}

}  // namespace platform::controls
