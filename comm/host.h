// A host to send commands to, the failure handler that tells whether a host
// is reachable at all, and forced network logons for remote hosts.
#pragma once

#include <cstdint>

#include "foundation/hashtable.h"
#include "foundation/mystring.h"
#include "foundation/threads.h"

namespace tarvixlib {
namespace comm {

// A host: its name and, for remote hosts, the credentials of a forced
// logon. The add-in sets only the name.
class HOST {
public:
  HOST() = default;
  explicit HOST(const char* name) : name(name) {}
  HOST(const char* name, const char* user, const char* password)
      : name(name), user(user), password(password) {}
  virtual ~HOST() = default;

  CMyStringA name;
  CMyStringA user;
  CMyStringA password;
};

// Decides, after a connection failed, whether the host itself answers.
class CConnectionFailureHandler {
public:
  virtual ~CConnectionFailureHandler() = default;
  // "." always is; other hosts when one of their IPv4 addresses answers an
  // ICMP echo within 1000 ms (Windows only; elsewhere only ".").
  virtual bool IsReachable(const HOST& host);
  virtual CConnectionFailureHandler* Clone() const { return new CConnectionFailureHandler(*this); }
};
// The process-wide handler, created on first use.
CConnectionFailureHandler& FailureHandler();

// The network calls of a forced logon, replaceable for tests.
class INetworkLogon {
public:
  virtual ~INetworkLogon() = default;
  // WNetAddConnection2A semantics; user and password null when not given.
  virtual uint32_t AddConnection(const char* remote, const char* user, const char* password) = 0;
  // WNetCancelConnection2A, forced and updating the profile.
  virtual uint32_t CancelConnection(const char* remote) = 0;
  // Whether the path pattern lists any file.
  virtual bool ListsAnyFile(const char* pattern) = 0;
};
// The system's calls (Windows); null elsewhere.
INetworkLogon* SystemNetworkLogon();

// Error codes the logon rule tells apart (their Windows values).
constexpr uint32_t kLogonOk = 0;
constexpr uint32_t kLogonAlreadyAssigned = 85;         // ERROR_ALREADY_ASSIGNED
constexpr uint32_t kLogonCredentialConflict = 1219;    // ERROR_SESSION_CREDENTIAL_CONFLICT
constexpr uint32_t kLogonNotConnected = 2250;          // ERROR_NOT_CONNECTED

// Hosts with an established network logon, process-wide.
class CForcedLogons {
public:
  CForcedLogons() : established_(64, /*exactCase=*/false) {}
  // Logs on to "\\host" with the HOST's credentials: the user name is used
  // unchanged when it holds "\" or "@", else as "host\user". A conflict
  // with an existing connection cancels that one and tries once more; when
  // that fails too, the logon counts as established when the host's C$
  // share lists a file.
  bool ForceConnection(const HOST& host, INetworkLogon& network);
  bool IsEstablished(const char* remoteName);
  // The user name as passed to the logon.
  static CMyStringA LogonUserName(const char* host, const char* user);

private:
  void Enter(const char* remoteName);

  CMyThreadSave lock_;
  CMyHashTableT<const char*, uint32_t> established_;
};
CForcedLogons& ForcedLogons();

}  // namespace comm
}  // namespace tarvixlib
