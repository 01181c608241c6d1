// Playback of received voice messages: one at a time per conversation,
// on a thread of that conversation's that takes the hub's audio lock, so
// playbacks and recording never overlap; a few more wait their turn.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "olvaro/api.h"
#include "platform/handles.h"
#include "platform/wave.h"

namespace messaging {

// Plays a voice message in `conversation` (its window's peer; null: the
// conversation the message belongs to) after the ones already waiting
// there. Asked for the message that is playing, it stops it instead; a
// message already waiting, or one too many, is not queued again. The
// caller may release its reference at once.
void PlayVoiceMessageIn(HMessage* message, const void* conversation);
void PlayVoiceMessage(HMessage* message);

// The conversation's window closes: its playback stops, the waiting go.
void StopVoicePlayback(const void* conversation);

// For the plug-in's stop: cuts every playback short and waits until every
// playback thread has left the plug-in's code.
void StopVoicePlayback();

// Conversations whose playback thread is running.
int RunningVoicePlaybacks();

// One playback: the wave-out device on the wave mapper, signalling an
// auto-reset event for each finished buffer, and the audio device kept at
// full power while it lives.
class VoicePlayer {
 public:
  enum class Kind { Speex, Gsm };
  // `stop` cuts this playback short.
  VoicePlayer(Kind kind, const std::atomic<bool>& stop);
  ~VoicePlayer();
  VoicePlayer(const VoicePlayer&) = delete;
  VoicePlayer& operator=(const VoicePlayer&) = delete;

  bool isOpen() const { return device_ != nullptr; }
  // Ten 65-byte blocks a buffer, as they were recorded.
  void playGsm(const uint8_t* data, size_t length);
  // Decoded in groups of up to ten frames. A corrupt length ends decoding;
  // what came before it plays.
  void playSpeex(const uint8_t* data, size_t length);

 private:
  struct Buffer;
  // Writes the buffers `fill` makes (false: no more) as the device plays
  // them, at most about 11 in flight, reusing their memory.
  template <class Fill>
  void stream(Fill fill);
  // Waits up to a second for a finished buffer; false once playback is
  // being cut short.
  bool waitOnce();
  bool isDone(const WAVEHDR& header) const;

  HWAVEOUT device_ = nullptr;
  HANDLE event_ = nullptr;
  HANDLE power_ = nullptr;
  const std::atomic<bool>& stop_;
};

}  // namespace messaging
