#include "voice_player.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <iterator>
#include <map>
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

// Waiting playbacks per conversation, and in all: each holds a copy of its
// payload (up to 16 MB), so the queues stay short.
constexpr size_t kMaxWaiting = 3;
constexpr size_t kMaxQueued = 8;

// One message to play. The payload is copied on the user-interface thread,
// which may append to a message still arriving and so move its bytes.
struct Playback {
  HMessage* message = nullptr;  // a reference of its own: "Play" again compares it
  std::string type;
  std::vector<uint8_t> payload;
};

// A conversation's turn: what plays and what waits.
struct Channel {
  std::deque<Playback> waiting;
  HMessage* playing = nullptr;
  std::atomic<bool> stop{false};  // cuts the one playing short
};

// What the playback threads share with the plug-in: the conversations,
// how many threads run, and the events of the open players (woken when
// a playback is cut short).
struct Playbacks {
  std::mutex lock;
  std::condition_variable ended;
  std::map<const void*, std::shared_ptr<Channel>> channels;
  size_t queued = 0;  // waiting and playing, in all conversations
  int running = 0;
  std::atomic<bool> cutShort{false};
  std::set<HANDLE> events;
};

Playbacks& playbacks() {
  static Playbacks p;
  return p;
}

bool cutShort() { return playbacks().cutShort.load(); }

// Wakes every player; those not cut short wait on.
void wakePlayers(Playbacks& p) {
  for (HANDLE e : p.events) SetEvent(e);
}

// Takes a channel's waiting ones out (under the lock); released after it.
std::deque<Playback> dropWaiting(Playbacks& p, Channel& c) {
  std::deque<Playback> dropped;
  dropped.swap(c.waiting);
  p.queued -= dropped.size();
  return dropped;
}

void release(std::deque<Playback>& dropped) {
  for (Playback& d : dropped) KS_ReleaseMessage(d.message);
}

void play(const Playback& item, const std::atomic<bool>& stop) {
  if (item.payload.empty() || stop || cutShort()) return;
  KS_AudioLock();
  if (!stop && !cutShort()) {
    if (item.type == voice::kGsmContentType) {
      VoicePlayer player(VoicePlayer::Kind::Gsm, stop);
      player.playGsm(item.payload.data(), item.payload.size());
    } else if (item.type == voice::kSpeexContentType) {
      VoicePlayer player(VoicePlayer::Kind::Speex, stop);
      player.playSpeex(item.payload.data(), item.payload.size());
    }
  }
  KS_AudioUnlock();
}

// A conversation's thread: plays its waiting ones in turn, then ends.
DWORD WINAPI playbackThread(LPVOID parameter) {
  Playbacks& p = playbacks();
  const void* conversation = parameter;
  std::shared_ptr<Channel> channel;
  for (;;) {
    Playback item;
    {
      std::lock_guard<std::mutex> g(p.lock);
      if (!channel) channel = p.channels.at(conversation);
      channel->playing = nullptr;
      if (channel->waiting.empty()) {
        p.channels.erase(conversation);
        --p.running;
        p.ended.notify_all();
        return 0;
      }
      item = std::move(channel->waiting.front());
      channel->waiting.pop_front();
      channel->playing = item.message;
      channel->stop = false;
    }
    play(item, channel->stop);
    {
      std::lock_guard<std::mutex> g(p.lock);
      --p.queued;
    }
    KS_ReleaseMessage(item.message);
  }
}

// A message's own conversation: the group, or the contact it came from or
// went to.
const void* conversationOf(const MessageData& d) {
  if (d.isGroup || !d.contact) return d.target;
  return d.contact;
}

}  // namespace

void PlayVoiceMessage(HMessage* message) { PlayVoiceMessageIn(message, nullptr); }

