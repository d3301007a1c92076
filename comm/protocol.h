// What both ends of the service's pipe agree on, in one place: the pipe's
// name and path, the words and sizes of the identity handshake, and the
// application types this system presents or asks for. Everything that
// speaks the protocol (the client, the stand-in service, tests, benchmarks)
// takes them from here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "foundation/mystring.h"

namespace tarvixlib {
namespace comm {

// The service's pipe on the local machine: \\.\pipe\TarvixPipe.
constexpr char kLocalHost[] = ".";
constexpr char kServicePipeName[] = "TarvixPipe";
// "\\<host>\pipe\<name>"; an empty or missing host is ".", an empty or
// missing name is "TarvixPipe".
CMyStringA PipePath(const char* host, const char* pipeName);

// The handshake: version word, then the length word and the identity
// record. Every word is a little-endian unsigned 32-bit value.
constexpr uint32_t kHandshakeVersion = 1;
constexpr uint32_t kHandshakeRefused = 0;  // a client's answer to another version
constexpr size_t kIdentityRecordSize = 452;
constexpr uint32_t kIdentityWireLength = 460;  // version word + length word + record
constexpr uint32_t kMinRecordLength = 8;
constexpr uint32_t kMaxRecordLength = 4096;

// Identity record offsets and field sizes.
constexpr size_t kRecordAppType = 4;
constexpr size_t kRecordProcessId = 12;
constexpr size_t kRecordFlags = 16;
constexpr size_t kRecordNetbiosName = 20;
constexpr size_t kNetbiosNameSize = 16;
constexpr size_t kRecordOsVersion = 36;
constexpr size_t kOsVersionSize = 156;
constexpr size_t kRecordDnsName = 192;
constexpr size_t kDnsNameSize = 260;

// Application types.
constexpr uint32_t kServiceType = 0x1001;            // the security service
constexpr uint32_t kMailAddinType = 0x2002;          // this add-in's command connection
constexpr uint32_t kMailAddinWatcherType = 0x14006;  // this add-in's listener connection
constexpr uint32_t kManagementConsoleType = 0x4004;
// The bits a command client requires of its peer: a service.
constexpr uint32_t kServiceTypeBits = 0x1000;
// The admin port serves only peers whose type has no bit outside this mask.
constexpr uint32_t kAdminPortTypeMask = 0x14004;

}  // namespace comm
}  // namespace tarvixlib
