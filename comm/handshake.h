// The identity handshake that both ends of a pipe (or socket) connection run
// right after opening it, and the peer identity it yields.
//
// The server speaks first. Every word is a little-endian unsigned 32-bit
// value; the identity record is 452 packed bytes, announced by the length
// word 460 (version word + length word + record):
//
//   offset size
//     0     4   0
//     4     4   application type
//     8     4   0
//    12     4   process id
//    16     4   flags
//    20    16   NetBIOS computer name, NUL-terminated
//    36   156   the sender's OSVERSIONINFOEXA
//   192   260   fully qualified DNS computer name, NUL-terminated
//
// A received record may announce 8..4096 bytes; only its first 452 are kept
// (zero-filled when fewer arrive). The numbers live in comm/protocol.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "comm/protocol.h"
#include "foundation/mystream.h"
#include "foundation/mystring.h"

namespace tarvixlib {
namespace comm {

// Client handshake results: 0 or a negative step code whose tens give the
// protocol version that failed and whose units give the step.
enum class HandshakeResult : int32_t {
  kOk = 0,
  kNoVersion = -1,                // the server's version word did not arrive
  kWrongVersion = -10,            // not version 1: answered with 0
  kWrongVersionUnanswered = -11,  // ... and the answer could not be sent
  kRecordUnread = -13,            // version 1, the server's record was bad
  kRecordUnsent = -14,            // version 1, our record could not be sent
};
// Server handshake results, on the same scheme.
enum class ServerHandshakeResult : int32_t {
  kOk = 0,
  kVersionUnsent = -1,
  kRecordUnsent = -10,
  kNoClientVersion = -11,
  kClientRecordUnread = -12,
};
// The step code as logged: the negative number itself.
inline int32_t StepCode(HandshakeResult r) { return static_cast<int32_t>(r); }
inline int32_t StepCode(ServerHandshakeResult r) { return static_cast<int32_t>(r); }

// The identity a client presents.
struct ConnectParams {
  uint32_t appType = 0;
  uint32_t processId = 0;
  uint32_t flags = 0;
};

// One identity record in its wire form.
struct IdentityRecord {
  uint8_t bytes[kIdentityRecordSize] = {};
};

// The fields the caller supplies; the rest of the record stays zero. Names
// are cut to fit their field with their terminator.
struct IdentityFields {
  uint32_t appType = 0;
  uint32_t processId = 0;
  uint32_t flags = 0;
  const char* netbiosName = "";
  const uint8_t* osVersion = nullptr;  // kOsVersionSize bytes, or null for zeros
  const char* dnsName = "";
};
void BuildIdentityRecord(const IdentityFields& fields, IdentityRecord& record);
uint32_t RecordWord(const IdentityRecord& record, size_t offset);

// The application type's short label ("service", "mail add-in", ...), or
// null when the type is not known.
const char* GetAppTypeLabel(uint32_t appType);
// Whether the admin port serves a peer of this type.
inline bool AdminPortAccepts(uint32_t appType) { return (appType & ~kAdminPortTypeMask) == 0; }

// The identity of the peer, filled by the handshake.
class CTarvixConnectionContext {
public:
  virtual ~CTarvixConnectionContext() = default;

  uint32_t PeerAppType() const { return peerAppType_; }
  uint32_t PeerProcessId() const { return peerProcessId_; }
  const uint8_t* PeerOsVersion() const { return peerOsVersion_; }
  const char* PeerDisplayName() const { return peerDisplayName_.GetString(); }
  const char* NameOverride() const { return nameOverride_.GetString(); }
  void SetNameOverride(const char* name) { nameOverride_.Assign(name); }
  void SetPeerDisplayName(const char* name) { peerDisplayName_.Assign(name); }

  // The cached label when set, else the table's label, else the type in
  // upper-case hexadecimal without prefix.
  const char* GetTypeName();
  void SetTypeLabel(const char* label) { typeLabel_.Assign(label); }

  // Takes the peer's identity from a received record: type, process id, OS
  // version, and as display name the name override when set, else the DNS
  // name when not empty, else the NetBIOS name. The flags are not kept.
  void StoreIdentityRecord(const IdentityRecord& record);

private:
  uint32_t peerAppType_ = 0;
  CMyStringA typeLabel_;
  uint8_t peerOsVersion_[kOsVersionSize] = {};
  CMyStringA peerDisplayName_;
  CMyStringA nameOverride_;
  uint32_t peerProcessId_ = 0;
};

// The client's side, on a connection's read and write streams: reads the
// server's version and record, answers with `own`, and stores the server's
// record in `context`.
HandshakeResult RunClientHandshake(CMyStream& in, CMyStream& out, const IdentityRecord& own,
                                   CTarvixConnectionContext& context);
// The server's side: sends version 1 and `own`, then reads the client's
// version word (any value) and record.
ServerHandshakeResult RunServerHandshake(CMyStream& in, CMyStream& out, const IdentityRecord& own,
                                         CTarvixConnectionContext& context);

}  // namespace comm
}  // namespace tarvixlib
