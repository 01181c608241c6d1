// Control: the base of every window wrapper. It owns its window and turns
// window messages into calls of protected virtual handlers; each handler's
// default hands the message on to the platform's default procedure (or, for
// a subclassed platform control, to the control's own procedure).
//
//   class Screen : public fwk::Control {
//    public:
//     explicit Screen(HWND parent)
//         : Control(nullptr, u"", WS_CHILD | WS_VISIBLE, 0, 0, 100, 100, parent, nullptr) {}
//    protected:
//     LRESULT onKey(UINT key, bool down, LPARAM data) override { ... }
//   };
//
// Handlers are virtual from the moment the constructor has finished; messages
// that arrive while the window is being created reach Control's defaults.
// A default handler passes on the message exactly as it came (key flags,
// wheel state, the window clicked), not one rebuilt from its arguments.
//
// A tap (left button down or double click) gives the control the focus
// before onStylusDown runs, when the control takes the focus on taps: a
// child of this module's class with WS_TABSTOP, or one that asked to.
#pragma once

#include "platform/types.h"
#include "platform/window.h"

namespace fwk {

class Control {
 public:
  // `className` NULL means this module's own class ("KS_CTRL_%p"); any other
  // class (a platform control such as "CAPEDIT") is subclassed. `instance`
  // NULL means this module.
  Control(LPCWSTR className, LPCWSTR text, DWORD style, int x, int y, int width, int height, HWND parent,
          HINSTANCE instance, DWORD exStyle = 0, UINT id = 0);
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  // Slot order: destructor, dispatch, then one handler per message.
  virtual ~Control();
  virtual LRESULT windowProc(UINT msg, WPARAM wParam, LPARAM lParam);

  HWND hwnd() const { return m_hwnd; }
  // The platform's default for this window: the previous procedure of a
  // subclassed control, else DefWindowProc.
  LRESULT defaultProc(UINT msg, WPARAM wParam, LPARAM lParam);

  // This module's window class name and module handle. The class is
  // registered on first use.
  static LPCWSTR moduleClassName();
  static HINSTANCE moduleInstance();

  bool takesFocusOnTap() const;

 protected:
  // For controls that want the focus on a tap whatever their style.
  void setTakesFocusOnTap(bool on) { m_focusOnTap = on; }

  virtual LRESULT onActivate(UINT state, bool minimized, HWND other);
  virtual LRESULT onClose();
  virtual LRESULT onCommand(UINT id, UINT code, HWND control);
  // Screen coordinates; (-1, -1) when the keyboard asked for the menu.
  virtual LRESULT onContextMenu(int x, int y);
  virtual LRESULT onCtlColorStatic(HDC dc, HWND control);
  virtual LRESULT onDestroy();
  virtual LRESULT onEraseBackground(HDC dc);
  virtual LRESULT onGetDlgCode(UINT key, MSG* msg);
  virtual LRESULT onHotKey(int id, UINT modifiers, UINT key);
  virtual LRESULT onHScroll(UINT code, int pos, HWND bar);
  virtual LRESULT onKey(UINT key, bool down, LPARAM repeatData);
  virtual LRESULT onKillFocus(HWND next);
  virtual LRESULT onStylusDown(bool doubleTap, int x, int y);
  virtual LRESULT onStylusUp(int x, int y);
  virtual LRESULT onNextDlgCtl(bool previous);
  virtual LRESULT onPaint();
  virtual LRESULT onSetFocus(HWND previous);
  virtual LRESULT onSize(UINT kind, int width, int height);
  virtual LRESULT onTimer(UINT_PTR id);
  virtual LRESULT onVScroll(UINT code, int pos, HWND bar);
  virtual LRESULT onMouseWheel(int delta, int x, int y);

 private:
  friend LRESULT CALLBACK controlWindowProc(HWND, UINT, WPARAM, LPARAM);
  void detach();
  // Hands on `msg` as it was dispatched to this control when that is the
  // message being handled, else as given.
  LRESULT passOn(UINT msg, WPARAM wParam, LPARAM lParam);

  HWND m_hwnd = nullptr;
  WNDPROC m_previous = nullptr;  // set for a subclassed platform control
  HWND m_focusWhenInactive = nullptr;
  bool m_focusOnTap = false;
};

// The one procedure of every wrapper, of this module's class and of the
// platform controls it subclasses.
LRESULT CALLBACK controlWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// The object behind a window of this module, or NULL.
Control* controlFromWindow(HWND hwnd);

}  // namespace fwk
