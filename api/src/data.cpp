#include <climits>
#include <cstring>

#include "hub.h"

template <>
kestrum::Data* fwk::Singleton<kestrum::Data>::s_instance = nullptr;

namespace kestrum {

// ---- variants ----------------------------------------------------------------

namespace {

// Leading decimal number after an optional sign; anything else reads as 0.
// Values beyond the range of long saturate.
long parseLeadingNumber(const std::string& text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  unsigned long long magnitude = 0;
  const unsigned long long limit = negative ? static_cast<unsigned long long>(LONG_MAX) + 1 : LONG_MAX;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + static_cast<unsigned>(text[i] - '0');
    if (magnitude > limit) {
      magnitude = limit;
      break;
    }
  }
  if (negative) return magnitude == limit ? LONG_MIN : -static_cast<long>(magnitude);
  return static_cast<long>(magnitude);
}

}  // namespace

Variant::Variant(std::string name) : m_name(std::move(name)) {}
Variant::~Variant() = default;

void Variant::assign(std::string text) {
  if (text == m_value) return;
  m_value = std::move(text);
  m_signal.raise(nullptr);
}

void Variant::setString(const char* value) { assign(copyText(value)); }
// The whole pointer is kept: cutting it to 32 bits would lose it on a 64-bit
// machine.
void Variant::setPointer(void* value) { assign(std::to_string(reinterpret_cast<intptr_t>(value))); }
void Variant::setLong(long value) { assign(std::to_string(value)); }
long Variant::getLong() { return parseLeadingNumber(m_value); }
void* Variant::getPointer() { return reinterpret_cast<void*>(static_cast<intptr_t>(parseLeadingNumber(m_value))); }

// ---- the instance --------------------------------------------------------------

fwk::counted_ptr<fwk::Signal<void*>>& Data::Impl::event(std::string_view name) {
  auto it = events.find(name);
  if (it == events.end())
    it = events.emplace(std::string(name), fwk::counted_ptr<fwk::Signal<void*>>(new fwk::Signal<void*>())).first;
  return it->second;
}

fwk::counted_ptr<Variant>& Data::Impl::variant(std::string_view name) {
  auto it = variants.find(name);
  if (it == variants.end())
    it = variants.emplace(std::string(name), fwk::counted_ptr<Variant>(new Variant(std::string(name)))).first;
  return it->second;
}

void Data::Impl::publishUnreadTotal() {
  fwk::counted_ptr<Variant> total = variant("messages.unread");  // held across the signal
  total->setLong(unreadTotal);
}

Data::Data() : m_impl(new Impl) {}

Data::~Data() {
  Impl& t = *m_impl;
  HService* primary = t.primaryService;
  t.primaryService = nullptr;
  if (primary) KS_ReleaseService(primary);
  saveSettings();
  t.functions.clear();
  t.settings.clear();
  t.variants.clear();
  t.events.clear();
  t.services.clear();
  for (HServiceType* type : t.serviceTypes) {
    if (type->count.load() <= 0) {  // released while listed
      delete type->entity;
      delete type;
    }
  }
  t.serviceTypes.clear();
  for (auto* map : {&t.unreadGroups, &t.unreadContacts}) {
    auto queues = std::move(*map);
    map->clear();
    for (auto& [key, queue] : queues)
      for (HMessage* m : queue) releaseHandle(m);
  }
  t.unreadTotal = 0;
  auto groups = std::move(t.groups);
  t.groups.clear();
  for (auto& [id, g] : groups) releaseHandle(g);
  t.plugins.clear();
  delete m_impl;
  m_impl = nullptr;
  if (fwk::Singleton<Data>::s_instance == this) fwk::Singleton<Data>::s_instance = nullptr;
}

fwk::counted_ptr<fwk::Signal<void*>> Data::getSignal(std::string name) { return m_impl->event(name); }

fwk::counted_ptr<Variant> Data::getVariant(const char* name) { return m_impl->variant(name ? name : ""); }

bool Data::getFunction(const char* name, HubCallback* outFunction, void** outUser) {
  auto it = m_impl->functions.find(std::string_view(name ? name : ""));
  if (it == m_impl->functions.end()) return false;
  if (outFunction) *outFunction = it->second.function;
  if (outUser) *outUser = it->second.user;
  return true;
}

void Data::registerFunction(const char* name, HubCallback function, void* user) { bindFunction(name, function, user); }

void Data::unregisterFunction(const char* name) {
  auto it = m_impl->functions.find(std::string_view(name ? name : ""));
  if (it != m_impl->functions.end()) m_impl->functions.erase(it);
}

