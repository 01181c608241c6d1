#include <cstring>

#include "hub.h"

namespace kestrum {

Message::~Message() {
  HContact* c = contact;
  void* t = target;
  contact = nullptr;
  target = nullptr;
  releaseHandle(c);
  releaseTarget(t, targetHeldAsGroup);
}

namespace {
// An announced length is a hint from the network: never reserve more than
// this up front, larger payloads simply grow as they arrive.
constexpr size_t kMaxPresize = 16u << 20;
}  // namespace

}  // namespace kestrum

using namespace kestrum;

KS_API HMessage* KS_CreateMessage(const MessageData* data) {
  HMessage* h = newHandle(new Message);
  KS_SetMessageData(h, data);
  return h;
}

KS_API void KS_SetMessageData(HMessage* h, const MessageData* d) {
  if (!h || !d) return;
  HandleGuard<Message> guard(h);
  Message& m = *h->entity;
  if (d->mask & MESSAGE_ID) m.id = d->id;
  if (d->mask & MESSAGE_CONTACT) replaceHandle(m.contact, d->contact);
  bool targetSet = false;
  if (d->mask & MESSAGE_TARGET) {
    // The new reference first, then the old one as what it was taken as.
    duplicateHandle(static_cast<HContact*>(d->target));
    void* old = m.target;
    bool oldAsGroup = m.targetHeldAsGroup;
    m.target = d->target;
    targetSet = true;
    releaseTarget(old, oldAsGroup);
  }
  if (d->mask & MESSAGE_ISGROUP) m.isGroup = d->isGroup;
  if (targetSet) m.targetHeldAsGroup = m.isGroup == 1;
  if (d->mask & MESSAGE_READ) m.read = d->read;
  if (d->mask & MESSAGE_CONTENTTYPE) m.contentType = copyText(d->contentType);
  if (d->mask & MESSAGE_PAYLOAD) {
    const uint8_t* bytes = d->payload;
    size_t length = 0;
    if (bytes) length = d->payloadLength < 0 ? strlen(reinterpret_cast<const char*>(bytes)) : size_t(d->payloadLength);
    m.payload.assign(bytes, bytes + length);
  }
  if (d->mask & MESSAGE_ORIGIN) m.origin = d->origin;
  if (d->mask & MESSAGE_TOTALLENGTH) m.lengthOrProgress = d->totalLength;
  if (d->mask & MESSAGE_PROGRESS) m.lengthOrProgress = d->progress;
  if (d->mask & MESSAGE_TIME) {
    m.timeSec = d->timeSec;
    m.timeUsec = d->timeUsec;
    m.localTimeSec = d->localTimeSec;
    m.localTimeUsec = d->localTimeUsec;
  }
  if (d->mask & MESSAGE_COMPLETE) m.complete = d->complete;
  if (d->mask & MESSAGE_INTERRUPTED) m.interrupted = d->interrupted;
  m.signal.raise(h);
}

KS_API void KS_GetMessageData(HMessage* h, MessageData* out) {
  if (!h || !out) return;
  const Message& m = *h->entity;
  out->id = m.id;
  out->contact = m.contact;
  out->target = m.target;
  out->isGroup = m.isGroup;
  out->complete = m.complete;
  out->interrupted = m.interrupted;
  out->read = m.read;
  out->contentType = m.contentType.c_str();
  out->payload = m.payload.data();
  out->payloadLength = static_cast<int32_t>(m.payload.size());
  out->origin = m.origin;
  out->timeSec = m.timeSec;
  out->timeUsec = m.timeUsec;
  out->localTimeSec = m.localTimeSec;
  out->localTimeUsec = m.localTimeUsec;
  out->totalLength = m.lengthOrProgress;
  out->progress = m.lengthOrProgress;
}

KS_API int64_t KS_GetMessageID(HMessage* h) { return h ? h->entity->id : 0; }
KS_API HMessage* KS_DuplicateMessageHandle(HMessage* h) { return duplicateHandle(h); }
KS_API void KS_ReleaseMessage(HMessage* h) { releaseHandle(h); }

KS_API Subscription* KS_MessageSubscribe(HubCallback callback, HMessage* h, void* user) {
  return h ? subscribe(h->entity->signal, callback, user) : nullptr;
}

KS_API void KS_ContinueMessage(HMessage* h, const void* data, int length, int complete) {
  if (!h || (length == 0 && complete == 0)) return;
  HandleGuard<Message> guard(h);
  Message& m = *h->entity;
  if (length > 0 && data) {
    if (m.origin != 0 && m.lengthOrProgress > 0 && size_t(m.lengthOrProgress) > m.payload.capacity() &&
        size_t(m.lengthOrProgress) <= kMaxPresize)
      m.payload.reserve(size_t(m.lengthOrProgress));
    const auto* bytes = static_cast<const uint8_t*>(data);
    m.payload.insert(m.payload.end(), bytes, bytes + length);
  }
  if (complete != 0) m.complete = static_cast<uint8_t>(complete & 0xFF);
  m.signal.raise(h);
}

KS_API void KS_SendMessage(void* target, uint8_t isGroup, const char* contentType, const void* payload,
                           int payloadLength, uint8_t complete, HMessage** out) {
  MessageData d{};
  d.size = sizeof d;
  d.id = KS_GetLUID();
  d.contact = nullptr;
  d.target = target;
  d.isGroup = isGroup;
  d.contentType = contentType;
  d.complete = complete;
  d.mask = MESSAGE_ID | MESSAGE_CONTACT | MESSAGE_TARGET | MESSAGE_ISGROUP | MESSAGE_CONTENTTYPE | MESSAGE_COMPLETE;
  if (payloadLength != 0) {
    d.payload = static_cast<const uint8_t*>(payload);
    d.payloadLength = payloadLength;
    d.mask |= MESSAGE_PAYLOAD;
  }
  HMessage* h = KS_CreateMessage(&d);
  KS_EventRaise("messages.new.outgoing", h);
  if (out)
    *out = h;
  else
    releaseHandle(h);
}

KS_API void KS_SendMessageEx(HMessage* h) { KS_EventRaise("messages.new.outgoing", h); }
