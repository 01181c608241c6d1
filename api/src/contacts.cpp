#include "hub.h"

namespace kestrum {

Contact::~Contact() {
  // Release the service first, then let the signal detach its subscriptions.
  HService* s = service;
  service = nullptr;
  releaseHandle(s);
}

}  // namespace kestrum

using namespace kestrum;

KS_API HContact* KS_CreateContact(const ContactData* data) {
  HContact* h = newHandle(new Contact);
  KS_SetContactData(h, data);
  return h;
}

KS_API void KS_SetContactData(HContact* h, const ContactData* d) {
  if (!h || !d) return;
  HandleGuard<Contact> guard(h);
  Contact& c = *h->entity;
  if (d->mask & CONTACT_ID) c.id = d->id;
  if (d->mask & CONTACT_SERVICE) replaceHandle(c.service, d->service);
  if (d->mask & CONTACT_NAME) c.name = copyText(d->name);
  if (d->mask & CONTACT_NICKNAME) c.nickname = copyText(d->nickname);
  if (d->mask & CONTACT_STATUS) c.status = copyText(d->status);
  if (d->mask & CONTACT_ONLINESTATUS) c.onlineStatus = d->onlineStatus;
  if (d->mask & CONTACT_STATE) c.state = d->state;
  if (d->mask & CONTACT_DEVICETYPE) c.deviceType = d->deviceType;
  c.signal.raise(h);
  KS_EventRaise("contact.changed", h);
}

KS_API void KS_GetContactData(HContact* h, ContactData* out) {
  if (!h || !out) return;
  const Contact& c = *h->entity;
  out->service = c.service;
  out->id = c.id;
  out->name = c.name.c_str();
  out->nickname = c.nickname.c_str();
  out->status = c.status.c_str();
  out->onlineStatus = c.onlineStatus;
  out->state = c.state;
  out->deviceType = c.deviceType;
}

KS_API int64_t KS_GetContactID(HContact* h) { return h ? h->entity->id : 0; }
KS_API HContact* KS_DuplicateContactHandle(HContact* h) { return duplicateHandle(h); }
KS_API void KS_ReleaseContact(HContact* h) { releaseHandle(h); }

KS_API Subscription* KS_ContactSubscribe(HubCallback callback, HContact* h, void* user) {
  return h ? subscribe(h->entity->signal, callback, user) : nullptr;
}
