// Outside Windows there is no ICMP echo or network logon here: only the
// local host counts as reachable.
#include <cstring>

#include "comm/host.h"
#include "comm/protocol.h"

namespace tarvixlib {
namespace comm {

bool CConnectionFailureHandler::IsReachable(const HOST& host) {
  return std::strcmp(host.name.GetString(), kLocalHost) == 0;
}

INetworkLogon* SystemNetworkLogon() { return nullptr; }

}  // namespace comm
}  // namespace tarvixlib
