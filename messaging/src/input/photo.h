// Photo messages: taking one with the shell's camera dialog and showing a
// received one with the desktop's viewer.
#pragma once

#include "input_button.h"
#include "olvaro/api.h"

namespace messaging {

// The largest photo sent.
constexpr long kMaxPhotoBytes = 65535;

// Saves the photo's bytes as "image.jpg" in the user's private temporary
// folder (or "imag1.jpg" when the viewer holds that one) and opens it; a
// payload that is not a JPEG is not opened. The file is `owner`'s: it goes
// with removePhotoFiles(owner).
void ViewPhotoMessage(HMessage* message, HWND owner = nullptr);

// Removes the photo files written for `owner`'s window (viewed or
// captured), when it closes.
void removePhotoFiles(HWND owner);
// Removes every photo file still there, and the folder when it is empty;
// at the plug-in's stop.
void removeAllPhotoFiles();

// Takes a photo for a conversation: the camera dialog (saving into the
// private temporary folder), then the file it saved read into a new
// "image/jpeg" message; the file is `owner`'s. Every failure is told in a
// message box owned by `owner`; NULL then (and when the user cancelled).
// The caller releases the message.
HMessage* capturePhotoMessage(HWND owner);

// Appends `bytes` to the message in pieces of at most 4096 bytes, the last
// one completing it.
void appendInPieces(HMessage* message, const uint8_t* bytes, size_t size);

// The Photo tab's button: activated by Enter or Space released on it, or the
// stylus lifted after pressing it; the photo goes to `window` as the input
// message.
class CaptureButton : public InputButton {
 public:
  CaptureButton(HWND parent, HWND window);
  bool pressed() const { return m_pressed; }

 protected:
  LRESULT onKey(UINT key, bool down, LPARAM repeatData) override;
  LRESULT onKillFocus(HWND next) override;
  LRESULT onStylusDown(bool doubleTap, int x, int y) override;
  LRESULT onStylusUp(int x, int y) override;
  LRESULT onPaint() override;

 private:
  void capture();
  bool m_pressed = false;
};

}  // namespace messaging
