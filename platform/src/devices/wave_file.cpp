// WAV files for the wave devices' file backends and the tests.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "little_endian.h"
#include "platform/wave.h"

namespace platform {
namespace {

void put32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(char((v >> (8 * i)) & 0xFF));
}
void put16(std::string& s, uint16_t v) {
  s.push_back(char(v & 0xFF));
  s.push_back(char(v >> 8));
}

}  // namespace

bool readWavFile(const std::string& path, WavData* out) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  return parseWav(bytes.data(), bytes.size(), out);
}

bool parseWav(const void* data, size_t n, WavData* out) {
  if (!data) return false;
  const auto* p = static_cast<const unsigned char*>(data);
  if (n < 12 || std::memcmp(p, "RIFF", 4) != 0 || std::memcmp(p + 8, "WAVE", 4) != 0) return false;
  uint16_t tag = 0, channels = 0, bits = 0;
  uint32_t rate = 0;
  size_t pos = 12;
  while (pos + 8 <= n) {
    uint32_t size = readLe32(p + pos + 4);
    size_t body = pos + 8;
    // Streaming writers leave the data size at its maximum: take what is there.
    size_t avail = n - body;
    size_t len = size > avail ? avail : size;
    if (std::memcmp(p + pos, "fmt ", 4) == 0 && len >= 16) {
      tag = readLe16(p + body);
      channels = readLe16(p + body + 2);
      rate = readLe32(p + body + 4);
      bits = readLe16(p + body + 14);
    } else if (std::memcmp(p + pos, "data", 4) == 0) {
      if (tag != WAVE_FORMAT_PCM || channels == 0 || rate == 0 || (bits != 8 && bits != 16)) return false;
      size_t frame = size_t(channels) * (bits / 8);
      size_t count = len / frame;
      out->rate = rate;
      out->samples.resize(count);
      for (size_t i = 0; i < count; ++i) {
        const unsigned char* s = p + body + i * frame;
        out->samples[i] = bits == 16 ? int16_t(readLe16(s)) : int16_t((int(s[0]) - 128) << 8);
      }
      return true;
    }
    pos = body + len + (len & 1);
  }
  return false;
}

bool writeWavFile(const std::string& path, const WavData& data) {
  uint32_t bytes = uint32_t(data.samples.size() * 2);
  std::string s = "RIFF";
  put32(s, 36 + bytes);
  s += "WAVEfmt ";
  put32(s, 16);
  put16(s, WAVE_FORMAT_PCM);
  put16(s, 1);
  put32(s, data.rate);
  put32(s, data.rate * 2);
  put16(s, 2);
  put16(s, 16);
  s += "data";
  put32(s, bytes);
  for (int16_t v : data.samples) put16(s, uint16_t(v));
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(s.data(), std::streamsize(s.size()));
  return bool(f);
}

std::vector<int16_t> resampleLinear(const std::vector<int16_t>& in, DWORD fromRate, DWORD toRate) {
  if (fromRate == toRate || in.empty() || fromRate == 0 || toRate == 0) return in;
  size_t count = size_t(uint64_t(in.size()) * toRate / fromRate);
  std::vector<int16_t> out(count);
  for (size_t i = 0; i < count; ++i) {
    double at = double(i) * fromRate / toRate;
    size_t j = size_t(at);
    double frac = at - double(j);
    int a = in[j];
    int b = j + 1 < in.size() ? in[j + 1] : a;
    out[i] = int16_t(a + (b - a) * frac);
  }
  return out;
}

}  // namespace platform
