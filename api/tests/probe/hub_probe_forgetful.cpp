// A plug-in that subscribes and registers through the hub and never removes
// any of it, as a careless plug-in would.
#include "olvaro/api.h"

namespace {
uint32_t count(void* user, void*) {
  ++*static_cast<int*>(user);
  return 1;
}
}  // namespace

// Writes its six subscriptions to out: event, variant, contact, group,
// service, message.
extern "C" void probe_forgetful_start(int* calls, HContact* contact, HGroup* group, HService* service,
                                      HMessage* message, Subscription** out) {
  out[0] = KS_EventSubscribe(count, "probe.event", calls);
  out[1] = KS_VariantSubscribe(count, "probe.variant", calls);
  out[2] = KS_ContactSubscribe(count, contact, calls);
  out[3] = KS_GroupSubscribe(count, group, calls);
  out[4] = KS_ServiceSubscribe(count, service, calls);
  out[5] = KS_MessageSubscribe(count, message, calls);
  KS_RegisterFunction("probe.function", count, calls);
}
