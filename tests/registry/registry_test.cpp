// Registry access and typed entries against wine's real registry. Each test
// works in a scratch key of its own under HKEY_CURRENT_USER (or, for the
// product table, the product's own key in this build tree's wine prefix)
// and removes it again.
#include "registry/registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "foundation/winhandles.h"

namespace tarvixlib {
namespace registry {
namespace {

const char kScratch[] = "Software\\TarvixRegistryTest";

bool KeyExists(HKEY root, const std::string& path) {
  CUniqueRegKey key;
  return RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.Out()) == ERROR_SUCCESS;
}

// Sets a value of any type and size, bypassing the functions under test.
void RawSet(const char* name, DWORD type, const void* data, DWORD size,
            const char* path = kScratch) {
  CUniqueRegKey key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_WRITE, nullptr, key.Out(),
                            nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key.Get(), name, 0, type, static_cast<const BYTE*>(data), size),
            ERROR_SUCCESS);
}

// Reads the raw bytes and type of a value.
bool RawGet(const char* name, DWORD* type, std::string* data, const char* path = kScratch) {
  CUniqueRegKey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, key.Out()) != ERROR_SUCCESS) return false;
  char buffer[4096];
  DWORD size = sizeof buffer;
  LONG r = RegQueryValueExA(key.Get(), name, nullptr, type, reinterpret_cast<BYTE*>(buffer), &size);
  if (r != ERROR_SUCCESS) return false;
  data->assign(buffer, size);
  return true;
}

class RegistryTest : public ::testing::Test {
protected:
  void SetUp() override { RegDeleteTreeA(HKEY_CURRENT_USER, kScratch); }
  void TearDown() override {
    RegDeleteTreeA(HKEY_CURRENT_USER, kScratch);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kScratch));
  }
};

// ---- access functions ----

TEST_F(RegistryTest, DwordCountsOnlyAFourByteRegDword) {
  const DWORD four = 7;
  const uint64_t eight = 9;
  RawSet("four", REG_DWORD, &four, 4);
  RawSet("binary", REG_BINARY, &four, 4);
  RawSet("qword", REG_QWORD, &eight, 8);
  RawSet("text", REG_SZ, "7", 2);
  RawSet("short", REG_DWORD, &four, 2);

  struct Case {
    const char* name;
    uint32_t expected;
  } cases[] = {{"four", 7}, {"binary", 55}, {"qword", 55}, {"text", 55}, {"short", 55}, {"none", 55}};
  for (const Case& c : cases)
    EXPECT_EQ(ReadDwordDefault(HKEY_CURRENT_USER, kScratch, c.name, 55), c.expected) << c.name;
  EXPECT_EQ(ReadDwordDefault(HKEY_CURRENT_USER, "Software\\NoSuchKeyAtAll", "four", 55), 55u);

  CUniqueRegKey key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kScratch, 0, KEY_READ, key.Out()), ERROR_SUCCESS);
  uint32_t value = 1;
  EXPECT_TRUE(ReadDword(key.Get(), "four", &value));
  EXPECT_EQ(value, 7u);
  value = 1;
  EXPECT_FALSE(ReadDword(key.Get(), "qword", &value));
  EXPECT_EQ(value, 1u) << "a refused value leaves the output alone";
  key.Reset();
  EXPECT_FALSE(ReadDword(nullptr, "four", &value));
}

TEST_F(RegistryTest, WritesCreateTheKeyWithTheExactTypeAndBytes) {
  const std::string path = std::string(kScratch) + "\\a\\b";
  ASSERT_TRUE(WriteDword(HKEY_CURRENT_USER, path.c_str(), "d", 0x12345678));
  ASSERT_TRUE(WriteString(HKEY_CURRENT_USER, path.c_str(), "s", "hello"));
  ASSERT_TRUE(WriteStringList(HKEY_CURRENT_USER, path.c_str(), "l", {"one", "two"}));
  ASSERT_TRUE(WriteStringList(HKEY_CURRENT_USER, path.c_str(), "empty", {}));

  struct Case {
    const char* name;
    DWORD type;
    std::string bytes;
  } cases[] = {
      {"d", REG_DWORD, std::string("\x78\x56\x34\x12", 4)},
      {"s", REG_SZ, std::string("hello\0", 6)},
      {"l", REG_MULTI_SZ, std::string("one\0two\0\0", 9)},
      {"empty", REG_MULTI_SZ, std::string("\0\0", 2)},
  };
  for (const Case& c : cases) {
    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(RawGet(c.name, &type, &data, path.c_str())) << c.name;
    EXPECT_EQ(type, c.type) << c.name;
    EXPECT_EQ(data, c.bytes) << c.name;
  }
}

