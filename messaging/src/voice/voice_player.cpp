#include "voice_player.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "message_format.h"
#include "olvaro/hub_records.h"
#include "platform/power.h"
#include "platform/thread.h"
#include "voice_codec.h"
#include "voice_formats.h"

namespace messaging {
namespace {

// What the playback threads share with the plug-in: how many run, the
// events of the open players (woken when playback is cut short), and the
// handshake that tells a starter its thread holds the message.
struct Playbacks {
  std::mutex lock;
  std::condition_variable ended;
  int running = 0;
  std::atomic<bool> cutShort{false};
  std::set<HANDLE> events;
  HANDLE handshake = nullptr;
};

Playbacks& playbacks() {
  static Playbacks p;
  return p;
}

bool cutShort() { return playbacks().cutShort.load(); }

void threadEnded() {
  Playbacks& p = playbacks();
  std::lock_guard<std::mutex> g(p.lock);
  --p.running;
  p.ended.notify_all();
}

DWORD WINAPI playbackThread(LPVOID parameter) {
  Playbacks& p = playbacks();
  HMessage* message = KS_DuplicateMessageHandle(static_cast<HMessage*>(parameter));
  // The payload is copied while the starter still waits: the user-interface
  // thread may append to a message still arriving, which moves its bytes.
  const MessageData d = olvaro::messageData(message);
  const std::string type(typeOf(d));
  const std::string_view bytes = payloadOf(d);
  const std::vector<uint8_t> payload(bytes.begin(), bytes.end());
  {
    std::lock_guard<std::mutex> g(p.lock);
    SetEvent(p.handshake);
  }

  if (!payload.empty() && !cutShort()) {
    KS_AudioLock();
    if (!cutShort()) {
      if (type == voice::kGsmContentType) {
        VoicePlayer player(VoicePlayer::Kind::Gsm);
        player.playGsm(payload.data(), payload.size());
      } else if (type == voice::kSpeexContentType) {
        VoicePlayer player(VoicePlayer::Kind::Speex);
        player.playSpeex(payload.data(), payload.size());
      }
    }
    KS_AudioUnlock();
  }
  KS_ReleaseMessage(message);
  threadEnded();
  return 0;
}

}  // namespace

void PlayVoiceMessage(HMessage* message) {
  if (!message) return;
  Playbacks& p = playbacks();
  HANDLE handshake;
  {
    std::lock_guard<std::mutex> g(p.lock);
    if (!p.handshake) p.handshake = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    handshake = p.handshake;
    ++p.running;
  }
  HANDLE thread = CreateThread(nullptr, 0, &playbackThread, message, 0, nullptr);
  if (!thread) {
    // No thread will ever set the handshake.
    threadEnded();
    return;
  }
  CloseHandle(thread);
  WaitForSingleObject(handshake, INFINITE);
}

void StopVoicePlayback() {
  Playbacks& p = playbacks();
  std::unique_lock<std::mutex> g(p.lock);
  p.cutShort = true;
  for (HANDLE e : p.events) SetEvent(e);
  p.ended.wait(g, [&] { return p.running == 0; });
  p.cutShort = false;
  if (p.handshake) CloseHandle(p.handshake);
  p.handshake = nullptr;
}

int RunningVoicePlaybacks() {
  Playbacks& p = playbacks();
  std::lock_guard<std::mutex> g(p.lock);
  return p.running;
}

struct VoicePlayer::Buffer {
  WAVEHDR header{};
  int16_t pcm[voice::kPlaybackBufferBytes / 2];
};

VoicePlayer::VoicePlayer(Kind kind) {
  event_ = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  power_ = SetPowerRequirement(u"WAV1:", D0, POWER_NAME | POWER_FORCE, nullptr, 0);
  const WAVEFORMATEX pcm = voice::speexWaveFormat();
  const GSM610WAVEFORMAT gsm = voice::gsmWaveFormat();
  const WAVEFORMATEX* format = kind == Kind::Gsm ? &gsm.wfx : &pcm;
  if (!event_ ||
      waveOutOpen(&device_, WAVE_MAPPER, format, DWORD_PTR(event_), 0, CALLBACK_EVENT) != MMSYSERR_NOERROR)
    device_ = nullptr;
  Playbacks& p = playbacks();
  std::lock_guard<std::mutex> g(p.lock);
  if (event_) p.events.insert(event_);
}

VoicePlayer::~VoicePlayer() {
  if (device_ && waveOutClose(device_) == WAVERR_STILLPLAYING) {
    waveOutReset(device_);
    waveOutClose(device_);
  }
  {
    Playbacks& p = playbacks();
    std::lock_guard<std::mutex> g(p.lock);
    p.events.erase(event_);
  }
  if (event_) CloseHandle(event_);
  if (power_) ReleasePowerRequirement(power_);
}

bool VoicePlayer::isDone(const WAVEHDR& header) const {
  // The device's thread sets the flag.
  return std::atomic_ref<DWORD>(const_cast<DWORD&>(header.dwFlags)).load() & WHDR_DONE;
}

bool VoicePlayer::waitOnce() {
  if (cutShort()) return false;
  WaitForSingleObject(event_, 1000);
  return !cutShort();
}

void VoicePlayer::playGsm(const uint8_t* data, size_t length) {
  if (!device_ || !data || length == 0) return;
  WAVEHDR header{};
  // The device only reads the buffer.
  header.lpData = reinterpret_cast<LPSTR>(const_cast<uint8_t*>(data));
  header.dwBufferLength = DWORD(length);
  if (waveOutPrepareHeader(device_, &header, sizeof header) != MMSYSERR_NOERROR) return;
  ResetEvent(event_);
  if (waveOutWrite(device_, &header, sizeof header) == MMSYSERR_NOERROR) {
    while (!isDone(header))
      if (!waitOnce()) {
        waveOutReset(device_);
        break;
      }
  }
  waveOutUnprepareHeader(device_, &header, sizeof header);
}

void VoicePlayer::playSpeex(const uint8_t* data, size_t length) {
  if (!device_ || !data || length == 0) return;
  voice::SpeexPayloadDecoder decoder(data, length);
  const int frameSize = decoder.frameSize();
  if (frameSize <= 0) return;
  const int frames =
      std::min<int>(voice::kPlaybackFramesPerBuffer, int(voice::kPlaybackBufferBytes / 2) / frameSize);
  std::deque<std::unique_ptr<Buffer>> queued;
  std::unique_ptr<Buffer> spare;
  bool cut = false;
  while (!cut) {
    std::unique_ptr<Buffer> buffer = spare ? std::move(spare) : std::make_unique<Buffer>();
    // A corrupt length ends here too: the decoder refuses it and reports
    // only what it decoded before.
    const size_t samples = decoder.decode(buffer->pcm, frames);
    if (samples == 0) break;
    buffer->header = WAVEHDR{};
    buffer->header.lpData = reinterpret_cast<LPSTR>(buffer->pcm);
    buffer->header.dwBufferLength = DWORD(samples * 2);
    if (waveOutPrepareHeader(device_, &buffer->header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) break;
    ResetEvent(event_);
    if (waveOutWrite(device_, &buffer->header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
      waveOutUnprepareHeader(device_, &buffer->header, sizeof(WAVEHDR));
      break;
    }
    queued.push_back(std::move(buffer));
    while (voice::playbackMustWait(queued.size())) {
      if (isDone(queued.front()->header)) {
        waveOutUnprepareHeader(device_, &queued.front()->header, sizeof(WAVEHDR));
        spare = std::move(queued.front());
        queued.pop_front();
        break;
      }
      if (!waitOnce()) {
        cut = true;
        break;
      }
    }
  }
  if (cut) waveOutReset(device_);
  for (;;) {
    while (!queued.empty() && isDone(queued.front()->header)) {
      waveOutUnprepareHeader(device_, &queued.front()->header, sizeof(WAVEHDR));
      queued.pop_front();
    }
    if (queued.empty()) break;
    if (!waitOnce()) waveOutReset(device_);
  }
}

}  // namespace messaging