namespace {
// Process-wide, so a binding of a later hub instance never reuses a number.
uint64_t g_nextBinding = 1;
}  // namespace

uint64_t Data::bindFunction(const char* name, HubCallback function, void* user) {
  uint64_t serial = g_nextBinding++;
  m_impl->functions[copyText(name)] = {function, user, serial};
  return serial;
}

bool Data::unbindFunction(const char* name, uint64_t serial) {
  auto it = m_impl->functions.find(std::string_view(name ? name : ""));
  if (it == m_impl->functions.end() || it->second.serial != serial) return false;
  m_impl->functions.erase(it);
  return true;
}

bool Data::isBound(const char* name, uint64_t serial) {
  auto it = m_impl->functions.find(std::string_view(name ? name : ""));
  return it != m_impl->functions.end() && it->second.serial == serial;
}

uint32_t Data::getLUID() { return m_impl->luid++; }

Subscription* subscribe(fwk::SignalBase& signal, HubCallback callback, void* user) {
  auto* s = new (std::nothrow) fwk::Subscription(callback, user);
  if (s) signal.attach(s);
  return s;
}

}  // namespace kestrum

using namespace kestrum;

// ---- events ------------------------------------------------------------------

KS_API Subscription* KS_EventSubscribe(HubCallback callback, const char* name, void* user) {
  return subscribe(*tables().event(name ? name : ""), callback, user);
}

KS_API int KS_EventRaise(const char* name, void* argument) {
  // Keep the signal alive for the whole raise even if the hub is torn down
  // by one of its callbacks.
  fwk::counted_ptr<fwk::Signal<void*>> signal = tables().event(name ? name : "");
  return signal->raise(argument);
}

KS_API void KS_EventUnsubscribe(Subscription* subscription) {
  if (subscription) subscription->destroy();
}

KS_API void KS_VariantUnsubscribe(Subscription* s) { KS_EventUnsubscribe(s); }
KS_API void KS_ContactUnsubscribe(Subscription* s) { KS_EventUnsubscribe(s); }
KS_API void KS_GroupUnsubscribe(Subscription* s) { KS_EventUnsubscribe(s); }
KS_API void KS_ServiceUnsubscribe(Subscription* s) { KS_EventUnsubscribe(s); }
KS_API void KS_MessageUnsubscribe(Subscription* s) { KS_EventUnsubscribe(s); }

// ---- variants ----------------------------------------------------------------

namespace {
// Held for the duration of a set, whose signal may re-enter the hub.
fwk::counted_ptr<Variant> variantFor(const char* name) { return tables().variant(name ? name : ""); }
}  // namespace

KS_API void KS_SetVariantLong(const char* name, long value) { variantFor(name)->setLong(value); }
KS_API void KS_SetVariantPtr(const char* name, void* value) { variantFor(name)->setPointer(value); }
KS_API void KS_SetVariantString(const char* name, const char* value) { variantFor(name)->setString(value); }
KS_API long KS_GetVariantLong(const char* name) { return tables().variant(name ? name : "")->getLong(); }
KS_API void* KS_GetVariantPtr(const char* name) { return tables().variant(name ? name : "")->getPointer(); }

KS_API int KS_GetVariantString(const char* name, char* buffer) {
  const std::string& value = tables().variant(name ? name : "")->value();
  if (buffer) memcpy(buffer, value.c_str(), value.size() + 1);
  return static_cast<int>(value.size());
}

KS_API Subscription* KS_VariantSubscribe(HubCallback callback, const char* name, void* user) {
  return subscribe(tables().variant(name ? name : "")->signal(), callback, user);
}

// ---- named functions ----------------------------------------------------------

KS_API void KS_RegisterFunction(const char* name, HubCallback function, void* user) {
  hub().registerFunction(name, function, user);
}

KS_API void KS_UnregisterFunction(const char* name) { hub().unregisterFunction(name); }

KS_API uint32_t KS_CallFunction(const char* name, void* argument) {
  HubCallback function = nullptr;
  void* user = nullptr;
  if (!hub().getFunction(name, &function, &user) || !function) return 0;
  return function(user, argument);
}

KS_API int KS_GetFunctionProcAddress(const char* name, HubCallback* outFunction, void** outUser) {
  return hub().getFunction(name, outFunction, outUser) ? 1 : 0;
}

KS_API int32_t KS_GetHandleReferenceCount(const void* handle) {
  if (!handle) return 0;
  // Every handle cell starts with its count.
  return static_cast<const Handle<void>*>(handle)->count.load();
}
