// The hub: the one place where the shared model of the messenger lives.
// Plug-ins and the host meet here through entities behind counted handles,
// named events, variants, named functions, settings and unread queues.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "olvaro/fwk.h"
#include "platform/types.h"

#define KS_API extern "C" __attribute__((visibility("default")))
#define KS_CLASS __attribute__((visibility("default")))

namespace kestrum {

class Contact;
class Group;
class Message;
class Service;
class ServiceType;

// A heap cell {count, entity}. Holding the pointer means holding one
// reference. The count is atomic because the voice player's thread touches
// message counts too.
template <class T>
struct Handle {
  std::atomic<int32_t> count;
  T* entity;
};

// A loaded plug-in as the host and the hub see it. Slot order matters:
// Start, Stop, Name.
class Plugin {
 public:
  virtual void Start() = 0;
  virtual void Stop() = 0;
  virtual const char* Name() = 0;

  int32_t state = 0;  // 1 while started
  HMODULE module = nullptr;

 protected:
  ~Plugin() = default;
};

// A named value kept as text. Numbers are stored as signed decimal text.
class KS_CLASS Variant {
 public:
  explicit Variant(std::string name);
  virtual ~Variant();
  virtual void setString(const char* value);
  virtual void setPointer(void* value);
  virtual void setLong(long value);
  virtual long getLong();
  virtual void* getPointer();

  const std::string& name() const { return m_name; }
  const std::string& value() const { return m_value; }
  fwk::Signal<void*>& signal() { return m_signal; }

 protected:
  // Stores the new text and raises the signal when it differs from the old.
  void assign(std::string text);

 private:
  std::string m_name;
  std::string m_value;
  fwk::Signal<void*> m_signal;
};

// A variant that persists in the per-user settings store.
class KS_CLASS Setting : public Variant {
 public:
  using Variant::Variant;
};

// The hub instance. Its tables live behind the private implementation so the
// public layout stays small.
class KS_CLASS Data {
 public:
  Data();
  virtual ~Data();
  Data(const Data&) = delete;
  Data& operator=(const Data&) = delete;

  fwk::counted_ptr<fwk::Signal<void*>> getSignal(std::string name);
  fwk::counted_ptr<Variant> getVariant(const char* name);
  bool getFunction(const char* name, HubCallback* outFunction, void** outUser);
  void registerFunction(const char* name, HubCallback function, void* user);
  void unregisterFunction(const char* name);
  // As registerFunction, returning a number that names this binding alone;
  // unbindFunction removes the name only while that binding is still in place.
  uint64_t bindFunction(const char* name, HubCallback function, void* user);
  bool unbindFunction(const char* name, uint64_t serial);
  bool isBound(const char* name, uint64_t serial);
  uint32_t getLUID();

  // The group table's lookup-or-create; returns the table's handle without
  // adding a reference.
  Handle<Group>* getGroup(int64_t id);
  void MarkAllGroupsUnknown();
  void RemoveUnknownGroups();

  fwk::counted_ptr<Setting> getSetting(const char* name);
  int getSettingInt(std::string name, int defaultValue, int, int);
  std::string getSettingString(std::string name, std::string defaultValue);
  void saveSettings();

  struct Impl;
  Impl& impl() { return *m_impl; }

 private:
  Impl* m_impl;
};

}  // namespace kestrum

// One hub per process: the instance pointer is defined in the hub library.
template <>
kestrum::Data* fwk::Singleton<kestrum::Data>::s_instance;

using Subscription = fwk::Subscription;
using HContact = kestrum::Handle<kestrum::Contact>;
using HGroup = kestrum::Handle<kestrum::Group>;
using HMessage = kestrum::Handle<kestrum::Message>;
using HService = kestrum::Handle<kestrum::Service>;
using HServiceType = kestrum::Handle<kestrum::ServiceType>;

// ---- records --------------------------------------------------------------
// Every record starts with size and mask; a Set applies only the masked
// fields, a Get fills every field. Strings returned by Get point into the
// entity and stay valid until the field is set again.

