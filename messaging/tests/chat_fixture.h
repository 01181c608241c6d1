// A fresh hub and headless screen with a main window, the local user and
// two contacts of the primary service, and the conversations registry.
// The local user is answered for by a "Service/%p/GetMyHandle" of the test,
// as the connection does once signed in.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "chat_registry.h"
#include "chat_window.h"
#include "framework/control.h"
#include "hubtest/hub_test.h"
#include "hubtest/records.h"
#include "olvaro/api.h"
#include "olvaro/hub_records.h"
#include "olvaro/registrations.h"
#include "platform/text.h"
#include "testkit/testkit.h"

namespace msgtest {

class ChatTest : public hubtest::HubTest {
 protected:
  void SetUp() override {
    hubtest::HubTest::SetUp();
    main_ = std::make_unique<fwk::Control>(nullptr, u"Olvaro", WS_VISIBLE, 0, 0, 240, 320, nullptr, nullptr);
    KS_SetVariantPtr("core.window.hwnd", main_->hwnd());
    service = KS_GetPrimaryService();
    me = makeContact(1, "Ann");
    bob = makeContact(2, "Bob");
    carol = makeContact(3, "Carol");
    myHandle_.reset(olvaro::handleName("Service/%p/GetMyHandle", service), &ChatTest::getMyHandle, this);
    KS_SetVariantLong("connection.state", 100);
    registry = std::make_unique<messaging::ChatRegistry>();
  }
  void TearDown() override {
    registry.reset();
    myHandle_.reset();
    for (HContact* c : {me, bob, carol}) KS_ReleaseContact(c);
    KS_ReleaseService(service);
    KS_SetVariantPtr("core.window.hwnd", nullptr);
    main_.reset();
    hubtest::HubTest::TearDown();
  }

  HContact* makeContact(int64_t id, const char* nickname) {
    return hubtest::ContactRecord().id(id).service(service).nickname(nickname).name(nickname).create();
  }

  messaging::ChatWindow* openChat(HContact* contact) {
    KS_EventRaise("messaging.chat.contact", contact);
    testkit::pump();
    return registry->find(contact, false);
  }

  // A message as the connection delivers it (the caller releases it).
  HMessage* incoming(HContact* from, const std::string& text, int origin = 1, int32_t sec = 1767225600,
                     const char* type = "text/plain", void* target = nullptr, bool isGroup = false) {
    return hubtest::MessageRecord()
        .id(++ids_)
        .contact(from)
        .target(target ? target : me, isGroup)
        .contentType(type)
        .payload(text)
        .complete()
        .origin(origin)
        .time(sec)
        .create();
  }
  void deliver(HMessage* m) {
    KS_EventRaise("messages.new", m);
    testkit::pump();
  }

  static std::string payloadOf(HMessage* m) {
    MessageData d = olvaro::messageData(m);
    return std::string(reinterpret_cast<const char*>(d.payload), size_t(d.payloadLength));
  }
  static messaging::MessageRow* messageRow(messaging::ChatWindow* w, int i) {
    return dynamic_cast<messaging::MessageRow*>(w->list()->row(i));
  }

  HService* service = nullptr;
  HContact* me = nullptr;
  HContact* bob = nullptr;
  HContact* carol = nullptr;
  std::unique_ptr<messaging::ChatRegistry> registry;

 private:
  static uint32_t getMyHandle(void* user, void* argument) {
    auto* self = static_cast<ChatTest*>(user);
    *static_cast<HContact**>(argument) = KS_DuplicateContactHandle(self->me);
    return 1;
  }
  std::unique_ptr<fwk::Control> main_;
  olvaro::FunctionRegistration myHandle_;
  int64_t ids_ = 1000;
};

// Records every message handed to the connection ("messages.new.outgoing").
class Outbox {
 public:
  Outbox() : sub_(olvaro::subscribeEvent("messages.new.outgoing", &Outbox::onOutgoing, this)) {}
  ~Outbox() {
    for (HMessage* m : sent) KS_ReleaseMessage(m);
  }
  std::vector<HMessage*> sent;

 private:
  static uint32_t onOutgoing(void* user, void* argument) {
    static_cast<Outbox*>(user)->sent.push_back(KS_DuplicateMessageHandle(static_cast<HMessage*>(argument)));
    return 0;
  }
  olvaro::EventSubscription sub_;
};

}  // namespace msgtest
