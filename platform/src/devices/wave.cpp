// The wave devices: clock-driven input and output over file backends,
// PCM 16-bit mono or GSM 6.10 (libgsm, 65-byte WAV49 blocks).
#include "platform/wave.h"

#include <gsm.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

#include "platform/clock.h"
#include "platform/device_backend.h"
#include "platform/screen.h"
#include "platform/thread.h"
#include "platform/window.h"

namespace platform {
namespace {

// A program without a callback polls the done flag from its own thread:
// the flag is published with a release store, so a poller that sees it
// (with an acquire load) sees the recorded samples too.
void markDone(WAVEHDR* h) {
  std::atomic_ref<DWORD>(h->dwFlags).store((h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE, std::memory_order_release);
}

constexpr DWORD kGsmBlockBytes = 65;
constexpr DWORD kGsmBlockSamples = 320;
// How far the speaker is fed ahead of the clock, so it never starves.
constexpr uint64_t kBackendLeadMs = 200;
// Decoded a stretch at a time: a whole GSM buffer would be ten times its size.
constexpr DWORD kDecodeBlocks = 32;

struct Device {
  bool input = false;
  DWORD rate = 0;
  bool isGsm = false;
  DWORD callbackType = CALLBACK_NULL;
  DWORD_PTR callback = 0;
  DWORD_PTR instance = 0;
  uintptr_t id = 0;
  std::deque<WAVEHDR*> queue;
  // Timing: while running, `base + (now - since) * rate / 1000` samples are due.
  bool running = false;
  int64_t since = 0;
  uint64_t base = 0;
  uint64_t done = 0;  // samples recorded or played so far
  gsm codec = nullptr;
  // Input: the microphone's samples at the device rate; silence after them.
  std::vector<int16_t> source;
  size_t sourcePos = 0;
  // The desktop's speaker or microphone (the window backend, real clock);
  // every output is a stream of its own, mixed with the others.
  bool backend = false;
  int stream = 0;
  bool drained = true;  // the stream was told nothing more is queued
  std::deque<int16_t> captured;
  // Output: samples decoded from the queue so far (the speaker gets them
  // ahead of `done`); what was played is kept only when asked for.
  uint64_t fed = 0;
  bool keep = false;
  std::string outputPath;
  std::vector<int16_t> played;
  ~Device() {
    if (codec) gsm_destroy(codec);
  }
};

struct Notice {
  DWORD type;
  DWORD_PTR callback;
  DWORD_PTR instance;
  uintptr_t id;
  UINT msg;
  WAVEHDR* hdr;
};

struct State {
  std::mutex lock;
  std::recursive_mutex dispatch;  // keeps each device's notices in order
  std::map<uintptr_t, std::shared_ptr<Device>> devices;
  uintptr_t nextId = 0x7000;
  uintptr_t backendIn = 0;  // the input using the microphone
  std::string inputOverride, outputOverride;
  bool keepClips = false;
  std::vector<PlayedClip> history;
  std::condition_variable wake;
  bool stopping = false;
  std::thread worker;
  ~State() {
    {
      std::lock_guard<std::mutex> g(lock);
      stopping = true;
    }
    wake.notify_all();
    if (worker.joinable()) worker.join();
  }
};

State& state() {
  static State s;
  return s;
}

void deliver(const std::vector<Notice>& notices) {
  for (const Notice& n : notices) {
    switch (n.type) {
      case CALLBACK_WINDOW:
        // The one call from a device up into the window layer: the driver
        // is told which window to post to, and posting is all it does.
        PostMessage(reinterpret_cast<HWND>(n.callback), n.msg, WPARAM(n.id), LPARAM(n.hdr));
        break;
      case CALLBACK_EVENT:
        SetEvent(reinterpret_cast<HANDLE>(n.callback));
        break;
      case CALLBACK_FUNCTION: {
        using Proc = void (*)(uintptr_t, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);
        reinterpret_cast<Proc>(n.callback)(n.id, n.msg, n.instance, DWORD_PTR(n.hdr), 0);
        break;
      }
      default:
        break;
    }
  }
}

void notice(std::vector<Notice>& out, const Device& d, UINT msg, WAVEHDR* hdr) {
  out.push_back(Notice{d.callbackType, d.callback, d.instance, d.id, msg, hdr});
}

// The samples `bytes` of the device's format hold (GSM: whole blocks only).
DWORD samplesIn(const Device& d, DWORD bytes) {
  return d.isGsm ? bytes / kGsmBlockBytes * kGsmBlockSamples : bytes / 2;
}

int16_t nextInput(Device& d) {
  if (d.backend) {
    if (d.captured.empty()) return 0;
    int16_t v = d.captured.front();
    d.captured.pop_front();
    return v;
  }
  return d.sourcePos < d.source.size() ? d.source[d.sourcePos++] : 0;
}

// The microphone's samples so far; recording never runs ahead of them.
uint64_t limitToCaptured(Device& d, uint64_t due) {
  DeviceBackend* b = deviceBackend();
  int16_t buf[2048];
  for (size_t n; b && (n = b->audioInRead(buf, sizeof buf) / 2) > 0;) d.captured.insert(d.captured.end(), buf, buf + n);
  // With no buffer to take it the sound is lost, as on a device; at most two seconds wait.
  size_t keep = size_t(d.rate) * 2;
  if (d.captured.size() > keep) d.captured.erase(d.captured.begin(), d.captured.end() - std::ptrdiff_t(keep));
  return std::min<uint64_t>(due, d.done + d.captured.size());
}

// Records up to `limit` samples into the front buffers; a full buffer is done.
void recordDue(Device& d, uint64_t due, std::vector<Notice>& out) {
  while (!d.queue.empty() && d.done < due) {
    WAVEHDR* h = d.queue.front();
    DWORD have = samplesIn(d, h->dwBytesRecorded);
    DWORD cap = samplesIn(d, h->dwBufferLength);
    uint64_t room = cap - have;
    uint64_t want = std::min<uint64_t>(room, due - d.done);
    if (d.isGsm) want -= want % kGsmBlockSamples;  // whole blocks only
    if (want == 0 && room > 0) break;
    for (uint64_t i = 0; i < want;) {
      if (d.isGsm) {
        gsm_signal pcm[kGsmBlockSamples];
        for (auto& s : pcm) s = nextInput(d);
        auto* block = reinterpret_cast<gsm_byte*>(h->lpData + h->dwBytesRecorded);
        gsm_encode(d.codec, pcm, block);
        gsm_encode(d.codec, pcm + 160, block + 32);
        h->dwBytesRecorded += kGsmBlockBytes;
        i += kGsmBlockSamples;
      } else {
        int16_t s = nextInput(d);
        std::memcpy(h->lpData + h->dwBytesRecorded, &s, 2);
        h->dwBytesRecorded += 2;
        ++i;
      }
    }
    d.done += want;
    if (have + want >= cap) {
      d.queue.pop_front();
      markDone(h);
      notice(out, d, MM_WIM_DATA, h);
    }
  }
}

// Hands decoded samples to the speaker and to the record, if kept.
void emit(Device& d, const int16_t* pcm, size_t n) {
  if (d.backend)
    if (DeviceBackend* b = deviceBackend()) b->audioOutPlay(d.stream, pcm, n * 2);
  if (d.keep) d.played.insert(d.played.end(), pcm, pcm + n);
  d.fed += n;
}

// Decodes the queued buffers from `fed` on until `upTo` samples are fed,
// a stretch at a time (GSM in whole blocks, in order: the codec keeps state).
// True when everything queued is fed.
bool feed(Device& d, uint64_t upTo) {
  uint64_t start = d.done;
  for (WAVEHDR* h : d.queue) {
    if (d.fed >= upTo) return false;
    uint64_t len = samplesIn(d, h->dwBufferLength);
    if (d.fed >= start + len) {
      start += len;
      continue;
    }
    uint64_t from = d.fed - start, to = std::min<uint64_t>(len, upTo - start);
    if (d.isGsm) {
      gsm_signal pcm[kDecodeBlocks * kGsmBlockSamples];
      for (uint64_t block = from / kGsmBlockSamples; block * kGsmBlockSamples < to;) {
        size_t n = 0;
        for (; n < kDecodeBlocks && block * kGsmBlockSamples < to; ++n, ++block) {
          auto* bytes = reinterpret_cast<gsm_byte*>(h->lpData + block * kGsmBlockBytes);
          gsm_signal* out = pcm + n * kGsmBlockSamples;
          // Bad blocks decode to silence rather than noise.
          if (gsm_decode(d.codec, bytes, out) != 0 || gsm_decode(d.codec, bytes + 33, out + 160) != 0)
            std::fill(out, out + kGsmBlockSamples, gsm_signal(0));
        }
        emit(d, pcm, n * kGsmBlockSamples);
      }
    } else {
      int16_t pcm[kDecodeBlocks * kGsmBlockSamples];
      for (uint64_t at = from; at < to;) {
        size_t n = size_t(std::min<uint64_t>(std::size(pcm), to - at));
        std::memcpy(pcm, h->lpData + at * 2, n * 2);
        emit(d, pcm, n);
        at += n;
      }
    }
    start += len;
  }
  return d.fed >= start;
}

// Finishes the written buffers whose end the playback position has passed.
void playDue(Device& d, uint64_t due, std::vector<Notice>& out) {
  if (d.backend) {
    // Once all is fed the speaker lets out what its converter holds back.
    if (feed(d, due + d.rate * kBackendLeadMs / 1000) && !d.drained)
      if (DeviceBackend* b = deviceBackend()) b->audioOutDrain(d.stream);
    d.drained = true;
  } else if (d.keep)
    feed(d, due);
  while (!d.queue.empty()) {
    WAVEHDR* h = d.queue.front();
    uint64_t len = samplesIn(d, h->dwBufferLength);
    if (d.done + len > due) break;
    d.done += len;
    d.fed = std::max(d.fed, d.done);
    d.queue.pop_front();
    markDone(h);
    notice(out, d, MM_WOM_DONE, h);
  }
  if (d.queue.empty()) d.running = false;  // idle until the next write
}

uint64_t dueNow(const Device& d, int64_t now) {
  if (!d.running) return d.done;
  return d.base + uint64_t(std::max<int64_t>(0, now - d.since)) * d.rate / 1000;
}

void processLocked(State& s, std::vector<Notice>& out) {
  int64_t now = clockMonotonicMs();
  for (auto& [id, d] : s.devices) {
    if (!d->running) continue;
    uint64_t due = dueNow(*d, now);
    if (d->input)
      recordDue(*d, d->backend ? limitToCaptured(*d, due) : due, out);
    else
      playDue(*d, due, out);
  }
}

void workerLoop() {
  State& s = state();
  std::unique_lock<std::mutex> g(s.lock);
  while (!s.stopping) {
    // Idle while no device runs (open but stopped, or played out); else a
    // look every 2 ms keeps real-time audio flowing.
    auto anyRunning = [&] {
      for (auto& [id, d] : s.devices)
        if (d->running) return true;
      return false;
    };
    if (!anyRunning())
      s.wake.wait(g, [&] { return s.stopping || anyRunning(); });
    else
      s.wake.wait_for(g, std::chrono::milliseconds(2));
    if (s.stopping) break;
    g.unlock();
    waveProcessDue();
    g.lock();
  }
}

MMRESULT checkFormat(LPCWAVEFORMATEX f, bool* gsmOut) {
  if (!f) return MMSYSERR_INVALPARAM;
  if (f->nChannels != 1 || f->nSamplesPerSec < 4000 || f->nSamplesPerSec > 48000) return WAVERR_BADFORMAT;
  if (f->wFormatTag == WAVE_FORMAT_PCM) {
    if (f->wBitsPerSample != 16 || f->nBlockAlign != 2) return WAVERR_BADFORMAT;
    *gsmOut = false;
    return MMSYSERR_NOERROR;
  }
  if (f->wFormatTag == WAVE_FORMAT_GSM610) {
    if (f->nSamplesPerSec != 8000 || f->nBlockAlign != kGsmBlockBytes || f->cbSize < 2) return WAVERR_BADFORMAT;
    if (reinterpret_cast<const GSM610WAVEFORMAT*>(f)->wSamplesPerBlock != kGsmBlockSamples) return WAVERR_BADFORMAT;
    *gsmOut = true;
    return MMSYSERR_NOERROR;
  }
  return WAVERR_BADFORMAT;
}

std::string pathFrom(const std::string& over, const char* var) {
  if (!over.empty()) return over;
  const char* v = std::getenv(var);
  return v ? v : "";
}

// A device described as having no microphone has no wave input at all.
bool noMicrophone() {
  const char* v = std::getenv("OLVARO_NO_MICROPHONE");
  return v && *v && std::string_view(v) != "0";
}

MMRESULT open(bool input, uintptr_t* outId, UINT deviceId, LPCWAVEFORMATEX format, DWORD_PTR callback,
              DWORD_PTR instance, DWORD flags) {
  if (deviceId != 0 && deviceId != WAVE_MAPPER) return MMSYSERR_BADDEVICEID;
  if (input && noMicrophone()) return MMSYSERR_BADDEVICEID;
  bool gsmFormat = false;
  if (MMRESULT r = checkFormat(format, &gsmFormat)) return r;
  if (flags & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
  DWORD type = flags & CALLBACK_TYPEMASK;
  if (type != CALLBACK_NULL && type != CALLBACK_WINDOW && type != CALLBACK_EVENT && type != CALLBACK_FUNCTION)
    return MMSYSERR_INVALFLAG;
  if (!outId) return MMSYSERR_INVALPARAM;
  auto d = std::make_shared<Device>();
  d->input = input;
  d->rate = format->nSamplesPerSec;
  d->isGsm = gsmFormat;
  d->callbackType = type;
  d->callback = callback;
  d->instance = instance;
  if (gsmFormat) {
    d->codec = gsm_create();
    if (!d->codec) return MMSYSERR_NOMEM;
    int one = 1;
    gsm_option(d->codec, GSM_OPT_WAV49, &one);
  }
  State& s = state();
  std::string inPath, outPath;
  {
    std::lock_guard<std::mutex> g(s.lock);
    inPath = pathFrom(s.inputOverride, "OLVARO_WAVE_INPUT");
    outPath = pathFrom(s.outputOverride, "OLVARO_WAVE_OUTPUT");
  }
  if (input && !inPath.empty()) {
    WavData wav;
    if (readWavFile(inPath, &wav)) d->source = resampleLinear(wav.samples, wav.rate, d->rate);
  }
  if (!input) d->outputPath = outPath;
  std::vector<Notice> out;
  {
    std::lock_guard<std::mutex> g(s.lock);
    d->id = s.nextId++;
    d->keep = !input && (s.keepClips || !d->outputPath.empty());
    // A person at the desktop talks and hears; tests and headless runs use the files.
    DeviceBackend* b = deviceBackend();
    if (b && std::strcmp(b->name(), "headless") != 0 && !clockIsManual()) {
      AudioFormat af{int(d->rate), 16, 1};
      if (!input) {
        d->stream = b->audioOutOpen(af);
        d->backend = d->stream != 0;
      } else if (s.backendIn == 0 && b->audioInOpen(af)) {
        d->backend = true;
        s.backendIn = d->id;
      }
    }
    s.devices[d->id] = d;
    if (!s.worker.joinable()) s.worker = std::thread(workerLoop);
    notice(out, *d, input ? MM_WIM_OPEN : MM_WOM_OPEN, nullptr);
  }
  s.wake.notify_all();
  *outId = d->id;
  std::lock_guard<std::recursive_mutex> g(s.dispatch);
  deliver(out);
  return MMSYSERR_NOERROR;
}

std::shared_ptr<Device> find(State& s, uintptr_t id, bool input) {
  auto it = s.devices.find(id);
  if (it == s.devices.end() || it->second->input != input) return nullptr;
  return it->second;
}

MMRESULT prepare(uintptr_t id, bool input, LPWAVEHDR h, UINT cb, bool on) {
  State& s = state();
  std::lock_guard<std::mutex> g(s.lock);
  if (!find(s, id, input)) return MMSYSERR_INVALHANDLE;
  if (!h || cb < sizeof(WAVEHDR) || (on && !h->lpData)) return MMSYSERR_INVALPARAM;
  if (!on && (h->dwFlags & WHDR_INQUEUE)) return WAVERR_STILLPLAYING;
  if (on)
    h->dwFlags |= WHDR_PREPARED;
  else
    h->dwFlags &= ~WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT enqueue(uintptr_t id, bool input, LPWAVEHDR h, UINT cb) {
  State& s = state();
  std::lock_guard<std::mutex> g(s.lock);
  auto d = find(s, id, input);
  if (!d) return MMSYSERR_INVALHANDLE;
  if (!h || cb < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
  if (!(h->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
  if (h->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  h->dwFlags = (h->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
  if (input) h->dwBytesRecorded = 0;
  d->queue.push_back(h);
  d->drained = false;
  if (!input && !d->running) {
    d->running = true;
    d->since = clockMonotonicMs();
    d->base = d->done;
    s.wake.notify_all();
  }
  return MMSYSERR_NOERROR;
}

// Returns the queued buffers: all of them, or (stop) only a partly filled front one.
MMRESULT returnBuffers(uintptr_t id, bool input, bool all) {
  State& s = state();
  std::lock_guard<std::recursive_mutex> order(s.dispatch);
  std::vector<Notice> out;
  {
    std::lock_guard<std::mutex> g(s.lock);
    auto d = find(s, id, input);
    if (!d) return MMSYSERR_INVALHANDLE;
    std::vector<Notice> due;
    processLocked(s, due);  // what was due by now is delivered first
    out = std::move(due);
    if (!input && !d->queue.empty()) {
      // The buffer cut short was heard up to now; a GSM block may have been
      // decoded past that, and the speaker fed ahead.
      uint64_t heard = std::min(dueNow(*d, clockMonotonicMs()), d->fed);
      if (d->keep) d->played.resize(d->played.size() - size_t(d->fed - heard));
      d->done = d->fed = heard;
      if (DeviceBackend* b = deviceBackend(); b && d->backend) b->audioOutClear(d->stream);
    }
    d->running = false;
    while (!d->queue.empty()) {
      WAVEHDR* h = d->queue.front();
      if (!all && h->dwBytesRecorded == 0) break;
      d->queue.pop_front();
      markDone(h);
      notice(out, *d, input ? MM_WIM_DATA : MM_WOM_DONE, h);
      if (!all) break;
    }
  }
  deliver(out);
  return MMSYSERR_NOERROR;
}

MMRESULT close(uintptr_t id, bool input) {
  State& s = state();
  std::lock_guard<std::recursive_mutex> order(s.dispatch);
  std::vector<Notice> out;
  std::shared_ptr<Device> d;
  {
    std::lock_guard<std::mutex> g(s.lock);
    d = find(s, id, input);
    if (!d) return MMSYSERR_INVALHANDLE;
    if (!d->queue.empty()) return WAVERR_STILLPLAYING;
    s.devices.erase(id);
    if (d->backend) {
      DeviceBackend* b = deviceBackend();
      if (input) {
        if (b) b->audioInClose();
        s.backendIn = 0;
      } else if (b) {
        b->audioOutClose(d->stream);
      }
    }
    if (!input && s.keepClips) {
      // A record for tests, kept short even so.
      if (s.history.size() >= 32) s.history.erase(s.history.begin());
      s.history.push_back(PlayedClip{d->rate, d->played});
    }
    notice(out, *d, input ? MM_WIM_CLOSE : MM_WOM_CLOSE, nullptr);
  }
  if (!input && !d->outputPath.empty()) writeWavFile(d->outputPath, WavData{d->rate, d->played});
  deliver(out);
  return MMSYSERR_NOERROR;
}

uintptr_t idOf(const void* h) { return reinterpret_cast<uintptr_t>(h); }

// A format query opens nothing, so it needs no handle and gets none.
template <class Handle>
MMRESULT openAs(bool input, Handle* out, UINT deviceId, LPCWAVEFORMATEX format, DWORD_PTR callback,
                DWORD_PTR instance, DWORD flags) {
  uintptr_t id = 0;
  MMRESULT r = open(input, out ? &id : nullptr, deviceId, format, callback, instance, flags);
  if (r == MMSYSERR_NOERROR && out && !(flags & WAVE_FORMAT_QUERY)) *out = reinterpret_cast<Handle>(id);
  return r;
}

}  // namespace

void waveProcessDue() {
  State& s = state();
  std::lock_guard<std::recursive_mutex> order(s.dispatch);
  std::vector<Notice> out;
  {
    std::lock_guard<std::mutex> g(s.lock);
    processLocked(s, out);
  }
  deliver(out);
}

void waveSetInputFile(const std::string& path) {
  std::lock_guard<std::mutex> g(state().lock);
  state().inputOverride = path;
}

void waveSetOutputFile(const std::string& path) {
  std::lock_guard<std::mutex> g(state().lock);
  state().outputOverride = path;
}

std::vector<PlayedClip> wavePlayedClips() {
  std::lock_guard<std::mutex> g(state().lock);
  return state().history;
}

void waveClearPlayedClips() {
  std::lock_guard<std::mutex> g(state().lock);
  state().history.clear();
}

void waveKeepPlayedClips(bool keep) {
  std::lock_guard<std::mutex> g(state().lock);
  state().keepClips = keep;
  if (!keep) state().history.clear();
}

}  // namespace platform

using platform::idOf;

UINT waveInGetNumDevs() { return platform::noMicrophone() ? 0 : 1; }
UINT waveOutGetNumDevs() { return 1; }

MMRESULT waveInOpen(LPHWAVEIN phwi, UINT deviceId, LPCWAVEFORMATEX format, DWORD_PTR cb, DWORD_PTR inst,
                    DWORD flags) {
  return platform::openAs(true, phwi, deviceId, format, cb, inst, flags);
}
MMRESULT waveInPrepareHeader(HWAVEIN h, LPWAVEHDR hdr, UINT cb) { return platform::prepare(idOf(h), true, hdr, cb, true); }
MMRESULT waveInUnprepareHeader(HWAVEIN h, LPWAVEHDR hdr, UINT cb) {
  return platform::prepare(idOf(h), true, hdr, cb, false);
}
MMRESULT waveInAddBuffer(HWAVEIN h, LPWAVEHDR hdr, UINT cb) { return platform::enqueue(idOf(h), true, hdr, cb); }
MMRESULT waveInStart(HWAVEIN h) {
  auto& s = platform::state();
  std::lock_guard<std::mutex> g(s.lock);
  auto d = platform::find(s, idOf(h), true);
  if (!d) return MMSYSERR_INVALHANDLE;
  if (!d->running) {
    if (d->backend) {
      // What the microphone heard before the start is not recorded.
      int16_t buf[2048];
      if (platform::DeviceBackend* b = platform::deviceBackend())
        while (b->audioInRead(buf, sizeof buf) > 0) {
        }
      d->captured.clear();
    }
    d->running = true;
    d->since = platform::clockMonotonicMs();
    d->base = d->done;
    s.wake.notify_all();
  }
  return MMSYSERR_NOERROR;
}
MMRESULT waveInStop(HWAVEIN h) { return platform::returnBuffers(idOf(h), true, false); }
MMRESULT waveInReset(HWAVEIN h) { return platform::returnBuffers(idOf(h), true, true); }
MMRESULT waveInClose(HWAVEIN h) { return platform::close(idOf(h), true); }

MMRESULT waveOutOpen(LPHWAVEOUT phwo, UINT deviceId, LPCWAVEFORMATEX format, DWORD_PTR cb, DWORD_PTR inst,
                     DWORD flags) {
  return platform::openAs(false, phwo, deviceId, format, cb, inst, flags);
}
MMRESULT waveOutPrepareHeader(HWAVEOUT h, LPWAVEHDR hdr, UINT cb) {
  return platform::prepare(idOf(h), false, hdr, cb, true);
}
MMRESULT waveOutUnprepareHeader(HWAVEOUT h, LPWAVEHDR hdr, UINT cb) {
  return platform::prepare(idOf(h), false, hdr, cb, false);
}
MMRESULT waveOutWrite(HWAVEOUT h, LPWAVEHDR hdr, UINT cb) { return platform::enqueue(idOf(h), false, hdr, cb); }
MMRESULT waveOutReset(HWAVEOUT h) { return platform::returnBuffers(idOf(h), false, true); }
MMRESULT waveOutClose(HWAVEOUT h) { return platform::close(idOf(h), false); }
