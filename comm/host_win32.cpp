// The Windows side of host access: ICMP echo and network logons.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>
#include <winnetwk.h>

#include <cstring>

#include "comm/host.h"
#include "comm/protocol.h"
#include "foundation/winhandles.h"

namespace tarvixlib {
namespace comm {

namespace {

bool StartSockets() {
  static bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

// ICMP echo handles and file searches, as owners.
using CUniqueIcmpHandle = CUniqueOwner<ApiHandleTraits<IcmpCloseHandle>>;
using CUniqueFindHandle = CUniqueOwner<ApiHandleTraits<FindClose>>;

class CSystemNetworkLogon : public INetworkLogon {
public:
  uint32_t AddConnection(const char* remote, const char* user, const char* password) override {
    NETRESOURCEA resource = {};
    resource.dwType = RESOURCETYPE_ANY;
    resource.lpRemoteName = const_cast<char*>(remote);
    return WNetAddConnection2A(&resource, password, user, 0);
  }
  uint32_t CancelConnection(const char* remote) override {
    return WNetCancelConnection2A(remote, CONNECT_UPDATE_PROFILE, TRUE);
  }
  bool ListsAnyFile(const char* pattern) override {
    WIN32_FIND_DATAA found;
    CUniqueFindHandle find(FindFirstFileA(pattern, &found));
    return find.IsValid();
  }
};

}  // namespace

bool CConnectionFailureHandler::IsReachable(const HOST& host) {
  if (std::strcmp(host.name.GetString(), kLocalHost) == 0) return true;
  if (host.name.IsEmpty() || !StartSockets()) return false;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  hostent* entry = gethostbyname(host.name.GetString());
#pragma GCC diagnostic pop
  if (!entry || entry->h_addrtype != AF_INET || !entry->h_addr_list) return false;
  CUniqueIcmpHandle icmp(IcmpCreateFile());
  if (!icmp) return false;
  char request[32] = "Data Buffer";
  for (char** address = entry->h_addr_list; *address; ++address) {
    IPAddr target;
    std::memcpy(&target, *address, sizeof target);
    // Room for one reply with its data and the status a failed echo leaves.
    unsigned char reply[sizeof(ICMP_ECHO_REPLY) + sizeof request + 8];
    if (IcmpSendEcho(icmp.Get(), target, request, sizeof request, nullptr, reply, sizeof reply,
                     1000) > 0)
      return true;
  }
  return false;
}

INetworkLogon* SystemNetworkLogon() {
  static CSystemNetworkLogon logon;
  return &logon;
}

}  // namespace comm
}  // namespace tarvixlib
