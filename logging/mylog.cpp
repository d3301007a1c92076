#include "logging/mylog.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "foundation/myprintf.h"
#include "foundation/mystring.h"
#include "foundation/singleton.h"

namespace tarvixlib {

// ---- levels and time ----

const char* LogLevelName(uint32_t level) {
  if (level & kLogAlert) return "alert";
  if (level & kLogWarn) return "warn ";
  if (level & kLogSys) return "sys  ";
  if (level & kLogInfo) return "info ";
  if (level & kLogDebug) return "dbg  ";
  return "     ";
}

namespace {

void SystemLocalTime(CMyLogTime* now) {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &t);
#else
  localtime_r(&t, &tm);
#endif
  now->day = tm.tm_mday;
  now->month = tm.tm_mon + 1;
  now->year = tm.tm_year + 1900;
  now->hour = tm.tm_hour;
  now->minute = tm.tm_min;
  now->second = tm.tm_sec;
}

std::atomic<LogClockFunction> g_clock{nullptr};

}  // namespace

void SetLogClock(LogClockFunction clock) { g_clock.store(clock); }

void CurrentLogTime(CMyLogTime* now) {
  LogClockFunction clock = g_clock.load();
  (clock ? clock : SystemLocalTime)(now);
}

// ---- the base log ----

CMyLog::CMyLog() {
  CMySynchronizedBlock<CMyThreadSave> hold(levelLock_);
  AddLevelLocked(kLogDebug);
}

CMyLog::~CMyLog() {
  Close();
  for (LevelArray* a = levels_.load(); a;) {
    LevelArray* older = a->older;
    delete[] a->values;
    delete a;
    a = older;
  }
}

void CMyLog::Write(uint32_t, const char*, va_list) {}

int CMyLog::FormatLine(char* buffer, uint32_t level, const char* format, va_list args) {
  CMyLogTime t;
  CurrentLogTime(&t);
  // At most 20 characters: a field out of its usual range cannot move the
  // columns behind it.
  int n = FormatToBuffer(buffer, 21, "[%.2d.%.2d.%.4d %.2d:%.2d:%.2d", t.day, t.month, t.year,
                         t.hour, t.minute, t.second);
  for (; n < 20; ++n) buffer[n] = ' ';
  buffer[20] = ']';
  std::memcpy(buffer + 21, LogLevelName(level), 5);
  buffer[26] = ' ';
  va_list copy;
  va_copy(copy, args);
  int m = FormatToBufferV(buffer + 27, kLogMessageChars + 1, format, copy);
  va_end(copy);
  if (m < 0) m = 0;
  char* end = buffer + 27 + m;
  end[0] = '\r';
  end[1] = '\n';
  end[2] = '\0';
  return 27 + m + 2;
}

bool CMyLog::IsSuppressed(uint32_t level) const {
  LevelArray* a = levels_.load(std::memory_order_acquire);
  if (!a) return false;
  size_t n = count_.load(std::memory_order_acquire);
  if (n > a->capacity) n = a->capacity;
  for (size_t i = 0; i < n; ++i)
    if (a->values[i].load(std::memory_order_relaxed) == level) return true;
  return false;
}

bool CMyLog::AddLevelLocked(uint32_t level) {
  LevelArray* a = levels_.load();
  size_t n = count_.load();
  if (!a || n == a->capacity) {
    size_t capacity = (a ? a->capacity : 0) + 16;
    auto* grown = new (std::nothrow) LevelArray{capacity, nullptr, a};
    if (!grown) return false;
    grown->values = new (std::nothrow) std::atomic<uint32_t>[capacity];
    if (!grown->values) {
      delete grown;
      return false;
    }
    for (size_t i = 0; i < n; ++i) grown->values[i].store(a->values[i].load());
    levels_.store(grown, std::memory_order_release);
    a = grown;
  }
  a->values[n].store(level, std::memory_order_relaxed);
  count_.store(n + 1, std::memory_order_release);
  return true;
}

void CMyLog::DisableLevel(uint32_t level) {
  CMySynchronizedBlock<CMyThreadSave> hold(levelLock_);
  if (!IsSuppressed(level)) AddLevelLocked(level);
}

