// Message boxes: a titled box with an icon and text over its owner, which
// is disabled until the box is answered. The answers are the soft keys
// (left: OK or Yes; right: No or Cancel), taps on them, the action key (the
// default answer) and Back (Cancel, or No). While the box is up the
// caller's thread keeps handling its messages.
//
// Tests answer with input as a user would, through the test kit's
// testkit::ModalAnswers (testkit/modal.h, on the modal idle hook of
// platform/menu.h), or see and answer every box through setMessageBoxHook
// (below).
#pragma once

#include <functional>
#include <string>

#include "platform/menu.h"
#include "platform/types.h"

#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_YESNOCANCEL 0x00000003L
#define MB_YESNO 0x00000004L
#define MB_TYPEMASK 0x0000000FL
#define MB_ICONHAND 0x00000010L
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONSTOP MB_ICONHAND
#define MB_ICONQUESTION 0x00000020L
#define MB_ICONEXCLAMATION 0x00000030L
#define MB_ICONWARNING MB_ICONEXCLAMATION
#define MB_ICONINFORMATION 0x00000040L
#define MB_ICONASTERISK MB_ICONINFORMATION
#define MB_ICONMASK 0x000000F0L
#define MB_DEFBUTTON1 0x00000000L
#define MB_DEFBUTTON2 0x00000100L
#define MB_APPLMODAL 0x00000000L
#define MB_SETFOREGROUND 0x00010000L
#define MB_TOPMOST 0x00040000L

#define IDYES 6
#define IDNO 7

// The answer (IDOK, IDCANCEL, IDYES, IDNO); 0 when the box could not be
// shown or was left unanswered (the thread's loop ended, or nothing
// answered it on the headless screen).
int MessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

namespace platform {

// The message box now shown (nullptr when none), its text and its icon
// kind (MB_ICONERROR, ... or 0).
HWND activeMessageBox();
std::u16string messageBoxText(HWND box);
UINT messageBoxIcon(HWND box);

// A test seam: while set, every MessageBox (on any thread) is shown to the
// hook once the box is up, and the hook's answer closes it. The answer must
// be one the box offers (IDOK, IDCANCEL, IDYES, IDNO) or
// kMessageBoxDefaultAnswer for its default button; 0 leaves the box to the
// user (or the modal idle hook), and any other answer is refused, so the
// box is left too. Returns the hook it replaced. testkit::MessageBoxRecorder
// is the usual way to use it.
struct MessageBoxShown {
  HWND box;
  HWND owner;
  std::u16string text;
  std::u16string caption;
  UINT type;
};
constexpr int kMessageBoxDefaultAnswer = -1;
using MessageBoxHook = std::function<int(const MessageBoxShown&)>;
MessageBoxHook setMessageBoxHook(MessageBoxHook hook);

}  // namespace platform
