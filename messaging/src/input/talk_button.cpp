#include "talk_button.h"

#include "conversation_input.h"
#include "platform/module.h"
#include "platform/resources.h"
#include "platform/sound.h"

namespace messaging {
namespace {

constexpr UINT kPushToTalkText = 108;
constexpr UINT kReleaseToSendText = 113;
constexpr UINT kPlainBeep = 0xFFFFFFFF;
constexpr LPARAM kWasDown = LPARAM(1) << 30;

}  // namespace

TalkButton::TalkButton(HWND parent, HWND window)
    : InputButton(parent, window) {
  KS_GetSettingString("audio.recording.codec", std::string(voice::kSpeexContentType).c_str(), m_codec,
                      int(sizeof m_codec));
  showState();
}

void TalkButton::showState() {
  // The window text says what the button shows, for whoever reads windows.
  std::u16string label =
      platform::loadStringWide(platform::currentModule(), recording() ? kReleaseToSendText : kPushToTalkText);
  SetWindowText(hwnd(), label.c_str());
  InvalidateRect(hwnd(), nullptr, FALSE);
}

TalkButton::~TalkButton() {
  // A window closed mid-recording still completes what it streamed and
  // gives the audio back.
  stopRecording();
}

void TalkButton::startRecording() {
  if (m_recorder || m_message) return;
  if (!KS_AudioTryLock()) {
    MessageBeep(kPlainBeep);
    return;
  }
  // Without a recorder nothing would ever complete the message or give the
  // lock back: an unknown codec, or a device that will not record, makes
  // no message at all.
  m_recorder = VoiceRecorder::create(voice::voiceCodecFor(m_codec), hwnd());
  if (!m_recorder || !m_recorder->start()) {
    m_recorder.reset();
    KS_AudioUnlock();
    MessageBeep(kPlainBeep);
    return;
  }
  showState();
  m_message = createInputMessage(m_codec);
  if (!m_message) {
    m_recorder.reset();
    finish();
    return;
  }
  SendMessage(window(), kInputMessage, WPARAM(hwnd()), LPARAM(m_message));
}

void TalkButton::stopRecording() {
  if (!m_recorder) return;
  m_recorder->stop(m_message);
  m_recorder.reset();
  finish();
}

void TalkButton::finish() {
  if (m_message) KS_ReleaseMessage(m_message);
  m_message = nullptr;
  KS_AudioUnlock();
  showState();
}

LRESULT TalkButton::windowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == MM_WIM_DATA) {
    if (m_recorder && m_message)
      m_recorder->onData(reinterpret_cast<HWAVEIN>(wParam), reinterpret_cast<WAVEHDR*>(lParam), m_message);
    return 0;
  }
  return Control::windowProc(msg, wParam, lParam);
}

LRESULT TalkButton::onKey(UINT key, bool down, LPARAM repeatData) {
  if (!isTalkKey(key)) return InputButton::onKey(key, down, repeatData);
  if (!down)
    stopRecording();
  else if (!(repeatData & kWasDown))
    startRecording();
  return 0;
}

LRESULT TalkButton::onKillFocus(HWND next) {
  stopRecording();
  return InputButton::onKillFocus(next);
}

LRESULT TalkButton::onStylusDown(bool, int, int) {
  SetFocus(hwnd());
  SetCapture(hwnd());
  startRecording();
  return 0;
}

LRESULT TalkButton::onStylusUp(int, int) {
  ReleaseCapture();
  stopRecording();
  return 0;
}

LRESULT TalkButton::onPaint() {
  paintFace(recording() ? kReleaseToSendText : kPushToTalkText, recording());
  return 0;
}

}  // namespace messaging
