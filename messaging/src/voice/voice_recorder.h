// VoiceRecorder: the wave input of one voice recording. It keeps ten
// buffers queued on the device, which returns each full one to the talk
// button's window as MM_WIM_DATA; the button hands it back here and the
// recorded piece is appended to the message being streamed.
#pragma once

#include <deque>
#include <memory>
#include <vector>

#include "olvaro/api.h"
#include "platform/wave.h"
#include "voice_codec.h"

namespace messaging {

class VoiceRecorder {
 public:
  static constexpr size_t kQueuedBuffers = 10;

  // The recorder for `codec`: 16 kHz PCM encoded as Speex, or the driver's
  // GSM 6.10 blocks sent as they are; null for VoiceCodec::None. Notices go
  // to `window`.
  static std::unique_ptr<VoiceRecorder> create(voice::VoiceCodec codec, HWND window);
  ~VoiceRecorder();
  VoiceRecorder(const VoiceRecorder&) = delete;
  VoiceRecorder& operator=(const VoiceRecorder&) = delete;

  // Opens the device, queues ten buffers and starts it; false (and the
  // device closed again) when the platform refuses any of that.
  bool start();
  // A device notice for `header`: appends what it holds to `message` and
  // hands the buffer back. Headers not queued here (a notice posted before
  // an earlier recorder was destroyed, or before a stop) are ignored.
  void onData(HWAVEIN device, WAVEHDR* header, HMessage* message);
  // Stops recording: every queued buffer is let go unsent, `message` is
  // completed with nothing more, the device is closed.
  void stop(HMessage* message);

  size_t bufferBytes() const { return m_encoder->bufferBytes(); }
  size_t queued() const { return m_queue.size(); }

 private:
  struct Buffer {
    WAVEHDR header{};
    std::vector<char> data;
  };
  VoiceRecorder(std::unique_ptr<voice::RecordingEncoder> encoder, HWND window);
  bool queueBuffer(Buffer* buffer);
  void release(Buffer* buffer);
  void releaseAll();
  void close();

  std::unique_ptr<voice::RecordingEncoder> m_encoder;
  // The Speex format is the plain record at its front.
  GSM610WAVEFORMAT m_format{};
  HWND m_window;
  HWAVEIN m_device = nullptr;
  std::deque<Buffer*> m_queue;
};

}  // namespace messaging
