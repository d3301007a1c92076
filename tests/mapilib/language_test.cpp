// Language files, text ids and the language manager, with the settings
// behind a recording fake and real files in a scratch folder.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <stdlib.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "foundation/mystream.h"
#include "mapilib/languagefile.h"
#include "mapilib/languagemanager.h"
#include "mapilib/textids.h"
#include "../foundation/wtext.h"

namespace mapilib {
namespace {

WString W(const WChar* text) { return text ? WString(text) : WString(); }

// ---- line format ----

struct LineCase {
  const char* why;
  const WChar* piece;
  LanguageLineKind kind;
  const WChar* name;
  const WChar* text;
};

TEST(LanguageLine, Table) {
  using K = LanguageLineKind;
  const LineCase cases[] = {
      {"plain entry", WTEXT("WINTEXT_SCAN_COMPLETE=Scan complete\n"), K::kEntry,
       WTEXT("WINTEXT_SCAN_COMPLETE"), WTEXT("Scan complete")},
      {"comment", WTEXT("#WINTEXT_FROM=From"), K::kComment, WTEXT(""), WTEXT("")},
      {"comment marker only counts first", WTEXT(" #x=y"), K::kEntry, WTEXT(" #x"), WTEXT("y")},
      {"space after = belongs to the text", WTEXT("A= b"), K::kEntry, WTEXT("A"), WTEXT(" b")},
      {"one = inside the text stays", WTEXT("A=b=c"), K::kEntry, WTEXT("A"), WTEXT("b=c")},
      {"two = in a row collapse", WTEXT("A=b==c"), K::kEntry, WTEXT("A"), WTEXT("b=c")},
      {"trailing = dropped", WTEXT("A=b="), K::kEntry, WTEXT("A"), WTEXT("b")},
      {"nothing after = : name only", WTEXT("A=\n"), K::kNameOnly, WTEXT("A"), WTEXT("")},
      {"no = at all", WTEXT("A"), K::kNameOnly, WTEXT("A"), WTEXT("")},
      {"empty line", WTEXT("\n"), K::kNoTokens, WTEXT(""), WTEXT("")},
      {"only separators", WTEXT("==="), K::kNoTokens, WTEXT(""), WTEXT("")},
      {"quoted token keeps =", WTEXT("A=\"x=y\""), K::kEntry, WTEXT("A"), WTEXT("x=y")},
      {"unclosed quote runs to the end", WTEXT("A=\"x=y"), K::kEntry, WTEXT("A"), WTEXT("x=y")},
      {"quote inside unquoted token is plain", WTEXT("A=a\"b"), K::kEntry, WTEXT("A"),
       WTEXT("a\"b")},
      {"text after a closing quote is a new token", WTEXT("A=\"x\"y"), K::kEntry, WTEXT("A"),
       WTEXT("x=y")},
      {"empty quoted token dropped", WTEXT("A=\"\"=b"), K::kEntry, WTEXT("A"), WTEXT("b")},
      {"escapes", WTEXT("A=1\\n2\\r3\\t4\\\\5\\\"6"), K::kEntry, WTEXT("A"),
       WTEXT("1\n2\r3\t4\\5\"6")},
      {"unknown escape keeps the backslash", WTEXT("A=a\\qb"), K::kEntry, WTEXT("A"),
       WTEXT("a\\qb")},
      {"escaped backslash then n is not a line feed", WTEXT("A=a\\\\nb"), K::kEntry, WTEXT("A"),
       WTEXT("a\\nb")},
      {"escaped quote opens a quoted token", WTEXT("A=\\\"x=y\\\""), K::kEntry, WTEXT("A"),
       WTEXT("x=y")},
      {"cut at the first line feed", WTEXT("A=b\nC=d"), K::kEntry, WTEXT("A"), WTEXT("b")},
      {"backslash at the end stays", WTEXT("A=b\\"), K::kEntry, WTEXT("A"), WTEXT("b\\")},
  };
  for (const LineCase& c : cases) {
    LanguageLine line;
    size_t length = std::char_traits<WChar>::length(c.piece);
    ParseLanguageLine(c.piece, length, line);
    EXPECT_EQ(line.kind, c.kind) << c.why;
    EXPECT_EQ(W(line.name), W(c.name)) << c.why;
    EXPECT_EQ(W(line.text), W(c.text)) << c.why << ": " << Escaped(W(line.text));
  }
}

// A NUL inside a piece (the file held a zero byte) ends the line: no token
// may begin with it, so no entry can come out with an empty text.
TEST(LanguageLine, ANulEndsTheLine) {
  struct {
    WString piece;
    LanguageLineKind kind;
    const WChar* text;
  } const cases[] = {
      {WString(WTEXT("A=\0b"), 4), LanguageLineKind::kNameOnly, WTEXT("")},
      {WString(WTEXT("A=b\0c=d"), 7), LanguageLineKind::kEntry, WTEXT("b")},
      {WString(WTEXT("\0A=b"), 4), LanguageLineKind::kNoTokens, WTEXT("")},
  };
  for (const auto& c : cases) {
    LanguageLine line;
    ParseLanguageLine(c.piece.data(), c.piece.size(), line);
    EXPECT_EQ(line.kind, c.kind) << Escaped(c.piece);
    EXPECT_EQ(W(line.text), W(c.text)) << Escaped(c.piece);
  }
}

// ---- reading a file in pieces ----

std::vector<WString> Pieces(const std::string& bytes) {
  tarvixlib::CMyStreamBuf stream;
  stream.Write(bytes.data(), bytes.size());
  stream.Seek(0, nullptr, 0);
  CLanguageFileReader reader(stream);
  std::vector<WString> pieces;
  const WChar* piece;
  size_t length;
  while (reader.NextPiece(&piece, &length)) pieces.emplace_back(piece, length);
  return pieces;
}

TEST(LanguageFileReader, BomCrLfAndUtf8) {
  auto pieces = Pieces("\xEF\xBB\xBF" "A=x\r\nB=\xC3\xA9\r\rC\n\xE2\x9C\x93");
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[0], WTEXT("A=x\n"));
  EXPECT_EQ(pieces[1], WTEXT("B=\u00E9\r\rC\n")) << "a lone CR stays, CR LF becomes LF";
  EXPECT_EQ(pieces[2], WTEXT("\u2713"));
}

TEST(LanguageFileReader, InvalidSequencesProduceNothing) {
  // Overlong NUL (C0 80, E0 80 80), a four-byte form, a stray continuation.
  auto pieces = Pieces("A=a\xC0\x80" "b\xE0\x80\x80" "c\xF0\x9F\x98\x80" "d\x80" "e\n");
  ASSERT_EQ(pieces.size(), 1u);
  EXPECT_EQ(pieces[0], WTEXT("A=abcde\n")) << Escaped(pieces[0]);
}

TEST(LanguageFileReader, LongLinesArriveInPieces) {
  std::string line = "A=" + std::string(2500, 'x') + "\n";
  auto pieces = Pieces(line + "B=y\n");
  ASSERT_EQ(pieces.size(), 4u);
  EXPECT_EQ(pieces[0].size(), kLanguagePieceChars);
  EXPECT_EQ(pieces[1].size(), kLanguagePieceChars);
  EXPECT_EQ(pieces[2].size(), 2502 - 2 * kLanguagePieceChars + 1);
  EXPECT_EQ(pieces[3], WTEXT("B=y\n"));
}

// ---- text ids ----

TEST(TextIds, NamesAndBuiltInTexts) {
  struct Case { const WChar* name; int id; };
  const Case cases[] = {
      {WTEXT("NativeLanguageName"), 1},
      {WTEXT("MainViruslistInfoDateiname"), 277},
      {WTEXT("WINTEXT_SCAN_COMPLETE"), 584},
      {WTEXT("WINTEXT_SUBJECT"), 591},
      {WTEXT("TEXT_002"), 2},
      {WTEXT("TEXT_652"), 652},
      {WTEXT("TEXT_584"), 0},  // a named id has no generic name
      {WTEXT("TEXT_653"), 0},
      {WTEXT("TEXT_000"), 0},
      {WTEXT("TEXT_02"), 0},
      {WTEXT("wintext_subject"), 0},  // letter case counts
      {WTEXT(" WINTEXT_SUBJECT"), 0},
      {WTEXT(""), 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TextIdOfName(c.name, std::char_traits<WChar>::length(c.name)), c.id)
        << Escaped(c.name);
  for (int id = 1; id <= kTextIdCount; ++id) {
    const char* name = TextIdName(id);
    ASSERT_NE(name, nullptr);
    WString wide(name, name + std::strlen(name));
    EXPECT_EQ(TextIdOfName(wide.data(), wide.size()), id) << name;
  }
  EXPECT_EQ(W(BuiltInText(588))[0], 0x2713);
  EXPECT_EQ(W(BuiltInText(588)), WTEXT("\u2713 Scanned by %s"));
  EXPECT_EQ(W(BuiltInText(590)), WTEXT("Embeddded message scan: \"%s\""));
  EXPECT_EQ(W(BuiltInText(1)), WTEXT("English"));
  EXPECT_EQ(W(BuiltInText(2)), WTEXT("TEXT_002"));
  for (int id : {0, -1, 653}) EXPECT_EQ(W(BuiltInText(id)), WTEXT("DefaultText"));
}

// ---- the manager ----

class CFakeSettings : public CLanguageSettings {
public:
  bool ReadLanguage(bool machineWide, CMyStringA& code) override {
    const std::string& value = machineWide ? machine : user;
    if (value.empty()) return false;
    code.Assign(value.c_str());
    return true;
  }
  uint32_t ReadForceMachineLanguage() override { return force; }
  bool WriteLanguage(bool machineWide, const char* code) override {
    writes.push_back(std::string(machineWide ? "HKLM " : "HKCU ") + code);
    if (machineWide && machineReadOnly) return false;
    (machineWide ? machine : user) = code;
    return true;
  }
  bool WriteForceMachineLanguage(uint32_t value) override {
    writes.push_back("force " + std::to_string(value));
    if (machineReadOnly) return false;
    force = value;
    return true;
  }
  uint16_t SystemUiLanguage() override { return ui; }

  std::string machine, user;
  uint32_t force = 0;
  uint16_t ui = 0x0409;
  bool machineReadOnly = false;
  std::vector<std::string> writes;
};

TEST(LanguageManagerChoice, Table) {
  struct Case {
    const char* why;
    const char* machine;
    uint32_t force;
    const char* user;
    uint16_t ui;
    const char* expected;
  };
  const Case cases[] = {
      {"forced machine value wins", "fr", 1, "de", 0x0409, "fr"},
      {"unforced machine value is not used", "fr", 0, "de", 0x0409, "de"},
      {"machine value alone without force", "fr", 0, "", 0x0407, "de"},
      {"user value", "", 1, "it", 0x0409, "it"},
      {"system German", "", 0, "", 0x0407, "de"},
      {"system Czech", "", 0, "", 0x0405, "cs"},
      {"system Persian", "", 0, "", 0x0429, "fa"},
      {"Croatian", "", 0, "", 0x041A, "hr"},
      {"Croatian (Bosnia), sublanguage 4", "", 0, "", 0x101A, "hr"},
      {"Serbian Latin", "", 0, "", 0x081A, "sr"},
      {"Serbian Cyrillic", "", 0, "", 0x0C1A, "sr"},
      {"unknown system language", "", 0, "", 0x0411, "en"},
  };
  for (const Case& c : cases) {
    CFakeSettings settings;
    settings.machine = c.machine;
    settings.force = c.force;
    settings.user = c.user;
    settings.ui = c.ui;
    LanguageManager manager(nullptr, settings);
    EXPECT_STREQ(manager.ChooseLanguage().GetString(), c.expected) << c.why;
  }
}

// A scratch folder with language files.
class LanguageManagerTest : public ::testing::Test {
protected:
  void SetUp() override {
#ifdef _WIN32
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    static int serial = 0;
    folder_ = std::string(base) + "langtest" + std::to_string(GetCurrentProcessId()) + "_" +
              std::to_string(++serial);
    CreateDirectoryA(folder_.c_str(), nullptr);
    folder_ += "\\";
#else
    char name[] = "/tmp/langtestXXXXXX";
    folder_ = std::string(mkdtemp(name)) + "/";
#endif
    settings_.user = "de";
  }
  void TearDown() override {
    for (const std::string& file : files_) std::remove(file.c_str());
    std::string folder = folder_.substr(0, folder_.size() - 1);
#ifdef _WIN32
    RemoveDirectoryA(folder.c_str());
#else
    rmdir(folder.c_str());
#endif
  }
  void WriteFile(const char* code, const std::string& bytes) {
    std::string path = folder_ + "omlang." + code;
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    files_.push_back(path);
  }

  std::string folder_;
  std::vector<std::string> files_;
  CFakeSettings settings_;
};

TEST_F(LanguageManagerTest, LoadsTheFileWithTheLastLineWinning) {
  WriteFile("de",
            "# Deutsch\n"
            "NativeLanguageName=Deutsch\n"
            "WINTEXT_FROM=Von\n"
            "WINTEXT_SUBJECT=Betreff\n"
            "WINTEXT_SUBJECT=Betreff2\n"
            "NoSuchName=x\n"
            "WINTEXT_SCAN_COMPLETE=\n"
            " WINTEXT_FROM=leading space makes the name unknown\n");
  LanguageManager manager(nullptr, settings_);
  manager.Initialize(folder_.c_str(), "omlang.");
  EXPECT_STREQ(manager.LoadLanguage().GetString(), "de");
  EXPECT_EQ(W(manager.GetText(TEXT_NativeLanguageName)), WTEXT("Deutsch"));
  EXPECT_EQ(W(manager.GetText(TEXT_WINTEXT_FROM)), WTEXT("Von"));
  EXPECT_EQ(W(manager.GetText(TEXT_WINTEXT_SUBJECT)), WTEXT("Betreff2"));
  EXPECT_EQ(W(manager.GetText(TEXT_WINTEXT_SCAN_COMPLETE)), WTEXT(""))
      << "below the highest id of the file, an id without a line is empty";
  EXPECT_EQ(W(manager.GetText(600)), W(BuiltInText(600))) << "above it, the built-in text";
  for (int id : {-1, 653}) EXPECT_EQ(W(manager.GetText(id)), WTEXT("DefaultText"));
  EXPECT_EQ(W(manager.GetText(0)), WTEXT("")) << "index 0 lies below the count, never filled";
  EXPECT_EQ(settings_.writes, (std::vector<std::string>{"HKCU de", "HKLM de", "force 0"}));
  EXPECT_STREQ(manager.CurrentLanguage().GetString(), "de");
}

TEST_F(LanguageManagerTest, CommentsOnlyPutsAnEmptyTableInPlace) {
  WriteFile("de", "# nothing here\n#WINTEXT_FROM=Von\n");
  LanguageManager manager(nullptr, settings_);
  manager.Initialize(folder_.c_str(), "omlang.");
  manager.LoadLanguage();
  EXPECT_STREQ(manager.CurrentLanguage().GetString(), "de");
  EXPECT_EQ(W(manager.GetText(TEXT_WINTEXT_FROM)), WTEXT("From"));
  EXPECT_EQ(settings_.writes.size(), 3u) << "the code is still written";
}

TEST_F(LanguageManagerTest, AMissingFileKeepsTheTableAndWritesNothing) {
  WriteFile("de", "WINTEXT_FROM=Von\n");
  LanguageManager manager(nullptr, settings_);
  manager.Initialize(folder_.c_str(), "omlang.");
  manager.LoadLanguage();
  settings_.writes.clear();
  settings_.user = "fr";  // no such file
  EXPECT_STREQ(manager.LoadLanguage().GetString(), "fr");
  EXPECT_TRUE(settings_.writes.empty());
  EXPECT_EQ(W(manager.GetText(TEXT_WINTEXT_FROM)), WTEXT("Von"));
  EXPECT_STREQ(manager.CurrentLanguage().GetString(), "de");
}

TEST_F(LanguageManagerTest, TextsHandedOutSurviveReloads) {
  WriteFile("de", "WINTEXT_FROM=Von\n");
  WriteFile("en", "WINTEXT_FROM=Sender\n");
  LanguageManager manager(nullptr, settings_);
  manager.Initialize(folder_.c_str(), "omlang.");
  manager.LoadLanguage();
  const WChar* held = manager.GetText(TEXT_WINTEXT_FROM);
  settings_.user = "en";
  manager.LoadLanguage();
  EXPECT_EQ(W(manager.GetText(TEXT_WINTEXT_FROM)), WTEXT("Sender"));
  EXPECT_EQ(W(held), WTEXT("Von")) << "the replaced table is kept (ASan sees a use after free)";
  // The same file again keeps the table in place.
  const WChar* current = manager.GetText(TEXT_WINTEXT_FROM);
  manager.LoadLanguage();
  EXPECT_EQ(manager.GetText(TEXT_WINTEXT_FROM), current);
}

TEST_F(LanguageManagerTest, ReadersRaceReloadsSafely) {
  WriteFile("de", "WINTEXT_FROM=Von\n");
  WriteFile("en", "WINTEXT_FROM=Sender\n");
  LanguageManager manager(nullptr, settings_);
  manager.Initialize(folder_.c_str(), "omlang.");
  manager.LoadLanguage();
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::thread reader([&] {
    while (!stop) {
      WString text = W(manager.GetText(TEXT_WINTEXT_FROM));
      if (text != WTEXT("Von") && text != WTEXT("Sender")) ++bad;
    }
  });
  for (int i = 0; i < 50; ++i) {
    settings_.user = i % 2 ? "de" : "en";
    manager.LoadLanguage();
  }
  stop = true;
  reader.join();
  EXPECT_EQ(bad.load(), 0);
}

TEST_F(LanguageManagerTest, InitializeAddsTheMissingSeparator) {
  LanguageManager manager(nullptr, settings_);
  manager.Initialize("C:\\Tarvix\\..\\image", "omlang.");
  EXPECT_STREQ(manager.FilePath().GetString(), "C:\\Tarvix\\..\\image\\");
  manager.Initialize("C:\\x\\", "omlang.");
  EXPECT_STREQ(manager.FilePath().GetString(), "C:\\x\\");
}

TEST(LanguageManagerSave, WritesEachValueAloneEvenWhenOneFails) {
  CFakeSettings settings;
  settings.machineReadOnly = true;
  LanguageManager manager(nullptr, settings);
  manager.SaveLanguage("it", true);
  EXPECT_EQ(settings.writes, (std::vector<std::string>{"HKCU it", "HKLM it", "force 1"}));
  EXPECT_EQ(settings.user, "it");
}

}  // namespace
}  // namespace mapilib
