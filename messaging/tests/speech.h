// Real speech for the voice tests: a few seconds spoken by espeak-ng, made
// once per test program, resampled to the codecs' rates, and the measure of
// how well a decoded or played signal follows it.
#pragma once

#include <speex/speex_resampler.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace speechtest {

namespace fs = std::filesystem;

struct Wave {
  int rate = 0;
  std::vector<int16_t> samples;
};

// The data chunk of a 16-bit mono RIFF file.
inline Wave readWave(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::string b(std::istreambuf_iterator<char>(in), {});
  Wave w;
  auto u32 = [&](size_t at) { uint32_t v; std::memcpy(&v, b.data() + at, 4); return v; };
  if (b.size() < 12 || b.compare(0, 4, "RIFF") != 0) return w;
  for (size_t at = 12; at + 8 <= b.size();) {
    const std::string id = b.substr(at, 4);
    const size_t len = std::min<size_t>(u32(at + 4), b.size() - at - 8);
    if (id == "fmt " && len >= 16) w.rate = static_cast<int>(u32(at + 12));
    if (id == "data") {
      w.samples.resize(len / 2);
      std::memcpy(w.samples.data(), b.data() + at + 8, w.samples.size() * 2);
      break;
    }
    at += 8 + len + (len & 1);
  }
  return w;
}

inline std::vector<int16_t> resample(const Wave& w, int rate) {
  int err = 0;
  SpeexResamplerState* r = speex_resampler_init(1, w.rate, rate, 8, &err);
  std::vector<int16_t> out(w.samples.size() * rate / w.rate + 64);
  spx_uint32_t inLen = w.samples.size(), outLen = out.size();
  speex_resampler_process_int(r, 0, w.samples.data(), &inLen, out.data(), &outLen);
  speex_resampler_destroy(r);
  out.resize(outLen);
  return out;
}

// A few seconds of speech, made once for all tests.
inline const Wave& speech() {
  static const Wave wave = [] {
    const fs::path file = fs::temp_directory_path() / ("voice_speech_" + std::to_string(getpid()) + ".wav");
    const std::string cmd = "espeak-ng -w '" + file.string() +
                            "' 'Hello Bob, this is a voice message. Call me back when you are home tonight.'";
    Wave w;
    if (std::system(cmd.c_str()) == 0) w = readWave(file);
    fs::remove(file);
    return w;
  }();
  return wave;
}

inline std::vector<int16_t> speechAt(int rate) {
  const Wave& w = speech();
  if (w.rate == 0 || w.samples.empty()) return {};
  return resample(w, rate);
}

// Short-time energy in windows of 10 ms.
inline std::vector<double> envelope(const std::vector<int16_t>& s, int rate) {
  const size_t win = static_cast<size_t>(rate / 100);
  std::vector<double> e;
  for (size_t at = 0; at + win <= s.size(); at += win) {
    double sum = 0;
    for (size_t i = at; i < at + win; ++i) sum += double(s[i]) * s[i];
    e.push_back(std::sqrt(sum / win));
  }
  return e;
}

// The best correlation of the two envelopes over a codec delay of up to
// 50 ms.
inline double followCorrelation(const std::vector<int16_t>& input, const std::vector<int16_t>& output, int rate) {
  const auto a = envelope(input, rate), b = envelope(output, rate);
  double best = -1;
  for (size_t lag = 0; lag <= 5; ++lag) {
    const size_t n = std::min(a.size(), b.size() > lag ? b.size() - lag : 0);
    if (n < 50) continue;
    double ma = 0, mb = 0;
    for (size_t i = 0; i < n; ++i) ma += a[i], mb += b[i + lag];
    ma /= n, mb /= n;
    double sab = 0, saa = 0, sbb = 0;
    for (size_t i = 0; i < n; ++i) {
      const double x = a[i] - ma, y = b[i + lag] - mb;
      sab += x * y, saa += x * x, sbb += y * y;
    }
    if (saa > 0 && sbb > 0) best = std::max(best, sab / std::sqrt(saa * sbb));
  }
  return best;
}

}  // namespace speechtest
