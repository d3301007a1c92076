// Handshake bytes arrive from whoever opened the pipe: both roles read
// arbitrary input without crashing, never keep more than a record, and
// succeed only on input that holds a well-formed record.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "comm/handshake.h"
#include "foundation/byteorder.h"

using namespace tarvixlib;
using namespace tarvixlib::comm;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  IdentityRecord own;
  IdentityFields fields;
  fields.appType = kMailAddinType;
  fields.netbiosName = "FUZZ";
  fields.dnsName = "fuzz.example.test";
  BuildIdentityRecord(fields, own);

  for (int role = 0; role < 2; ++role) {
    CMyStreamStaticBuffer in(const_cast<uint8_t*>(data), size, size, 0);
    CMyStreamBuf out;
    CTarvixConnectionContext context;
    if (role == 1) context.SetNameOverride(".");
    bool ok = role == 0 ? RunClientHandshake(in, out, own, context) == HandshakeResult::kOk
                        : RunServerHandshake(in, out, own, context) == ServerHandshakeResult::kOk;
    if (ok) {
      // Success needs a version word and a length word in 8..4096 whose
      // bytes all arrived.
      if (size < 8) std::abort();
      uint32_t length = LoadLe32(data + 4);
      if (length < kMinRecordLength || length > kMaxRecordLength || size < length) std::abort();
      if (role == 0 && LoadLe32(data) != kHandshakeVersion) std::abort();
    }
    if (std::strlen(context.PeerDisplayName()) > kDnsNameSize) std::abort();
    if (role == 1 && ok && std::strcmp(context.PeerDisplayName(), ".") != 0) std::abort();
    (void)context.GetTypeName();
  }
  return 0;
}
