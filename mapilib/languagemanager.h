// The language manager: chooses the language, reads its language file into
// a table indexed by text id, answers lookups, and writes the language in
// use back to the settings.
//
// Lookups take no lock: they read the current table through an atomic
// pointer. A load builds a new table and swaps it in. Texts handed out stay
// valid for the manager's whole life: a replaced table is kept (not freed)
// until the manager is destroyed, since another thread may still be
// showing one of its texts. A reload that yields the same texts as the
// table in place keeps that table and frees the new one, so repeated
// reloads of one file cost nothing. Loads (and changing the folder) are
// serialized by the manager's own lock.
#pragma once

#include <atomic>
#include <cstdint>

#include "foundation/mystring.h"
#include "foundation/threads.h"
#include "logging/mylog.h"
#include "mapilib/textids.h"

namespace mapilib {

using tarvixlib::CMyLog;
using tarvixlib::CMyStringA;
using tarvixlib::CMyThreadSave;

// Where the language choice lives: "Language" (a string of at most 259
// bytes) under the per-user and the machine-wide product key,
// "ForceHKLMLanguage" (a 32-bit number) under the machine-wide key, and the
// system's default user-interface language.
class CLanguageSettings {
public:
  virtual ~CLanguageSettings() = default;
  // False when the value is missing, not a string, or too long.
  virtual bool ReadLanguage(bool machineWide, CMyStringA& code) = 0;
  // 0 when missing.
  virtual uint32_t ReadForceMachineLanguage() = 0;
  virtual bool WriteLanguage(bool machineWide, const char* code) = 0;
  virtual bool WriteForceMachineLanguage(uint32_t force) = 0;
  virtual uint16_t SystemUiLanguage() = 0;
};

// The Windows registry and GetSystemDefaultUILanguage (Windows only).
CLanguageSettings& SystemLanguageSettings();

// One language file's texts: index = text id, index 0 unused.
class LanguageTable {
public:
  static constexpr size_t kGrowthStep = 16;
  static constexpr size_t kInitialCapacity = kTextIdCount + 1;

  explicit LanguageTable(const char* code);
  ~LanguageTable();
  LanguageTable(const LanguageTable&) = delete;
  LanguageTable& operator=(const LanguageTable&) = delete;

  // Stores the text at id (1..652), growing the count to id + 1 with empty
  // entries; a later text for an id replaces the earlier one.
  bool Set(int id, const WChar* text);
  // The entry, or null when id is not below the count.
  const WChar* Get(uint32_t id) const { return id < count_ ? entries_[id] : nullptr; }
  size_t Count() const { return count_; }
  const char* Code() const { return code_.GetString(); }
  bool SameTextsAs(const LanguageTable& other) const;

private:
  bool Grow(size_t count);

  size_t growth_ = kGrowthStep;
  size_t capacity_ = 0;
  size_t count_ = 0;
  WChar** entries_ = nullptr;
  CMyStringA code_;
  LanguageTable* retired_ = nullptr;  // the manager's chain of replaced tables
  friend class LanguageManager;
};

class LanguageManager {
public:
  static constexpr size_t kLanguageValueSize = 260;

  // log may be null; settings must outlive the manager.
  LanguageManager(CMyLog* log, CLanguageSettings& settings);
  virtual ~LanguageManager();
  LanguageManager(const LanguageManager&) = delete;
  LanguageManager& operator=(const LanguageManager&) = delete;

  // filePath ends in a separator (one is added when missing).
  virtual void Initialize(const char* filePath, const char* fileNamePrefix);
  virtual CMyStringA ChooseLanguage();
  // Chooses the language and loads its file; returns the chosen code.
  virtual CMyStringA LoadLanguage();
  // Never null.
  virtual const WChar* GetText(int id) const;
  virtual void SaveLanguage(const char* code, bool force);

  // The language of the table in place ("" before the first load).
  CMyStringA CurrentLanguage() const;
  CMyStringA FilePath() const;

private:
  CMyLog* log_;
  CLanguageSettings& settings_;
  CMyStringA filePath_;
  CMyStringA fileNamePrefix_;
  std::atomic<LanguageTable*> table_{nullptr};
  mutable CMyThreadSave loadLock_;
};

}  // namespace mapilib
