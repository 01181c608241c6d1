#include "voice_codec.h"

#include <speex/speex.h>

#include <algorithm>
#include <cstring>

extern "C" {
#include <gsm.h>
}

namespace messaging::voice {

struct SpeexEncoder::Bits {
  SpeexBits bits;
};
struct SpeexPayloadDecoder::Bits {
  SpeexBits bits;
};

SpeexEncoder::SpeexEncoder() : bits_(std::make_unique<Bits>()) {
  state_ = speex_encoder_init(speex_lib_get_mode(SPEEX_MODEID_WB));
  int on = 1;
  speex_encoder_ctl(state_, SPEEX_SET_VBR, &on);
  speex_encoder_ctl(state_, SPEEX_SET_DTX, &on);
  float quality = 1.0f;
  speex_encoder_ctl(state_, SPEEX_SET_VBR_QUALITY, &quality);
  speex_encoder_ctl(state_, SPEEX_GET_FRAME_SIZE, &frameSize_);
  speex_bits_init(&bits_->bits);
}

SpeexEncoder::~SpeexEncoder() {
  speex_bits_destroy(&bits_->bits);
  speex_encoder_destroy(state_);
}

size_t SpeexEncoder::encode(const int16_t* samples, size_t count, uint8_t* out, size_t capacity) {
  const size_t frame = static_cast<size_t>(frameSize_);
  std::vector<spx_int16_t> pcm(frame);
  size_t written = 0;
  while (count > 0 && capacity - written > 2) {
    // The encoder always reads a whole frame; a short tail is padded.
    const size_t take = std::min(frame, count);
    std::fill(pcm.begin(), pcm.end(), 0);
    std::memcpy(pcm.data(), samples, take * sizeof(int16_t));
    speex_bits_reset(&bits_->bits);
    speex_encode_int(state_, pcm.data(), &bits_->bits);
    const size_t room = std::min<size_t>(capacity - written - 2, 0xFFFF);
    const int n = speex_bits_write(&bits_->bits, reinterpret_cast<char*>(out + written + 2), static_cast<int>(room));
    out[written] = static_cast<uint8_t>(n & 0xFF);
    out[written + 1] = static_cast<uint8_t>((n >> 8) & 0xFF);
    written += static_cast<size_t>(n) + 2;
    samples += take;
    count -= take;
  }
  return written;
}

std::vector<uint8_t> SpeexEncoder::encodeBuffer(const void* pcm, size_t bytes) {
  // Device bytes need not be aligned for int16_t.
  std::vector<int16_t> samples(bytes / 2);
  if (!pcm || samples.empty()) return {};
  std::memcpy(samples.data(), pcm, samples.size() * sizeof(int16_t));
  std::vector<uint8_t> out(kSpeexOutputCapacity);
  out.resize(encode(samples.data(), samples.size(), out.data(), out.size()));
  return out;
}

SpeexPayloadDecoder::SpeexPayloadDecoder(const uint8_t* data, size_t length)
    : data_(data), length_(data ? length : 0), bits_(std::make_unique<Bits>()) {
  state_ = speex_decoder_init(speex_lib_get_mode(SPEEX_MODEID_WB));
  int on = 1;
  speex_decoder_ctl(state_, SPEEX_SET_ENH, &on);
  speex_decoder_ctl(state_, SPEEX_GET_FRAME_SIZE, &frameSize_);
  speex_bits_init(&bits_->bits);
}

SpeexPayloadDecoder::~SpeexPayloadDecoder() {
  speex_bits_destroy(&bits_->bits);
  speex_decoder_destroy(state_);
}

size_t SpeexPayloadDecoder::decode(int16_t* out, int maxFrames) {
  size_t decoded = 0;
  for (int f = 0; f < maxFrames && !ended_; ++f) {
    if (length_ - pos_ < 2) {
      ended_ = true;
      break;
    }
    const int n = static_cast<int16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    // Negative, past the payload, or more than the bit buffer holds: the
    // rest of the payload cannot be trusted.
    if (n < 0 || static_cast<size_t>(n) > length_ - pos_ - 2 || n > bits_->bits.buf_size) {
      ended_ = corrupt_ = true;
      break;
    }
    speex_bits_read_from(&bits_->bits, reinterpret_cast<const char*>(data_ + pos_ + 2), n);
    pos_ += static_cast<size_t>(n) + 2;
    int16_t* frame = out + decoded;
    // A frame the decoder rejects still takes its time, as silence.
    if (speex_decode_int(state_, &bits_->bits, frame) < 0) std::fill(frame, frame + frameSize_, 0);
    decoded += static_cast<size_t>(frameSize_);
  }
  return decoded;
}

std::vector<int16_t> SpeexPayloadDecoder::nextBuffer() {
  std::vector<int16_t> pcm(kPlaybackBufferBytes / 2);
  const int frames = std::min<int>(kPlaybackFramesPerBuffer, static_cast<int>(pcm.size()) / frameSize_);
  pcm.resize(decode(pcm.data(), frames));
  return pcm;
}

std::vector<int16_t> decodeSpeexPayload(const uint8_t* data, size_t length) {
  SpeexPayloadDecoder decoder(data, length);
  std::vector<int16_t> all;
  for (auto part = decoder.nextBuffer(); !part.empty(); part = decoder.nextBuffer())
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

GsmCodec::GsmCodec() {
  int wav49 = 1;
  encoder_ = gsm_create();
  decoder_ = gsm_create();
  gsm_option(static_cast<gsm>(encoder_), GSM_OPT_WAV49, &wav49);
  gsm_option(static_cast<gsm>(decoder_), GSM_OPT_WAV49, &wav49);
}

GsmCodec::~GsmCodec() {
  gsm_destroy(static_cast<gsm>(encoder_));
  gsm_destroy(static_cast<gsm>(decoder_));
}

// In this framing the first frame of a block takes 32 bytes and a half
// when written, and is read as 33; the second follows.
void GsmCodec::encodeBlock(const int16_t* samples, uint8_t* block) {
  gsm_signal pcm[kGsmBlockSamples];
  std::memcpy(pcm, samples, sizeof pcm);
  gsm_encode(static_cast<gsm>(encoder_), pcm, block);
  gsm_encode(static_cast<gsm>(encoder_), pcm + 160, block + 32);
}

bool GsmCodec::decodeBlock(const uint8_t* block, int16_t* samples) {
  gsm_byte in[kGsmBlockBytes];
  std::memcpy(in, block, sizeof in);
  gsm_signal pcm[kGsmBlockSamples];
  const bool ok = gsm_decode(static_cast<gsm>(decoder_), in, pcm) == 0 &&
                  gsm_decode(static_cast<gsm>(decoder_), in + 33, pcm + 160) == 0;
  if (ok)
    std::memcpy(samples, pcm, sizeof pcm);
  else
    std::fill(samples, samples + kGsmBlockSamples, 0);
  return ok;
}

VoiceCodec voiceCodecFor(std::string_view contentType) {
  if (contentType == kSpeexContentType) return VoiceCodec::Speex;
  if (contentType == kGsmContentType) return VoiceCodec::Gsm;
  return VoiceCodec::None;
}

std::unique_ptr<RecordingEncoder> RecordingEncoder::create(VoiceCodec codec) {
  if (codec == VoiceCodec::None) return nullptr;
  return std::make_unique<RecordingEncoder>(codec);
}

RecordingEncoder::RecordingEncoder(VoiceCodec codec) : codec_(codec) {
  if (codec_ == VoiceCodec::Speex) speex_ = std::make_unique<SpeexEncoder>();
}

size_t RecordingEncoder::bufferBytes() const {
  if (speex_) return speex_->bufferBytes();
  return codec_ == VoiceCodec::Gsm ? kGsmBufferBytes : 0;
}

std::vector<uint8_t> RecordingEncoder::piece(const void* data, size_t bytes) {
  if (!data || bytes == 0) return {};
  if (speex_) return speex_->encodeBuffer(data, bytes);
  if (codec_ == VoiceCodec::Gsm) {
    const auto* p = static_cast<const uint8_t*>(data);
    return std::vector<uint8_t>(p, p + bytes);
  }
  return {};
}

std::vector<uint8_t> encodeGsm(const int16_t* samples, size_t count) {
  GsmCodec codec;
  const size_t blocks = count / kGsmBlockSamples;
  std::vector<uint8_t> out(blocks * kGsmBlockBytes);
  for (size_t b = 0; b < blocks; ++b)
    codec.encodeBlock(samples + b * kGsmBlockSamples, out.data() + b * kGsmBlockBytes);
  return out;
}

std::vector<int16_t> decodeGsmPayload(const uint8_t* data, size_t length) {
  GsmCodec codec;
  const size_t blocks = data ? length / kGsmBlockBytes : 0;
  std::vector<int16_t> out(blocks * kGsmBlockSamples);
  for (size_t b = 0; b < blocks; ++b)
    codec.decodeBlock(data + b * kGsmBlockBytes, out.data() + b * kGsmBlockSamples);
  return out;
}

}  // namespace messaging::voice
