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

  // The variant for `codec` (Speex or GSM), notifying `window`; null for
  // VoiceCodec::None.
  static std::unique_ptr<VoiceRecorder> create(voice::VoiceCodec codec, HWND window);
  virtual ~VoiceRecorder();
  VoiceRecorder(const VoiceRecorder&) = delete;
  VoiceRecorder& operator=(const VoiceRecorder&) = delete;

  // Opens the device, queues ten buffers and starts it; false (and the
  // device closed again) when the platform refuses any of that.
  bool start();
  // A device notice for `header`. Appends what it holds to `message` and
  // hands the buffer back, or, while stopping, lets it go. True when this
  // was the last buffer of a stopping recorder: the message was completed
  // and the recorder is done. Headers not queued here (a notice posted
  // before an earlier recorder was destroyed) are ignored.
  bool onData(HWAVEIN device, WAVEHDR* header, HMessage* message);
  // Stops recording: every queued buffer is let go unsent, `message` is
  // completed with nothing more, the device is closed.
  void stop(HMessage* message);

  HWAVEIN device() const { return m_device; }
  size_t bufferBytes() const { return m_bufferBytes; }
  size_t queued() const { return m_queue.size(); }
  bool stopping() const { return m_stopping; }
  virtual voice::VoiceCodec codec() const = 0;

 protected:
  explicit VoiceRecorder(HWND window) : m_window(window) {}
  size_t m_bufferBytes = 0;
  virtual const WAVEFORMATEX* format() const = 0;
  // The piece appended for one recorded buffer.
  virtual std::vector<uint8_t> encode(const void* data, size_t bytes) = 0;

 private:
  struct Buffer {
    WAVEHDR header{};
    std::vector<char> data;
  };
  bool queueBuffer(Buffer* buffer);
  void release(Buffer* buffer);
  void releaseAll();
  void close();
  std::deque<Buffer*>::iterator findQueued(const WAVEHDR* header);

  HWND m_window;
  HWAVEIN m_device = nullptr;
  std::deque<Buffer*> m_queue;
  bool m_stopping = false;
};

// Wide-band Speex: 16 kHz PCM in buffers of two frames, each buffer encoded
// to length-prefixed frames.
class SpeexRecorder : public VoiceRecorder {
 public:
  explicit SpeexRecorder(HWND window);
  voice::VoiceCodec codec() const override { return voice::VoiceCodec::Speex; }

 protected:
  const WAVEFORMATEX* format() const override { return &m_format; }
  std::vector<uint8_t> encode(const void* data, size_t bytes) override;

 private:
  std::unique_ptr<voice::SpeexEncoder> m_encoder;
  WAVEFORMATEX m_format{};
};

// GSM 6.10 from the driver: ten 65-byte blocks a buffer, sent as they are.
class GsmRecorder : public VoiceRecorder {
 public:
  explicit GsmRecorder(HWND window);
  voice::VoiceCodec codec() const override { return voice::VoiceCodec::Gsm; }

 protected:
  const WAVEFORMATEX* format() const override { return &m_format.wfx; }
  std::vector<uint8_t> encode(const void* data, size_t bytes) override;

 private:
  GSM610WAVEFORMAT m_format{};
};

}  // namespace messaging
