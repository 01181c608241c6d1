#include "message_format.h"

#include <array>
#include <cstdio>

#include "olvaro/group_roles.h"
#include "olvaro/hub_records.h"
#include "platform/resources.h"
#include "platform/systime.h"
#include "platform/text.h"

namespace messaging {
namespace {

SYSTEMTIME localTime(int64_t sec) {
  FILETIME utc = platform::unixMsToFileTime(sec * 1000);
  FILETIME local{};
  SYSTEMTIME st{};
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st)) FileTimeToSystemTime(&utc, &st);
  return st;
}

// Days since 1970-01-01 of a civil date, to compare local dates.
int64_t dayNumber(const SYSTEMTIME& st) {
  int y = st.wYear - (st.wMonth <= 2);
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int yoe = int(y - era * 400);
  int m = st.wMonth;
  int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + st.wDay - 1;
  int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

std::u16string ascii(const char* s) { return std::u16string(s, s + std::char_traits<char>::length(s)); }

}  // namespace

std::u16string formatTimeStamp(int64_t when, int64_t now) {
  SYSTEMTIME t = localTime(when);
  SYSTEMTIME today = localTime(now);
  char buf[64];
  int64_t day = dayNumber(t), todayNumber = dayNumber(today);
  if (day == todayNumber)
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.wHour, t.wMinute, t.wSecond);
  else if (day + 1 == todayNumber)
    std::snprintf(buf, sizeof buf, "Yesterday, %02d:%02d", t.wHour, t.wMinute);
  else
    std::snprintf(buf, sizeof buf, "%02d-%02d-%02d, %02d:%02d", t.wDay, t.wMonth, t.wYear - 2000, t.wHour,
                  t.wMinute);
  return ascii(buf);
}

std::u16string formatClockTime(int64_t when) {
  SYSTEMTIME t = localTime(when);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.wHour, t.wMinute, t.wSecond);
  return ascii(buf);
}

std::string_view utf8Prefix(std::string_view text, size_t max) {
  if (text.size() <= max) return text;
  size_t end = max;
  while (end > 0 && (uint8_t(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

std::u16string shownName(std::string_view utf8) {
  std::string_view kept = utf8Prefix(utf8, kMaxNameBytes);
  std::u16string name = platform::widen(std::string(kept));
  if (kept.size() < utf8.size()) name += u"\u2026";
  return name;
}

Body messageBody(std::string_view contentType, std::string_view payload, HINSTANCE resources) {
  Body body;
  if (contentType == "text/plain") {
    // A huge text shows its beginning: measuring and drawing stay bounded
    // however much arrives. The cut keeps whole UTF-8 characters.
    bool cut = payload.size() > kMaxShownBytes;
    if (cut) payload = utf8Prefix(payload, kMaxShownBytes);
    if (payload.substr(0, 4) == "/me ") {
      body.text = u"* " + platform::widen(std::string(payload.substr(4))) + u" *";
      body.action = true;
    } else {
      body.text = platform::widen(std::string(payload));
    }
    if (cut) body.text += u"\u2026";
  } else if (contentType.substr(0, 6) == "audio/") {
    body.text = platform::loadStringWide(resources, 106);
  } else if (contentType.substr(0, 6) == "image/") {
    body.text = platform::loadStringWide(resources, 107);
  } else {
    body.text = platform::widen(std::string(contentType));
  }
  return body;
}

std::vector<std::string> findWebAddresses(std::string_view text) {
  static constexpr std::array<std::string_view, 5> kStarts = {"www.", "ftp.", "http://", "https://", "ftp://"};
  text = text.substr(0, kMaxShownBytes + kMaxAddressBytes);
  // Each start's next hit is kept until the scan passes it, so every start
  // is looked for once along the text: linear, not once per address.
  std::array<size_t, kStarts.size()> next{};
  for (size_t i = 0; i < kStarts.size(); ++i) next[i] = text.find(kStarts[i]);
  std::vector<std::string> found;
  size_t at = 0;
  while (found.size() < kMaxWebAddresses) {
    size_t hit = std::string_view::npos;
    for (size_t i = 0; i < kStarts.size(); ++i) {
      if (next[i] < at) next[i] = text.find(kStarts[i], at);
      hit = std::min(hit, next[i]);
    }
    if (hit >= kMaxShownBytes) break;
    size_t end = text.find_first_of("\r ", hit);
    if (end == std::string_view::npos) end = text.size();
    // Beginning in the shown part and not ended within the read part: too
    // long, and nothing after it begins in the shown part.
    if (end - hit > kMaxAddressBytes) break;
    found.emplace_back(text.substr(hit, end - hit));
    at = end;
  }
  return found;
}

std::u16string addressWithScheme(std::u16string address) {
  if (address.rfind(u"www.", 0) == 0) return u"http://" + address;
  if (address.rfind(u"ftp.", 0) == 0) return u"ftp://" + address;
  return address;
}

bool isRoleChangeNotice(const MessageData& d) {
  return d.origin == 0 && typeOf(d) == olvaro::kRoleChangeType;
}

int adminNoticeRole(std::string_view payload) {
  std::optional<olvaro::RoleChange> change = olvaro::RoleChange::decode(payload);
  return change ? int(change->role) : -1;
}

std::u16string adminNoticeText(std::string_view payload, const std::u16string& sender, HINSTANCE resources) {
  std::optional<olvaro::RoleChange> change = olvaro::RoleChange::decode(payload);
  if (!change) return std::u16string();
  UINT id = 0;
  switch (change->role) {
    case 0: id = 120; break;
    case olvaro::kRoleAdmin: id = 115; break;
    case olvaro::kRoleModerator: id = 116; break;
    case olvaro::kRoleBanned: id = 119; break;
    case olvaro::kRoleSilenced: id = 117; break;
    case olvaro::kRoleKicked: id = 118; break;
    default: return std::u16string();
  }
  std::u16string pattern = platform::loadStringWide(resources, id);
  std::u16string member = shownName(change->nickname);
  // The names are put in literally: a "%" in a nickname stays text.
  std::u16string out;
  int arg = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == u'%' && i + 1 < pattern.size() && pattern[i + 1] == u's' && arg < 2) {
      out += arg++ == 0 ? sender : member;
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

std::u16string nicknameOf(HContact* contact) {
  if (!contact) return std::u16string();
  ContactData c = olvaro::contactData(contact);
  return shownName(c.nickname ? c.nickname : "");
}

}  // namespace messaging
