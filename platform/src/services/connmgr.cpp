#include "platform/connmgr.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

#include "handles.h"

namespace platform {
namespace {

struct LinkObject : KernelObject {
  LinkObject();
  ~LinkObject() override;
};

struct ConnMgr {
  std::mutex m;
  std::optional<TestNetwork> test;
  int open = 0;
  int requests = 0;
  CONNMGR_CONNECTIONINFO last{};
};

ConnMgr& M() {
  static ConnMgr* c = new ConnMgr;  // links may be released during shutdown
  return *c;
}

LinkObject::LinkObject() : KernelObject(KernelKind::Connection) {
  std::lock_guard<std::mutex> g(M().m);
  ++M().open;
}

LinkObject::~LinkObject() {
  std::lock_guard<std::mutex> g(M().m);
  --M().open;
}

std::vector<Ipv4> parse(const std::vector<std::string>& texts) {
  std::vector<Ipv4> out;
  for (const std::string& t : texts) {
    in_addr a{};
    if (inet_pton(AF_INET, t.c_str(), &a) != 1) continue;
    Ipv4 v;
    std::memcpy(v.data(), &a.s_addr, 4);  // network order: the first byte first
    out.push_back(v);
  }
  return out;
}

Ipv4 fromSockaddr(const sockaddr* sa) {
  Ipv4 v;
  std::memcpy(v.data(), &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr.s_addr, 4);
  return v;
}

bool testNetwork(TestNetwork* out) {
  std::lock_guard<std::mutex> g(M().m);
  if (!M().test) return false;
  *out = *M().test;
  return true;
}

}  // namespace

std::string ownHostName() {
  char name[256] = {};
  if (gethostname(name, 255) != 0) return std::string();
  return name;
}

std::vector<Ipv4> ownHostAddresses() {
  TestNetwork t;
  if (testNetwork(&t)) return parse(t.hostAddresses);
  std::string name = ownHostName();
  std::vector<Ipv4> out;
  if (name.empty()) return out;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) return out;
  for (addrinfo* a = found; a; a = a->ai_next)
    if (a->ai_family == AF_INET && a->ai_addr) out.push_back(fromSockaddr(a->ai_addr));
  freeaddrinfo(found);
  return out;
}

std::vector<Ipv4> interfaceAddresses() {
  TestNetwork t;
  if (testNetwork(&t)) return parse(t.interfaceAddresses);
  std::vector<Ipv4> out;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return out;
  for (ifaddrs* i = list; i; i = i->ifa_next)
    if (i->ifa_addr && i->ifa_addr->sa_family == AF_INET) out.push_back(fromSockaddr(i->ifa_addr));
  freeifaddrs(list);
  return out;
}

void setTestNetwork(const TestNetwork* network) {
  std::lock_guard<std::mutex> g(M().m);
  if (network) {
    M().test = *network;
  } else {
    M().test.reset();
  }
}

int connMgrOpenConnections() {
  std::lock_guard<std::mutex> g(M().m);
  return M().open;
}

int connMgrRequests() {
  std::lock_guard<std::mutex> g(M().m);
  return M().requests;
}

CONNMGR_CONNECTIONINFO connMgrLastRequest() {
  std::lock_guard<std::mutex> g(M().m);
  return M().last;
}

}  // namespace platform

using namespace platform;

HRESULT ConnMgrEstablishConnectionSync(CONNMGR_CONNECTIONINFO* info, HANDLE* connection, DWORD, DWORD* status) {
  if (connection) *connection = nullptr;
  if (status) *status = CONNMGR_STATUS_UNKNOWN;
  if (!info || info->cbSize != sizeof(CONNMGR_CONNECTIONINFO) || !connection) return E_INVALIDARG;
  {
    std::lock_guard<std::mutex> g(M().m);
    ++M().requests;
    M().last = *info;
  }
  bool path = false;
  for (const Ipv4& a : interfaceAddresses())
    if (a[0] != 127) path = true;
  if (!path) {
    if (status) *status = CONNMGR_STATUS_NOPATHTODESTINATION;
    return E_FAIL;
  }
  *connection = addHandle(std::make_shared<LinkObject>());
  if (status) *status = CONNMGR_STATUS_CONNECTED;
  return S_OK;
}

HRESULT ConnMgrReleaseConnection(HANDLE connection, LONG) {
  if (!lookupHandleAs<LinkObject>(connection, KernelKind::Connection)) return E_INVALIDARG;
  removeHandle(connection);
  return S_OK;
}
