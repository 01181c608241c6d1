// What a conversation shows of a message, apart from drawing it: time
// stamps in local time, the body text, the web addresses a text holds and
// the line of a role change.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "olvaro/api.h"
#include "olvaro/hub_records.h"
#include "platform/types.h"

namespace messaging {

// "12:34:56" today, "Yesterday, 23:50", else "31-12-25, 23:50"; `now` and
// `when` are seconds since 1970 UTC, shown in the platform's local time.
std::u16string formatTimeStamp(int64_t when, int64_t now);
// "12:34:56" in local time.
std::u16string formatClockTime(int64_t when);

// The most of a text a row shows.
constexpr size_t kMaxShownBytes = 4096;
// The most of a name a row or title shows: a peer chooses its own length.
constexpr size_t kMaxNameBytes = 256;

// The longest beginning of `text` of at most `max` bytes that ends between
// whole UTF-8 characters.
std::string_view utf8Prefix(std::string_view text, size_t max);
// A name as shown: cut to kMaxNameBytes, with an ellipsis when cut.
std::u16string shownName(std::string_view utf8);

// The body as drawn, and whether it is the red "/me" form.
struct Body {
  std::u16string text;
  bool action = false;
};
// `payload` is read only for "text/plain"; other kinds show their string
// resource or the content type itself.
Body messageBody(std::string_view contentType, std::string_view payload, HINSTANCE resources);

// The most addresses a message's menu lists, and the longest one.
constexpr size_t kMaxWebAddresses = 10;
constexpr size_t kMaxAddressBytes = 4096;

// The web addresses of a text, each from one of "www.", "ftp.", "http://",
// "https://" or "ftp://" to the next carriage return, space or the end: the
// first kMaxWebAddresses of those that begin in the part a row shows. One
// longer than kMaxAddressBytes is not listed (it would open cut), so no
// more than twice the shown part is read, whatever the text's size.
std::vector<std::string> findWebAddresses(std::string_view text);

// A bare "www." or "ftp." address with its scheme put in front.
std::u16string addressWithScheme(std::u16string address);

using olvaro::payloadOf;
using olvaro::typeOf;

// A contact's nickname as shown (bounded); empty for none.
std::u16string nicknameOf(HContact* contact);

// Whether a message is a role-change line: only the ones the connection
// makes itself (origin 0); a peer's message of that type is plain data.
bool isRoleChangeNotice(const MessageData& d);

// The role-change line of an "olvaro/x-admin" payload, with the sender's
// name; empty for a role outside the known ones or a payload too short.
std::u16string adminNoticeText(std::string_view payload, const std::u16string& sender, HINSTANCE resources);
// The role an "olvaro/x-admin" payload gives, or -1 when it is too short.
int adminNoticeRole(std::string_view payload);

}  // namespace messaging
