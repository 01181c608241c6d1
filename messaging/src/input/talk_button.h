// The Voice tab's push-to-talk button. Holding Enter, Space or "0" on it,
// or the stylus, records a voice message that is handed to the
// conversation window at the press and streamed while it grows; letting
// go, or the focus leaving, ends it.
#pragma once

#include <memory>
#include <string>

#include "input_button.h"
#include "olvaro/api.h"
#include "voice_recorder.h"

namespace messaging {

class TalkButton : public InputButton {
 public:
  static constexpr size_t kCodecBytes = 128;

  // `window` is the conversation window the recorded messages go to.
  TalkButton(HWND parent, HWND window);
  ~TalkButton() override;

  const char* codec() const { return m_codec; }
  bool recording() const { return m_recorder != nullptr; }
  HMessage* message() const { return m_message; }
  VoiceRecorder* recorder() const { return m_recorder.get(); }

  LRESULT windowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 protected:
  LRESULT onKey(UINT key, bool down, LPARAM repeatData) override;
  LRESULT onKillFocus(HWND next) override;
  LRESULT onStylusDown(bool doubleTap, int x, int y) override;
  LRESULT onStylusUp(int x, int y) override;
  LRESULT onPaint() override;

 private:
  void startRecording();
  void stopRecording();
  // Releases the message and the audio lock once the recorder is gone.
  void finish();
  // Label and picture follow the recording state.
  void showState();
  static bool isTalkKey(UINT key) { return key == VK_RETURN || key == VK_SPACE || key == '0'; }

  char m_codec[kCodecBytes] = {};
  std::unique_ptr<VoiceRecorder> m_recorder;
  HMessage* m_message = nullptr;
};

}  // namespace messaging
