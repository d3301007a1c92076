// The platform seam outside Windows: events, threads, time and files.
//
// Waitable objects are small reference-counted records guarded by one
// process-wide mutex and condition variable, so a wait for several objects
// needs no polling. Threads are detached pthreads; they cannot be killed, so
// a forced end abandons the thread (it runs on to its end).
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "foundation/platform.h"
#include "foundation/textconv.h"

namespace tarvixlib {
namespace platform {
namespace {

struct Waitable {
  std::atomic<int> refs{1};
  bool manualReset;
  bool signalled;
};

std::mutex& WaitMutex() {
  static std::mutex m;
  return m;
}
std::condition_variable& WaitCondition() {
  static std::condition_variable cv;
  return cv;
}

void Release(Waitable* w) {
  if (w && w->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete w;
}

bool SetSignalled(OsHandle handle, bool value) {
  auto* w = static_cast<Waitable*>(handle);
  if (!w) return false;
  {
    std::lock_guard<std::mutex> lock(WaitMutex());
    w->signalled = value;
  }
  if (value) WaitCondition().notify_all();
  return true;
}

std::atomic<uint32_t> g_nextThreadId{1};
thread_local uint32_t t_threadId = 0;

struct ThreadStart {
  ThreadEntry entry;
  void* arg;
  Waitable* done;
  uint32_t id;
};

void* ThreadMain(void* p) {
  ThreadStart start = *static_cast<ThreadStart*>(p);
  delete static_cast<ThreadStart*>(p);
  t_threadId = start.id;
  start.entry(start.arg);
  SetSignalled(start.done, true);
  Release(start.done);
  return nullptr;
}

std::string NativePath(const WChar* path) {
  std::string out;
  if (!path) return out;
  size_t length = Utf8Length(path);
  out.resize(length + 1);
  Utf8Encode(&out[0], path);
  out.resize(length);
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

// Descriptors are stored plus one, so that descriptor 0 is not the null
// handle that IsValidFile rejects.
int Fd(FileHandle file) { return static_cast<int>(reinterpret_cast<intptr_t>(file) - 1); }
FileHandle FromFd(int fd) { return reinterpret_cast<FileHandle>(static_cast<intptr_t>(fd) + 1); }

}  // namespace

OsHandle CreateEventObject(bool manualReset, bool signalled) {
  auto* w = new (std::nothrow) Waitable;
  if (!w) return nullptr;
  w->manualReset = manualReset;
  w->signalled = signalled;
  return w;
}

bool SetEventObject(OsHandle event) { return SetSignalled(event, true); }
bool ResetEventObject(OsHandle event) { return SetSignalled(event, false); }

int WaitForAny(const OsHandle* handles, uint32_t count, uint32_t timeoutMs) {
  if (!handles || count == 0 || count > 64) return kWaitFailed;
  for (uint32_t i = 0; i < count; ++i)
    if (!handles[i]) return kWaitFailed;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock<std::mutex> lock(WaitMutex());
  for (;;) {
    for (uint32_t i = 0; i < count; ++i) {
      auto* w = static_cast<Waitable*>(handles[i]);
      if (w->signalled) {
        if (!w->manualReset) w->signalled = false;
        return static_cast<int>(i);
      }
    }
    if (timeoutMs == kInfinite) {
      WaitCondition().wait(lock);
    } else if (WaitCondition().wait_until(lock, deadline) == std::cv_status::timeout) {
      // One last look: a signal may have raced the time-out.
      for (uint32_t i = 0; i < count; ++i) {
        auto* w = static_cast<Waitable*>(handles[i]);
        if (w->signalled) {
          if (!w->manualReset) w->signalled = false;
          return static_cast<int>(i);
        }
      }
      return kWaitTimeout;
    }
  }
}

OsHandle DuplicateOsHandle(OsHandle handle) {
  auto* w = static_cast<Waitable*>(handle);
  if (!w) return nullptr;
  w->refs.fetch_add(1, std::memory_order_relaxed);
  return w;
}

void CloseOsHandle(OsHandle handle) { Release(static_cast<Waitable*>(handle)); }

uint32_t CurrentThreadId() {
  if (t_threadId == 0) t_threadId = g_nextThreadId.fetch_add(1);
  return t_threadId;
}

uint64_t TickCountMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

bool RandomBytes(void* buffer, size_t length) {
  auto* out = static_cast<unsigned char*>(buffer);
  while (length > 0) {
    ssize_t n = getrandom(out, length, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    out += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

void SleepMs(uint32_t ms) {
  struct timespec ts;
  ts.tv_sec = ms / 1000;
  ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

void YieldThread() { sched_yield(); }

OsHandle StartThread(ThreadEntry entry, void* arg, size_t stackReserve, uint32_t* threadId) {
  auto* done = static_cast<Waitable*>(CreateEventObject(true, false));
  if (!done) return nullptr;
  auto* start = new (std::nothrow) ThreadStart{entry, arg, done, g_nextThreadId.fetch_add(1)};
  if (!start) {
    Release(done);
    return nullptr;
  }
  done->refs.fetch_add(1);  // one for the caller, one for the thread
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  bool ok = stackReserve == 0 || pthread_attr_setstacksize(&attr, stackReserve) == 0;
  uint32_t id = start->id;
  pthread_t thread;
  ok = ok && pthread_create(&thread, &attr, ThreadMain, start) == 0;
  pthread_attr_destroy(&attr);
  if (!ok) {
    delete start;
    Release(done);
    Release(done);
    return nullptr;
  }
  if (threadId) *threadId = id;
  return done;
}

// Priorities of ordinary threads cannot be raised without privileges here;
// the request is accepted and ignored.
bool SetThreadPriorityLevel(OsHandle thread, int) { return thread != nullptr; }

bool TerminateThreadObject(OsHandle) { return false; }

FileHandle OpenFileAt(const WChar* path, FileOpenMode mode) {
  std::string p = NativePath(path);
  if (p.empty()) return InvalidFileHandle();
  int flags = mode == FileOpenMode::kReadExisting ? O_RDONLY
              : mode == FileOpenMode::kReadWriteExisting ? O_RDWR
                                                         : (O_RDWR | O_CREAT | O_TRUNC);
  int fd = open(p.c_str(), flags | O_CLOEXEC, 0644);
  return fd < 0 ? InvalidFileHandle() : FromFd(fd);
}

CreateResult CreateNewTempFile(const WChar* path, FileHandle* file) {
  *file = InvalidFileHandle();
  std::string p = NativePath(path);
  if (p.empty()) return CreateResult::kFailed;
  int fd = open(p.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd >= 0) {
    *file = FromFd(fd);
    return CreateResult::kCreated;
  }
  if (errno == ENOENT) return CreateResult::kPathNotFound;
  if (errno == EEXIST) return CreateResult::kExists;
  return CreateResult::kFailed;
}

bool ReadFileBytes(FileHandle file, void* buffer, size_t length, size_t* got) {
  *got = 0;
  for (;;) {
    ssize_t n = read(Fd(file), buffer, length);
    if (n >= 0) {
      *got = static_cast<size_t>(n);
      return true;
    }
    if (errno != EINTR) return false;
  }
}

bool WriteFileBytes(FileHandle file, const void* data, size_t length, size_t* written) {
  *written = 0;
  const char* p = static_cast<const char*>(data);
  while (*written < length) {
    ssize_t n = write(Fd(file), p + *written, length - *written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    *written += static_cast<size_t>(n);
  }
  return true;
}

bool SeekFile(FileHandle file, int64_t offset, int origin, int64_t* newPosition) {
  int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : -1;
  if (whence < 0) return false;
  off_t pos = lseek(Fd(file), static_cast<off_t>(offset), whence);
  if (pos < 0) return false;
  if (newPosition) *newPosition = pos;
  return true;
}

bool SetEndOfFileHere(FileHandle file) {
  off_t pos = lseek(Fd(file), 0, SEEK_CUR);
  return pos >= 0 && ftruncate(Fd(file), pos) == 0;
}

bool CloseFile(FileHandle file) { return IsValidFile(file) && close(Fd(file)) == 0; }

bool DeleteFileAt(const WChar* path) {
  std::string p = NativePath(path);
  return !p.empty() && unlink(p.c_str()) == 0;
}

bool CreateOneDirectory(const WChar* path) {
  std::string p = NativePath(path);
  if (p.empty()) return false;
  if (mkdir(p.c_str(), 0755) == 0) return true;
  struct stat st;
  return errno == EEXIST && stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool GetTempDirectory(WChar* buffer, size_t capacity) {
  const char* dir = std::getenv("TMPDIR");
  std::string d = dir && *dir ? dir : "/tmp";
  if (d.back() != '/') d += '/';
  size_t units = Utf16Length(d.c_str());
  if (!buffer || units + 1 > capacity) return false;
  Utf8Decode(buffer, d.c_str());
  return true;
}

bool OverlappedTransfer(bool, FileHandle, void*, uint32_t, OsHandle, OsHandle, uint32_t,
                        uint32_t* transferred, uint32_t* lastError, const std::atomic<bool>*) {
  if (transferred) *transferred = 0;
  if (lastError) *lastError = 50;  // ERROR_NOT_SUPPORTED
  return false;
}

}  // namespace platform
}  // namespace tarvixlib
