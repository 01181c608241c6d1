// Wave audio input and output with the Win32 meanings. Two formats are
// supported, as on the phones: PCM (16-bit mono at any common rate) and
// GSM 6.10 in its 65-byte block framing, made and read with libgsm.
//
// Buffers complete as the platform clock moves: a device that has run for
// t ms has recorded (or played) t ms of audio. With the manual clock tests run
// seconds of audio in milliseconds. Where the sound comes from and goes to:
// OLVARO_WAVE_INPUT names a WAV file read as the microphone (silence after
// its end), OLVARO_WAVE_OUTPUT a WAV file the played audio is written to
// (else it is discarded).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/types.h"

OLVARO_DECLARE_HANDLE(HWAVEIN);
OLVARO_DECLARE_HANDLE(HWAVEOUT);
typedef HWAVEIN* LPHWAVEIN;
typedef HWAVEOUT* LPHWAVEOUT;
typedef UINT MMRESULT;

#define MMSYSERR_NOERROR 0
#define MMSYSERR_ERROR 1
#define MMSYSERR_BADDEVICEID 2
#define MMSYSERR_ALLOCATED 4
#define MMSYSERR_INVALHANDLE 5
#define MMSYSERR_NODRIVER 6
#define MMSYSERR_NOMEM 7
#define MMSYSERR_NOTSUPPORTED 8
#define MMSYSERR_INVALFLAG 10
#define MMSYSERR_INVALPARAM 11
#define WAVERR_BADFORMAT 32
#define WAVERR_STILLPLAYING 33
#define WAVERR_UNPREPARED 34

#define WAVE_MAPPER UINT(-1)
#define WAVE_FORMAT_QUERY 0x0001

#define CALLBACK_TYPEMASK 0x00070000
#define CALLBACK_NULL 0x00000000
#define CALLBACK_WINDOW 0x00010000
#define CALLBACK_THREAD 0x00020000
#define CALLBACK_FUNCTION 0x00030000
#define CALLBACK_EVENT 0x00050000

#define MM_WOM_OPEN 0x3BB
#define MM_WOM_CLOSE 0x3BC
#define MM_WOM_DONE 0x3BD
#define MM_WIM_OPEN 0x3BE
#define MM_WIM_CLOSE 0x3BF
#define MM_WIM_DATA 0x3C0
#define WOM_OPEN MM_WOM_OPEN
#define WOM_CLOSE MM_WOM_CLOSE
#define WOM_DONE MM_WOM_DONE
#define WIM_OPEN MM_WIM_OPEN
#define WIM_CLOSE MM_WIM_CLOSE
#define WIM_DATA MM_WIM_DATA

#define WHDR_DONE 0x00000001
#define WHDR_PREPARED 0x00000002
#define WHDR_BEGINLOOP 0x00000004
#define WHDR_ENDLOOP 0x00000008
#define WHDR_INQUEUE 0x00000010

#define WAVE_FORMAT_PCM 1
#define WAVE_FORMAT_GSM610 49

typedef struct tWAVEFORMATEX {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
  WORD cbSize;
} WAVEFORMATEX, *LPWAVEFORMATEX;
typedef const WAVEFORMATEX* LPCWAVEFORMATEX;

// GSM 6.10: WAVEFORMATEX followed by the samples per block (320).
typedef struct gsm610waveformat_tag {
  WAVEFORMATEX wfx;
  WORD wSamplesPerBlock;
} GSM610WAVEFORMAT;

typedef struct wavehdr_tag {
  LPSTR lpData;
  DWORD dwBufferLength;
  DWORD dwBytesRecorded;
  DWORD_PTR dwUser;
  DWORD dwFlags;
  DWORD dwLoops;
  struct wavehdr_tag* lpNext;
  DWORD_PTR reserved;
} WAVEHDR, *LPWAVEHDR;

UINT waveInGetNumDevs();
UINT waveOutGetNumDevs();

// CALLBACK_WINDOW: dwCallback is the HWND that gets MM_WIM_OPEN/DATA/CLOSE
// (wParam the device, lParam the WAVEHDR*). CALLBACK_EVENT: an event set on
// open, on each finished buffer and on close.
MMRESULT waveInOpen(LPHWAVEIN phwi, UINT deviceId, LPCWAVEFORMATEX format, DWORD_PTR dwCallback,
                    DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR hdr, UINT cbwh);
MMRESULT waveInUnprepareHeader(HWAVEIN hwi, LPWAVEHDR hdr, UINT cbwh);
MMRESULT waveInAddBuffer(HWAVEIN hwi, LPWAVEHDR hdr, UINT cbwh);
MMRESULT waveInStart(HWAVEIN hwi);
// Stop: the partly filled buffer is returned, the rest stay queued.
MMRESULT waveInStop(HWAVEIN hwi);
// Reset: every queued buffer is returned (done), recording stops.
MMRESULT waveInReset(HWAVEIN hwi);
MMRESULT waveInClose(HWAVEIN hwi);

MMRESULT waveOutOpen(LPHWAVEOUT phwo, UINT deviceId, LPCWAVEFORMATEX format, DWORD_PTR dwCallback,
                     DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR hdr, UINT cbwh);
MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR hdr, UINT cbwh);
MMRESULT waveOutWrite(HWAVEOUT hwo, LPWAVEHDR hdr, UINT cbwh);
MMRESULT waveOutReset(HWAVEOUT hwo);
MMRESULT waveOutClose(HWAVEOUT hwo);

namespace platform {

// Completes what is due by the platform clock now (the audio thread does
// this by itself; the test kit calls it before pumping so results are
// deterministic).
void waveProcessDue();

// Where input comes from and output goes; empty = the environment variables
// (OLVARO_WAVE_INPUT / OLVARO_WAVE_OUTPUT). Takes effect at the next open.
void waveSetInputFile(const std::string& path);
void waveSetOutputFile(const std::string& path);

// A plain 16-bit mono PCM WAV file.
struct WavData {
  DWORD rate = 0;
  std::vector<int16_t> samples;
};

// What the wave output played: one clip per output device, at its close,
// the last 32. Kept only while a test asked for it (off again clears them);
// a running program keeps no played audio.
using PlayedClip = WavData;
void waveKeepPlayedClips(bool keep);
std::vector<PlayedClip> wavePlayedClips();
void waveClearPlayedClips();
// Reads 8/16-bit PCM WAV (any channel count: the first channel is taken).
bool readWavFile(const std::string& path, WavData* out);
bool parseWav(const void* data, size_t bytes, WavData* out);
bool writeWavFile(const std::string& path, const WavData& data);
// Linear resampling, enough for speech test input.
std::vector<int16_t> resampleLinear(const std::vector<int16_t>& in, DWORD fromRate, DWORD toRate);

}  // namespace platform
