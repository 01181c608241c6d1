// Voice codecs on real speech: the Speex payload as the recorder appends it,
// byte for byte, decoding that follows the spoken input, the corrupt
// lengths a peer may send, and GSM blocks in the driver's framing.
#include <gtest/gtest.h>

#include <speex/speex.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "testkit/speech.h"
#include "voice_codec.h"

namespace {

using namespace messaging::voice;

using testkit::speechAt;

// The frames of one appended piece, as (length, bytes) pairs; fails the
// test when the piece is not exactly a sequence of length-prefixed frames.
std::vector<std::vector<uint8_t>> splitFrames(const std::vector<uint8_t>& piece) {
  std::vector<std::vector<uint8_t>> frames;
  size_t at = 0;
  while (at + 2 <= piece.size()) {
    const size_t n = piece[at] | (piece[at + 1] << 8);
    EXPECT_LE(at + 2 + n, piece.size());
    if (at + 2 + n > piece.size()) break;
    frames.emplace_back(piece.begin() + at + 2, piece.begin() + at + 2 + n);
    at += 2 + n;
  }
  EXPECT_EQ(at, piece.size());
  return frames;
}

TEST(VoiceSpeex, TwoSecondsAreFiftyBuffersOfTwoFramesAsTheLibraryEncodesThem) {
  const auto pcm = speechAt(kSpeexSampleRate);
  ASSERT_GE(pcm.size(), 2u * kSpeexSampleRate) << "espeak-ng made no speech";

  SpeexEncoder encoder;
  ASSERT_EQ(encoder.frameSize(), 320);
  ASSERT_EQ(encoder.bufferBytes(), 1280u);

  // An independent encoder with the recorder's settings, frame by frame.
  void* ref = speex_encoder_init(speex_lib_get_mode(SPEEX_MODEID_WB));
  int on = 1;
  float q = 1.0f;
  speex_encoder_ctl(ref, SPEEX_SET_VBR, &on);
  speex_encoder_ctl(ref, SPEEX_SET_DTX, &on);
  speex_encoder_ctl(ref, SPEEX_SET_VBR_QUALITY, &q);
  SpeexBits bits;
  speex_bits_init(&bits);

  const auto* bytes = reinterpret_cast<const uint8_t*>(pcm.data());
  std::vector<uint8_t> payload;
  size_t buffers = 0;
  for (size_t at = 0; at + encoder.bufferBytes() <= 2u * kSpeexSampleRate * 2; at += encoder.bufferBytes()) {
    // Odd offsets: the device's bytes need not be aligned.
    std::vector<uint8_t> device(encoder.bufferBytes() + 1);
    std::memcpy(device.data() + 1, bytes + at, encoder.bufferBytes());
    const auto piece = encoder.encodeBuffer(device.data() + 1, encoder.bufferBytes());
    ++buffers;
    const auto frames = splitFrames(piece);
    ASSERT_EQ(frames.size(), 2u) << "buffer " << buffers;
    for (int f = 0; f < 2; ++f) {
      std::vector<spx_int16_t> in(pcm.begin() + at / 2 + f * 320, pcm.begin() + at / 2 + (f + 1) * 320);
      speex_bits_reset(&bits);
      speex_encode_int(ref, in.data(), &bits);
      std::vector<char> expect(4096);
      expect.resize(speex_bits_write(&bits, expect.data(), 4094));
      EXPECT_EQ(std::vector<uint8_t>(expect.begin(), expect.end()), frames[f]) << "buffer " << buffers << " frame " << f;
    }
    payload.insert(payload.end(), piece.begin(), piece.end());
  }
  speex_bits_destroy(&bits);
  speex_encoder_destroy(ref);
  EXPECT_EQ(buffers, 50u);

  // Read back: every frame of the two seconds, in playback buffers of at
  // most ten frames, then the end without a corrupt length.
  SpeexPayloadDecoder decoder(payload.data(), payload.size());
  size_t total = 0, groups = 0;
  for (auto part = decoder.nextBuffer(); !part.empty(); part = decoder.nextBuffer()) {
    EXPECT_LE(part.size() * 2, kPlaybackBufferBytes);
    total += part.size(), ++groups;
  }
  EXPECT_EQ(total, 2u * kSpeexSampleRate);
  EXPECT_EQ(groups, 10u);
  EXPECT_TRUE(decoder.ended());
  EXPECT_FALSE(decoder.corrupt());
}

TEST(VoiceSpeex, DecodedSpeechFollowsTheInput) {
  const auto pcm = speechAt(kSpeexSampleRate);
  ASSERT_GT(pcm.size(), 16000u);
  SpeexEncoder encoder;
  std::vector<uint8_t> payload;
  for (size_t at = 0; at + 640 <= pcm.size(); at += 640) {
    const auto piece = encoder.encodeBuffer(pcm.data() + at, 1280);
    payload.insert(payload.end(), piece.begin(), piece.end());
  }
  // Quality 1 is a low rate: well under the PCM's 32000 bytes a second.
  EXPECT_LT(payload.size(), pcm.size() * 2 / 8);
  const auto out = decodeSpeexPayload(payload.data(), payload.size());
  EXPECT_EQ(out.size(), pcm.size() / 640 * 640);
  const double r = testkit::followCorrelation(pcm, kSpeexSampleRate, out, kSpeexSampleRate);
  std::printf("speex: %zu bytes for %.2f s, envelope correlation %.3f\n", payload.size(), pcm.size() / 16000.0, r);
  EXPECT_GT(r, 0.8) << "envelope correlation " << r;
  // Decoded silence would correlate with nothing: the output has energy.
  EXPECT_GT(*std::max_element(out.begin(), out.end()), 1000);
}

TEST(VoiceSpeex, OutputStaysInsideItsCapacityAndShortTailsArePadded) {
  std::vector<int16_t> pcm(1000);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(8000 * std::sin(i * 0.05));
  SpeexEncoder encoder;
  // 1000 samples: three whole frames and a 40-sample tail (read from a
  // buffer exactly that long, so an over-read shows under the sanitizer).
  std::vector<uint8_t> out(4096);
  const size_t n = encoder.encode(pcm.data(), pcm.size(), out.data(), out.size());
  out.resize(n);
  EXPECT_EQ(splitFrames(out).size(), 4u);

  // A tiny capacity: nothing written beyond it, lengths still consistent.
  std::vector<uint8_t> small(16 + 8, 0xEE);
  const size_t m = encoder.encode(pcm.data(), pcm.size(), small.data(), 16);
  EXPECT_LE(m, 16u);
  EXPECT_GT(m, 2u);
  for (size_t i = 16; i < small.size(); ++i) EXPECT_EQ(small[i], 0xEE);
  small.resize(m);
  splitFrames(small);
  EXPECT_EQ(encoder.encode(pcm.data(), pcm.size(), small.data(), 2), 0u);
}

TEST(VoiceSpeex, CorruptLengthsEndDecodingWithoutReadingPastThePayload) {
  SpeexEncoder encoder;
  std::vector<int16_t> tone(640);
  for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<int16_t>(6000 * std::sin(i * 0.1));
  const auto good = encoder.encodeBuffer(tone.data(), 1280);
  ASSERT_EQ(splitFrames(good).size(), 2u);
  const size_t first = 2 + (good[0] | (good[1] << 8));

  // Each payload lives in a buffer of exactly its size.
  auto decodeFrames = [](std::vector<uint8_t> p, bool* corrupt = nullptr) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[p.size() ? p.size() : 1]);
    if (!p.empty()) std::memcpy(exact.get(), p.data(), p.size());
    SpeexPayloadDecoder d(exact.get(), p.size());
    size_t samples = 0;
    for (auto part = d.nextBuffer(); !part.empty(); part = d.nextBuffer()) samples += part.size();
    if (corrupt) *corrupt = d.corrupt();
    return samples / 320;
  };
  bool corrupt = false;
  EXPECT_EQ(decodeFrames(good, &corrupt), 2u);
  EXPECT_FALSE(corrupt);

  // A first length past the payload plays nothing.
  auto past = good;
  past[0] = static_cast<uint8_t>(good.size() - 1), past[1] = 0;
  EXPECT_EQ(decodeFrames(past, &corrupt), 0u);
  EXPECT_TRUE(corrupt);
  past[0] = 0xFF, past[1] = 0x7F;
  EXPECT_EQ(decodeFrames(past), 0u);

  // A negative second length: the first frame is kept, the rest dropped.
  auto negative = good;
  negative[first] = 0x00, negative[first + 1] = 0x80;
  EXPECT_EQ(decodeFrames(negative, &corrupt), 1u);
  EXPECT_TRUE(corrupt);

  // A length inside the payload but larger than the frame bit buffer.
  std::vector<uint8_t> oversize(good.begin(), good.begin() + first);
  const size_t big = 3000;
  oversize.push_back(big & 0xFF), oversize.push_back(big >> 8);
  oversize.resize(oversize.size() + big, 0x55);
  EXPECT_EQ(decodeFrames(oversize, &corrupt), 1u);
  EXPECT_TRUE(corrupt);

  // Truncated by one byte, a lone trailing byte, nothing at all.
  EXPECT_EQ(decodeFrames({good.begin(), good.end() - 1}), 1u);
  auto trailing = good;
  trailing.push_back(0x07);
  EXPECT_EQ(decodeFrames(trailing, &corrupt), 2u);
  EXPECT_FALSE(corrupt);
  EXPECT_EQ(decodeFrames({}), 0u);
  EXPECT_TRUE(decodeSpeexPayload(nullptr, 100).empty());

  // Garbage bits of a plausible length still give whole frames, no crash.
  std::vector<uint8_t> noise;
  for (int i = 0; i < 30; ++i) {
    noise.push_back(40), noise.push_back(0);
    for (int j = 0; j < 40; ++j) noise.push_back(static_cast<uint8_t>(i * 31 + j * 17));
  }
  EXPECT_EQ(decodeFrames(noise), 30u);
}

