// Playback of received voice messages, each on a thread of its own that
// takes the hub's audio lock, so playbacks and recording never overlap.
#pragma once

#include <cstddef>
#include <cstdint>

#include "olvaro/api.h"
#include "platform/handles.h"
#include "platform/wave.h"

namespace messaging {

// Plays a voice message on a new thread. Returns once that thread holds a
// reference of its own, so the caller may release its reference at once.
void PlayVoiceMessage(HMessage* message);

// For the plug-in's stop: cuts running playbacks short, waits until every
// playback thread has left the plug-in's code, and closes the handshake.
void StopVoicePlayback();

// Playback threads started and not yet ended.
int RunningVoicePlaybacks();

// One playback: the wave-out device on the wave mapper, signalling an
// auto-reset event for each finished buffer, and the audio device kept at
// full power while it lives.
class VoicePlayer {
 public:
  enum class Kind { Speex, Gsm };
  explicit VoicePlayer(Kind kind);
  ~VoicePlayer();
  VoicePlayer(const VoicePlayer&) = delete;
  VoicePlayer& operator=(const VoicePlayer&) = delete;

  bool isOpen() const { return device_ != nullptr; }
  // The whole payload as one buffer of 65-byte blocks.
  void playGsm(const uint8_t* data, size_t length);
  // Decoded in groups of up to ten frames, at most about 11 buffers in
  // flight. A corrupt length ends decoding; what came before it plays.
  void playSpeex(const uint8_t* data, size_t length);

 private:
  struct Buffer;
  // Waits up to a second for a finished buffer; false once playback is
  // being cut short.
  bool waitOnce();
  bool isDone(const WAVEHDR& header) const;

  HWAVEOUT device_ = nullptr;
  HANDLE event_ = nullptr;
  HANDLE power_ = nullptr;
};

}  // namespace messaging
