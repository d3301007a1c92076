#include "mapilib/languagemanager.h"

#include <cstdlib>
#include <cstring>

#include "foundation/mystream.h"
#include "mapilib/languagefile.h"

namespace mapilib {

using tarvixlib::CMyStreamFile;
using tarvixlib::CMyStringW;
using tarvixlib::CMySynchronizedBlock;
using tarvixlib::kLogAlert;
using tarvixlib::kLogDebug;
namespace platform = tarvixlib::platform;

namespace {

const WChar kEmptyText[1] = {0};

WChar* CopyText(const WChar* text) {
  size_t length = 0;
  while (text[length]) ++length;
  auto* copy = static_cast<WChar*>(std::malloc((length + 1) * sizeof(WChar)));
  if (copy) std::memcpy(copy, text, (length + 1) * sizeof(WChar));
  return copy;
}

bool TextsEqual(const WChar* a, const WChar* b) {
  while (*a && *a == *b) ++a, ++b;
  return *a == *b;
}

// The system's user-interface language as a language code, null when it is
// none of the product's languages.
const char* CodeOfUiLanguage(uint16_t langId) {
  unsigned primary = langId & 0x3FF;
  unsigned sub = langId >> 10;
  switch (primary) {
    case 5: return "cs";
    case 7: return "de";
    case 9: return "en";
    case 10: return "es";
    case 12: return "fr";
    case 16: return "it";
    case 25: return "ru";
    case 26: return sub == 1 || sub == 4 ? "hr" : "sr";
    case 31: return "tr";
    case 36: return "sl";
    case 41: return "fa";
    default: return nullptr;
  }
}

}  // namespace

// ---- LanguageTable ----

LanguageTable::LanguageTable(const char* code) : code_(code) { Grow(0); }

LanguageTable::~LanguageTable() {
  for (size_t i = 0; i < count_; ++i)
    if (entries_[i] != kEmptyText) std::free(entries_[i]);
  std::free(entries_);
}

bool LanguageTable::Grow(size_t count) {
  if (count > capacity_ || !entries_) {
    size_t capacity = capacity_ ? capacity_ : kInitialCapacity;
    while (capacity < count) capacity += growth_;
    auto* entries = static_cast<WChar**>(std::realloc(entries_, capacity * sizeof(WChar*)));
    if (!entries) return false;
    entries_ = entries;
    capacity_ = capacity;
  }
  for (; count_ < count; ++count_) entries_[count_] = const_cast<WChar*>(kEmptyText);
  return true;
}

bool LanguageTable::Set(int id, const WChar* text) {
  if (id < 1 || id > kTextIdCount) return false;
  if (static_cast<size_t>(id) >= count_ && !Grow(static_cast<size_t>(id) + 1)) return false;
  WChar* copy = text[0] ? CopyText(text) : const_cast<WChar*>(kEmptyText);
  if (!copy) return false;
  if (entries_[id] != kEmptyText) std::free(entries_[id]);
  entries_[id] = copy;
  return true;
}

bool LanguageTable::SameTextsAs(const LanguageTable& other) const {
  if (count_ != other.count_ || std::strcmp(Code(), other.Code()) != 0) return false;
  for (size_t i = 1; i < count_; ++i)
    if (!TextsEqual(entries_[i], other.entries_[i])) return false;
  return true;
}

// ---- LanguageManager ----

LanguageManager::LanguageManager(CMyLog* log, CLanguageSettings& settings)
    : log_(log), settings_(settings), filePath_("..\\image\\"), fileNamePrefix_("omlang.") {}

LanguageManager::~LanguageManager() {
  LanguageTable* table = table_.exchange(nullptr);
  while (table) {
    LanguageTable* older = table->retired_;
    delete table;
    table = older;
  }
}

void LanguageManager::Initialize(const char* filePath, const char* fileNamePrefix) {
  CMySynchronizedBlock<CMyThreadSave> hold(loadLock_);
  filePath_.Assign(filePath);
  size_t length = filePath_.GetLength();
  if (length > 0 && filePath_[length - 1] != '\\' && filePath_[length - 1] != '/')
    filePath_.Append("\\");
  fileNamePrefix_.Assign(fileNamePrefix);
  if (log_)
    log_->Log(kLogDebug, "Initialize LanguageManager filePath=%s, fileNamePrefix=%s",
              filePath_.GetString(), fileNamePrefix_.GetString());
}

CMyStringA LanguageManager::ChooseLanguage() {
  CMyStringA code;
  if (settings_.ReadLanguage(true, code) && settings_.ReadForceMachineLanguage() != 0)
    return code;
  if (settings_.ReadLanguage(false, code)) return code;
  if (const char* system = CodeOfUiLanguage(settings_.SystemUiLanguage())) return system;
  return "en";
}

CMyStringA LanguageManager::LoadLanguage() {
  CMySynchronizedBlock<CMyThreadSave> hold(loadLock_);
  CMyStringA code = ChooseLanguage();
  CMyStringA fileName;
  fileName.Format("%s%s%s", filePath_.GetString(), fileNamePrefix_.GetString(), code.GetString());
  if (log_) log_->Log(kLogDebug, "Trying to load language file %s", fileName.GetString());

  CMyStringW wideName;
  wideName.AssignWideFromAnsi(fileName);
  CMyStreamFile file;
  if (wideName.IsEmpty() ||
      !file.Open(wideName, platform::FileOpenMode::kReadExisting, CMyStreamFile::kReadBuffer)) {
    if (log_) log_->Log(kLogAlert, "Could not open language file: %s", fileName.GetString());
    return code;
  }

  auto* table = new LanguageTable(code);
  CLanguageFileReader reader(file);
  LanguageLine line;
  const WChar* piece;
  size_t length;
  while (reader.NextPiece(&piece, &length)) {
    ParseLanguageLine(piece, length, line);
    if (line.kind == LanguageLineKind::kComment || line.kind == LanguageLineKind::kNoTokens)
      continue;
    int id = TextIdOfName(line.name, line.name.GetLength());
    if (id < 1 || id > kTextIdCount) {
      if (log_) log_->Log(kLogDebug, "Invalid Id %S", line.name.GetString());
      continue;
    }
    if (line.kind == LanguageLineKind::kNameOnly) {
      if (log_) log_->Log(kLogDebug, "Error finding string separator in entry %d", id);
      continue;
    }
    table->Set(id, line.text);
  }
  file.Close();

  LanguageTable* current = table_.load();
  if (current && current->SameTextsAs(*table)) {
    delete table;  // nobody has seen it
  } else {
    table->retired_ = current;
    table_.store(table);
  }
  SaveLanguage(code, false);
  return code;
}

const WChar* LanguageManager::GetText(int id) const {
  const LanguageTable* table = table_.load(std::memory_order_acquire);
  if (table) {
    if (const WChar* text = table->Get(static_cast<uint32_t>(id))) return text;
  }
  return BuiltInText(id);
}

void LanguageManager::SaveLanguage(const char* code, bool force) {
  settings_.WriteLanguage(false, code);
  settings_.WriteLanguage(true, code);
  settings_.WriteForceMachineLanguage(force ? 1 : 0);
}

CMyStringA LanguageManager::CurrentLanguage() const {
  const LanguageTable* table = table_.load();
  return table ? table->Code() : "";
}

CMyStringA LanguageManager::FilePath() const {
  CMySynchronizedBlock<CMyThreadSave> hold(loadLock_);
  return filePath_;
}

}  // namespace mapilib