void CMyLog::EnableAllLevels() {
  CMySynchronizedBlock<CMyThreadSave> hold(levelLock_);
  count_.store(0, std::memory_order_release);
}

void CMyLog::EnableLevel(uint32_t level) {
  CMySynchronizedBlock<CMyThreadSave> hold(levelLock_);
  LevelArray* a = levels_.load();
  size_t n = count_.load();
  for (size_t i = 0; i < n; ++i) {
    if (a->values[i].load() != level) continue;
    for (size_t j = i + 1; j < n; ++j) a->values[j - 1].store(a->values[j].load());
    count_.store(n - 1, std::memory_order_release);
    return;
  }
}

void CMyLog::CopyLevelsTo(CMyLog& other) {
  if (&other == this) return;
  CMySynchronizedBlock<CMyThreadSave> hold(levelLock_);
  other.EnableAllLevels();
  LevelArray* a = levels_.load();
  size_t n = count_.load();
  for (size_t i = 0; i < n; ++i) other.DisableLevel(a->values[i].load());
}

void CMyLog::SetLevel(uint32_t threshold) {
  CMySynchronizedBlock<CMyThreadSave> hold(levelLock_);
  count_.store(0, std::memory_order_release);
  switch (threshold) {
    case kLogAlert:
      AddLevelLocked(kLogDebug);
      AddLevelLocked(kLogInfo);
      AddLevelLocked(kLogWarn);
      break;
    case kLogWarn:
      AddLevelLocked(kLogDebug);
      AddLevelLocked(kLogInfo);
      break;
    case kLogDebug:
      break;
    default:  // info, and anything that is not a level
      AddLevelLocked(kLogDebug);
      break;
  }
}

size_t CMyLog::SuppressedCount() {
  CMySynchronizedBlock<CMyThreadSave> hold(levelLock_);
  return count_.load();
}

uint32_t CMyLog::SuppressedAt(size_t index) {
  CMySynchronizedBlock<CMyThreadSave> hold(levelLock_);
  return index < count_.load() ? levels_.load()->values[index].load() : 0;
}

void CMyLog::LogV(uint32_t level, const char* format, va_list args) {
  if (IsClosed() || IsSuppressed(level)) return;
  va_list copy;
  va_copy(copy, args);
  Write(level, format ? format : "", copy);
  va_end(copy);
}

void CMyLog::Log(uint32_t level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  LogV(level, format, args);
  va_end(args);
}

#define TARVIX_LOG_AT(name, level)            \
  void CMyLog::name(const char* format, ...) { \
    va_list args;                              \
    va_start(args, format);                    \
    LogV(level, format, args);                 \
    va_end(args);                              \
  }
TARVIX_LOG_AT(LogAlert, kLogAlert)
TARVIX_LOG_AT(LogWarn, kLogWarn)
TARVIX_LOG_AT(LogInfo, kLogInfo)
TARVIX_LOG_AT(LogDebug, kLogDebug)
#undef TARVIX_LOG_AT

// ---- memory buffer ----

CMyLogBuf::~CMyLogBuf() {
  Close();
  Clear();
  std::free(entries_);
}

void CMyLogBuf::Write(uint32_t level, const char* format, va_list args) {
  if (IsClosed()) return;
  CMySynchronizedBlock<CMyThreadSave> hold(entryLock_);
  if (count_ == capacity_) {
    // Steps of 16 entries, at least doubling: a buffer that receives a whole
    // request of entries must not copy itself once per sixteen of them.
    size_t capacity = capacity_ < kGrowth ? kGrowth : capacity_ * 2;
    auto* grown = static_cast<Entry*>(std::realloc(entries_, capacity * sizeof(Entry)));
    if (!grown) return;
    entries_ = grown;
    capacity_ = capacity;
  }
  char* text = nullptr;
  va_list copy;
  va_copy(copy, args);
  int n = FormatToHeapV(text, 0, format, copy);
  va_end(copy);
  if (n < 0) return;
  if (!text) {  // an empty message: the engine may leave no array
    text = static_cast<char*>(std::malloc(1));
    if (!text) return;
    text[0] = '\0';
  }
  entries_[count_++] = Entry{level, text};
  textBytes_ += static_cast<size_t>(n);
}

