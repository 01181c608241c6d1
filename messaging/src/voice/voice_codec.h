// The codec layer of voice messages, free of any device: what the recorder
// appends to a message for each recorded buffer, and what the playback
// thread decodes from a received payload before writing it to the wave
// output. The recorder and the player own the devices and call in here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace messaging::voice {

inline constexpr std::string_view kSpeexContentType = "audio/x-speex";
inline constexpr std::string_view kGsmContentType = "audio/ms-gsm";

// Speex records 16 kHz 16-bit mono PCM; one recorded buffer is four frame
// sizes of bytes (two frames), and its encoded output is bounded.
inline constexpr int kSpeexSampleRate = 16000;
inline constexpr size_t kSpeexOutputCapacity = 4096;

// Playback: groups of at most ten frames in 6400-byte PCM buffers, and at
// most about 11 of them handed to the device at once.
inline constexpr int kPlaybackFramesPerBuffer = 10;
inline constexpr size_t kPlaybackBufferBytes = 6400;
inline constexpr size_t kMaxQueuedPlaybackBuffers = 11;

// True while the player must wait for its oldest buffer to finish before it
// hands the device another one.
inline bool playbackMustWait(size_t queuedBuffers) { return queuedBuffers >= kMaxQueuedPlaybackBuffers; }

// GSM 6.10 as the wave driver frames it: 65-byte blocks of 320 samples at
// 8000 samples/s (two 160-sample frames each), ten blocks a recorded buffer.
inline constexpr int kGsmSampleRate = 8000;
inline constexpr size_t kGsmBlockBytes = 65;
inline constexpr size_t kGsmBlockSamples = 320;
inline constexpr size_t kGsmBufferBytes = 650;

// Wide band, VBR, DTX, VBR quality 1.0: one encoder per recording.
class SpeexEncoder {
 public:
  SpeexEncoder();
  ~SpeexEncoder();
  SpeexEncoder(const SpeexEncoder&) = delete;
  SpeexEncoder& operator=(const SpeexEncoder&) = delete;

  // Samples per frame (320 for wide band).
  int frameSize() const { return frameSize_; }
  // Bytes of PCM the recorder hands the device per buffer: 4 x frame size.
  size_t bufferBytes() const { return 4 * static_cast<size_t>(frameSize_); }

  // Encodes `count` samples into `out` as frames of a 16-bit little-endian
  // length and the frame's bits; writes at most `capacity` bytes and
  // returns how many. A short last frame is padded with silence.
  size_t encode(const int16_t* samples, size_t count, uint8_t* out, size_t capacity);
  // One recorded buffer of little-endian PCM bytes, as appended to the
  // message: at most kSpeexOutputCapacity bytes.
  std::vector<uint8_t> encodeBuffer(const void* pcm, size_t bytes);

 private:
  void* state_ = nullptr;
  struct Bits;
  std::unique_ptr<Bits> bits_;
  int frameSize_ = 0;
};

// Reads an "audio/x-speex" payload frame by frame. A length that is
// negative, runs past the payload or exceeds the bit buffer ends decoding;
// nothing is read outside [data, data + length).
class SpeexPayloadDecoder {
 public:
  SpeexPayloadDecoder(const uint8_t* data, size_t length);
  ~SpeexPayloadDecoder();
  SpeexPayloadDecoder(const SpeexPayloadDecoder&) = delete;
  SpeexPayloadDecoder& operator=(const SpeexPayloadDecoder&) = delete;

  int frameSize() const { return frameSize_; }
  // Decodes up to `maxFrames` frames into `out` (room for maxFrames x frame
  // size samples) and returns the samples decoded; 0 means the end.
  size_t decode(int16_t* out, int maxFrames);
  // The next playback buffer: up to ten frames (6400 bytes of PCM).
  std::vector<int16_t> nextBuffer();
  bool ended() const { return ended_; }
  // The end came from a corrupt length rather than the payload's end.
  bool corrupt() const { return corrupt_; }

 private:
  const uint8_t* data_;
  size_t length_;
  size_t pos_ = 0;
  void* state_ = nullptr;
  struct Bits;
  std::unique_ptr<Bits> bits_;
  int frameSize_ = 0;
  bool ended_ = false;
  bool corrupt_ = false;
};

// The whole payload as 16 kHz PCM.
std::vector<int16_t> decodeSpeexPayload(const uint8_t* data, size_t length);

// GSM 6.10 in the driver's 65-byte framing. The recorder sends the driver's
// blocks unchanged; this is what makes and reads them.
class GsmCodec {
 public:
  GsmCodec();
  ~GsmCodec();
  GsmCodec(const GsmCodec&) = delete;
  GsmCodec& operator=(const GsmCodec&) = delete;

  // 320 samples in, one 65-byte block out.
  void encodeBlock(const int16_t* samples, uint8_t* block);
  // One 65-byte block in, 320 samples out; false (and silence) when the
  // block does not decode.
  bool decodeBlock(const uint8_t* block, int16_t* samples);

 private:
  void* encoder_ = nullptr;
  void* decoder_ = nullptr;
};

// The recorder variant for a codec setting; None for any other text, for
// which nothing is recorded.
enum class VoiceCodec { None, Speex, Gsm };
VoiceCodec voiceCodecFor(std::string_view contentType);

// What the recorder appends for each recorded buffer: GSM blocks unchanged,
// Speex encoded. One per recording (the Speex encoder keeps state).
class RecordingEncoder {
 public:
  // Null for VoiceCodec::None.
  static std::unique_ptr<RecordingEncoder> create(VoiceCodec codec);
  explicit RecordingEncoder(VoiceCodec codec);
  VoiceCodec codec() const { return codec_; }
  // Bytes per buffer handed to the wave input: 1280 for Speex, 650 for GSM.
  size_t bufferBytes() const;
  // The piece to append for `bytes` recorded bytes.
  std::vector<uint8_t> piece(const void* data, size_t bytes);

 private:
  VoiceCodec codec_;
  std::unique_ptr<SpeexEncoder> speex_;
};

// Whole blocks only: a trailing partial block is dropped.
std::vector<uint8_t> encodeGsm(const int16_t* samples, size_t count);
std::vector<int16_t> decodeGsmPayload(const uint8_t* data, size_t length);

}  // namespace messaging::voice
