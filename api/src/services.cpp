#include <algorithm>

#include "hub.h"

namespace kestrum {

template <>
void releaseHandle<Service>(HService* h) {
  if (!h || h->count.fetch_sub(1) != 1) return;
  // A hub being torn down has already dropped its list.
  if (fwk::Singleton<Data>::hasInstance()) {
    auto& list = tables().services;
    list.erase(std::remove(list.begin(), list.end(), h), list.end());
  }
  delete h->entity;
  delete h;
}

}  // namespace kestrum

using namespace kestrum;

KS_API HService* KS_CreateService(const ServiceData* data) {
  HService* h = newHandle(new Service);
  KS_SetServiceData(h, data);
  tables().services.push_back(h);
  return h;
}

KS_API void KS_SetServiceData(HService* h, const ServiceData* d) {
  if (!h || !d) return;
  HandleGuard<Service> guard(h);
  Service& s = *h->entity;
  if (d->mask & SERVICE_STATE) s.state = d->state;
  if (d->mask & SERVICE_TYPE) s.type = d->type;
  if (d->mask & SERVICE_SIGNINREQUESTED) s.signInRequested = d->signInRequested;
  if (d->mask & SERVICE_DISPLAYNAME) s.displayName = copyText(d->displayName);
  if (d->mask & SERVICE_USERNAME) s.userName = copyText(d->userName);
  if (d->mask & SERVICE_PASSWORD) s.password = copyText(d->password);
  if (d->mask & SERVICE_TEXT28) s.text28 = copyText(d->text28);
  if (d->mask & SERVICE_TEXT24) s.text24 = copyText(d->text24);
  if (d->mask & SERVICE_ICON) {
    s.iconModule = d->iconModule;
    s.iconResource = d->iconResource;
  }
  s.signal.raise(h);
}

KS_API void KS_GetServiceData(HService* h, ServiceData* out) {
  if (!h || !out) return;
  const Service& s = *h->entity;
  out->type = s.type;
  out->userName = s.userName.c_str();
  out->password = s.password.c_str();
  out->displayName = s.displayName.c_str();
  out->text24 = s.text24.c_str();
  out->text28 = s.text28.c_str();
  out->state = s.state;
  out->signInRequested = s.signInRequested;
  out->iconModule = s.iconModule;
  out->iconResource = s.iconResource;
}

KS_API HService* KS_DuplicateServiceHandle(HService* h) { return duplicateHandle(h); }

KS_API void KS_ReleaseService(HService* h) { releaseHandle(h); }

KS_API Subscription* KS_ServiceSubscribe(HubCallback callback, HService* h, void* user) {
  return h ? subscribe(h->entity->signal, callback, user) : nullptr;
}

KS_API void KS_GetServices(HService** out, int* inoutCount) {
  if (!inoutCount) return;
  const auto& list = tables().services;
  if (*inoutCount <= 0 || !out) {
    *inoutCount = static_cast<int>(list.size());
    return;
  }
  int written = 0;
  for (HService* s : list) {
    if (written == *inoutCount) break;
    out[written++] = duplicateHandle(s);
  }
  *inoutCount = written;
}

KS_API HService* KS_GetPrimaryService() {
  auto& t = tables();
  if (!t.primaryService) {
    ServiceData empty{};
    empty.size = sizeof empty;
    t.primaryService = KS_CreateService(&empty);
  }
  return duplicateHandle(t.primaryService);
}

// ---- service types -------------------------------------------------------------

KS_API HServiceType* KS_CreateServiceType(const ServiceTypeData* data) {
  HServiceType* h = newHandle(new ServiceType);
  KS_SetServiceTypeData(h, data);
  tables().serviceTypes.push_back(h);
  return h;
}

KS_API void KS_SetServiceTypeData(HServiceType* h, const ServiceTypeData* d) {
  if (!h || !d) return;
  ServiceType& t = *h->entity;
  if (d->mask & SERVICETYPE_LONGNAME) t.longName = copyText(d->longName);
  if (d->mask & SERVICETYPE_SHORTNAME) t.shortName = copyText(d->shortName);
  t.kind = d->kind;
  if (d->mask & SERVICETYPE_ICON) {
    t.iconModule = d->iconModule;
    t.iconResource = d->iconResource;
  }
}

KS_API void KS_GetServiceTypeData(HServiceType* h, ServiceTypeData* out) {
  if (!h || !out) return;
  const ServiceType& t = *h->entity;
  out->longName = t.longName.c_str();
  out->shortName = t.shortName.c_str();
  out->iconModule = t.iconModule;
  out->iconResource = t.iconResource;
}

KS_API void KS_ReleaseServiceType(HServiceType* h) {
  if (!h || h->count.fetch_sub(1) != 1) return;
  // A released type stays listed; freeing it here would leave the list
  // pointing at freed memory. The hub frees it at teardown.
  if (fwk::Singleton<Data>::hasInstance()) {
    const auto& list = tables().serviceTypes;
    if (std::find(list.begin(), list.end(), h) != list.end()) return;
  }
  delete h->entity;
  delete h;
}

KS_API void KS_GetServiceTypes(HServiceType** out, int* inoutCount) {
  if (!inoutCount) return;
  const auto& list = tables().serviceTypes;
  if (*inoutCount <= 0 || !out) {
    *inoutCount = static_cast<int>(list.size());
    return;
  }
  int written = 0;
  for (HServiceType* t : list) {
    if (written == *inoutCount) break;
    out[written++] = t;
  }
  *inoutCount = written;
}