void CMyLogBuf::Clear() {
  CMySynchronizedBlock<CMyThreadSave> hold(entryLock_);
  for (size_t i = 0; i < count_; ++i) std::free(entries_[i].text);
  count_ = 0;
  textBytes_ = 0;
}

// ---- mappers ----

namespace {
struct DebugCapMapper : CMyCapLogMapper {
  DebugCapMapper() : CMyCapLogMapper(kLogDebug) {}
};
struct WarnCapMapper : CMyCapLogMapper {
  WarnCapMapper() : CMyCapLogMapper(kLogWarn) {}
};
}  // namespace

CMyCapLogMapper& CMyCapLogMapper::DebugCap() { return CSingleton<DebugCapMapper>::Instance(); }
CMyCapLogMapper& CMyCapLogMapper::WarnCap() { return CSingleton<WarnCapMapper>::Instance(); }

// ---- pool ----

CMyLogPool::~CMyLogPool() {
  Close();
  CMySynchronizedBlock<CMyThreadSave> hold(poolLock_);
  for (size_t i = 0; i < count_; ++i)
    if (items_[i].owned) delete items_[i].target;
  std::free(items_);
  items_ = nullptr;
  count_ = capacity_ = 0;
}

void CMyLogPool::Write(uint32_t level, const char* format, va_list args) {
  if (IsClosed()) return;
  CMySynchronizedBlock<CMyThreadSave> hold(poolLock_);
  for (size_t i = 0; i < count_; ++i) {
    CMyLogItem& item = items_[i];
    if (!item.target || item.target->IsClosed()) continue;
    uint32_t mapped = item.mapper ? item.mapper->Map(level) : level;
    item.target->LogV(mapped, format, args);  // LogV works on a copy
  }
}

void CMyLogPool::DisableLevel(uint32_t level) {
  {
    CMySynchronizedBlock<CMyThreadSave> hold(poolLock_);
    for (size_t i = 0; i < count_; ++i)
      if (items_[i].target) items_[i].target->DisableLevel(level);
  }
  CMyLog::DisableLevel(level);
}

void CMyLogPool::EnableLevel(uint32_t level) {
  {
    CMySynchronizedBlock<CMyThreadSave> hold(poolLock_);
    for (size_t i = 0; i < count_; ++i)
      if (items_[i].target) items_[i].target->EnableLevel(level);
  }
  CMyLog::EnableLevel(level);
}

void CMyLogPool::SetLevel(uint32_t threshold) {
  {
    CMySynchronizedBlock<CMyThreadSave> hold(poolLock_);
    for (size_t i = 0; i < count_; ++i)
      if (items_[i].target) items_[i].target->SetLevel(threshold);
    threshold_ = threshold;
  }
  CMyLog::SetLevel(threshold);
}

size_t CMyLogPool::AddTarget(CMyLog* log, bool owned, CMyLogMapper* mapper) {
  CMySynchronizedBlock<CMyThreadSave> hold(poolLock_);
  if (!log || log == this) return count_;
  for (size_t i = 0; i < count_; ++i)
    if (items_[i].target == log) return count_;
  if (count_ == capacity_) {
    size_t capacity = capacity_ + kGrowth;
    auto* grown = static_cast<CMyLogItem*>(std::realloc(items_, capacity * sizeof(CMyLogItem)));
    if (!grown) {
      if (owned) delete log;
      return count_;
    }
    items_ = grown;
    capacity_ = capacity;
  }
  items_[count_++] = CMyLogItem{log, mapper, owned};
  return count_;
}

bool CMyLogPool::RemoveTarget(CMyLog* log) {
  CMySynchronizedBlock<CMyThreadSave> hold(poolLock_);
  for (size_t i = 0; i < count_; ++i) {
    if (items_[i].target != log) continue;
    if (items_[i].owned) delete log;
    std::memmove(items_ + i, items_ + i + 1, (count_ - i - 1) * sizeof(CMyLogItem));
    --count_;
    return true;
  }
  return false;
}

size_t CMyLogPool::Count() {
  CMySynchronizedBlock<CMyThreadSave> hold(poolLock_);
  return count_;
}

CMyLogPool& CMyLogPool::ProcessPool() { return CSingleton<CMyLogPool>::Instance(); }

}  // namespace tarvixlib
