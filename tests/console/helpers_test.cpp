// Tables behind the operations: time stamps, scan names, threat filters,
// status texts and GUI languages.
#include <gtest/gtest.h>

#include <string>

#include "console/operations.h"

using namespace tarvixconsole;

namespace {

struct STimeCase {
  const char* text;
  const char* expected;
};

TEST(ConsoleThreatTime, FileTimeTextToGmt) {
  const STimeCase cases[] = {
      {"0", "Mon, 1 Jan 1601 00:00:00 GMT"},
      {"", "Mon, 1 Jan 1601 00:00:00 GMT"},         // no digits: 0
      {"abc", "Mon, 1 Jan 1601 00:00:00 GMT"},
      {nullptr, "Mon, 1 Jan 1601 00:00:00 GMT"},
      {"-1", "TIME ERROR"},                          // negative: no valid time
      {"-9223372036854775808", "TIME ERROR"},
      {"-99999999999999999999", "TIME ERROR"},
      // 1970-01-01 00:00:00 (Thursday)
      {"116444736000000000", "Thu, 1 Jan 1970 00:00:00 GMT"},
      // Leading white space and "+" are accepted; reading stops at a non-digit.
      {"  \t+116444736000000000xyz", "Thu, 1 Jan 1970 00:00:00 GMT"},
      {"116444736009999999", "Thu, 1 Jan 1970 00:00:00 GMT"},  // 100-ns parts dropped
      // 2000-02-29 12:34:56 (leap day, Tuesday)
      {"125963012960000000", "Tue, 29 Feb 2000 12:34:56 GMT"},
      // 1601-03-01 (1601 is no leap year): day 59
      {"50976000000000", "Thu, 1 Mar 1601 00:00:00 GMT"},
      // 2026-12-10 05:25:00 (Thursday)
      {"134413539000000000", "Thu, 10 Dec 2026 05:25:00 GMT"},
      // The largest FILETIME: the longest text, whole within 32 characters.
      {"9223372036854775807", "Thu, 14 Sep 30828 02:48:05 GMT"},
      // Out of range saturates to the largest value.
      {"99999999999999999999", "Thu, 14 Sep 30828 02:48:05 GMT"},
  };
  for (const STimeCase& c : cases) {
    char buffer[kThreatTimeChars];
    FormatThreatTime(c.text, buffer);
    EXPECT_STREQ(buffer, c.expected) << (c.text ? c.text : "(null)");
  }
}

TEST(ConsoleScanName, RemovableBecomesRemoveable) {
  EXPECT_STREQ(NormalizeScanName("REMOVABLE"), "REMOVEABLE");
  EXPECT_STREQ(NormalizeScanName("removable"), "REMOVEABLE");
  EXPECT_STREQ(NormalizeScanName("RemovableDrives"), "REMOVEABLE");  // first nine characters
  EXPECT_STREQ(NormalizeScanName("REMOVABL"), "REMOVABL");
  EXPECT_STREQ(NormalizeScanName("FULL"), "FULL");
  EXPECT_STREQ(NormalizeScanName("My scan"), "My scan");
  EXPECT_STREQ(NormalizeScanName(""), "");
  EXPECT_EQ(NormalizeScanName(nullptr), nullptr);
}

TEST(ConsoleThreatFilter, FromArgumentAndStatus) {
  EXPECT_EQ(ThreatFilterFromArgument(nullptr), kFilterAll);
  EXPECT_EQ(ThreatFilterFromArgument("ALL"), kFilterAll);
  EXPECT_EQ(ThreatFilterFromArgument("E"), kFilterAll);
  EXPECT_EQ(ThreatFilterFromArgument("ex"), kFilterExisting);
  EXPECT_EQ(ThreatFilterFromArgument("Existing"), kFilterExisting);
  EXPECT_EQ(ThreatFilterFromArgument("ne"), kFilterNotExisting);
  EXPECT_EQ(ThreatFilterFromArgument("NotExisting"), kFilterAll);  // "NO", not "NE"
  EXPECT_EQ(ThreatFilterFromArgument("nEver"), kFilterNotExisting);
  EXPECT_TRUE(ThreatFilterPasses(kFilterAll, 7));
  EXPECT_TRUE(ThreatFilterPasses(kFilterExisting, 0));
  EXPECT_FALSE(ThreatFilterPasses(kFilterExisting, 1));
  EXPECT_FALSE(ThreatFilterPasses(kFilterNotExisting, 0));
  EXPECT_TRUE(ThreatFilterPasses(kFilterNotExisting, -1));
}

TEST(ConsoleThreatStatus, Texts) {
  const char* expected[] = {"File exists.",      "File not found.",   "Deleted, but still in quarantine.",
                            "Deleted.",          "ENTRYSTATUS_EMAIL", "ENTRYSTATUS_EMAIL_NOBACKUP"};
  for (LONG status = 0; status < 6; ++status) EXPECT_STREQ(ThreatStatusText(status), expected[status]);
  EXPECT_STREQ(ThreatStatusText(6), "Unknown state!");
  EXPECT_STREQ(ThreatStatusText(9), "Unknown state!");
  EXPECT_STREQ(ThreatStatusText(-1), "Unknown state!");
}

TEST(ConsoleGuiLanguage, ExactValuesOnly) {
  const struct {
    LONG value;
    const char* name;
  } table[] = {
      {0x04, "LANG_CHINESE_SIMPLIFIED"}, {0x07, "LANG_GERMAN"},     {0x09, "LANG_ENGLISH"},
      {0x0A, "LANG_SPANISH"},            {0x0C, "LANG_FRENCH"},     {0x10, "LANG_ITALIAN"},
      {0x13, "LANG_DUTCH"},              {0x15, "LANG_POLISH"},     {0x19, "LANG_RUSSIAN"},
      {0x1A, "LANG_CROATIAN"},           {0x1F, "LANG_TURKISH"},    {0x24, "LANG_SLOVENIAN"},
      {0x7C04, "LANG_CHINESE_TRADITIONAL"}, {0x7C1A, "LANG_SERBIAN_NEUTRAL"},
  };
  for (const auto& entry : table) EXPECT_STREQ(GuiLanguageName(entry.value), entry.name);
  EXPECT_EQ(GuiLanguageName(0x0409), nullptr);  // English (US): not an exact table value
  EXPECT_EQ(GuiLanguageName(-1), nullptr);
  EXPECT_EQ(GuiLanguageName(0), nullptr);
}

}  // namespace