TEST_F(RegistryTest, StringReadsOnlyARegSzThatFits) {
  ASSERT_TRUE(WriteString(HKEY_CURRENT_USER, kScratch, "s", "12345"));
  const DWORD number = 5;
  RawSet("number", REG_DWORD, &number, 4);
  RawSet("expand", REG_EXPAND_SZ, "x", 2);
  RawSet("unterminated", REG_SZ, "abc", 3);

  struct Case {
    const char* name;
    size_t bufferSize;
    bool ok;
    const char* text;
  } cases[] = {
      {"s", 6, true, "12345"},          // exactly fits with its zero
      {"s", 5, false, ""},              // one byte short
      {"number", 16, false, ""},        // another type
      {"expand", 16, false, ""},        // REG_EXPAND_SZ is not REG_SZ
      {"unterminated", 4, true, "abc"}, // stored without its zero: terminated here
      {"unterminated", 3, false, ""},   // ...but then the zero needs room
      {"missing", 16, false, ""},
  };
  for (const Case& c : cases) {
    char buffer[32];
    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kScratch, c.name, buffer, c.bufferSize), c.ok)
        << c.name << " in " << c.bufferSize;
    EXPECT_STREQ(buffer, c.text) << c.name << " in " << c.bufferSize;
  }
  char buffer[8] = "XXXXXXX";
  EXPECT_FALSE(ReadString(HKEY_CURRENT_USER, "Software\\NoSuchKeyAtAll", "s", buffer, 8));
  EXPECT_STREQ(buffer, "") << "the buffer is emptied first";
}

TEST_F(RegistryTest, StringSizeMeasuresRegSzOnly) {
  ASSERT_TRUE(WriteString(HKEY_CURRENT_USER, kScratch, "s", "12345"));
  const DWORD number = 5;
  RawSet("number", REG_DWORD, &number, 4);

  uint32_t size = 0;
  EXPECT_EQ(ReadStringSize(HKEY_CURRENT_USER, kScratch, "s", nullptr, &size), 6u);
  EXPECT_EQ(size, 6u);
  char buffer[16];
  size = sizeof buffer;
  EXPECT_EQ(ReadStringSize(HKEY_CURRENT_USER, kScratch, "s", buffer, &size), 6u);
  EXPECT_STREQ(buffer, "12345");
  size = 3;
  EXPECT_EQ(ReadStringSize(HKEY_CURRENT_USER, kScratch, "s", buffer, &size), 6u);
  EXPECT_STREQ(buffer, "") << "too small a buffer gets no partial text";
  size = sizeof buffer;
  EXPECT_EQ(ReadStringSize(HKEY_CURRENT_USER, kScratch, "number", buffer, &size), 0u);
  EXPECT_EQ(ReadStringSize(HKEY_CURRENT_USER, kScratch, "missing", buffer, &size), 0u);
}

TEST_F(RegistryTest, StringListKeepsNonEmptyStringsInOrder) {
  // Data with an empty string in the middle and without the final zeros.
  RawSet("list", REG_MULTI_SZ, "a\0\0bc\0d", 7);
  RawSet("sz", REG_SZ, "a", 2);
  StringList list = {"old"};
  ASSERT_TRUE(ReadStringList(HKEY_CURRENT_USER, kScratch, "list", list));
  ASSERT_EQ(list.size(), 3u);
  EXPECT_STREQ(list[0].GetString(), "a");
  EXPECT_STREQ(list[1].GetString(), "bc");
  EXPECT_STREQ(list[2].GetString(), "d");

  list = {"old"};
  EXPECT_FALSE(ReadStringList(HKEY_CURRENT_USER, kScratch, "sz", list));
  ASSERT_EQ(list.size(), 1u) << "a refused read leaves the list alone";

  // A list longer than any fixed work buffer round-trips whole.
  StringList big;
  for (int i = 0; i < 5000; ++i) big.emplace_back(std::to_string(i * 7919).c_str());
  ASSERT_TRUE(WriteStringList(HKEY_CURRENT_USER, kScratch, "big", big));
  StringList back;
  ASSERT_TRUE(ReadStringList(HKEY_CURRENT_USER, kScratch, "big", back));
  ASSERT_EQ(back.size(), big.size());
  for (size_t i = 0; i < big.size(); ++i) ASSERT_STREQ(back[i].GetString(), big[i].GetString());
}

