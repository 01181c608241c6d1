// Sounds: PlaySound of a module's WAVE resource, a file or a WAV image in
// memory, and MessageBeep. They play through the wave output, so tests hear
// them in the wave output's record and the output WAV file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/types.h"

#define SND_SYNC 0x0000
#define SND_ASYNC 0x0001
#define SND_NODEFAULT 0x0002
#define SND_MEMORY 0x0004
#define SND_LOOP 0x0008
#define SND_NOSTOP 0x0010
#define SND_NOWAIT 0x00002000
#define SND_ALIAS 0x00010000
#define SND_FILENAME 0x00020000
#define SND_RESOURCE 0x00040004

// NULL `sound` stops what plays. Asynchronous sounds replace the one
// playing (unless SND_NOSTOP, which then fails); synchronous ones return
// when played. FALSE when the sound cannot be found or read.
BOOL PlaySound(LPCWSTR sound, HMODULE module, DWORD flags);
// A short tone (0xFFFFFFFF the plain beep, else an MB_ICON* sound).
BOOL MessageBeep(UINT type);

namespace platform {

// What was played, for tests.
struct SoundRecord {
  enum Kind { Resource, File, Memory, Beep } kind;
  std::u16string name;  // resource name ("#105" for a numbered one) or file
  HMODULE module;
  UINT beepType;
  int64_t atMs;  // platform monotonic clock
};
std::vector<SoundRecord> soundsPlayed();
void soundRecordReset();

}  // namespace platform
