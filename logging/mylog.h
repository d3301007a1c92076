// Logs: entries at a level, filtered by a per-log set of suppressed levels,
// handed to a sink.
//
// A level is a 32-bit nibble mask (kLogAlert .. kLogSys). Severity runs
// alert, warn, info, dbg from high to low, which is ascending numeric order;
// sys stands outside the threshold scheme. Every log starts with {dbg}
// suppressed. Log() tests the set without taking the log's lock (it is on
// every writer's path); the set is kept so that this read is always
// memory-safe, an entry racing a change of the set may pass or not.
//
// Logging never reports failure to the writer: an entry that cannot be
// formatted or stored is lost, a set or list that cannot grow stays as it
// was.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "foundation/threads.h"

namespace tarvixlib {

enum : uint32_t {
  kLogAlert = 0x0000000F,
  kLogWarn = 0x000000F0,
  kLogInfo = 0x00000F00,
  kLogDebug = 0x0000F000,
  kLogSys = 0x000F0000,
};

// The five-character name of a level ("alert", "warn ", "info ", "dbg  ",
// "sys  ", five blanks for none). With bits of several levels the first of
// alert, warn, sys, info, dbg wins.
const char* LogLevelName(uint32_t level);

// Local time as a log line shows it.
struct CMyLogTime {
  int day, month, year, hour, minute, second;
};
using LogClockFunction = void (*)(CMyLogTime* now);
// The clock behind FormatLine; null restores the local time of the system.
// Process-wide (tests pin it).
void SetLogClock(LogClockFunction clock);
void CurrentLogTime(CMyLogTime* now);

// A rendered line: 27 characters of time and level, up to 8191 of message,
// CR, LF and the terminator.
constexpr size_t kLogMessageChars = 8191;
constexpr size_t kLogLineSize = 27 + kLogMessageChars + 3;  // 8221

class CMyLog {
public:
  CMyLog();
  CMyLog(const CMyLog&) = delete;
  CMyLog& operator=(const CMyLog&) = delete;

  // ---- operations, in slot order ----
  // Delivers one entry that passed the filter; the base discards it.
  virtual void Write(uint32_t level, const char* format, va_list args);
  // Renders "[dd.mm.yyyy hh:mm:ss]" + level name + " " + message + CR LF
  // into buffer, which holds at least kLogLineSize bytes. Returns the length.
  virtual int FormatLine(char* buffer, uint32_t level, const char* format, va_list args);
  // Derived logs call Close() first in their own destructors, so entries
  // written while one is torn down are ignored.
  virtual ~CMyLog();
  virtual void DisableLevel(uint32_t level);
  virtual void EnableAllLevels();
  virtual void EnableLevel(uint32_t level);
  // other gets exactly this log's set, in its order.
  virtual void CopyLevelsTo(CMyLog& other);
  // alert: {dbg, info, warn}; warn: {dbg, info}; info and any value that is
  // not a level: {dbg}; dbg: {}. Sys is never suppressed by a threshold.
  virtual void SetLevel(uint32_t threshold);

  // ---- writing ----
  // Nothing when closed or the level value is in the set; else Write.
  void Log(uint32_t level, const char* format, ...);
  void LogV(uint32_t level, const char* format, va_list args);
  void LogAlert(const char* format, ...);
  void LogWarn(const char* format, ...);
  void LogInfo(const char* format, ...);
  void LogDebug(const char* format, ...);

  // Values are compared exactly: 0x00FF is suppressed only by 0x00FF.
  bool IsSuppressed(uint32_t level) const;
  bool IsClosed() const { return closed_.load(std::memory_order_acquire) != 0; }
  // The set in its order (under the log's lock).
  size_t SuppressedCount();
  uint32_t SuppressedAt(size_t index);

protected:
  void Close() { closed_.store(1, std::memory_order_release); }
  CMyThreadSave& LevelLock() { return levelLock_; }

private:
  // A grown set never frees the array it replaced while the log lives: a
  // reader without the lock may still be looking at it.
  struct LevelArray {
    size_t capacity;
    std::atomic<uint32_t>* values;
    LevelArray* older;
  };
  bool AddLevelLocked(uint32_t level);

