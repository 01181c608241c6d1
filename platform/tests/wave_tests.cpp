// The wave devices on the file backends with real speech as the microphone.
#include <gsm.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/clock.h"
#include "platform/screen.h"
#include "platform/thread.h"
#include "platform/wave.h"
#include "testkit/speech.h"
#include "testkit/testkit.h"
#include "window_test_util.h"

namespace {

// The test speech at the microphone's 16 kHz.
const platform::WavData& speech() {
  static const platform::WavData wav{16000, testkit::speechAt(16000)};
  return wav;
}

WAVEFORMATEX pcm16k() { return WAVEFORMATEX{WAVE_FORMAT_PCM, 1, 16000, 32000, 2, 16, 0}; }
GSM610WAVEFORMAT gsmFormat() { return GSM610WAVEFORMAT{{WAVE_FORMAT_GSM610, 1, 8000, 1625, 65, 0, 2}, 320}; }

class WaveTest : public testkit::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    platform::waveKeepPlayedClips(true);
    ASSERT_GT(speech().samples.size(), 16000u) << "espeak-ng made no speech";
    dir_ = session().home();
    input_ = dir_ + "/speech.wav";
    ASSERT_TRUE(platform::writeWavFile(input_, speech()));
    platform::waveSetInputFile(input_);
    window_ = windows_.make(
        [this](HWND, UINT m, WPARAM w, LPARAM l) -> std::optional<LRESULT> {
          if (m == MM_WIM_DATA) {
            auto* h = reinterpret_cast<WAVEHDR*>(l);
            EXPECT_EQ(reinterpret_cast<HWAVEIN>(w), device_);
            EXPECT_TRUE(h->dwFlags & WHDR_DONE);
            EXPECT_FALSE(h->dwFlags & WHDR_INQUEUE);
            done_.push_back(h);
            sizes_.push_back(h->dwBytesRecorded);
            recorded_.append(h->lpData, h->dwBytesRecorded);
            if (requeue_) waveInAddBuffer(device_, h, sizeof(WAVEHDR));
            return 0;
          }
          return std::nullopt;
        },
        WS_POPUP, RECT{0, 0, 10, 10});
  }

  // Opens the input, queues ten buffers of `size` bytes and starts it.
  void startRecording(const WAVEFORMATEX* format, DWORD size) {
    ASSERT_EQ(waveInOpen(&device_, 0, format, DWORD_PTR(window_), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    buffers_.assign(10, std::vector<char>(size));
    headers_.assign(10, WAVEHDR{});
    for (int i = 0; i < 10; ++i) {
      headers_[i].lpData = buffers_[i].data();
      headers_[i].dwBufferLength = size;
      ASSERT_EQ(waveInPrepareHeader(device_, &headers_[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
      ASSERT_EQ(waveInAddBuffer(device_, &headers_[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(waveInStart(device_), MMSYSERR_NOERROR);
  }

  void stopRecording() {
    requeue_ = false;
    EXPECT_EQ(waveInReset(device_), MMSYSERR_NOERROR);
    testkit::pump();
    for (auto& h : headers_) EXPECT_EQ(waveInUnprepareHeader(device_, &h, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(device_), MMSYSERR_NOERROR);
  }

  std::string dir_, input_;
  wtest::Windows windows_;
  HWND window_ = nullptr;
  HWAVEIN device_ = nullptr;
  std::vector<std::vector<char>> buffers_;
  std::vector<WAVEHDR> headers_;
  std::vector<WAVEHDR*> done_;
  std::vector<DWORD> sizes_;  // dwBytesRecorded as each buffer came back
  std::string recorded_;
  bool requeue_ = true;
};

TEST_F(WaveTest, PcmRecordingFollowsTheClockInOrderAndEqualsTheInput) {
  WAVEFORMATEX f = pcm16k();
  startRecording(&f, 1280);  // 40 ms a buffer
  testkit::runClock(39);
  EXPECT_TRUE(done_.empty()) << "a buffer finished before its 40 ms were recorded";
  testkit::runClock(1);
  ASSERT_EQ(done_.size(), 1u);
  EXPECT_EQ(done_[0], &headers_[0]);
  EXPECT_EQ(sizes_[0], 1280u);
  // Half a second more than the input: it goes on with silence.
  size_t total = (speech().samples.size() + 8000) * 2;
  while (recorded_.size() < total) testkit::runClock(100);
  for (size_t i = 0; i < done_.size(); ++i) ASSERT_EQ(done_[i], &headers_[i % 10]) << "buffer " << i << " out of order";
  stopRecording();
  std::vector<int16_t> got(recorded_.size() / 2);
  std::memcpy(got.data(), recorded_.data(), got.size() * 2);
  const auto& in = speech().samples;
  ASSERT_GE(got.size(), in.size());
  EXPECT_TRUE(std::equal(in.begin(), in.end(), got.begin())) << "the recorded samples differ from the input";
  EXPECT_TRUE(std::all_of(got.begin() + in.size(), got.end(), [](int16_t s) { return s == 0; }));
}

TEST_F(WaveTest, GsmRecordingDecodesToTheSpeech) {
  GSM610WAVEFORMAT f = gsmFormat();
  startRecording(&f.wfx, 650);  // ten blocks, 400 ms
  size_t seconds = speech().samples.size() / 16000 + 1;
  testkit::runClock(int64_t(seconds) * 1000);
  stopRecording();
  ASSERT_EQ(recorded_.size() % 65, 0u);
  ASSERT_GE(recorded_.size(), (seconds * 1000 / 400 - 1) * 650);
  // Whole blocks; after the first part-filled buffer only the empty ones the reset returned.
  for (size_t i = 0; i < sizes_.size(); ++i) {
    EXPECT_EQ(sizes_[i] % 65, 0u);
    if (i > 0 && sizes_[i - 1] < 650) {
      EXPECT_EQ(sizes_[i], 0u) << i;
    }
  }

  gsm g = gsm_create();
  int one = 1;
  gsm_option(g, GSM_OPT_WAV49, &one);
  std::vector<int16_t> decoded;
  for (size_t at = 0; at + 65 <= recorded_.size(); at += 65) {
    gsm_signal pcm[320];
    auto* block = reinterpret_cast<gsm_byte*>(recorded_.data() + at);
    ASSERT_EQ(gsm_decode(g, block, pcm), 0);
    ASSERT_EQ(gsm_decode(g, block + 33, pcm + 160), 0);
    decoded.insert(decoded.end(), pcm, pcm + 320);
  }
  gsm_destroy(g);
  double r = testkit::followCorrelation(speech().samples, 16000, decoded, 8000);
  EXPECT_GT(r, 0.9) << "GSM output does not follow the speech";
}

TEST_F(WaveTest, StopReturnsThePartBufferAndResetTheRest) {
  WAVEFORMATEX f = pcm16k();
  requeue_ = false;
  startRecording(&f, 1280);
  testkit::runClock(50);  // one full buffer and a quarter of the next
  ASSERT_EQ(done_.size(), 1u);
  EXPECT_EQ(waveInStop(device_), MMSYSERR_NOERROR);
  testkit::pump();
  ASSERT_EQ(done_.size(), 2u);
  EXPECT_EQ(sizes_[1], 320u);
  EXPECT_EQ(waveInClose(device_), WAVERR_STILLPLAYING) << "eight buffers are still queued";
  EXPECT_EQ(waveInUnprepareHeader(device_, &headers_[5], sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
  testkit::runClock(1000);
  EXPECT_EQ(done_.size(), 2u) << "a stopped device recorded";
  stopRecording();
  ASSERT_EQ(done_.size(), 10u);
  for (size_t i = 0; i < 10; ++i) EXPECT_EQ(done_[i], &headers_[i]);
  EXPECT_EQ(sizes_[2], 0u);
}

TEST_F(WaveTest, FormatsAndCallsAreCheckedAsWin32Does) {
  HWAVEIN in = nullptr;
  WAVEFORMATEX stereo = pcm16k();
  stereo.nChannels = 2;
  WAVEFORMATEX eight = pcm16k();
  eight.wBitsPerSample = 8;
  eight.nBlockAlign = 1;
  WAVEFORMATEX adpcm = pcm16k();
  adpcm.wFormatTag = 2;
  GSM610WAVEFORMAT gsm16k = gsmFormat();
  gsm16k.wfx.nSamplesPerSec = 16000;
  for (const WAVEFORMATEX* bad : {&stereo, &eight, &adpcm, &gsm16k.wfx}) {
    EXPECT_EQ(waveInOpen(&in, 0, bad, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
    EXPECT_EQ(waveOutOpen(nullptr, WAVE_MAPPER, bad, 0, 0, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
  }
  GSM610WAVEFORMAT g = gsmFormat();
  EXPECT_EQ(waveOutOpen(nullptr, WAVE_MAPPER, &g.wfx, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
  WAVEFORMATEX f = pcm16k();
  EXPECT_EQ(waveInOpen(&in, 7, &f, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(waveInOpen(&in, 0, &f, 0, 0, 0x00040000), MMSYSERR_INVALFLAG);
  ASSERT_EQ(waveInOpen(&in, 0, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  char data[64];
  WAVEHDR h{data, sizeof data, 0, 0, 0, 0, nullptr, 0};
  EXPECT_EQ(waveInAddBuffer(in, &h, sizeof h), WAVERR_UNPREPARED);
  EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
  EXPECT_EQ(waveInClose(in), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(waveInStart(in), MMSYSERR_INVALHANDLE);
}

TEST_F(WaveTest, PlaybackSetsTheEventAsTheClockMovesAndWritesTheOutputFile) {
  std::string out = dir_ + "/played.wav";
  platform::waveSetOutputFile(out);
  HANDLE event = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  WAVEFORMATEX f = pcm16k();
  HWAVEOUT dev = nullptr;
  ASSERT_EQ(waveOutOpen(&dev, WAVE_MAPPER, &f, DWORD_PTR(event), 0, CALLBACK_EVENT), MMSYSERR_NOERROR);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0) << "the open sets the event";
  std::vector<int16_t> pcm = speech().samples;
  size_t half = pcm.size() / 2;
  WAVEHDR a{reinterpret_cast<LPSTR>(pcm.data()), DWORD(half * 2), 0, 0, 0, 0, nullptr, 0};
  WAVEHDR b{reinterpret_cast<LPSTR>(pcm.data() + half), DWORD((pcm.size() - half) * 2), 0, 0, 0, 0, nullptr, 0};
  EXPECT_EQ(waveOutWrite(dev, &a, sizeof a), WAVERR_UNPREPARED);
  for (WAVEHDR* h : {&a, &b}) {
    ASSERT_EQ(waveOutPrepareHeader(dev, h, sizeof *h), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(dev, h, sizeof *h), MMSYSERR_NOERROR);
  }
  int64_t firstMs = (int64_t(half) * 1000 + 15999) / 16000;
  testkit::runClock(firstMs - 1);
  EXPECT_EQ(WaitForSingleObject(event, 0), DWORD(WAIT_TIMEOUT));
  EXPECT_FALSE(a.dwFlags & WHDR_DONE);
  testkit::runClock(1);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(a.dwFlags & WHDR_DONE);
  EXPECT_FALSE(b.dwFlags & WHDR_DONE);
  EXPECT_EQ(waveOutClose(dev), WAVERR_STILLPLAYING);
  testkit::runClock(int64_t(pcm.size()) * 1000 / 16000);
  EXPECT_TRUE(b.dwFlags & WHDR_DONE);
  for (WAVEHDR* h : {&a, &b}) EXPECT_EQ(waveOutUnprepareHeader(dev, h, sizeof *h), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutClose(dev), MMSYSERR_NOERROR);
  CloseHandle(event);
  platform::WavData played;
  ASSERT_TRUE(platform::readWavFile(out, &played));
  EXPECT_EQ(played.rate, 16000u);
  EXPECT_EQ(played.samples, pcm);
  ASSERT_EQ(platform::wavePlayedClips().size(), 1u);
  EXPECT_EQ(platform::wavePlayedClips()[0].samples, pcm);
}

TEST_F(WaveTest, GsmPlaybackOfARecordingFollowsTheSpeech) {
  GSM610WAVEFORMAT f = gsmFormat();
  startRecording(&f.wfx, 650);
  testkit::runClock(int64_t(speech().samples.size() / 16) + 400);
  stopRecording();
  HANDLE event = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  HWAVEOUT dev = nullptr;
  ASSERT_EQ(waveOutOpen(&dev, WAVE_MAPPER, &f.wfx, DWORD_PTR(event), 0, CALLBACK_EVENT), MMSYSERR_NOERROR);
  WAVEHDR h{recorded_.data(), DWORD(recorded_.size()), 0, 0, 0, 0, nullptr, 0};
  ASSERT_EQ(waveOutPrepareHeader(dev, &h, sizeof h), MMSYSERR_NOERROR);
  ResetEvent(event);
  ASSERT_EQ(waveOutWrite(dev, &h, sizeof h), MMSYSERR_NOERROR);
  // 65 bytes are 40 ms.
  testkit::runClock(int64_t(recorded_.size() / 65 * 40));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(waveOutUnprepareHeader(dev, &h, sizeof h), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutClose(dev), MMSYSERR_NOERROR);
  CloseHandle(event);
  auto clips = platform::wavePlayedClips();
  ASSERT_EQ(clips.size(), 1u);
  EXPECT_EQ(clips[0].rate, 8000u);
  EXPECT_EQ(clips[0].samples.size(), recorded_.size() / 65 * 320);
  EXPECT_GT(testkit::followCorrelation(speech().samples, 16000, clips[0].samples, 8000), 0.9);
}

TEST_F(WaveTest, PlayedAudioIsKeptOnlyWhileATestAsks) {
  platform::waveKeepPlayedClips(false);
  GSM610WAVEFORMAT f = gsmFormat();
  HWAVEOUT dev = nullptr;
  ASSERT_EQ(waveOutOpen(&dev, WAVE_MAPPER, &f.wfx, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  std::vector<char> blocks(65 * 50);  // two seconds
  WAVEHDR h{blocks.data(), DWORD(blocks.size()), 0, 0, 0, 0, nullptr, 0};
  ASSERT_EQ(waveOutPrepareHeader(dev, &h, sizeof h), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutWrite(dev, &h, sizeof h), MMSYSERR_NOERROR);
  testkit::runClock(2000);
  EXPECT_TRUE(h.dwFlags & WHDR_DONE);
  EXPECT_EQ(waveOutUnprepareHeader(dev, &h, sizeof h), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutClose(dev), MMSYSERR_NOERROR);
  EXPECT_TRUE(platform::wavePlayedClips().empty()) << "a program that did not ask keeps what it played";
}

}  // namespace

namespace {

// The window backend on SDL's disk audio driver: what is played reaches
// the desktop's speaker (here a file), in real time.
class WaveSdl : public ::testing::Test {
 protected:
  // The disk driver reads or writes the file `variable` names.
  bool useSdl(const char* variable, const std::string& file) {
    variables_ = {"SDL_VIDEODRIVER", "SDL_AUDIODRIVER", variable, "SDL_DISKAUDIODELAY"};
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv(variable, file.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "1", 1);
    sdl_ = platform::screenSelectBackend("sdl");
    if (sdl_) platform::clockSetReal();
    return sdl_;
  }
  // Also after a skip or a failed assertion, so no later test runs on SDL.
  void leaveSdl() {
    if (sdl_) platform::screenSelectBackend("headless");
    sdl_ = false;
    for (const char* v : variables_) unsetenv(v);
  }
  void TearDown() override { leaveSdl(); }
  // What the disk driver's speaker got, as 16-bit samples.
  static std::vector<int16_t> heardIn(const std::string& raw) {
    std::ifstream in(raw, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> heard(bytes.size() / 2);
    std::memcpy(heard.data(), bytes.data(), heard.size() * 2);
    return heard;
  }
  testkit::Session session;

 private:
  std::vector<const char*> variables_;
  bool sdl_ = false;
};

TEST_F(WaveSdl, RecordingHearsTheMicrophone) {
  std::string raw = session.home() + "/microphone.raw";
  std::vector<int16_t> tone(8000);  // half a second
  for (size_t i = 0; i < tone.size(); ++i) tone[i] = int16_t(9000 * std::sin(double(i) * 0.2));
  {
    std::ofstream f(raw, std::ios::binary);
    f.write(reinterpret_cast<const char*>(tone.data()), std::streamsize(tone.size() * 2));
  }
  if (!useSdl("SDL_DISKAUDIOFILEIN", raw)) GTEST_SKIP() << "no SDL window backend here";
  WAVEFORMATEX f = pcm16k();
  HANDLE event = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  HWAVEIN dev = nullptr;
  ASSERT_EQ(waveInOpen(&dev, 0, &f, DWORD_PTR(event), 0, CALLBACK_EVENT), MMSYSERR_NOERROR);
  std::vector<int16_t> buf(3200);  // 200 ms
  WAVEHDR h{reinterpret_cast<LPSTR>(buf.data()), DWORD(buf.size() * 2), 0, 0, 0, 0, nullptr, 0};
  ASSERT_EQ(waveInPrepareHeader(dev, &h, sizeof h), MMSYSERR_NOERROR);
  ASSERT_EQ(waveInAddBuffer(dev, &h, sizeof h), MMSYSERR_NOERROR);
  ResetEvent(event);
  ASSERT_EQ(waveInStart(dev), MMSYSERR_NOERROR);
  // The wave thread sets the flag while this one polls it.
  auto done = [&] { return std::atomic_ref<DWORD>(h.dwFlags).load(std::memory_order_acquire) & WHDR_DONE; };
  for (int i = 0; i < 100 && !done(); ++i) WaitForSingleObject(event, 50);
  EXPECT_TRUE(done());
  EXPECT_EQ(h.dwBytesRecorded, buf.size() * 2);
  EXPECT_EQ(waveInReset(dev), MMSYSERR_NOERROR);
  waveInUnprepareHeader(dev, &h, sizeof h);
  EXPECT_EQ(waveInClose(dev), MMSYSERR_NOERROR);
  CloseHandle(event);
  leaveSdl();
  // What was recorded is a stretch of the microphone's tone.
  auto at = std::search(tone.begin(), tone.end(), buf.begin(), buf.begin() + 200);
  EXPECT_NE(at, tone.end()) << "the recording is not the microphone's sound";
}

TEST_F(WaveSdl, PlaybackReachesTheSpeaker) {
  std::string raw = session.home() + "/speaker.raw";
  if (!useSdl("SDL_DISKAUDIOFILE", raw)) GTEST_SKIP() << "no SDL window backend here";
  WAVEFORMATEX f = pcm16k();
  HANDLE event = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  HWAVEOUT dev = nullptr;
  ASSERT_EQ(waveOutOpen(&dev, WAVE_MAPPER, &f, DWORD_PTR(event), 0, CALLBACK_EVENT), MMSYSERR_NOERROR);
  std::vector<int16_t> tone(3200);  // 200 ms
  for (size_t i = 0; i < tone.size(); ++i) tone[i] = int16_t(10000 * std::sin(double(i) * 0.3));
  WAVEHDR h{reinterpret_cast<LPSTR>(tone.data()), DWORD(tone.size() * 2), 0, 0, 0, 0, nullptr, 0};
  ASSERT_EQ(waveOutPrepareHeader(dev, &h, sizeof h), MMSYSERR_NOERROR);
  ResetEvent(event);
  ASSERT_EQ(waveOutWrite(dev, &h, sizeof h), MMSYSERR_NOERROR);
  EXPECT_EQ(WaitForSingleObject(event, 2000), WAIT_OBJECT_0);
  EXPECT_TRUE(h.dwFlags & WHDR_DONE);
  Sleep(100);  // the driver's last block
  waveOutUnprepareHeader(dev, &h, sizeof h);
  EXPECT_EQ(waveOutClose(dev), MMSYSERR_NOERROR);
  CloseHandle(event);
  leaveSdl();
  std::vector<int16_t> heard = heardIn(raw);
  // The tone is in what the speaker got, sample for sample.
  auto at = std::search(heard.begin(), heard.end(), tone.begin(), tone.begin() + 400);
  ASSERT_NE(at, heard.end()) << "the speaker got " << heard.size() << " samples, not the tone";
  EXPECT_TRUE(size_t(heard.end() - at) >= tone.size() && std::equal(tone.begin(), tone.end(), at));
}

TEST_F(WaveSdl, OutputsPlayingAtOnceAreAllHeard) {
  std::string raw = session.home() + "/speaker.raw";
  if (!useSdl("SDL_DISKAUDIOFILE", raw)) GTEST_SKIP() << "no SDL window backend here";
  // A long silence plays throughout; a tone in the same format is mixed
  // into it sample for sample, then one at 8 kHz is converted and mixed.
  std::vector<int16_t> silence(16000), tone(3200), low(1600);
  for (size_t i = 0; i < tone.size(); ++i) tone[i] = int16_t(10000 * std::sin(double(i) * 0.3));
  for (size_t i = 0; i < low.size(); ++i) low[i] = int16_t(10000 * std::sin(double(i) * 0.2));
  struct Output {
    std::vector<int16_t>* pcm;
    DWORD rate;
    HWAVEOUT dev = nullptr;
    WAVEHDR h{};
  } outs[3] = {{&silence, 16000}, {&tone, 16000}, {&low, 8000}};
  auto start = [](Output& o) {
    WAVEFORMATEX f{WAVE_FORMAT_PCM, 1, o.rate, o.rate * 2, 2, 16, 0};
    o.h.lpData = reinterpret_cast<LPSTR>(o.pcm->data());
    o.h.dwBufferLength = DWORD(o.pcm->size() * 2);
    ASSERT_EQ(waveOutOpen(&o.dev, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutPrepareHeader(o.dev, &o.h, sizeof o.h), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(o.dev, &o.h, sizeof o.h), MMSYSERR_NOERROR);
  };
  auto finish = [](Output& o) {
    // Polled as a program would: the wave thread sets the flag.
    auto done = [&] { return std::atomic_ref<DWORD>(o.h.dwFlags).load(std::memory_order_acquire) & WHDR_DONE; };
    for (int t = 0; t < 300 && !done(); ++t) Sleep(10);
    EXPECT_TRUE(done());
    Sleep(100);  // the driver's last block
    waveOutUnprepareHeader(o.dev, &o.h, sizeof o.h);
    EXPECT_EQ(waveOutClose(o.dev), MMSYSERR_NOERROR);
  };
  start(outs[0]);
  start(outs[1]);
  finish(outs[1]);
  start(outs[2]);
  finish(outs[2]);
  finish(outs[0]);
  leaveSdl();
  std::vector<int16_t> heard = heardIn(raw);
  auto at = std::search(heard.begin(), heard.end(), tone.begin(), tone.begin() + 400);
  ASSERT_NE(at, heard.end()) << "the second output was not heard";
  ASSERT_TRUE(size_t(heard.end() - at) >= tone.size() && std::equal(tone.begin(), tone.end(), at));
  // The 8 kHz tone, at the device's 16 kHz: about 3200 samples, most of them loud.
  size_t loud = size_t(std::count_if(at + std::ptrdiff_t(tone.size()), heard.end(),
                                     [](int16_t v) { return std::abs(int(v)) > 5000; }));
  EXPECT_GT(loud, 1500u) << "the 8 kHz output was not heard";
}

}  // namespace
