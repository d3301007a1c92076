// The identity handshake over memory streams, both roles, and the peer
// identity it leaves in the connection context.
#include "comm/handshake.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "comm_printers.h"

namespace tarvixlib {
namespace comm {
namespace {

std::string Word(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

IdentityRecord MakeRecord(uint32_t type, uint32_t pid, const char* netbios, const char* dns) {
  IdentityFields f;
  f.appType = type;
  f.processId = pid;
  f.flags = 0x77;
  f.netbiosName = netbios;
  f.dnsName = dns;
  uint8_t os[kOsVersionSize];
  for (size_t i = 0; i < sizeof os; ++i) os[i] = static_cast<uint8_t>(i + 1);
  f.osVersion = os;
  IdentityRecord r;
  BuildIdentityRecord(f, r);
  return r;
}

std::string Bytes(const IdentityRecord& r) {
  return std::string(reinterpret_cast<const char*>(r.bytes), kIdentityRecordSize);
}

std::string Contents(CMyStreamBuf& s) {
  s.FlushWriteBuffer();
  std::string out(static_cast<size_t>(s.Size()), '\0');
  s.Seek(0, nullptr, 0);
  if (!out.empty()) s.Read(&out[0], out.size());
  return out;
}

// A stream that accepts only `room` bytes in all.
class RefusingStream : public CMyStreamBuf {
public:
  explicit RefusingStream(size_t room) : room_(room) {}
  size_t Write(const void* data, size_t length) override {
    size_t n = length < room_ ? length : room_;
    room_ -= n;
    return n ? CMyStreamBuf::Write(data, n) : 0;
  }

private:
  size_t room_;
};

TEST(IdentityRecord, LayoutIsPackedLittleEndianWithBoundedNames) {
  std::string longName(400, 'd');
  IdentityRecord r = MakeRecord(0x2002, 0x01020304, "NETBIOSNAMEISTOOLONG", longName.c_str());
  const uint8_t* b = r.bytes;
  EXPECT_EQ(RecordWord(r, 0), 0u);
  EXPECT_EQ(RecordWord(r, kRecordAppType), 0x2002u);
  EXPECT_EQ(RecordWord(r, 8), 0u);
  EXPECT_EQ(b[12], 0x04);
  EXPECT_EQ(b[15], 0x01);
  EXPECT_EQ(RecordWord(r, kRecordFlags), 0x77u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b + 20)), "NETBIOSNAMEISTO") << "15 + NUL";
  EXPECT_EQ(b[36], 1);
  EXPECT_EQ(b[36 + 155], 156);
  EXPECT_EQ(std::strlen(reinterpret_cast<const char*>(b + 192)), 259u);
  EXPECT_EQ(b[451], 0) << "the DNS name keeps its terminator inside the record";
}

TEST(ClientHandshake, AcceptsAVersionOneServerAndAnswersWithItsRecord) {
  IdentityRecord server = MakeRecord(0x1001, 4242, "SRV", "srv.example.test");
  IdentityRecord own = MakeRecord(0x2002, 7, "ME", "me.example.test");
  CMyStreamBuf in, out;
  std::string sent = Word(1) + Word(460) + Bytes(server);
  in.Write(sent.data(), sent.size());
  in.Seek(0, nullptr, 0);
  CTarvixConnectionContext context;
  EXPECT_EQ(RunClientHandshake(in, out, own, context), HandshakeResult::kOk);
  EXPECT_EQ(Contents(out), Word(1) + Word(460) + Bytes(own));
  EXPECT_EQ(context.PeerAppType(), 0x1001u);
  EXPECT_EQ(context.PeerProcessId(), 4242u);
  EXPECT_STREQ(context.PeerDisplayName(), "srv.example.test");
  EXPECT_EQ(context.PeerOsVersion()[0], 1);
  EXPECT_STREQ(context.GetTypeName(), GetAppTypeLabel(0x1001));
}

// What the client reads, what it answers and what it returns.
TEST(ClientHandshake, ServerRepliesTable) {
  IdentityRecord server = MakeRecord(0x1001, 1, "SRV", "srv");
  IdentityRecord own = MakeRecord(0x2002, 2, "ME", "me");
  const std::string ownReply = Word(1) + Word(460) + Bytes(own);
  const std::string full = Bytes(server);
  struct Case {
    const char* what;
    std::string input;
    HandshakeResult result;
    std::string reply;
  } cases[] = {
      {"nothing", "", HandshakeResult::kNoVersion, ""},
      {"half a version word", "\x01\x00", HandshakeResult::kNoVersion, ""},
      {"version 2", Word(2), HandshakeResult::kWrongVersion, Word(0)},
      {"version 0", Word(0) + Word(460) + full, HandshakeResult::kWrongVersion, Word(0)},
      {"length 7", Word(1) + Word(7) + full, HandshakeResult::kRecordUnread, ownReply},
      {"length 4097", Word(1) + Word(4097) + std::string(4089, 'x'), HandshakeResult::kRecordUnread,
       ownReply},
      {"length 4096", Word(1) + Word(4096) + full + std::string(4088 - 452, 'x'),
       HandshakeResult::kOk, ownReply},
      {"length 8: an empty record", Word(1) + Word(8), HandshakeResult::kOk, ownReply},
      {"record cut short", Word(1) + Word(460) + full.substr(0, 100),
       HandshakeResult::kRecordUnread, ownReply},
      {"no length word", Word(1), HandshakeResult::kRecordUnread, ownReply},
  };
  for (const Case& c : cases) {
    CMyStreamBuf in, out;
    in.Write(c.input.data(), c.input.size());
    in.Seek(0, nullptr, 0);
    CTarvixConnectionContext context;
    EXPECT_EQ(RunClientHandshake(in, out, own, context), c.result) << c.what;
    EXPECT_EQ(Contents(out), c.reply) << c.what;
  }
}

TEST(ClientHandshake, ShortRecordIsZeroFilled) {
  // 300 announced: 292 bytes arrive, the rest of the record is zero.
  std::string record(292, '\0');
  record[4] = 0x04;
  record[5] = 0x40;               // type 0x4004
  record.replace(192, 100, std::string(100, 'n'));  // a DNS name without terminator
  CMyStreamBuf in, out;
  std::string sent = Word(1) + Word(300) + record;
  in.Write(sent.data(), sent.size());
  in.Seek(0, nullptr, 0);
  CTarvixConnectionContext context;
  ASSERT_EQ(RunClientHandshake(in, out, MakeRecord(0x2002, 1, "", ""), context),
            HandshakeResult::kOk);
  EXPECT_EQ(context.PeerAppType(), 0x4004u);
  EXPECT_EQ(std::string(context.PeerDisplayName()), std::string(100, 'n'))
      << "the name ends where the received bytes end";
  EXPECT_EQ(in.Position(), in.Size()) << "every announced byte was consumed";
}

TEST(ClientHandshake, WriteFailures) {
  IdentityRecord server = MakeRecord(0x1001, 1, "SRV", "srv");
  IdentityRecord own = MakeRecord(0x2002, 2, "ME", "me");
  struct Case {
    const char* what;
    std::string input;
    size_t room;
    size_t writeBuffer;
    HandshakeResult result;
  } cases[] = {
      {"record refused", Word(1) + Word(460) + Bytes(server), 100, 0,
       HandshakeResult::kRecordUnsent},
      {"record refused after a bad read", Word(1) + Word(7), 100, 0,
       HandshakeResult::kRecordUnsent},
      {"version answer flushed late", Word(2), 0, 16, HandshakeResult::kWrongVersion},
      {"version answer refused, nothing left to flush", Word(2), 1, 2,
       HandshakeResult::kWrongVersion},
  };
  for (const Case& c : cases) {
    CMyStreamBuf in;
    RefusingStream out(c.room);
    if (c.writeBuffer) {
      ASSERT_TRUE(out.SetBuffering(CMyStream::kWriteBuffer, 0, c.writeBuffer));
    }
    in.Write(c.input.data(), c.input.size());
    in.Seek(0, nullptr, 0);
    CTarvixConnectionContext context;
    EXPECT_EQ(RunClientHandshake(in, out, own, context), c.result) << c.what;
  }
}

TEST(ServerHandshake, SpeaksFirstAndStoresTheClient) {
  IdentityRecord own = MakeRecord(0x1001, 1, "SRV", "srv");
  IdentityRecord client = MakeRecord(0x2002, 99, "CLIENTPC", "");
  struct Case {
    const char* what;
    std::string input;
    size_t room;
    ServerHandshakeResult result;
  } cases[] = {
      {"a version 1 client", Word(1) + Word(460) + Bytes(client), 1 << 20,
       ServerHandshakeResult::kOk},
      {"any client version is accepted", Word(7) + Word(460) + Bytes(client), 1 << 20,
       ServerHandshakeResult::kOk},
      {"no version word", "", 1 << 20, ServerHandshakeResult::kNoClientVersion},
      {"length 4097", Word(1) + Word(4097), 1 << 20, ServerHandshakeResult::kClientRecordUnread},
      {"record cut short", Word(1) + Word(460) + "abc", 1 << 20,
       ServerHandshakeResult::kClientRecordUnread},
      {"version word refused", Word(1) + Word(460) + Bytes(client), 0,
       ServerHandshakeResult::kVersionUnsent},
      {"record refused", Word(1) + Word(460) + Bytes(client), 10,
       ServerHandshakeResult::kRecordUnsent},
  };
  for (const Case& c : cases) {
    CMyStreamBuf in;
    RefusingStream out(c.room);
    in.Write(c.input.data(), c.input.size());
    in.Seek(0, nullptr, 0);
    CTarvixConnectionContext context;
    EXPECT_EQ(RunServerHandshake(in, out, own, context), c.result) << c.what;
    if (c.result == ServerHandshakeResult::kOk) {
      EXPECT_EQ(Contents(out), Word(1) + Word(460) + Bytes(own)) << c.what;
      EXPECT_EQ(context.PeerAppType(), 0x2002u);
      EXPECT_EQ(context.PeerProcessId(), 99u);
      EXPECT_STREQ(context.PeerDisplayName(), "CLIENTPC") << "no DNS name: the NetBIOS name";
    }
  }
}

TEST(ConnectionContext, DisplayNamePrefersTheOverrideThenDnsThenNetbios) {
  CTarvixConnectionContext context;
  context.StoreIdentityRecord(MakeRecord(0x1001, 1, "NB", "dns.name"));
  EXPECT_STREQ(context.PeerDisplayName(), "dns.name");
  context.StoreIdentityRecord(MakeRecord(0x1001, 1, "NB", ""));
  EXPECT_STREQ(context.PeerDisplayName(), "NB");
  context.SetNameOverride(".");
  context.StoreIdentityRecord(MakeRecord(0x1001, 1, "NB", "dns.name"));
  EXPECT_STREQ(context.PeerDisplayName(), ".") << "a client connected to . shows .";
}

TEST(ConnectionContext, TypeNames) {
  struct Case {
    uint32_t type;
    const char* name;  // null: the table's label
  } cases[] = {
      {0x1001, nullptr}, {0x2002, nullptr}, {0x14006, nullptr}, {0x4004, nullptr},
      {0xABC12, "ABC12"}, {0, "0"}, {0x2003, "2003"}, {0xFFFFFFFF, "FFFFFFFF"},
  };
  for (const Case& c : cases) {
    CTarvixConnectionContext context;
    context.StoreIdentityRecord(MakeRecord(c.type, 1, "", ""));
    if (c.name != nullptr) {
      EXPECT_EQ(GetAppTypeLabel(c.type), nullptr) << std::hex << c.type;
      EXPECT_STREQ(context.GetTypeName(), c.name);
    } else {
      ASSERT_NE(GetAppTypeLabel(c.type), nullptr) << std::hex << c.type;
      EXPECT_STREQ(context.GetTypeName(), GetAppTypeLabel(c.type));
    }
  }
  CTarvixConnectionContext labelled;
  labelled.SetTypeLabel("custom");
  EXPECT_STREQ(labelled.GetTypeName(), "custom");
}

TEST(AdminPort, AcceptsOnlyTheManagementConsoleAndItsWatcher) {
  struct Case {
    uint32_t type;
    bool accepted;
  } cases[] = {{0x4004, true}, {0x14004, true}, {0x2002, false}, {0x1001, false},
               {0x4005, false}, {0x14006, false}, {0x8004, false}};
  for (const Case& c : cases) EXPECT_EQ(AdminPortAccepts(c.type), c.accepted) << std::hex << c.type;
}

}  // namespace
}  // namespace comm
}  // namespace tarvixlib
