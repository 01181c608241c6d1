// Shared pieces of the standard controls: state kept in the window's extra
// bytes, the font and colours asked of the parent, and notifications.
#pragma once

#include <string>

#include "platform/bitmap.h"
#include "platform/controls.h"
#include "platform/gdi.h"
#include "platform/window.h"

namespace platform::controls {

// Every standard control class reserves this many extra bytes; offset 0
// holds the pointer to the control's state.
constexpr int kExtraBytes = int(sizeof(LONG_PTR));

template <class T>
T* stateOf(HWND h) {
  return reinterpret_cast<T*>(GetWindowLongPtr(h, 0));
}
inline void setState(HWND h, void* s) { SetWindowLongPtr(h, 0, reinterpret_cast<LONG_PTR>(s)); }

// The part of a control's window procedure that gives it its state:
// WM_NCCREATE keeps what `make(create record)` returns, WM_NCDESTROY deletes
// it. True when the message was one of the two; `*result` is the answer.
template <class T, class Make>
bool controlLifecycle(HWND h, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result, Make make) {
  switch (msg) {
    case WM_NCCREATE:
      setState(h, make(reinterpret_cast<const CREATESTRUCT*>(lParam)));
      *result = DefWindowProc(h, msg, wParam, lParam);
      return true;
    case WM_NCDESTROY:
      delete stateOf<T>(h);
      setState(h, nullptr);
      *result = 0;
      return true;
  }
  return false;
}

// The font set with WM_SETFONT, else the stock GUI font.
HFONT fontOf(HWND h);
// Asks the parent for colours (WM_CTLCOLOR*); returns the background brush.
HBRUSH askColours(HWND h, HDC dc, UINT msg);
// WM_COMMAND (id, code) to the parent.
void notifyParent(HWND h, WORD code);
// Height of one text line in the control's font.
int lineHeight(HWND h);
// The window text as a string.
std::u16string textOf(HWND h);
// Window procedures.
LRESULT CALLBACK staticProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK buttonProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK editProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK capEditProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK comboProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK comboListProc(HWND, UINT, WPARAM, LPARAM);

// Colours of the phone look.
constexpr COLORREF kFocusColour = RGB(0, 72, 160);
constexpr COLORREF kFrameColour = RGB(128, 128, 128);
constexpr COLORREF kFaceColour = RGB(228, 232, 240);

// Simple case mapping for what a phone keypad types: ASCII and Latin-1.
WCHAR upperOf(WCHAR c);
WCHAR lowerOf(WCHAR c);
bool isLetter(WCHAR c);

}  // namespace platform::controls
