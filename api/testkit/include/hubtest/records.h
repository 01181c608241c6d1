// Hub records built as the modules fill them: each field given sets its
// mask bit, strings and payloads are copied, so temporaries may be passed.
//
//   HContact* bob = hubtest::ContactRecord().id(2).service(primary).nickname("Bob").create();
//   hubtest::ContactRecord().onlineStatus(2).applyTo(bob);
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "olvaro/api.h"

namespace hubtest {

// What the three builders share: the record, its size set, and the setter
// that stores a field and marks it given.
template <class Self, class Data>
class Record {
 public:
  Record() { d_.size = sizeof d_; }

 protected:
  template <typename T, typename V>
  Self& set(uint32_t bit, T& field, V&& value) {
    field = std::forward<V>(value);
    d_.mask |= bit;
    return static_cast<Self&>(*this);
  }
  Data d_{};
};

class ContactRecord : public Record<ContactRecord, ContactData> {
 public:
  ContactRecord& id(int64_t v) { return set(CONTACT_ID, d_.id, v); }
  ContactRecord& service(HService* v) { return set(CONTACT_SERVICE, d_.service, v); }
  ContactRecord& name(std::string v) { return set(CONTACT_NAME, name_, std::move(v)); }
  ContactRecord& nickname(std::string v) { return set(CONTACT_NICKNAME, nickname_, std::move(v)); }
  ContactRecord& status(std::string v) { return set(CONTACT_STATUS, status_, std::move(v)); }
  ContactRecord& onlineStatus(int32_t v) { return set(CONTACT_ONLINESTATUS, d_.onlineStatus, v); }
  ContactRecord& state(int32_t v) { return set(CONTACT_STATE, d_.state, v); }
  ContactRecord& deviceType(int32_t v) { return set(CONTACT_DEVICETYPE, d_.deviceType, v); }

  const ContactData& data() {
    d_.name = name_.c_str();
    d_.nickname = nickname_.c_str();
    d_.status = status_.c_str();
    return d_;
  }
  // A new contact (one reference, the caller's).
  HContact* create() { return KS_CreateContact(&data()); }
  void applyTo(HContact* contact) { KS_SetContactData(contact, &data()); }

 private:
  std::string name_, nickname_, status_;
};

class GroupRecord : public Record<GroupRecord, GroupData> {
 public:
  GroupRecord& id(int64_t v) { return set(GROUP_ID, d_.id, v); }
  GroupRecord& service(HService* v) { return set(GROUP_SERVICE, d_.service, v); }
  GroupRecord& name(std::string v) { return set(GROUP_NAME, name_, std::move(v)); }
  GroupRecord& description(std::string v) { return set(GROUP_DESCRIPTION, description_, std::move(v)); }
  GroupRecord& state(int32_t v) { return set(GROUP_STATE, d_.state, v); }

  const GroupData& data() {
    d_.name = name_.c_str();
    d_.description = description_.c_str();
    return d_;
  }
  // A group outside the hub's table (one reference, the caller's).
  HGroup* create() { return KS_CreateGroup(&data()); }
  void applyTo(HGroup* group) { KS_SetGroupData(group, &data()); }
  // Fills in the hub's group of that id, made when there is none.
  void applyTo(int64_t groupId) {
    HGroup* g = KS_GetGroup(groupId);
    applyTo(g);
    KS_ReleaseGroup(g);
  }

 private:
  std::string name_, description_;
};

class MessageRecord : public Record<MessageRecord, MessageData> {
 public:
  MessageRecord& id(int64_t v) { return set(MESSAGE_ID, d_.id, v); }
  MessageRecord& contact(HContact* v) { return set(MESSAGE_CONTACT, d_.contact, v); }
  // A contact, or a group with `isGroup`.
  MessageRecord& target(void* v, bool isGroup = false) {
    set(MESSAGE_ISGROUP, d_.isGroup, uint8_t(isGroup ? 1 : 0));
    return set(MESSAGE_TARGET, d_.target, v);
  }
  MessageRecord& contentType(std::string v) { return set(MESSAGE_CONTENTTYPE, contentType_, std::move(v)); }
  MessageRecord& payload(std::string bytes) { return set(MESSAGE_PAYLOAD, payload_, std::move(bytes)); }
  MessageRecord& complete(bool v = true) { return set(MESSAGE_COMPLETE, d_.complete, uint8_t(v ? 1 : 0)); }
  MessageRecord& interrupted(bool v = true) { return set(MESSAGE_INTERRUPTED, d_.interrupted, uint8_t(v ? 1 : 0)); }
  MessageRecord& read(bool v = true) { return set(MESSAGE_READ, d_.read, uint8_t(v ? 1 : 0)); }
  MessageRecord& origin(int32_t v) { return set(MESSAGE_ORIGIN, d_.origin, v); }
  // The sent and the local time alike, in whole seconds.
  MessageRecord& time(int32_t sec) {
    d_.localTimeSec = sec;
    return set(MESSAGE_TIME, d_.timeSec, sec);
  }
  MessageRecord& totalLength(int32_t v) { return set(MESSAGE_TOTALLENGTH, d_.totalLength, v); }
  MessageRecord& progress(int32_t v) { return set(MESSAGE_PROGRESS, d_.progress, v); }

  const MessageData& data() {
    d_.contentType = contentType_.c_str();
    d_.payload = reinterpret_cast<const uint8_t*>(payload_.data());
    d_.payloadLength = int32_t(payload_.size());
    return d_;
  }
  // A new message (one reference, the caller's).
  HMessage* create() { return KS_CreateMessage(&data()); }
  void applyTo(HMessage* message) { KS_SetMessageData(message, &data()); }

 private:
  std::string contentType_, payload_;
};

// A contact of that id and presence, of `service` when one is given.
inline HContact* makeContact(int64_t id, int32_t onlineStatus = 1, HService* service = nullptr) {
  ContactRecord r;
  r.id(id).onlineStatus(onlineStatus);
  if (service) r.service(service);
  return r.create();
}

}  // namespace hubtest
