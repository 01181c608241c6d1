#include "testkit/speech.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/wave.h"

namespace testkit {

namespace {

const platform::WavData& spoken() {
  static const platform::WavData wav = [] {
    const auto file = std::filesystem::temp_directory_path() / ("olvaro-speech-" + std::to_string(getpid()) + ".wav");
    const std::string cmd = "espeak-ng -w '" + file.string() +
                            "' 'Hello Bob, this is a voice message. Call me back when you are home tonight.' 2>/dev/null";
    platform::WavData w;
    if (std::system(cmd.c_str()) != 0 || !platform::readWavFile(file.string(), &w)) w = {};
    std::filesystem::remove(file);
    return w;
  }();
  return wav;
}

}  // namespace

std::vector<int16_t> speechAt(int rate) {
  const platform::WavData& w = spoken();
  if (w.rate == 0 || w.samples.empty()) return {};
  return platform::resampleLinear(w.samples, w.rate, DWORD(rate));
}

std::vector<double> envelope(const std::vector<int16_t>& s, size_t window) {
  std::vector<double> e;
  for (size_t at = 0; window && at + window <= s.size(); at += window) {
    double sum = 0;
    for (size_t i = at; i < at + window; ++i) sum += double(s[i]) * s[i];
    e.push_back(std::sqrt(sum / double(window)));
  }
  return e;
}

double followCorrelation(const std::vector<int16_t>& input, int inputRate, const std::vector<int16_t>& output,
                         int outputRate) {
  const auto a = envelope(input, size_t(inputRate / 100)), b = envelope(output, size_t(outputRate / 100));
  double best = -1;
  for (size_t lag = 0; lag <= 5; ++lag) {
    const size_t n = std::min(a.size(), b.size() > lag ? b.size() - lag : 0);
    if (n < 50) continue;
    double ma = 0, mb = 0;
    for (size_t i = 0; i < n; ++i) ma += a[i], mb += b[i + lag];
    ma /= double(n), mb /= double(n);
    double sab = 0, saa = 0, sbb = 0;
    for (size_t i = 0; i < n; ++i) {
      const double x = a[i] - ma, y = b[i + lag] - mb;
      sab += x * y, saa += x * x, sbb += y * y;
    }
    if (saa > 0 && sbb > 0) best = std::max(best, sab / std::sqrt(saa * sbb));
  }
  return best;
}

}  // namespace testkit
