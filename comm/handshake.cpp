#include "comm/handshake.h"

#include <cstring>

#include "foundation/byteorder.h"

namespace tarvixlib {
namespace comm {

namespace {

// Copies a name into its field, cut so that its terminator fits.
void PutName(uint8_t* field, size_t size, const char* name) {
  if (!name) return;
  size_t length = std::strlen(name);
  if (length > size - 1) length = size - 1;
  std::memcpy(field, name, length);
}

// A name field as text: up to its first NUL, never beyond the field.
CMyStringA FieldText(const uint8_t* field, size_t size) {
  char text[kDnsNameSize + 1];
  size_t length = 0;
  while (length < size && field[length]) ++length;
  std::memcpy(text, field, length);
  text[length] = '\0';
  return CMyStringA(text);
}

bool ReadWord(CMyStream& in, uint32_t* value) {
  uint8_t bytes[4];
  if (!in.ReadExact(bytes, 4)) return false;
  *value = LoadLe32(bytes);
  return true;
}

bool WriteWord(CMyStream& out, uint32_t value) {
  uint8_t bytes[4];
  StoreLe32(bytes, value);
  return out.WriteBuffered(bytes, 4) == 4;
}

// Reads a length word (8..4096) and the rest of the record; keeps the first
// 452 bytes of it, zero-filled when fewer were announced.
bool ReadRecord(CMyStream& in, IdentityRecord& record) {
  uint32_t length = 0;
  if (!ReadWord(in, &length) || length < kMinRecordLength || length > kMaxRecordLength)
    return false;
  uint8_t data[kMaxRecordLength];
  size_t rest = length - kMinRecordLength;
  if (!in.ReadExact(data, rest)) return false;
  std::memset(record.bytes, 0, sizeof record.bytes);
  std::memcpy(record.bytes, data, rest < kIdentityRecordSize ? rest : kIdentityRecordSize);
  return true;
}

bool WriteRecord(CMyStream& out, const IdentityRecord& record) {
  return WriteWord(out, kIdentityWireLength) &&
         out.WriteBuffered(record.bytes, kIdentityRecordSize) == kIdentityRecordSize;
}

struct TypeLabel {
  uint32_t type;
  const char* label;
};
const TypeLabel kTypeLabels[] = {
    {kServiceType, "service"},
    {0x1002, "service"},
    {0x1003, "management service"},
    {0x1004, "service"},
    {0x2001, "shell extension"},
    {kMailAddinType, "mail add-in"},
    {0x4001, "main window"},
    {0x4002, "main window"},
    {0x4003, "tray icon"},
    {kManagementConsoleType, "management console"},
    {0x4005, "document server plug-in"},
    {0x8001, "updater"},
    {0x8002, "management start-up"},
    {0x8003, "management updater"},
    {0x8004, "web-service client"},
    {0x14001, "main window watcher"},
    {0x14002, "main window watcher"},
    {0x14003, "tray icon watcher"},
    {0x14004, "management console watcher"},
    {0x14005, "document server watcher"},
    {kMailAddinWatcherType, "mail add-in watcher"},
};

}  // namespace

void BuildIdentityRecord(const IdentityFields& fields, IdentityRecord& record) {
  std::memset(record.bytes, 0, sizeof record.bytes);
  StoreLe32(record.bytes + kRecordAppType, fields.appType);
  StoreLe32(record.bytes + kRecordProcessId, fields.processId);
  StoreLe32(record.bytes + kRecordFlags, fields.flags);
  PutName(record.bytes + kRecordNetbiosName, kNetbiosNameSize, fields.netbiosName);
  if (fields.osVersion) std::memcpy(record.bytes + kRecordOsVersion, fields.osVersion, kOsVersionSize);
  PutName(record.bytes + kRecordDnsName, kDnsNameSize, fields.dnsName);
}

uint32_t RecordWord(const IdentityRecord& record, size_t offset) {
  return offset + 4 <= kIdentityRecordSize ? LoadLe32(record.bytes + offset) : 0;
}

const char* GetAppTypeLabel(uint32_t appType) {
  for (const TypeLabel& t : kTypeLabels)
    if (t.type == appType) return t.label;
  return nullptr;
}

const char* CTarvixConnectionContext::GetTypeName() {
  if (typeLabel_.IsEmpty()) {
    const char* label = GetAppTypeLabel(peerAppType_);
    if (label)
      typeLabel_.Assign(label);
    else
      typeLabel_.Format("%X", peerAppType_);
  }
  return typeLabel_.GetString();
}

void CTarvixConnectionContext::StoreIdentityRecord(const IdentityRecord& record) {
  peerAppType_ = RecordWord(record, kRecordAppType);
  peerProcessId_ = RecordWord(record, kRecordProcessId);
  std::memcpy(peerOsVersion_, record.bytes + kRecordOsVersion, kOsVersionSize);
  typeLabel_.Empty();  // a new peer type needs its own label
  if (!nameOverride_.IsEmpty()) {
    peerDisplayName_.Assign(nameOverride_.GetString());
    return;
  }
  CMyStringA dns = FieldText(record.bytes + kRecordDnsName, kDnsNameSize);
  if (!dns.IsEmpty())
    peerDisplayName_.Assign(dns.GetString());
  else
    peerDisplayName_.Assign(FieldText(record.bytes + kRecordNetbiosName, kNetbiosNameSize).GetString());
}

HandshakeResult RunClientHandshake(CMyStream& in, CMyStream& out, const IdentityRecord& own,
                                   CTarvixConnectionContext& context) {
  uint32_t version = 0;
  if (!ReadWord(in, &version)) return HandshakeResult::kNoVersion;
  if (version != kHandshakeVersion) {
    bool wrote = WriteWord(out, kHandshakeRefused);
    bool flushed = out.FlushWriteBuffer() >= 0;
    return !wrote && !flushed ? HandshakeResult::kWrongVersionUnanswered
                              : HandshakeResult::kWrongVersion;
  }
  IdentityRecord peer;
  bool read = ReadRecord(in, peer);
  if (read) context.StoreIdentityRecord(peer);
  bool wrote = WriteWord(out, kHandshakeVersion) && WriteRecord(out, own) &&
               out.FlushWriteBuffer() >= 0;
  if (!wrote) return HandshakeResult::kRecordUnsent;
  return read ? HandshakeResult::kOk : HandshakeResult::kRecordUnread;
}

ServerHandshakeResult RunServerHandshake(CMyStream& in, CMyStream& out, const IdentityRecord& own,
                                         CTarvixConnectionContext& context) {
  if (!WriteWord(out, kHandshakeVersion) || out.FlushWriteBuffer() < 0)
    return ServerHandshakeResult::kVersionUnsent;
  if (!WriteRecord(out, own) || out.FlushWriteBuffer() < 0)
    return ServerHandshakeResult::kRecordUnsent;
  uint32_t version = 0;
  if (!ReadWord(in, &version)) return ServerHandshakeResult::kNoClientVersion;
  IdentityRecord peer;
  if (!ReadRecord(in, peer)) return ServerHandshakeResult::kClientRecordUnread;
  context.StoreIdentityRecord(peer);
  return ServerHandshakeResult::kOk;
}

}  // namespace comm
}  // namespace tarvixlib