TEST(VoiceRecording, TheCodecSettingPicksTheVariantAndItsPieces) {
  EXPECT_EQ(voiceCodecFor("audio/x-speex"), VoiceCodec::Speex);
  EXPECT_EQ(voiceCodecFor("audio/ms-gsm"), VoiceCodec::Gsm);
  for (const char* other : {"", "audio/x-gsm", "audio/x-speex ", "AUDIO/X-SPEEX", "text/plain"}) {
    EXPECT_EQ(voiceCodecFor(other), VoiceCodec::None) << other;
    EXPECT_EQ(RecordingEncoder::create(voiceCodecFor(other)), nullptr) << other;
  }

  const auto pcm = speechAt(kSpeexSampleRate);
  ASSERT_GE(pcm.size(), 1280u);
  auto speex = RecordingEncoder::create(VoiceCodec::Speex);
  ASSERT_NE(speex, nullptr);
  EXPECT_EQ(speex->bufferBytes(), 1280u);
  // The encoder carries state from buffer to buffer, as one recording.
  SpeexEncoder reference;
  for (size_t at = 0; at + 640 <= 1280; at += 640)
    EXPECT_EQ(speex->piece(pcm.data() + at, 1280), reference.encodeBuffer(pcm.data() + at, 1280));
  EXPECT_TRUE(speex->piece(pcm.data(), 0).empty());
  EXPECT_TRUE(speex->piece(pcm.data(), 1).empty());

  auto gsm = RecordingEncoder::create(VoiceCodec::Gsm);
  ASSERT_NE(gsm, nullptr);
  EXPECT_EQ(gsm->bufferBytes(), 650u);
  std::vector<uint8_t> blocks(650);
  for (size_t i = 0; i < blocks.size(); ++i) blocks[i] = static_cast<uint8_t>(i * 7);
  EXPECT_EQ(gsm->piece(blocks.data(), 130), std::vector<uint8_t>(blocks.begin(), blocks.begin() + 130));
  EXPECT_TRUE(gsm->piece(nullptr, 650).empty());
}

TEST(VoiceGsm, BlocksOf65BytesDecodeToSpeechThatFollowsTheInput) {
  const auto pcm = speechAt(kGsmSampleRate);
  ASSERT_GT(pcm.size(), 8000u);
  const auto payload = encodeGsm(pcm.data(), pcm.size());
  EXPECT_EQ(payload.size(), pcm.size() / kGsmBlockSamples * kGsmBlockBytes);

  // A trailing partial block is dropped rather than read past.
  auto partial = payload;
  partial.resize(partial.size() + 30, 0);
  const auto out = decodeGsmPayload(partial.data(), partial.size());
  EXPECT_EQ(out.size(), payload.size() / kGsmBlockBytes * kGsmBlockSamples);
  const double r = testkit::followCorrelation(pcm, kGsmSampleRate, out, kGsmSampleRate);
  std::printf("gsm: envelope correlation %.3f\n", r);
  EXPECT_GT(r, 0.8) << "envelope correlation " << r;
  EXPECT_GT(*std::max_element(out.begin(), out.end()), 1000);
}

}  // namespace
