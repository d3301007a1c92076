// The three service queries: their request on the wire, their keys and
// defaults, and what a reply sets.
#include <gtest/gtest.h>

#include <string>

#include "commands/servicequeries.h"
#include "test_streams.h"

namespace tarvixlib {
namespace commands {
namespace {

using tarvixservice::CGetMAPISettingsCommand;
using tarvixservice::CGetSpecificationValueCommand;
using tarvix::CGetTarvixStatusCommand;
using testing_::ContentOf;
using testing_::SendAgainst;
using testing_::StreamOf;

TEST(ServiceQueries, RequestsHaveNoParameters) {
  CGetMAPISettingsCommand settings;
  CGetSpecificationValueCommand spec;
  CGetTarvixStatusCommand status;
  EXPECT_EQ(SendAgainst(settings, "100 0\n.\n"), "GET_MAPISETTINGS\n.\n");
  EXPECT_EQ(SendAgainst(spec, "100 0\n.\n"), "GET_SPECIFICATION_VALUE\n.\n");
  EXPECT_EQ(SendAgainst(status, "100 0\n.\n"), "GET_TARVIXSTATUS\n.\n");
}

TEST(MapiSettings, ReplyValuesAndDefaults) {
  CGetMAPISettingsCommand c;
  SendAgainst(c,
              "100 0\nSAVETOQU:yes\nscanemail:yes\nSHOWWINDOW:no\nBUILDNR:2397846\nLANGUAGE:7\n"
              "VDBDATE:20261211\nDISCLR:2\nDISCLS:1\nSPAMCHECK:yes\nSPAMACTION:2\nCLOSEWIN:yes\n.\n");
  EXPECT_EQ(c.GetReturnCode(), 100);
  EXPECT_TRUE(c.saveToQu.Get());
  EXPECT_TRUE(c.scanEmail.Get()) << "keys match without regard to case";
  EXPECT_FALSE(c.showWindow.Get());
  EXPECT_EQ(c.buildNr.Get(), 2397846u);
  EXPECT_EQ(c.language.Get(), 7u);
  EXPECT_EQ(c.vdbDate.Get(), 20261211u);
  EXPECT_EQ(c.disclR.Get(), 2u);
  EXPECT_EQ(c.disclS.Get(), 1u);
  EXPECT_TRUE(c.spamCheck.Get());
  EXPECT_EQ(c.spamAction.Get(), 2u);
  EXPECT_TRUE(c.closeWin.Get());

  CGetMAPISettingsCommand empty;
  SendAgainst(empty, "100 0\nSCANEMAIL:yes\n.\n");
  EXPECT_TRUE(empty.scanEmail.Get());
  EXPECT_FALSE(empty.closeWin.Get());
  EXPECT_EQ(empty.buildNr.Get(), 0u);
  EXPECT_EQ(empty.disclR.Get(), 0u);
}

TEST(SpecificationValues, DefaultsAndAReplyWithOneKey) {
  CGetSpecificationValueCommand none;
  SendAgainst(none, "100 0\n.\n");
  EXPECT_STREQ(none.productLong.Get(), "ZELVOK druvel");
  EXPECT_STREQ(none.product.Get(), "druvel");
  EXPECT_STREQ(none.productType.Get(), "QX");
  EXPECT_STREQ(none.productSubtype.Get(), "QX");
  EXPECT_STREQ(none.contactHomepage.Get(), "");
  EXPECT_FALSE(none.rightToLeft.Get());

  CGetSpecificationValueCommand one;
  SendAgainst(one, "100 0\nPRODUCT_LONG:Tarvix Mail Shield \xC3\xA9\ncontacthomepage:https://example.test/\n.\n");
  EXPECT_STREQ(one.productLong.Get(), "Tarvix Mail Shield \xC3\xA9") << "kept as UTF-8";
  EXPECT_STREQ(one.contactHomepage.Get(), "https://example.test/");
}

TEST(TarvixStatus, KeysReadStraightIntoTheRecord) {
  CGetTarvixStatusCommand c;
  SendAgainst(c,
              "100 0\nVER_SERVICE:7\nVER_VDB_DATE:18446744073709551615\nSCAN_RUNNING:yes\n"
              "HLVX_HOST:updates.example.test\nSTAT_WATCH:+300\nMAIN_PATH:C:\\Tarvix\\\n"
              "MAIN_PATH_W:C:\\Pr\xC3\xBC" "fung\\\nPASSWD_PROTECTION:yes\n.\n");
  const tarvix::StatusRecord& r = c.Record();
  EXPECT_EQ(c.GetReturnCode(), 100);
  EXPECT_EQ(r.VER_SERVICE, 7u);
  EXPECT_EQ(r.VER_VDB_DATE, 18446744073709551615ull);
  EXPECT_TRUE(r.SCAN_RUNNING);
  EXPECT_STREQ(r.HLVX_HOST, "updates.example.test");
  EXPECT_EQ(r.STAT_WATCH, 300 % 256) << "a leading + is accepted, larger numbers wrap";
  EXPECT_STREQ(r.MAIN_PATH, "C:\\Tarvix\\");
  EXPECT_STREQ(r.MAIN_PATH_W, "C:\\Pr\xC3\xBC" "fung\\");
  EXPECT_TRUE(r.PASSWD_PROTECTION);
  EXPECT_FALSE(r.UPDATE_RUNNING);
  EXPECT_EQ(r.MAXBADID, 0u);
}

TEST(TarvixStatus, AReplyWithoutKeysLeavesAnEmptyMainPath) {
  CGetTarvixStatusCommand c;
  SendAgainst(c, "100 0\n.\n");
  EXPECT_EQ(c.GetReturnCode(), 100);
  EXPECT_STREQ(c.Record().MAIN_PATH_W, "");
}

TEST(TarvixStatus, AFailedReplyIsNotSuccess) {
  CGetTarvixStatusCommand c;
  SendAgainst(c, "");
  EXPECT_NE(c.GetReturnCode(), 100);
}

}  // namespace
}  // namespace commands
}  // namespace tarvixlib