enum : uint32_t {
  CONTACT_ID = 0x01,
  CONTACT_SERVICE = 0x02,
  CONTACT_NAME = 0x04,
  CONTACT_NICKNAME = 0x08,
  CONTACT_STATUS = 0x10,
  CONTACT_ONLINESTATUS = 0x20,
  CONTACT_STATE = 0x40,
  CONTACT_DEVICETYPE = 0x80,
};

struct ContactData {
  uint32_t size;
  uint32_t mask;
  HService* service;
  int64_t id;
  const char* name;
  const char* nickname;
  const char* status;
  int32_t onlineStatus;
  int32_t state;
  int32_t deviceType;  // 1 bot, 2 PC, 3 mobile
};

enum : uint32_t {
  GROUP_NAME = 0x01,
  GROUP_STATE = 0x02,
  GROUP_SERVICE = 0x04,
  GROUP_ID = 0x08,
  GROUP_DESCRIPTION = 0x10,
};

struct GroupData {
  uint32_t size;
  uint32_t mask;
  HService* service;
  int64_t id;
  const char* name;
  int32_t state;  // 0 current, 1 leave requested, 100 unknown
  const char* description;
};

enum : uint32_t {
  SERVICE_TYPE = 0x01,
  SERVICE_USERNAME = 0x02,
  SERVICE_DISPLAYNAME = 0x04,
  SERVICE_STATE = 0x08,
  SERVICE_SIGNINREQUESTED = 0x10,
  SERVICE_ICON = 0x20,
  SERVICE_TEXT28 = 0x40,
  SERVICE_TEXT24 = 0x80,
  SERVICE_PASSWORD = 0x100,
};

struct ServiceData {
  uint32_t size;
  uint32_t mask;
  HServiceType* type;  // kept without a reference
  const char* userName;
  const char* password;
  const char* displayName;
  const char* text24;  // own status line
  const char* text28;  // reason of the last refusal
  int32_t state;
  int32_t signInRequested;
  HMODULE iconModule;
  LPCWSTR iconResource;
};

enum : uint32_t {
  SERVICETYPE_LONGNAME = 0x01,
  SERVICETYPE_SHORTNAME = 0x02,
  SERVICETYPE_ICON = 0x04,
};

struct ServiceTypeData {
  uint32_t size;
  uint32_t mask;
  const char* longName;
  const char* shortName;
  int32_t kind;  // stored on every Set, never returned
  HMODULE iconModule;
  LPCWSTR iconResource;
};

enum : uint32_t {
  MESSAGE_ID = 0x0001,
  MESSAGE_CONTACT = 0x0002,
  MESSAGE_TARGET = 0x0004,
  MESSAGE_ISGROUP = 0x0008,
  MESSAGE_CONTENTTYPE = 0x0010,
  MESSAGE_PAYLOAD = 0x0020,
  MESSAGE_COMPLETE = 0x0040,
  MESSAGE_ORIGIN = 0x0080,
  MESSAGE_TIME = 0x0200,
  MESSAGE_TOTALLENGTH = 0x0400,
  MESSAGE_PROGRESS = 0x0800,
  MESSAGE_INTERRUPTED = 0x1000,
  MESSAGE_READ = 0x2000,
};

struct MessageData {
  uint32_t size;
  uint32_t mask;
  int64_t id;
  HContact* contact;  // sender of an incoming message
  void* target;       // HGroup* when isGroup is 1, else HContact*
  uint8_t isGroup;
  uint8_t complete;
  uint8_t interrupted;
  uint8_t read;
  const char* contentType;
  const uint8_t* payload;
  int32_t payloadLength;  // negative on Set: payload is NUL-terminated text
  int32_t origin;         // 0 local, 1 live, 2 stored, 3 history
  int32_t timeSec;
  int32_t timeUsec;
  int32_t localTimeSec;
  int32_t localTimeUsec;
  int32_t totalLength;  // the same stored value as progress
  int32_t progress;
};

// A module and an icon resource in it; module 0 means no icon.
struct IconPair {
  HMODULE module;
  LPCWSTR resource;
};

