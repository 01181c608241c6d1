// The device queries of the hub: the platform type and the mobile operator.
#include <algorithm>
#include <cstring>
#include <string>

#include "olvaro/api.h"
#include "platform/device.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

// Copies `text` into `buffer` of `size` bytes, cut at a character boundary
// and always terminated.
void copyCut(const std::string& text, char* buffer, int size) {
  if (!buffer || size <= 0) return;
  size_t n = std::min(text.size(), static_cast<size_t>(size) - 1);
  // Step back over UTF-8 continuation bytes so no character is split.
  while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
}

}  // namespace

// The text fits 32 bytes with its NUL; callers give at least that.
KS_API int KS_GetPlatformName(char* buffer) {
  char16_t wide[32] = {};
  std::string name;
  if (SystemParametersInfo(SPI_GETPLATFORMTYPE, sizeof wide, wide, 0)) name = platform::narrow(wide);
  char text[32];
  copyCut(name, text, sizeof text);
  int length = static_cast<int>(std::strlen(text));
  if (buffer) std::memcpy(buffer, text, static_cast<size_t>(length) + 1);
  return length;
}

KS_API int KS_GetOperatorName(char* buffer, int size) {
  // "Unknown" is cut to the buffer too: a short buffer must not be overrun.
  copyCut("Unknown", buffer, size);
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, u"System\\State\\Phone", 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return 0;
  char16_t value[32] = {};
  DWORD bytes = sizeof value;
  DWORD type = 0;
  LONG r = RegQueryValueEx(key, u"Current Operator Name", nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS) return 0;
  // The stored text need not end in a NUL; read no further than its bytes.
  size_t chars = bytes / 2;
  size_t end = 0;
  while (end < chars && value[end]) ++end;
  copyCut(platform::narrow(std::u16string_view(value, end)), buffer, size);
  return 1;
}
