// The language choice against wine's registry: the forced machine-wide
// value is used once and the flag reads 0 after a load.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>

#include "mapilib/languagemanager.h"
#include "registry/registry.h"

namespace mapilib {
namespace {

namespace registry = tarvixlib::registry;

class LanguageRegistryTest : public ::testing::Test {
protected:
  void SetUp() override { Clear(); }
  void TearDown() override { Clear(); }
  static void Clear() {
    registry::DeleteValue(HKEY_LOCAL_MACHINE, registry::kProductKey, "Language");
    registry::DeleteValue(HKEY_LOCAL_MACHINE, registry::kProductKey, "ForceHKLMLanguage");
    registry::DeleteValue(HKEY_CURRENT_USER, registry::kProductKey, "Language");
  }
};

TEST_F(LanguageRegistryTest, ForcedMachineLanguageIsUsedOnceThenTheFlagIsReset) {
  ASSERT_TRUE(registry::WriteString(HKEY_LOCAL_MACHINE, registry::kProductKey, "Language", "fr"));
  ASSERT_TRUE(registry::WriteDword(HKEY_LOCAL_MACHINE, registry::kProductKey, "ForceHKLMLanguage", 1));
  ASSERT_TRUE(registry::WriteString(HKEY_CURRENT_USER, registry::kProductKey, "Language", "de"));

  char folder[MAX_PATH];
  GetTempPathA(sizeof folder, folder);
  std::string path = std::string(folder) + "omlang.fr";
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("WINTEXT_FROM=De\n", f);
  std::fclose(f);

  LanguageManager manager(nullptr, SystemLanguageSettings());
  manager.Initialize(folder, "omlang.");
  EXPECT_STREQ(manager.LoadLanguage().GetString(), "fr");
  EXPECT_EQ(std::wstring(manager.GetText(TEXT_WINTEXT_FROM)), L"De");
  EXPECT_EQ(registry::ReadDwordDefault(HKEY_LOCAL_MACHINE, registry::kProductKey,
                                       "ForceHKLMLanguage", 7), 0u);
  char value[260];
  ASSERT_TRUE(registry::ReadString(HKEY_CURRENT_USER, registry::kProductKey, "Language", value,
                                   sizeof value));
  EXPECT_STREQ(value, "fr");
  // Without the flag the per-user value decides.
  ASSERT_TRUE(registry::WriteString(HKEY_CURRENT_USER, registry::kProductKey, "Language", "it"));
  EXPECT_STREQ(manager.ChooseLanguage().GetString(), "it");
  std::remove(path.c_str());
}

TEST_F(LanguageRegistryTest, AnOverlongValueIsNotALanguage) {
  std::string longCode(300, 'x');
  ASSERT_TRUE(registry::WriteString(HKEY_CURRENT_USER, registry::kProductKey, "Language",
                                    longCode.c_str()));
  LanguageManager manager(nullptr, SystemLanguageSettings());
  std::string chosen = manager.ChooseLanguage().GetString();
  EXPECT_NE(chosen, longCode);
  EXPECT_EQ(chosen.size(), 2u) << "the system language or en";
}

}  // namespace
}  // namespace mapilib
