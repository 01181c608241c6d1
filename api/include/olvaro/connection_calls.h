// The records the connection plug-in's named functions take, for the other
// plug-ins that call them ("Service/%p/AddContact", "orvaloGroupCreate",
// "Connection/RequestMessageHistory" and the rest). All strings are narrow
// and stay the caller's.
#pragma once

#include <cstddef>
#include <cstdint>

#include "olvaro/api.h"

namespace olvaro {

// "ServiceType/%p/Register"'s argument, as the host's "Add a Service" dialog
// fills it in.
struct ServiceRegistrationField {
  char name[16];   // UTF-8, NUL-terminated
  char value[65];  // UTF-8, NUL-terminated
};

struct ServiceRegistration {
  HServiceType* serviceType;
  uint64_t mesgId;  // filled in by the register function
  int32_t fieldCount;
  ServiceRegistrationField fields[8];
};

static_assert(offsetof(ServiceRegistration, mesgId) == 8);
static_assert(offsetof(ServiceRegistration, fieldCount) == 16);
static_assert(offsetof(ServiceRegistration, fields) == 20);
static_assert(sizeof(ServiceRegistrationField) == 81);

// What a caller's callback receives; text is never NULL.
struct Response {
  int64_t code;
  const char* text;
};

using ResponseCallback = void (*)(void* context, const Response* response);

// The codes of a Response that the client tells apart.
enum ResponseCode : int64_t {
  kResponseOk = 0,
  kResponseNoSuch = 2,          // no such user, contact or group
  kResponseChunkDelivered = 4,  // one chunk of a message arrived
  kResponseNothingOlder = 8,    // history: no older messages
  kResponseTaken = 11,          // the group name is in use, or already joined
  kResponseAlreadyListed = 12,  // the contact is on the list already
  kResponseDenied = 13,         // refused, e.g. a group's password
  kResponseLost = 100,          // the link ended (or the request was never sent)
};

// Whether a caller's record, by the size it gives, has room for every field
// of ours.
template <class Record>
bool fullRecord(const Record& record) {
  return record.size >= int32_t(sizeof(Record));
}

// "Service/%p/AddContact"'s argument.
struct AddContactRequest {
  int32_t size;
  const char* userName;
  const char* message;
  ResponseCallback callback;  // may be null
  void* context;
};

// "Connection/SetIdentity"'s argument; a null field is left as it is.
struct IdentityRequest {
  const char* nickname;
  const char* status;
};

// "Service/%p/AcceptContact"'s argument.
struct AcceptContactRequest {
  int64_t sourceId;
  uint8_t accepted;
};

// "orvaloGroupCreate"'s argument.
struct GroupCreateRequest {
  int32_t size;  // the record's size as the caller knows it
  const char* name;
  ResponseCallback callback;  // may be null
  void* context;
};

// "orvaloGroupSubscribe"'s argument.
struct GroupJoinRequest {
  int32_t size;  // the record's size as the caller knows it
  const char* name;
  const char* password;       // may be null
  ResponseCallback callback;  // may be null
  void* context;
};

// "Service/%p/AdminContact"'s argument: gives the contact the role `action`.
struct AdminContactRequest {
  HContact* contact;
  HGroup* group;
  int32_t action;
};

// "Connection/Bridging/Create"'s argument; a null field is not sent.
struct BridgeAccount {
  const char* userName;
  const char* nickname;
  const char* password;
};

// "Connection/RequestMessageHistory"'s argument, filled by the chat window.
struct HistoryRequest {
  int32_t count;  // negative: messages before the time given
  void* target;   // HContact*, or HGroup* when isGroup
  uint8_t isGroup;
  int32_t fromSec;
  int32_t fromUsec;
  ResponseCallback onProgress;  // may be null
  void* user;
};

// The records of the contact list's overview functions ("Overview/..."),
// which the connection calls.
// The overview's records, as the contact-list plug-in takes them. A named
// function's 32-bit result cannot carry a pointer on a 64-bit system, so
// the section and the item made come back in the record: "section" of
// OverviewSectionInfo (read only when size covers it) and "item" of
// OverviewItemInfo for "Overview/AddStaticItem".
struct OverviewSectionInfo {
  uint32_t size;
  const char* key;
  const char* title;
  int32_t atFront;
  void* section;  // out: the section handle
};

struct OverviewItemInfo {
  uint32_t size;
  void* section;
  void* item;  // the item to update; out for an add
  const char* title;
  const char* text;
  HMODULE iconModule;
  LPCWSTR iconResource;
};

// "Overview/Item/OnContextMenu"'s argument; x and y on the screen.
struct OverviewContextMenuInfo {
  void* item;
  int32_t x;
  int32_t y;
};

}  // namespace olvaro
