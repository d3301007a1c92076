#include "comm/host.h"

#include <cstring>

#include "foundation/singleton.h"

namespace tarvixlib {
namespace comm {

CConnectionFailureHandler& FailureHandler() {
  return CSingleton<CConnectionFailureHandler>::Instance();
}

CForcedLogons& ForcedLogons() { return CSingleton<CForcedLogons>::Instance(); }

CMyStringA CForcedLogons::LogonUserName(const char* host, const char* user) {
  CMyStringA name;
  if (!user || !*user) return name;
  if (std::strchr(user, '\\') || std::strchr(user, '@'))
    name.Assign(user);
  else
    name.Format("%s\\%s", host ? host : "", user);
  return name;
}

void CForcedLogons::Enter(const char* remoteName) {
  CMySynchronizedBlock<CMyThreadSave> hold(lock_);
  established_.Set(remoteName, 1);
}

bool CForcedLogons::IsEstablished(const char* remoteName) {
  CMySynchronizedBlock<CMyThreadSave> hold(lock_);
  return established_.Contains(remoteName);
}

bool CForcedLogons::ForceConnection(const HOST& host, INetworkLogon& network) {
  if (host.name.IsEmpty()) return false;
  CMyStringA remote;
  remote.Format("\\\\%s", host.name.GetString());
  CMyStringA user = LogonUserName(host.name.GetString(), host.user.GetString());
  const char* userArg = user.IsEmpty() ? nullptr : user.GetString();
  const char* passwordArg = user.IsEmpty() ? nullptr : host.password.GetString();
  // A conflicting connection is cancelled once; a second conflict is not
  // retried for ever.
  for (int attempt = 0; attempt < 2; ++attempt) {
    uint32_t result = network.AddConnection(remote.GetString(), userArg, passwordArg);
    if (result == kLogonOk || result == kLogonAlreadyAssigned) {
      Enter(remote.GetString());
      return true;
    }
    if (result != kLogonCredentialConflict) return false;
    uint32_t cancelled = network.CancelConnection(remote.GetString());
    if (attempt == 0 && (cancelled == kLogonOk || cancelled == kLogonNotConnected)) continue;
    break;
  }
  CMyStringA share;
  share.Format("\\\\%s\\C$\\*", host.name.GetString());
  if (!network.ListsAnyFile(share.GetString())) return false;
  Enter(remote.GetString());
  return true;
}

}  // namespace comm
}  // namespace tarvixlib
