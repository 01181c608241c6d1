#include "photo.h"

#include <map>
#include <string_view>
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
#include "platform/text.h"
#include "platform/sound.h"

namespace messaging {
namespace {

using CameraCapture = HRESULT (*)(PSHCAMERACAPTURE);

// Photos go where no other user can read them or plant a link: the shared
// temporary folder would let anyone swap what "View" opens. Empty when there
// is no such folder.
std::u16string tempFolder() { return platform::widen(platform::privateTempFolder()); }

// The photo files written, each with the window it was written for.
std::map<std::u16string, HWND>& photoFiles() {
  static auto* files = new std::map<std::u16string, HWND>;
  return *files;
}

void notePhotoFile(const std::u16string& path, HWND owner) {
  std::u16string folder = tempFolder();
  if (!folder.empty() && path.starts_with(folder)) photoFiles()[path] = owner;
}

// A new file of the user's alone at `path`: the old one goes first (unless
// the viewer holds it), then the name is created exclusively, so nothing
// found there, a link included, is written through.
HANDLE createPhotoFile(const std::u16string& path) {
  if (!DeleteFile(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) return INVALID_HANDLE_VALUE;
  return CreateFile(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
}

// What every JPEG begins with: the start-of-image marker and another marker.
bool looksLikeJpeg(std::string_view bytes) {
  return bytes.size() >= 3 && uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xD8 && uint8_t(bytes[2]) == 0xFF;
}

HRESULT runCamera(HWND owner, std::u16string* file) {
  HMODULE shell = LoadLibrary(u"aygshell.dll");
  if (!shell) return E_NOTIMPL;
  auto capture = reinterpret_cast<CameraCapture>(GetProcAddress(shell, "SHCameraCapture"));
  HRESULT hr = E_NOTIMPL;
  std::u16string folder = tempFolder();
  if (capture && folder.empty()) {
    hr = E_FAIL;
  } else if (capture) {
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
  notePhotoFile(file, owner);
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

void ViewPhotoMessage(HMessage* message, HWND owner) {
  if (!message) return;
  const MessageData d = olvaro::messageData(message);
  std::u16string folder = tempFolder();
  if (folder.empty() || !looksLikeJpeg(payloadOf(d))) {
    MessageBeep(0xFFFFFFFF);
    return;
  }
  std::u16string path = folder + u"image.jpg";
  HANDLE out = createPhotoFile(path);
  if (out == INVALID_HANDLE_VALUE) {
    // The viewer may still hold the last photo: "image.jpg" becomes "imag1.jpg".
    path[path.size() - 5] = u'1';
    out = createPhotoFile(path);
    if (out == INVALID_HANDLE_VALUE) {
      MessageBeep(0xFFFFFFFF);
      return;
    }
  }
  notePhotoFile(path, owner);
  DWORD written = 0;
  bool ok = WriteFile(out, d.payload, DWORD(d.payloadLength), &written, nullptr) && written == DWORD(d.payloadLength);
  CloseHandle(out);
  if (!ok) return;
  SHELLEXECUTEINFO info{};
  info.cbSize = sizeof info;
  info.lpFile = path.c_str();
  info.nShow = SW_SHOWNORMAL;
  ShellExecuteEx(&info);
}

void removePhotoFiles(HWND owner) {
  auto& files = photoFiles();
  for (auto it = files.begin(); it != files.end();) {
    if (it->second != owner) {
      ++it;
    } else if (DeleteFile(it->first.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) {
      it = files.erase(it);
    } else {
      // Held open still: tried again at the end.
      it->second = nullptr;
      ++it;
    }
  }
}

void removeAllPhotoFiles() {
  auto& files = photoFiles();
  for (auto& [path, owner] : files) DeleteFile(path.c_str());
  files.clear();
  std::u16string folder = tempFolder();
  if (!folder.empty()) RemoveDirectory(folder.c_str());
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