  std::atomic<LevelArray*> levels_{nullptr};
  std::atomic<size_t> count_{0};
  CMyThreadSave levelLock_;
  std::atomic<uint8_t> closed_{0};
};

// Discards everything.
class CMyDummyLog : public CMyLog {
public:
  ~CMyDummyLog() override { Close(); }
  void Write(uint32_t, const char*, va_list) override {}
};

// Forwards every entry to a target log under a lock of its own, so the
// target's filter applies as well.
template <typename T = CMyLog>
class CMyThreadSaveLogT : public CMyLog {
public:
  explicit CMyThreadSaveLogT(T* target = nullptr) : target_(target) {}
  ~CMyThreadSaveLogT() override { Close(); }

  void Write(uint32_t level, const char* format, va_list args) override {
    if (IsClosed()) return;
    CMySynchronizedBlock<CMyThreadSave> hold(forwardLock_);
    // A log that is its own target handles Write itself; never loop.
    if (target_ && static_cast<CMyLog*>(target_) != this) target_->LogV(level, format, args);
  }
  void SetTarget(T* target) {
    CMySynchronizedBlock<CMyThreadSave> hold(forwardLock_);
    target_ = target;
  }
  T* Target() const { return target_; }

protected:
  T* target_;
  CMyThreadSave forwardLock_;
};

// Keeps entries in memory: the level and the formatted message.
class CMyLogBuf : public CMyLog {
public:
  static constexpr size_t kGrowth = 16;  // the first step; later ones double

  CMyLogBuf() = default;
  ~CMyLogBuf() override;

  void Write(uint32_t level, const char* format, va_list args) override;
  void Clear();

  // Readers hold EntryLock() while they walk the entries.
  CMyThreadSave& EntryLock() { return entryLock_; }
  size_t Count() const { return count_; }
  uint32_t LevelAt(size_t index) const { return entries_[index].level; }
  const char* TextAt(size_t index) const { return entries_[index].text; }
  // Bytes of text held (without terminators).
  size_t TextBytes() const { return textBytes_; }

private:
  struct Entry {
    uint32_t level;
    char* text;  // malloc'ed
  };
  Entry* entries_ = nullptr;
  size_t count_ = 0;
  size_t capacity_ = 0;
  size_t textBytes_ = 0;
  CMyThreadSave entryLock_;
};

// Lowers (or keeps) the level of an entry on its way to a pool target.
class CMyLogMapper {
public:
  virtual ~CMyLogMapper() = default;
  virtual uint32_t Map(uint32_t level) { return level; }
};

// Any level numerically below the cap becomes the cap.
class CMyCapLogMapper : public CMyLogMapper {
public:
  explicit CMyCapLogMapper(uint32_t cap) : cap_(cap) {}
  uint32_t Map(uint32_t level) override { return level < cap_ ? cap_ : level; }
  uint32_t Cap() const { return cap_; }

  // The process-wide mappers, created on first use and never destroyed.
  static CMyCapLogMapper& DebugCap();  // cap dbg (0xF000)
  static CMyCapLogMapper& WarnCap();   // cap warn (0x00F0)

private:
  uint32_t cap_;
};

// Fans every entry out to its targets, each through its mapper.
class CMyLogPool : public CMyLog {
public:
  static constexpr size_t kGrowth = 16;

  struct CMyLogItem {
    CMyLog* target;
    CMyLogMapper* mapper;  // null: the level unchanged; never owned
    bool owned;            // deleting the item deletes the target
  };

  CMyLogPool() = default;
  // Deletes the items, and so the targets of owning items.
  ~CMyLogPool() override;

  // Under the pool's lock: Log on every open target with the mapped level.
  void Write(uint32_t level, const char* format, va_list args) override;
  // Applied to every target, then to the pool itself.
  void DisableLevel(uint32_t level) override;
  void EnableLevel(uint32_t level) override;
  void SetLevel(uint32_t threshold) override;

  // Returns the number of items afterwards (a new item is the last). A null
  // log, the pool itself or a log already in the pool is not added; the
  // result is then the current number. When the item cannot be stored an
  // owned log is deleted.
  size_t AddTarget(CMyLog* log, bool owned, CMyLogMapper* mapper);
  // Takes the log out (deleting it when owned); whether it was there. A
  // target that goes away before the pool must be removed first.
  bool RemoveTarget(CMyLog* log);
  size_t Count();
  uint32_t Threshold() const { return threshold_; }

  // The process-wide pool every connection manager registers its log with;
  // created on first use under a process-wide lock and never destroyed.
  static CMyLogPool& ProcessPool();

private:
  CMyThreadSave poolLock_;
  CMyLogItem* items_ = nullptr;
  size_t count_ = 0;
  size_t capacity_ = 0;
  uint32_t threshold_ = kLogInfo;
};

}  // namespace tarvixlib
