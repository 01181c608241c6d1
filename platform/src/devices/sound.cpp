// PlaySound and MessageBeep over the wave output.
#include "platform/sound.h"

#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>

#include "little_endian.h"
#include "platform/clock.h"
#include "platform/msgbox.h"
#include "platform/resources.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "platform/wave.h"

namespace platform {
namespace {

struct Playing {
  HWAVEOUT dev = nullptr;
  WAVEHDR hdr{};
  std::vector<int16_t> pcm;
};

std::recursive_mutex g_lock;
Playing* g_current = nullptr;  // the asynchronous sound playing now
std::vector<SoundRecord> g_record;

void record(SoundRecord r) {
  std::lock_guard<std::recursive_mutex> g(g_lock);
  r.atMs = clockMonotonicMs();
  if (g_record.size() >= 256) g_record.erase(g_record.begin());  // bounded in long runs
  g_record.push_back(std::move(r));
}

// An asynchronous sound cleans up after itself when its buffer is done.
void CALLBACK finished(HWAVEOUT, UINT msg, DWORD_PTR instance, DWORD_PTR, DWORD_PTR) {
  if (msg != WOM_DONE) return;
  auto* p = reinterpret_cast<Playing*>(instance);
  {
    std::lock_guard<std::recursive_mutex> g(g_lock);
    if (g_current == p) g_current = nullptr;
  }
  waveOutUnprepareHeader(p->dev, &p->hdr, sizeof(WAVEHDR));
  waveOutClose(p->dev);
  delete p;
}

// Stops the asynchronous sound; false with `onlyIfIdle` when one plays.
bool stopCurrent(bool onlyIfIdle) {
  HWAVEOUT dev = nullptr;
  {
    std::lock_guard<std::recursive_mutex> g(g_lock);
    if (!g_current) return true;
    if (onlyIfIdle) return false;
    dev = g_current->dev;
  }
  // Outside the lock: the reset delivers WOM_DONE, which takes it.
  waveOutReset(dev);
  return true;
}

bool play(const WavData& wav, bool async) {
  if (wav.samples.empty() || wav.rate == 0) return true;  // nothing to hear
  WAVEFORMATEX f{WAVE_FORMAT_PCM, 1, wav.rate, wav.rate * 2, 2, 16, 0};
  auto p = std::make_unique<Playing>();
  p->pcm = wav.samples;
  p->hdr.lpData = reinterpret_cast<LPSTR>(p->pcm.data());
  p->hdr.dwBufferLength = DWORD(p->pcm.size() * 2);
  if (async) {
    Playing* raw = p.get();
    if (waveOutOpen(&p->dev, WAVE_MAPPER, &f, DWORD_PTR(&finished), DWORD_PTR(raw), CALLBACK_FUNCTION) !=
        MMSYSERR_NOERROR)
      return false;
    waveOutPrepareHeader(p->dev, &p->hdr, sizeof(WAVEHDR));
    {
      std::lock_guard<std::recursive_mutex> g(g_lock);
      g_current = raw;
    }
    p.release();  // `finished` frees it
    if (waveOutWrite(raw->dev, &raw->hdr, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
      finished(raw->dev, WOM_DONE, DWORD_PTR(raw), 0, 0);  // cleans up as after playing
      return false;
    }
    return true;
  }
  // Polled by its done flag: no notice is needed.
  if (waveOutOpen(&p->dev, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) return false;
  waveOutPrepareHeader(p->dev, &p->hdr, sizeof(WAVEHDR));
  waveOutWrite(p->dev, &p->hdr, sizeof(WAVEHDR));
  // Sleep runs a manual clock on, so this returns in tests too.
  while (!(std::atomic_ref<DWORD>(p->hdr.dwFlags).load(std::memory_order_acquire) & WHDR_DONE)) {
    Sleep(5);
    waveProcessDue();
  }
  waveOutUnprepareHeader(p->dev, &p->hdr, sizeof(WAVEHDR));
  waveOutClose(p->dev);
  return true;
}

std::u16string resourceName(LPCWSTR name) {
  if (IS_INTRESOURCE(name)) return u"#" + std::u16string(widen(std::to_string(uintptr_t(name))));
  return name;
}

}  // namespace

std::vector<SoundRecord> soundsPlayed() {
  std::lock_guard<std::recursive_mutex> g(g_lock);
  return g_record;
}

void soundRecordReset() {
  std::lock_guard<std::recursive_mutex> g(g_lock);
  g_record.clear();
}

}  // namespace platform

BOOL PlaySound(LPCWSTR sound, HMODULE module, DWORD flags) {
  using namespace platform;
  if (!sound) {
    stopCurrent(false);
    return TRUE;
  }
  if ((flags & SND_LOOP) && !(flags & SND_ASYNC)) return FALSE;  // would never return
  WavData wav;
  SoundRecord r{SoundRecord::File, {}, module, 0, 0};
  if ((flags & SND_RESOURCE) == SND_RESOURCE) {
    r.kind = SoundRecord::Resource;
    r.name = resourceName(sound);
    HRSRC res = FindResource(module, sound, RT_WAVE);
    HGLOBAL data = res ? LoadResource(module, res) : nullptr;
    if (!data || !parseWav(LockResource(data), SizeofResource(module, res), &wav)) return FALSE;
  } else if (flags & SND_MEMORY) {
    // The size of an image in memory comes from its RIFF header.
    r.kind = SoundRecord::Memory;
    const auto* b = reinterpret_cast<const unsigned char*>(sound);
    uint32_t riff = readLe32(b + 4);
    if (riff > (64u << 20) || !parseWav(sound, size_t(riff) + 8, &wav)) return FALSE;
  } else {
    r.name = sound;
    if (!readWavFile(narrow(std::u16string_view(sound)), &wav)) return FALSE;
  }
  if (!stopCurrent(flags & SND_NOSTOP)) return FALSE;
  record(r);
  return play(wav, flags & SND_ASYNC) ? TRUE : FALSE;
}

BOOL MessageBeep(UINT type) {
  using namespace platform;
  // A short tone; the warning sounds are lower.
  double tone = type == MB_ICONHAND || type == MB_ICONEXCLAMATION ? 660 : 990;
  WavData wav{8000, std::vector<int16_t>(8000 / 8)};
  for (size_t i = 0; i < wav.samples.size(); ++i)
    wav.samples[i] = int16_t(8000 * std::sin(2 * M_PI * tone * double(i) / 8000));
  stopCurrent(false);
  record(SoundRecord{SoundRecord::Beep, {}, nullptr, type, 0});
  return play(wav, true) ? TRUE : FALSE;
}