TEST_F(RegistryTest, DeleteValueAlwaysSucceeds) {
  ASSERT_TRUE(WriteDword(HKEY_CURRENT_USER, kScratch, "d", 1));
  EXPECT_TRUE(DeleteValue(HKEY_CURRENT_USER, kScratch, "d"));
  EXPECT_EQ(ReadDwordDefault(HKEY_CURRENT_USER, kScratch, "d", 99), 99u);
  EXPECT_TRUE(DeleteValue(HKEY_CURRENT_USER, kScratch, "d"));
  EXPECT_TRUE(DeleteValue(HKEY_CURRENT_USER, "Software\\NoSuchKeyAtAll", "d"));
}

TEST_F(RegistryTest, DeleteKeyTreeSparesTheNamedSubKeyAndTheKey) {
  const std::string root = std::string(kScratch) + "\\tree";
  for (const char* sub : {"\\one\\deep\\deeper", "\\Two", "\\keep\\inner", "\\three"})
    ASSERT_TRUE(WriteDword(HKEY_CURRENT_USER, (root + sub).c_str(), "v", 1));

  EXPECT_TRUE(DeleteKeyTree(HKEY_CURRENT_USER, root.c_str(), "KEEP"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, root)) << "the key stays while a spared sub-key remains";
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, root + "\\keep\\inner"));
  EXPECT_EQ(ReadDwordDefault(HKEY_CURRENT_USER, (root + "\\keep\\inner").c_str(), "v", 0), 1u);
  for (const char* gone : {"\\one", "\\Two", "\\three"})
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, root + gone)) << gone;

  EXPECT_TRUE(DeleteKeyTree(HKEY_CURRENT_USER, root.c_str(), nullptr));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, root));
  EXPECT_FALSE(DeleteKeyTree(HKEY_CURRENT_USER, root.c_str(), nullptr)) << "no key to open";
}

// ---- typed entries ----

TEST_F(RegistryTest, DwordEntryStoreWithoutForceOnlyCreatesWhatIsMissing) {
  CMyRegistryEntryDword entry(HKEY_CURRENT_USER, kScratch, "d");
  EXPECT_FALSE(entry.Load());
  EXPECT_EQ(entry.Value(), 0u);
  entry.SetValue(5);
  EXPECT_TRUE(entry.Store(false)) << "missing, so written";
  EXPECT_TRUE(entry.IsPresent());

  entry.SetValue(6);
  EXPECT_FALSE(entry.Store(false)) << "present: no write without force";
  EXPECT_EQ(ReadDwordDefault(HKEY_CURRENT_USER, kScratch, "d", 0), 5u);
  EXPECT_TRUE(entry.Store(true));
  EXPECT_EQ(ReadDwordDefault(HKEY_CURRENT_USER, kScratch, "d", 0), 6u);

  CMyRegistryEntryDword other(HKEY_CURRENT_USER, kScratch, "d");
  EXPECT_TRUE(other.Load());
  EXPECT_EQ(other.Value(), 6u);
  EXPECT_TRUE(other.Remove());
  EXPECT_FALSE(other.IsPresent());
  EXPECT_EQ(other.Value(), 0u);
  EXPECT_FALSE(other.Remove()) << "only a present entry can be removed";
  EXPECT_FALSE(entry.Load());
  EXPECT_EQ(entry.Value(), 6u) << "a failed load keeps the old value";
}

TEST_F(RegistryTest, StringEntryRefusesEmptyAndReadsLongValuesAsMissing) {
  CMyRegistryEntryString entry(HKEY_CURRENT_USER, kScratch, "s");
  EXPECT_FALSE(entry.Store(true)) << "an empty string is refused";
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kScratch));

  struct Case {
    size_t length;
    bool present;
  } cases[] = {{1, true}, {259, true}, {260, false}, {300, false}};
  for (const Case& c : cases) {
    std::string text(c.length, 'p');
    ASSERT_TRUE(WriteString(HKEY_CURRENT_USER, kScratch, "s", text.c_str()));
    CMyRegistryEntryString reader(HKEY_CURRENT_USER, kScratch, "s");
    EXPECT_EQ(reader.Load(), c.present) << c.length;
    EXPECT_EQ(std::string(reader.Value()), c.present ? text : std::string()) << c.length;
  }

  entry.SetValue("value");
  EXPECT_TRUE(entry.Store(true));
  EXPECT_TRUE(entry.Remove());
  EXPECT_STREQ(entry.Value(), "");
  char buffer[16];
  EXPECT_FALSE(ReadString(HKEY_CURRENT_USER, kScratch, "s", buffer, sizeof buffer));
}