// ---- events, variants, named functions -------------------------------------
KS_API Subscription* KS_EventSubscribe(HubCallback callback, const char* name, void* user);
KS_API int KS_EventRaise(const char* name, void* argument);
KS_API void KS_EventUnsubscribe(Subscription* subscription);

KS_API void KS_SetVariantLong(const char* name, long value);
KS_API void KS_SetVariantPtr(const char* name, void* value);
KS_API void KS_SetVariantString(const char* name, const char* value);
KS_API long KS_GetVariantLong(const char* name);
KS_API void* KS_GetVariantPtr(const char* name);
// Copies the value with its NUL when buffer is not NULL; returns its length.
KS_API int KS_GetVariantString(const char* name, char* buffer);
KS_API Subscription* KS_VariantSubscribe(HubCallback callback, const char* name, void* user);
KS_API void KS_VariantUnsubscribe(Subscription* subscription);

KS_API void KS_RegisterFunction(const char* name, HubCallback function, void* user);
KS_API void KS_UnregisterFunction(const char* name);
KS_API uint32_t KS_CallFunction(const char* name, void* argument);
KS_API int KS_GetFunctionProcAddress(const char* name, HubCallback* outFunction, void** outUser);

// ---- entities --------------------------------------------------------------
KS_API int32_t KS_GetHandleReferenceCount(const void* handle);

KS_API HContact* KS_CreateContact(const ContactData* data);
KS_API void KS_SetContactData(HContact* contact, const ContactData* data);
KS_API void KS_GetContactData(HContact* contact, ContactData* out);
KS_API int64_t KS_GetContactID(HContact* contact);
KS_API HContact* KS_DuplicateContactHandle(HContact* contact);
KS_API void KS_ReleaseContact(HContact* contact);
KS_API Subscription* KS_ContactSubscribe(HubCallback callback, HContact* contact, void* user);
KS_API void KS_ContactUnsubscribe(Subscription* subscription);

KS_API HGroup* KS_CreateGroup(const GroupData* data);
KS_API HGroup* KS_GetGroup(int64_t id);
// The group with this id (+1 reference), or null; unlike KS_GetGroup it never
// makes one, for ids that come from outside.
KS_API HGroup* KS_FindGroup(int64_t id);
KS_API void KS_SetGroupData(HGroup* group, const GroupData* data);
KS_API void KS_GetGroupData(HGroup* group, GroupData* out);
KS_API int64_t KS_GetGroupID(HGroup* group);
KS_API HGroup* KS_DuplicateGroupHandle(HGroup* group);
KS_API void KS_ReleaseGroup(HGroup* group);
KS_API void KS_DeleteGroup(int64_t id);
KS_API int KS_EnumGroupsBegin(int64_t* outId);
KS_API int64_t KS_EnumGroupsNext(int64_t id);
KS_API Subscription* KS_GroupSubscribe(HubCallback callback, HGroup* group, void* user);
KS_API void KS_GroupUnsubscribe(Subscription* subscription);

KS_API void KS_AddGroupMember(HGroup* group, HContact* contact);
KS_API void KS_SetGroupMember(HGroup* group, HContact* contact, const int32_t* value);
KS_API int KS_GetGroupMember(HGroup* group, HContact* contact, int32_t* outValue);
KS_API int KS_GroupContainsMember(HGroup* group, HContact* contact);
KS_API void KS_RemoveGroupMember(HGroup* group, HContact* contact);
KS_API void KS_RemoveAllGroupMembers(HGroup* group);
KS_API void KS_GetGroupMembers(HGroup* group, HContact** outHandles, int32_t* outValues,
                               uint32_t* inoutCount);
KS_API void KS_PruneContacts(int matchService, HService* service, int matchStatus,
                             int32_t onlineStatus);