void PlayVoiceMessageIn(HMessage* message, const void* conversation) {
  if (!message) return;
  const MessageData d = olvaro::messageData(message);
  if (!conversation) conversation = conversationOf(d);
  Playbacks& p = playbacks();
  std::lock_guard<std::mutex> g(p.lock);
  auto it = p.channels.find(conversation);
  if (it != p.channels.end()) {
    Channel& c = *it->second;
    if (c.playing == message) {
      c.stop = true;
      wakePlayers(p);
      return;
    }
    for (const Playback& w : c.waiting)
      if (w.message == message) return;
    // Whether or not its thread took the first one yet.
    if (c.waiting.size() + (c.playing ? 1 : 0) > kMaxWaiting) return;
  }
  if (p.queued >= kMaxQueued || p.cutShort) return;
  const std::string_view bytes = payloadOf(d);
  Playback item{KS_DuplicateMessageHandle(message), std::string(typeOf(d)),
                std::vector<uint8_t>(bytes.begin(), bytes.end())};
  if (it != p.channels.end()) {
    it->second->waiting.push_back(std::move(item));
    ++p.queued;
    return;
  }
  // No thread serves this conversation yet: its own.
  auto channel = std::make_shared<Channel>();
  channel->waiting.push_back(std::move(item));
  p.channels[conversation] = channel;
  HANDLE thread = CreateThread(nullptr, 0, &playbackThread, const_cast<void*>(conversation), 0, nullptr);
  if (!thread) {
    p.channels.erase(conversation);
    KS_ReleaseMessage(channel->waiting.front().message);
    return;
  }
  CloseHandle(thread);
  ++p.queued;
  ++p.running;
}

void StopVoicePlayback(const void* conversation) {
  Playbacks& p = playbacks();
  std::deque<Playback> dropped;
  {
    std::lock_guard<std::mutex> g(p.lock);
    auto it = p.channels.find(conversation);
    if (it == p.channels.end()) return;
    dropped = dropWaiting(p, *it->second);
    it->second->stop = true;
    wakePlayers(p);
  }
  release(dropped);
}

void StopVoicePlayback() {
  Playbacks& p = playbacks();
  std::deque<Playback> dropped;
  std::unique_lock<std::mutex> g(p.lock);
  p.cutShort = true;
  for (auto& [conversation, channel] : p.channels) {
    std::deque<Playback> more = dropWaiting(p, *channel);
    std::move(more.begin(), more.end(), std::back_inserter(dropped));
  }
  wakePlayers(p);
  p.ended.wait(g, [&] { return p.running == 0; });
  p.cutShort = false;
  g.unlock();
  release(dropped);
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

VoicePlayer::VoicePlayer(Kind kind, const std::atomic<bool>& stop) : stop_(stop) {
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
  if (cutShort() || stop_) return false;
  WaitForSingleObject(event_, 1000);
  return !cutShort() && !stop_;
}

template <class Fill>
void VoicePlayer::stream(Fill fill) {
  std::deque<std::unique_ptr<Buffer>> queued;
  std::unique_ptr<Buffer> spare;
  bool cut = false;
  while (!cut) {
    std::unique_ptr<Buffer> buffer = spare ? std::move(spare) : std::make_unique<Buffer>();
    buffer->header = WAVEHDR{};
    if (!fill(*buffer)) break;
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

void VoicePlayer::playGsm(const uint8_t* data, size_t length) {
  if (!device_ || !data || length == 0) return;
  size_t at = 0;
  stream([&](Buffer& buffer) {
    const size_t n = std::min(length - at, voice::kGsmBufferBytes);
    if (n < voice::kGsmBlockBytes) return false;
    // The device only reads the buffer.
    buffer.header.lpData = reinterpret_cast<LPSTR>(const_cast<uint8_t*>(data + at));
    buffer.header.dwBufferLength = DWORD(n - n % voice::kGsmBlockBytes);
    at += buffer.header.dwBufferLength;
    return true;
  });
}

void VoicePlayer::playSpeex(const uint8_t* data, size_t length) {
  if (!device_ || !data || length == 0) return;
  voice::SpeexPayloadDecoder decoder(data, length);
  const int frameSize = decoder.frameSize();
  if (frameSize <= 0) return;
  const int frames =
      std::min<int>(voice::kPlaybackFramesPerBuffer, int(voice::kPlaybackBufferBytes / 2) / frameSize);
  stream([&](Buffer& buffer) {
    // A corrupt length ends here too: the decoder refuses it and reports
    // only what it decoded before.
    const size_t samples = decoder.decode(buffer.pcm, frames);
    buffer.header.lpData = reinterpret_cast<LPSTR>(buffer.pcm);
    buffer.header.dwBufferLength = DWORD(samples * 2);
    return samples > 0;
  });
}

}  // namespace messaging
