// What a conversation makes of a peer's message: the body as drawn, the web
// addresses its menu lists, a role-change line with a peer-chosen nickname,
// names, and the time stamp of a message (a 32-bit second count the server
// chose). Every result must stay within its bounds and never crash.
//
// Input: bytes 0-3 the message's time, bytes 4-7 the clock's; the rest up
// to the first \n is the content type, after it the payload.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "message_format.h"
#include "platform/resources.h"

using namespace messaging;

namespace {

int32_t int32At(const uint8_t* p) { return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24); }

void checkAddresses(std::string_view text) {
  std::vector<std::string> found = findWebAddresses(text);
  if (found.size() > kMaxWebAddresses) abort();
  size_t from = 0;
  for (const std::string& a : found) {
    if (a.size() > kMaxAddressBytes || a.find_first_of("\r ") != std::string::npos) abort();
    // Each is the text's own, in order, beginning in the part a row shows.
    size_t at = text.find(a, from);
    if (at == std::string_view::npos || at >= kMaxShownBytes) abort();
    from = at + a.size();
    std::u16string wide(a.begin(), a.end());
    if (addressWithScheme(wide).size() > wide.size() + 7) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8 || size > 64 * 1024) return 0;
  HINSTANCE resources = platform::currentModule();
  int32_t when = int32At(data), now = int32At(data + 4);
  if (formatTimeStamp(when, now).size() > 32 || formatClockTime(when).size() != 8) abort();

  std::string_view rest(reinterpret_cast<const char*>(data) + 8, size - 8);
  size_t split = rest.find('\n');
  std::string_view type = split == std::string_view::npos ? std::string_view("text/plain") : rest.substr(0, split);
  std::string_view payload = split == std::string_view::npos ? rest : rest.substr(split + 1);

  // A shown body is at most the shown bytes, "* " " *" and an ellipsis.
  Body body = messageBody(type, payload, resources);
  if (type == "text/plain" && body.text.size() > kMaxShownBytes + 5) abort();
  checkAddresses(payload);

  std::u16string name = shownName(payload);
  if (name.size() > kMaxNameBytes + 1) abort();

  // A role change as a peer could word it: the sender's name is bounded by
  // the caller, the member's nickname by the line itself.
  std::u16string sender = shownName(type);
  std::u16string line = adminNoticeText(payload, sender, resources);
  int role = adminNoticeRole(payload);
  if (!line.empty() && role < 0) abort();
  if (line.size() > 256 + sender.size() + kMaxNameBytes + 1) abort();
  return 0;
}
