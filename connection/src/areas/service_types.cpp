#include "service_types.h"

#include <cstring>
#include <string>

#include "platform/resources.h"
#include "protocol_area.h"

namespace olvaro::conn {
namespace {

// A slot's text up to its NUL, never past the slot.
std::string slotText(const char* slot, size_t size) { return std::string(slot, strnlen(slot, size)); }

// A header name the packet can carry: no separator, no line break.
bool usableName(const std::string& name) {
  if (name.empty()) return false;
  for (unsigned char c : name)
    if (c == ':' || c < 0x20 || c == 0x7f) return false;
  return true;
}

// Line breaks would end the header early and start another.
std::string oneLine(std::string value) {
  for (char& c : value)
    if (c == '\n' || c == '\r') c = ' ';
  return value;
}

// Waits for the server's leave to register, then sends the fields.
class RegisterRequest : public PendingRequest {
 public:
  RegisterRequest(uint64_t id, Session& session, const ServiceRegistration& registration)
      : PendingRequest(id), session_(session), registration_(registration) {}
  bool onResponse(int64_t code, const std::string&) override {
    if (code != kResponseOk) return true;
    Packet fields("BRIDGE REGISTER FIELDS");
    fields.setHeaderId("Mesg-Id", id());
    int32_t count = registration_.fieldCount < 0 ? 0 : registration_.fieldCount > 8 ? 8 : registration_.fieldCount;
    for (int32_t i = 0; i < count; ++i) {
      const ServiceRegistrationField& field = registration_.fields[i];
      std::string name = slotText(field.name, sizeof field.name);
      if (!usableName(name)) continue;
      fields.setHeader(name, oneLine(slotText(field.value, sizeof field.value)));
    }
    session_.send(fields);
    return true;
  }

 private:
  Session& session_;
  ServiceRegistration registration_;
};

}  // namespace

ServiceTypes::ServiceTypes(Session& session) : session_(session) {
  HMODULE module = platform::currentModule();
  for (const ServiceTypeRow& row : kServiceTypeRows) {
    ServiceTypeData d{};
    d.size = sizeof d;
    d.mask = SERVICETYPE_LONGNAME | SERVICETYPE_SHORTNAME | SERVICETYPE_ICON;
    d.longName = row.longName;
    d.shortName = row.shortName;
    d.kind = row.number;
    d.iconModule = module;
    d.iconResource = MAKEINTRESOURCE(row.icon);
    HServiceType* type = KS_CreateServiceType(&d);
    if (!type) continue;
    auto entry = std::make_unique<Row>();
    entry->owner = this;
    entry->type = type;
    entry->number = row.number;
    entry->registerFunction = FunctionRegistration::bind<&Row::registerBridge>(
        handleName("ServiceType/%p/Register", type), entry.get());
    rows_.push_back(std::move(entry));
  }
}

ServiceTypes::~ServiceTypes() {
  for (auto& row : rows_) {
    row->registerFunction.reset();
    KS_ReleaseServiceType(row->type);
  }
  rows_.clear();
}

int32_t ServiceTypes::numberOf(HServiceType* type) const {
  for (auto& row : rows_)
    if (row->type == type) return row->number;
  return 0;
}

HServiceType* ServiceTypes::typeOf(int32_t number) const {
  for (auto& row : rows_)
    if (row->number == number) return row->type;
  return nullptr;
}

uint64_t ServiceTypes::registerBridge(ServiceRegistration& registration) {
  uint64_t id = KS_GetLUID();
  registration.mesgId = id;
  int32_t number = numberOf(registration.serviceType);
  if (number == 0) return 0;
  Packet request("BRIDGE REGISTER");
  request.setHeaderId("Mesg-Id", id);
  request.setHeaderInt("Bridge-Type", number);
  // Entered first: a send that ends the link answers it with the others.
  session_.registerPendingRequest(
      fwk::counted_ptr<PendingRequest>(new RegisterRequest(id, session_, registration)));
  session_.send(request);
  return id;
}

}  // namespace olvaro::conn
