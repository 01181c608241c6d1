// The wave formats voice messages are recorded and played in: 16 kHz PCM
// for Speex, and the driver's GSM 6.10 (65-byte blocks of 320 samples).
#pragma once

#include "platform/wave.h"
#include "voice_codec.h"

namespace messaging::voice {

inline WAVEFORMATEX speexWaveFormat() {
  WAVEFORMATEX f{};
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = 1;
  f.nSamplesPerSec = kSpeexSampleRate;
  f.nAvgBytesPerSec = kSpeexSampleRate * 2;
  f.nBlockAlign = 2;
  f.wBitsPerSample = 16;
  f.cbSize = 0;
  return f;
}

inline GSM610WAVEFORMAT gsmWaveFormat() {
  GSM610WAVEFORMAT f{};
  f.wfx.wFormatTag = WAVE_FORMAT_GSM610;
  f.wfx.nChannels = 1;
  f.wfx.nSamplesPerSec = kGsmSampleRate;
  f.wfx.nAvgBytesPerSec = 1625;
  f.wfx.nBlockAlign = WORD(kGsmBlockBytes);
  f.wfx.wBitsPerSample = 0;
  f.wfx.cbSize = 2;
  f.wSamplesPerBlock = WORD(kGsmBlockSamples);
  return f;
}

}  // namespace messaging::voice