TEST_F(RegistryTest, StringListEntryRefusesAnEmptyList) {
  CMyRegistryEntryStringList entry(HKEY_CURRENT_USER, kScratch, "l");
  EXPECT_FALSE(entry.Store(true));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kScratch)) << "nothing is created for a refused list";
  entry.SetValue({"x", "y"});
  EXPECT_TRUE(entry.Store(false));
  CMyRegistryEntryStringList reader(HKEY_CURRENT_USER, kScratch, "l");
  ASSERT_TRUE(reader.Load());
  ASSERT_EQ(reader.Value().size(), 2u);
  EXPECT_STREQ(reader.Value()[1].GetString(), "y");
  EXPECT_TRUE(reader.Remove());
  EXPECT_TRUE(reader.Value().empty());
}

TEST_F(RegistryTest, KeyEntriesOpenCreateAndDeleteTheirTree) {
  const std::string path = std::string(kScratch) + "\\k";
  CMyRegistryEntryKey key(HKEY_CURRENT_USER, path.c_str());
  EXPECT_FALSE(key.Load());
  EXPECT_TRUE(key.Store(false));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, path));
  EXPECT_FALSE(key.IsPresent()) << "a plain key entry's flag follows loads only";
  EXPECT_TRUE(key.Load());
  EXPECT_FALSE(key.Store(false));

  ASSERT_TRUE(WriteDword(HKEY_CURRENT_USER, (path + "\\sub").c_str(), "v", 1));
  EXPECT_TRUE(key.Remove());
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, path));
  EXPECT_FALSE(key.IsPresent());

  CMyRegistryEntryKeyWithValue withValue(HKEY_CURRENT_USER, path.c_str());
  EXPECT_FALSE(withValue.Store(true)) << "an empty default value is refused";
  withValue.SetValue("default text");
  EXPECT_TRUE(withValue.Store(true));
  CMyRegistryEntryKeyWithValue reader(HKEY_CURRENT_USER, path.c_str());
  EXPECT_TRUE(reader.Load());
  EXPECT_STREQ(reader.Value(), "default text");
  EXPECT_EQ(reader.Type(), static_cast<uint32_t>(kTypeKeyWithValue));
}

// ---- the product table ----

TEST(RegistryTable, RowsInTheirOrder) {
  struct Row {
    EntryId id;
    uint32_t type;
    HKEY root;
    const char* path;
    const char* value;
    uint32_t view;
  } rows[] = {
      {kSafeModeMinimal, kTypeKey, HKEY_LOCAL_MACHINE,
       "SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\Minimal\\Tarvix", nullptr, 0},
      {kSafeModeNetwork, kTypeKey, HKEY_LOCAL_MACHINE,
       "SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\Network\\Tarvix", nullptr, 0},
      {kLegacySafeModeMinimal, kTypeKey, HKEY_LOCAL_MACHINE,
       "SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\Minimal\\NTKORVA", nullptr, 0},
      {kLegacySafeModeNetwork, kTypeKey, HKEY_LOCAL_MACHINE,
       "SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\Network\\NTKORVA", nullptr, 0},
      {kUserProductKey, kTypeKey, HKEY_CURRENT_USER, "SOFTWARE\\Zelvok\\tarvix", nullptr, 0},
      {kServiceGroupOrder, kTypeStringList, HKEY_LOCAL_MACHINE,
       "System\\CurrentControlSet\\Control\\ServiceGroupOrder", "List", 0},
      {kOfflineFilesDatabaseLocation, kTypeString, HKEY_LOCAL_MACHINE,
       "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\NetCache", "DatabaseLocation", 0x100},
      {kOfflineFilesEnabled, kTypeDword, HKEY_LOCAL_MACHINE,
       "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\NetCache", "Enabled", 0x100},
      {kStartupEntry, kTypeString, HKEY_LOCAL_MACHINE,
       "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", "ZELVOK-Tarvix", 0},
      {kSecurityCentreRegistration, kTypeDword, HKEY_LOCAL_MACHINE, "SOFTWARE\\Zelvok\\tarvix",
       "RegisteredWithWsc", 0},
      {kProductType, kTypeDword, HKEY_LOCAL_MACHINE, "SOFTWARE\\Zelvok\\tarvix", "ProductType",
       0x100},
      {kProductName, kTypeString, HKEY_LOCAL_MACHINE, "SOFTWARE\\Zelvok\\tarvix", "ProductName",
       0x100},
      {kInstallationPath, kTypeString, HKEY_LOCAL_MACHINE, "SOFTWARE\\Zelvok\\tarvix", "MainPath",
       0x100},
      {kUpdateRestartRequest, kTypeDword, HKEY_LOCAL_MACHINE, "SOFTWARE\\Zelvok\\tarvix",
       "RestartUpdate", 0},
      {kServiceStarted, kTypeDword, HKEY_LOCAL_MACHINE, "SOFTWARE\\Zelvok\\tarvix",
       "ServiceStarted", 0},
  };
  ASSERT_EQ(sizeof rows / sizeof rows[0], static_cast<size_t>(kEntryCount));
  for (int i = 0; i < kEntryCount; ++i) {
    const Row& r = rows[i];
    EXPECT_EQ(r.id, i) << "identifiers follow the table's order";
    const EntryDefinition& d = GetEntryDefinition(r.id);
    EXPECT_EQ(d.type, r.type) << i;
    EXPECT_EQ(d.root, r.root) << i;
    EXPECT_STREQ(d.path, r.path) << i;
    if (r.value) {
      EXPECT_STREQ(d.valueName, r.value) << i;
    } else {
      EXPECT_EQ(d.valueName, nullptr) << i;
    }
    EXPECT_EQ(d.view, r.view) << i;
  }
}

