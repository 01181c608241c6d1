// Voice codecs: CPU time per second of audio for Speex wide band (as the
// recorder encodes each 40 ms buffer, and as playback decodes) and for
// GSM 6.10 blocks. One iteration is one second of audio, so the time per
// iteration is the CPU cost of a second; "x_realtime" must stay above 50
// (under 2% of a core).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "voice_codec.h"

namespace {

using namespace messaging::voice;

// Voiced syllables: harmonics of a gliding 120 Hz pitch under a 4 Hz
// envelope, with some breath noise, so the encoders do real work.
std::vector<int16_t> speechLike(int rate, double seconds) {
  std::vector<int16_t> s(static_cast<size_t>(rate * seconds));
  uint32_t noise = 12345;
  double phase = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    const double t = double(i) / rate;
    phase += 2 * M_PI * (120 + 30 * std::sin(2 * M_PI * 0.7 * t)) / rate;
    double v = 0;
    for (int h = 1; h <= 12; ++h) v += std::sin(h * phase) / h;
    noise = noise * 1664525u + 1013904223u;
    v = v * std::max(0.0, std::sin(2 * M_PI * 4 * t)) + ((noise >> 16) / 65536.0 - 0.5) * 0.1;
    s[i] = static_cast<int16_t>(6000 * v);
  }
  return s;
}

void setRealtime(benchmark::State& state) {
  state.counters["x_realtime"] = benchmark::Counter(1.0, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_SpeexEncode(benchmark::State& state) {
  const auto pcm = speechLike(kSpeexSampleRate, 1.0);
  SpeexEncoder encoder;
  const size_t samples = encoder.bufferBytes() / 2;
  for (auto _ : state) {
    for (size_t at = 0; at + samples <= pcm.size(); at += samples)
      benchmark::DoNotOptimize(encoder.encodeBuffer(pcm.data() + at, samples * 2));
  }
  setRealtime(state);
}
BENCHMARK(BM_SpeexEncode)->Unit(benchmark::kMillisecond);

void BM_SpeexDecode(benchmark::State& state) {
  const auto pcm = speechLike(kSpeexSampleRate, 1.0);
  SpeexEncoder encoder;
  const size_t samples = encoder.bufferBytes() / 2;
  std::vector<uint8_t> payload;
  for (size_t at = 0; at + samples <= pcm.size(); at += samples) {
    const auto piece = encoder.encodeBuffer(pcm.data() + at, samples * 2);
    payload.insert(payload.end(), piece.begin(), piece.end());
  }
  for (auto _ : state) {
    SpeexPayloadDecoder decoder(payload.data(), payload.size());
    for (auto part = decoder.nextBuffer(); !part.empty(); part = decoder.nextBuffer())
      benchmark::DoNotOptimize(part.data());
  }
  setRealtime(state);
  state.counters["payload_bytes"] = static_cast<double>(payload.size());
}
BENCHMARK(BM_SpeexDecode)->Unit(benchmark::kMillisecond);

void BM_GsmEncode(benchmark::State& state) {
  const auto pcm = speechLike(kGsmSampleRate, 1.0);
  GsmCodec codec;
  uint8_t block[kGsmBlockBytes];
  for (auto _ : state) {
    for (size_t at = 0; at + kGsmBlockSamples <= pcm.size(); at += kGsmBlockSamples) {
      codec.encodeBlock(pcm.data() + at, block);
      benchmark::DoNotOptimize(block);
    }
  }
  setRealtime(state);
}
BENCHMARK(BM_GsmEncode)->Unit(benchmark::kMillisecond);

void BM_GsmDecode(benchmark::State& state) {
  const auto pcm = speechLike(kGsmSampleRate, 1.0);
  const auto payload = encodeGsm(pcm.data(), pcm.size());
  GsmCodec codec;
  int16_t out[kGsmBlockSamples];
  for (auto _ : state) {
    for (size_t at = 0; at + kGsmBlockBytes <= payload.size(); at += kGsmBlockBytes) {
      codec.decodeBlock(payload.data() + at, out);
      benchmark::DoNotOptimize(out);
    }
  }
  setRealtime(state);
}
BENCHMARK(BM_GsmDecode)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
