// Arbitrary voice payloads, as a peer could send them, decoded as Speex or
// GSM (the first byte chooses): decoding stays inside the payload, never
// crashes, and gives whole frames only.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "voice_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  bool speex = data[0] & 1;
  const uint8_t* payload = data + 1;
  size_t length = size - 1;
  if (speex) {
    // Every frame costs at least its two length bytes and gives 320 samples.
    auto pcm = messaging::voice::decodeSpeexPayload(payload, length);
    if (pcm.size() % 320 != 0 || pcm.size() > 320 * (length / 2)) abort();
  } else {
    // 320 samples from every whole 65-byte block, nothing from a partial one.
    auto pcm = messaging::voice::decodeGsmPayload(payload, length);
    if (pcm.size() != 320 * (length / 65)) abort();
  }
  return 0;
}