KS_API HService* KS_CreateService(const ServiceData* data);
KS_API void KS_SetServiceData(HService* service, const ServiceData* data);
KS_API void KS_GetServiceData(HService* service, ServiceData* out);
KS_API HService* KS_DuplicateServiceHandle(HService* service);
KS_API void KS_ReleaseService(HService* service);
KS_API Subscription* KS_ServiceSubscribe(HubCallback callback, HService* service, void* user);
KS_API void KS_ServiceUnsubscribe(Subscription* subscription);
// On entry *inoutCount is the capacity of out (0 asks only for the number);
// writes at most that many, each with a reference for the caller.
KS_API void KS_GetServices(HService** out, int* inoutCount);
KS_API HService* KS_GetPrimaryService();

KS_API HServiceType* KS_CreateServiceType(const ServiceTypeData* data);
KS_API void KS_SetServiceTypeData(HServiceType* type, const ServiceTypeData* data);
KS_API void KS_GetServiceTypeData(HServiceType* type, ServiceTypeData* out);
KS_API void KS_ReleaseServiceType(HServiceType* type);
// As KS_GetServices, but without adding references.
KS_API void KS_GetServiceTypes(HServiceType** out, int* inoutCount);

// ---- messages and unread queues ---------------------------------------------
KS_API HMessage* KS_CreateMessage(const MessageData* data);
KS_API void KS_SetMessageData(HMessage* message, const MessageData* data);
KS_API void KS_GetMessageData(HMessage* message, MessageData* out);
KS_API int64_t KS_GetMessageID(HMessage* message);
KS_API HMessage* KS_DuplicateMessageHandle(HMessage* message);
KS_API void KS_ReleaseMessage(HMessage* message);
KS_API Subscription* KS_MessageSubscribe(HubCallback callback, HMessage* message, void* user);
KS_API void KS_MessageUnsubscribe(Subscription* subscription);
KS_API void KS_ContinueMessage(HMessage* message, const void* data, int length, int complete);
KS_API void KS_SendMessage(void* target, uint8_t isGroup, const char* contentType,
                           const void* payload, int payloadLength, uint8_t complete,
                           HMessage** out);
KS_API void KS_SendMessageEx(HMessage* message);

KS_API void KS_UnreadMessageAdd(HMessage* message);
KS_API int KS_GetUnreadMessageCount(void* key, int isGroup);
KS_API void KS_GetUnreadMessageHandles(void* key, int isGroup, HMessage** out,
                                       uint32_t* inoutCount);
KS_API void KS_GetUnreadGroups(HGroup** out, uint32_t* inoutCount);
KS_API void KS_GetUnreadContacts(HContact** out, uint32_t* inoutCount);

// ---- settings ----------------------------------------------------------------
KS_API long KS_GetSettingLong(const char* name, long defaultValue);
// Copies the value into buffer (at most size bytes, cut at a character
// boundary, always terminated) and returns the value's whole length.
KS_API int KS_GetSettingString(const char* name, const char* defaultValue, char* buffer,
                               int size);
KS_API void KS_SetSettingLong(const char* name, long value);
KS_API void KS_SetSettingString(const char* name, const char* value);
KS_API void KS_SaveSettings();

// ---- plug-ins, numbers, device, icons, audio, exit ---------------------------
KS_API void KS_PluginAdd(kestrum::Plugin* plugin);
KS_API void KS_PluginStartAll();
KS_API void KS_PluginStopAll();
KS_API uint32_t KS_GetLUID();
// Menu command ids for the main window's menu, from a pool of 16-bit ids no
// host command uses (olvaro/menu_commands.h). 0 when the pool is empty.
KS_API uint32_t KS_NewMenuCommand();
KS_API void KS_FreeMenuCommand(uint32_t id);

KS_API int KS_GetPlatformName(char* buffer);
KS_API int KS_GetOperatorName(char* buffer, int size);
KS_API IconPair* KS_GetContactIconResource(IconPair* out, HContact* contact);
KS_API IconPair* KS_GetStateOverlayIconResource(IconPair* out, int32_t onlineStatus);
KS_API HICON KS_GetContactIcon(HContact* contact, int size);

KS_API void KS_AudioLock();
KS_API int KS_AudioTryLock();
KS_API void KS_AudioUnlock();

KS_API void KS_Exit();
KS_API void KS_ReportBug();
KS_API void KS_API_Cleanup();
