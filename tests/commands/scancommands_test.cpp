// SCAN_EMAIL and SCAN_SPAM: the request on the wire and what the client
// takes from a reply.
#include <gtest/gtest.h>

#include <string>

#include "commands/scancommands.h"
#include "test_streams.h"

namespace tarvixlib {
namespace commands {
namespace tarvixservice {
namespace {

using testing_::ContentOf;
using testing_::SendAgainst;
using testing_::StreamOf;

TEST(ScanEmail, RequestOnTheWire) {
  CScanEmailCommand c;
  c.file.Set("invoice.pdf");
  c.from.Set("Anna <anna@example.com>");
  c.subject.Set("March");
  c.content.SetBytes("%PDF", 4);
  EXPECT_EQ(SendAgainst(c, "100 1536\n.\n"),
            "SCAN_EMAIL\nFILE:invoice.pdf\nFROM:Anna <anna@example.com>\nSUBJECT:March\n"
            "DATA 4\n%PDF.\n");
}

TEST(ScanEmail, EmptyAttachmentIsADataBlockOfSizeZero) {
  CScanEmailCommand c;
  c.file.Set("empty.txt");
  EXPECT_EQ(SendAgainst(c, "100 1536\n.\n"),
            "SCAN_EMAIL\nFILE:empty.txt\nFROM:\nSUBJECT:\nDATA 0\n.\n");
}

TEST(ScanEmail, SubjectWithLineBreaksCannotInjectLines) {
  CScanEmailCommand c;
  c.subject.Set("Hi\nDATA 5\r\n.");
  std::string wire = SendAgainst(c, "100 1536\n.\n");
  EXPECT_NE(wire.find("SUBJECT:Hi DATA 5  .\n"), std::string::npos) << wire;
}

TEST(ScanEmail, SameInputsGiveTheSameWireTextAndDifferentIds) {
  CScanEmailCommand a, b;
  for (CScanEmailCommand* c : {&a, &b}) {
    c->file.Set("x.doc");
    c->content.SetBytes("abc", 3);
  }
  EXPECT_NE(a.GetId(), b.GetId());
  EXPECT_EQ(SendAgainst(a, "100 1536\n.\n"), SendAgainst(b, "100 1536\n.\n"));
}

TEST(ScanEmail, VerdictsFromReplies) {
  struct {
    const char* reply;
    bool virus;
    bool ignored;
    const char* sigName;
    const char* error;
  } cases[] = {
      {"100 1536\nSCANRET:VIRUS\nSIGNAME:EICAR-Test-File\nATT_SAVED:\n.\n", true, false,
       "EICAR-Test-File", ""},
      {"100 1536\nscanret:virus\n.\n", true, false, "", ""},  // names and values in any case
      {"100 1536\nSCANRET:Ignored\nERRORSTRING:encrypted archive\n.\n", false, true, "",
       "encrypted archive"},
      {"100 1536\nSCANRET:OK\n.\n", false, false, "", ""},
      {"100 1536\n.\n", false, false, "", ""},  // no SCANRET: clean
      {"2 0\n", false, false, "", ""},          // cut off: clean
  };
  for (auto& k : cases) {
    CScanEmailCommand c;
    SendAgainst(c, k.reply);
    EXPECT_EQ(c.IsVirus(), k.virus) << k.reply;
    EXPECT_EQ(c.IsIgnored(), k.ignored) << k.reply;
    EXPECT_STREQ(c.sigName.Get().GetString(), k.sigName) << k.reply;
    EXPECT_STREQ(c.errorString.Get().GetString(), k.error) << k.reply;
  }
}

TEST(ScanEmail, OwnReturnMessage800) {
  CScanEmailCommand c;
  const CReturnMessage* m = c.FindReturnMessage(800);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->TextId(), 1326);
}

TEST(ScanSpam, RequestReadsTheGivenStreamFromItsStart) {
  CMyStreamBuf mime;
  const char text[] = "Subject: hi\r\n\r\nbody";
  mime.Write(text, sizeof text - 1);
  CScanSpamCommand c(&mime);
  c.subject.Set("hi");
  c.from.Set("<a@b.c> A");
  c.to.Set("me@x.y");
  EXPECT_EQ(SendAgainst(c, "100 1536\nSPAMLEVEL:0\n.\n"),
            "SCAN_SPAM\nMSGID:0\nSUBJECT:hi\nFROM:<a@b.c> A\nTO:me@x.y\nDATA 19\n"
            "Subject: hi\r\n\r\nbody.\n");
}

TEST(ScanSpam, LevelCountsOnlyAfterSuccess) {
  struct {
    const char* reply;
    int verdict;
  } cases[] = {
      {"100 1536\nSPAMLEVEL:7\nSPAMPOINTS:30\n.\n", 2},
      {"100 1536\nSPAMLEVEL:2\n.\n", 2},
      {"100 1536\nSPAMLEVEL:1\n.\n", 1},
      {"100 1536\nSPAMLEVEL:0\n.\n", 0},
      {"2 0\nSPAMLEVEL:2\n.\n", 0},
      {"100 1536\nSPAMLEVEL:2\n", 0},  // cut off before the terminator
  };
  for (auto& k : cases) {
    CScanSpamCommand c(nullptr);
    SendAgainst(c, k.reply);
    EXPECT_EQ(c.Verdict(), k.verdict) << k.reply;
  }
}

}  // namespace
}  // namespace tarvixservice
}  // namespace commands
}  // namespace tarvixlib