// The product key in HKLM of this build tree's own prefix.
class ProductKeyTest : public ::testing::Test {
protected:
  static constexpr const char* kKey = "SOFTWARE\\Zelvok\\tarvix";
  void SetUp() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKey); }
  void TearDown() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKey); }
};

TEST_F(ProductKeyTest, EntriesAreCreatedAndLoadedOnFirstRequestOnly) {
  ASSERT_TRUE(WriteString(HKEY_LOCAL_MACHINE, kKey, "MainPath", "C:\\Tarvix", kView64));
  ASSERT_TRUE(WriteString(HKEY_LOCAL_MACHINE, kKey, "ProductName",
                          std::string(300, 'N').c_str(), kView64));
  ASSERT_TRUE(WriteDword(HKEY_LOCAL_MACHINE, kKey, "ProductType", 3, kView64));

  CMyRegistry table;
  CMyRegistryEntryBase* path = table.GetEntry(kInstallationPath);
  ASSERT_NE(path, nullptr);
  EXPECT_TRUE(path->IsPresent());
  EXPECT_EQ(table.GetEntry(kInstallationPath), path) << "one entry per slot";
  CMyStringA text;
  EXPECT_TRUE(table.ReadStringEntry(kInstallationPath, text));
  EXPECT_STREQ(text.GetString(), "C:\\Tarvix");

  EXPECT_FALSE(table.ReadStringEntry(kProductName, text)) << "300 characters do not fit";
  ASSERT_NE(table.GetStringEntry(kProductName), nullptr);
  EXPECT_FALSE(table.GetStringEntry(kProductName)->IsPresent());

  EXPECT_EQ(table.GetStringEntry(kProductType), nullptr) << "not a string entry";
  auto* type = static_cast<CMyRegistryEntryDword*>(table.GetEntry(kProductType));
  EXPECT_TRUE(type->IsPresent());
  EXPECT_EQ(type->Value(), 3u);

  // Entries are not reloaded on their own.
  ASSERT_TRUE(WriteDword(HKEY_LOCAL_MACHINE, kKey, "ProductType", 4, kView64));
  EXPECT_EQ(static_cast<CMyRegistryEntryDword*>(table.GetEntry(kProductType))->Value(), 3u);

  // Missing items: not present, no defaults.
  auto* started = static_cast<CMyRegistryEntryDword*>(table.GetEntry(kServiceStarted));
  EXPECT_FALSE(started->IsPresent());
  EXPECT_EQ(started->Value(), 0u);
  EXPECT_EQ(table.GetEntry(kEntryCount), nullptr);
  EXPECT_EQ(table.GetEntry(static_cast<EntryId>(-1)), nullptr);
  EXPECT_EQ(&Registry(), &Registry()) << "one process-wide table";
}

}  // namespace
}  // namespace registry
}  // namespace tarvixlib
