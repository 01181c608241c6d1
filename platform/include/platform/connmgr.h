// The connection manager: asks the device for a data link. On Linux there
// is nothing to dial, so a link "is made" when the machine has an address
// other than loopback and fails otherwise. Tests choose what the machine
// seems to have with platform::setTestNetwork.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/types.h"

#define CONNMGR_PARAM_GUIDDESTNET 0x00000001
#define CONNMGR_PARAM_MAXCOST 0x00000002
#define CONNMGR_PARAM_MINRCVBW 0x00000004
#define CONNMGR_PARAM_MAXCONNLATENCY 0x00000008

#define CONNMGR_PRIORITY_VOICE 0x20000
#define CONNMGR_PRIORITY_USERINTERACTIVE 0x08000
#define CONNMGR_PRIORITY_USERBACKGROUND 0x02000
#define CONNMGR_PRIORITY_USERIDLE 0x00800
#define CONNMGR_PRIORITY_HIPRIBKGND 0x00200
#define CONNMGR_PRIORITY_IDLEBKGND 0x00080
#define CONNMGR_PRIORITY_EXTERNALINTERACTIVE 0x00020
#define CONNMGR_PRIORITY_LOWBKGND 0x00008

#define CONNMGR_STATUS_UNKNOWN 0x00
#define CONNMGR_STATUS_CONNECTED 0x10
#define CONNMGR_STATUS_DISCONNECTED 0x20
#define CONNMGR_STATUS_CONNECTIONFAILED 0x21
#define CONNMGR_STATUS_NOPATHTODESTINATION 0x24

struct CONNMGR_CONNECTIONINFO {
  DWORD cbSize;  // sizeof(CONNMGR_CONNECTIONINFO)
  DWORD dwParams;
  DWORD dwFlags;
  DWORD dwPriority;
  BOOL bExclusive;
  BOOL bDisabled;
  GUID guidDestNet;
  HWND hWnd;
  UINT uMsg;
  LPARAM lParam;
  ULONG ulMaxCost;
  ULONG ulMinRcvBw;
  ULONG ulMaxConnLatency;
};

// The Internet as destination network, {436EF144-B4FB-4863-A041-8F905A62C572}.
inline constexpr GUID IID_DestNetInternet = {0x436ef144, 0xb4fb, 0x4863,
                                             {0xa0, 0x41, 0x8f, 0x90, 0x5a, 0x62, 0xc5, 0x72}};

// S_OK with a handle to the link (CONNMGR_STATUS_CONNECTED), or E_FAIL with
// *connection NULL when there is no path; E_INVALIDARG for a missing record,
// a wrong cbSize or no place for the handle. The answer comes at once, well
// within any time-out.
HRESULT ConnMgrEstablishConnectionSync(CONNMGR_CONNECTIONINFO* info, HANDLE* connection, DWORD timeoutMs,
                                       DWORD* status);
// Gives the link back and frees the handle (CloseHandle does the same).
// `cache` is accepted and ignored: nothing is kept open here.
HRESULT ConnMgrReleaseConnection(HANDLE connection, LONG cache);

namespace platform {

using Ipv4 = std::array<uint8_t, 4>;

// The device's own host name (gethostname) and its IPv4 addresses from a
// lookup of that name; empty when the lookup fails.
std::string ownHostName();
std::vector<Ipv4> ownHostAddresses();
// The IPv4 addresses of the machine's interfaces (getifaddrs).
std::vector<Ipv4> interfaceAddresses();

// Replaces what the two lists above show, for tests: dotted quads, anything
// else ignored. nullptr gives the machine's own back.
struct TestNetwork {
  std::vector<std::string> hostAddresses;
  std::vector<std::string> interfaceAddresses;
};
void setTestNetwork(const TestNetwork* network);

// What tests read: links handed out and not yet released, and the last
// request as it arrived.
int connMgrOpenConnections();
int connMgrRequests();
CONNMGR_CONNECTIONINFO connMgrLastRequest();

}  // namespace platform
