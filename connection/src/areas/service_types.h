// The networks a bridge can reach: one hub service type per network, and the
// "ServiceType/%p/Register" function of each, which asks the server for a
// new bridge with the account details the "Add a Service" dialog gathered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "olvaro/api.h"
#include "olvaro/connection_calls.h"
#include "olvaro/registrations.h"

namespace olvaro::conn {

class Session;

using olvaro::ServiceRegistration;
using olvaro::ServiceRegistrationField;

struct ServiceTypeRow {
  int32_t number;
  const char* shortName;
  const char* longName;
  int icon;  // resource id in this module
};

// Type numbers as the server knows them.
inline constexpr ServiceTypeRow kServiceTypeRows[] = {
    {1, "MSN", "Windows Live Messenger", 103}, {2, "Yahoo", "Yahoo! Messenger", 107},
    {3, "AIM", "AOL Instant Messenger", 106},  {4, "GG", "Gadu-Gadu", 104},
    {5, "ICQ", "AOL ICQ", 105},                {6, "XMPP", "Google Talk / Jabber", 108},
};

class ServiceTypes {
 public:
  explicit ServiceTypes(Session& session);
  // Unregisters the functions and releases the types.
  ~ServiceTypes();
  ServiceTypes(const ServiceTypes&) = delete;
  ServiceTypes& operator=(const ServiceTypes&) = delete;

  // 0 when the type is not one of ours.
  int32_t numberOf(HServiceType* type) const;
  // Null when no row has the number.
  HServiceType* typeOf(int32_t number) const;
  size_t size() const { return rows_.size(); }

  // "ServiceType/%p/Register": the request's id, 0 for a foreign type.
  uint64_t registerBridge(ServiceRegistration& registration);

 private:
  struct Row {
    ServiceTypes* owner;
    HServiceType* type;
    int32_t number;
    FunctionRegistration registerFunction;

    uint64_t registerBridge(ServiceRegistration& registration) { return owner->registerBridge(registration); }
  };

  Session& session_;
  std::vector<std::unique_ptr<Row>> rows_;
};

}  // namespace olvaro::conn
