// The contact list's texts and icons, by their ids and names in this
// module's resources, and the main window its pop-ups belong to.
#pragma once

#include <string>

#include "olvaro/hub_records.h"
#include "platform/types.h"

namespace panorel {

enum TextId : unsigned {
  kStrContacts = 102,
  kStrServices = 107,
  kStrMessages = 108,
  kStrNoUnread = 109,
  kStrNoUnreadText = 110,
  kStrGroup = 111,
  kStrWaitingForAcceptance = 112,
  kStrChooseContact = 113,
  kStrOneNewMessage = 114,
  kStrNewMessages = 115,
  kStrPleaseWait = 116,
  kStrNoSuchUser = 117,
  kStrContactAdded = 118,
  kStrContactExists = 119,
  kStrDisconnected = 120,
  kStrUnknownState = 121,
  kStrOffline = 122,
  kStrOnline = 123,
  kStrAway = 124,
  kStrBusy = 125,
  kStrContactUsername = 127,
  kStrJoinWait = 132,
  kStrJoining = 133,
  kStrGroupJoined = 134,
  kStrGroupCreatedBody = 135,
  kStrGroupJoinedBody = 136,
  kStrNoSuchGroup = 137,
  kStrJoinDisconnected = 138,
  kStrAlreadyInGroup = 139,
  kStrChooseGroup = 140,
  kStrAccessDenied = 141,
  kStrContactAddedBody = 142,
  kStrNameGroup = 143,
  kStrFinish = 144,
  kStrGroupBeingCreated = 145,
  kStrGroupCreated = 146,
  kStrCreateDisconnected = 147,
  kStrGroupInUse = 148,
  kStrGroupChat = 149,
  kStrAddContactMenu = 150,
  kStrJoinGroupMenu = 151,
  kStrCreateGroupMenu = 152,
  kStrGroups = 153,
  kStrAdmin = 154,
  kStrMod = 155,
  kStrSilence = 156,
  kStrKick = 157,
  kStrBan = 158,
};

// The overview tab's icon.
constexpr UINT kOverviewIcon = 101;

std::u16string text(unsigned id);
// UTF-8 to wide text; null counts as empty.
std::u16string widen(const char* utf8);
std::string narrow(const std::u16string& text);
// `pattern` with its "%d" replaced by `count` (the table's texts are never
// used as formats).
std::u16string withCount(std::u16string pattern, long count);

// An icon of this module at `size` pixels, loaded once and kept for the
// module's life.
HICON moduleIcon(LPCWSTR name, int size);

// The word for a presence value as the rows show it.
std::u16string presenceWord(int32_t onlineStatus);

// The text a contact request carries.
inline constexpr char kAddContactMessage[] = "I'd like to add you to my contact list.";

// The host's main window owns the module's pop-ups and dialogs.
using olvaro::mainWindow;
// Shows `menu` at (x, y), destroys it, and returns the command chosen (0
// for none).
UINT trackMenu(HMENU menu, int x, int y);

}  // namespace panorel
