#include "photo.h"

#include <vector>

#include "conversation_input.h"
#include "message_format.h"
#include "olvaro/hub_records.h"
#include "platform/camera.h"
#include "platform/files.h"
#include "platform/module.h"
#include "platform/msgbox.h"
#include "platform/resources.h"
#include "platform/shell.h"
#include "platform/sound.h"

namespace messaging {
namespace {

using CameraCapture = HRESULT (*)(PSHCAMERACAPTURE);

std::u16string tempFolder() {
  WCHAR buf[MAX_PATH] = {};
  DWORD n = GetTempPath(MAX_PATH, buf);
  return n > 0 && n < MAX_PATH ? std::u16string(buf, n) : std::u16string(u"/tmp/");
}

HRESULT runCamera(HWND owner, std::u16string* file) {
  HMODULE shell = LoadLibrary(u"aygshell.dll");
  if (!shell) return E_NOTIMPL;
  auto capture = reinterpret_cast<CameraCapture>(GetProcAddress(shell, "SHCameraCapture"));
  HRESULT hr = E_NOTIMPL;
  if (capture) {
    std::u16string folder = tempFolder();
    SHCAMERACAPTURE request{};
    request.cbSize = sizeof request;
    request.hwndOwner = owner;
    request.pszInitialDir = folder.c_str();
    request.pszDefaultFileName = u"capimage.jpg";
    request.pszTitle = nullptr;
    request.StillQuality = CAMERACAPTURE_STILLQUALITY_NORMAL;
    request.VideoTypes = CAMERACAPTURE_VIDEOTYPES(0);
    request.nResolutionWidth = 320;
    request.nResolutionHeight = 240;
    request.nVideoTimeLimit = 0;
    request.Mode = CAMERACAPTURE_MODE_STILL;
    hr = capture(&request);
    request.szFile[MAX_PATH - 1] = 0;
    *file = request.szFile;
  }
  FreeLibrary(shell);
  return hr;
}

void tell(HWND owner, const char16_t* text, const char16_t* caption, UINT icon = MB_ICONINFORMATION) {
  MessageBox(owner, text, caption, MB_OK | icon);
}

}  // namespace

HMessage* capturePhotoMessage(HWND owner) {
  std::u16string file;
  HRESULT hr = runCamera(owner, &file);
  switch (hr) {
    case S_OK:
      break;
    case S_FALSE:
      return nullptr;
    case E_NOTIMPL:
      tell(owner, u"Photo messaging is not currently supported on your device.", u"Coming Soon");
      return nullptr;
    case E_OUTOFMEMORY:
      tell(owner, u"There is not enough memory to save the image.", u"Capture Failed");
      return nullptr;
    case E_INVALIDARG:
      tell(owner, u"An invalid argument was specified.", u"Capture Failed");
      return nullptr;
    default:
      tell(owner, u"An unknown error occured.", u"Capture Failed");
      return nullptr;
  }
  HANDLE in = CreateFile(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (in == INVALID_HANDLE_VALUE) {
    tell(owner, u"The saved file could not be opened.", u"Capture Failed");
    return nullptr;
  }
  DWORD high = 0;
  DWORD size = GetFileSize(in, &high);
  if (high != 0 || size > DWORD(kMaxPhotoBytes)) {
    tell(owner, u"Image size exceeds 64kB. Please reduce the resolution.", u"Error", MB_ICONERROR);
    CloseHandle(in);
    return nullptr;
  }
  // The whole file is read before a message exists, so a failed read sends
  // nothing rather than a cut photo.
  std::vector<uint8_t> bytes(size);
  DWORD got = 0;
  bool ok = size == 0 || (ReadFile(in, bytes.data(), size, &got, nullptr) && got == size);
  CloseHandle(in);
  if (!ok) {
    tell(owner, u"The saved file could not be opened.", u"Capture Failed");
    return nullptr;
  }
  HMessage* message = createInputMessage("image/jpeg");
  if (!message) return nullptr;
  appendInPieces(message, bytes.data(), bytes.size());
  return message;
}

void appendInPieces(HMessage* message, const uint8_t* bytes, size_t size) {
  constexpr size_t kPiece = 4096;
  if (size == 0) KS_ContinueMessage(message, nullptr, 0, 1);
  for (size_t at = 0; at < size; at += kPiece) {
    size_t n = std::min(kPiece, size - at);
    KS_ContinueMessage(message, bytes + at, int(n), at + n == size ? 1 : 0);
  }
}

void ViewPhotoMessage(HMessage* message) {
  if (!message) return;
  const MessageData d = olvaro::messageData(message);
  std::u16string path = tempFolder() + u"image.jpg";
  HANDLE out = CreateFile(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    // The viewer may still hold the last photo: "image.jpg" becomes "imag1.jpg".
    path[path.size() - 5] = u'1';
    out = CreateFile(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
      MessageBeep(0xFFFFFFFF);
      return;
    }
  }
  DWORD written = 0;
  bool ok = d.payloadLength <= 0 || (WriteFile(out, d.payload, DWORD(d.payloadLength), &written, nullptr) &&
                                     written == DWORD(d.payloadLength));
  CloseHandle(out);
  if (!ok) return;
  SHELLEXECUTEINFO info{};
  info.cbSize = sizeof info;
  info.lpFile = path.c_str();
  info.nShow = SW_SHOWNORMAL;
  ShellExecuteEx(&info);
}

CaptureButton::CaptureButton(HWND parent, HWND window) : InputButton(parent, window) {}

LRESULT CaptureButton::onKey(UINT key, bool down, LPARAM repeatData) {
  if (key != VK_RETURN && key != VK_SPACE) return InputButton::onKey(key, down, repeatData);
  if (down) {
    if (!(repeatData & (1 << 30))) {
      m_pressed = true;
      InvalidateRect(hwnd(), nullptr, FALSE);
    }
  } else if (m_pressed) {
    m_pressed = false;
    InvalidateRect(hwnd(), nullptr, FALSE);
    capture();
  }
  return 0;
}

LRESULT CaptureButton::onKillFocus(HWND next) {
  m_pressed = false;
  return InputButton::onKillFocus(next);
}

LRESULT CaptureButton::onStylusDown(bool, int, int) {
  SetFocus(hwnd());
  SetCapture(hwnd());
  m_pressed = true;
  InvalidateRect(hwnd(), nullptr, FALSE);
  return 0;
}

LRESULT CaptureButton::onStylusUp(int, int) {
  ReleaseCapture();
  bool was = m_pressed;
  m_pressed = false;
  InvalidateRect(hwnd(), nullptr, FALSE);
  if (was) capture();
  return 0;
}

void CaptureButton::capture() {
  HMessage* message = capturePhotoMessage(window());
  if (!message) return;
  SendMessage(window(), kInputMessage, WPARAM(hwnd()), LPARAM(message));
  KS_ReleaseMessage(message);
}

LRESULT CaptureButton::onPaint() {
  paintFace(114, m_pressed);
  return 0;
}

}  // namespace messaging
