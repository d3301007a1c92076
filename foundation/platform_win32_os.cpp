// The platform seam on Windows: events, threads, time, files and overlapped
// I/O, each a thin layer over the Win32 call of the same purpose.
#include <windows.h>

#include <ntsecapi.h>
#include <process.h>

#include <new>

#include "foundation/platform.h"

namespace tarvixlib {
namespace platform {

OsHandle CreateEventObject(bool manualReset, bool signalled) {
  return CreateEventW(nullptr, manualReset ? TRUE : FALSE, signalled ? TRUE : FALSE, nullptr);
}

bool SetEventObject(OsHandle event) { return event && SetEvent(event) != FALSE; }
bool ResetEventObject(OsHandle event) { return event && ResetEvent(event) != FALSE; }

int WaitForAny(const OsHandle* handles, uint32_t count, uint32_t timeoutMs) {
  if (!handles || count == 0 || count > MAXIMUM_WAIT_OBJECTS) return kWaitFailed;
  DWORD r = WaitForMultipleObjects(count, handles, FALSE, timeoutMs);
  if (r < WAIT_OBJECT_0 + count) return static_cast<int>(r - WAIT_OBJECT_0);
  // An abandoned mutex is not one of ours; treat it as a failure.
  if (r == WAIT_TIMEOUT) return kWaitTimeout;
  return kWaitFailed;
}

OsHandle DuplicateOsHandle(OsHandle handle) {
  HANDLE copy = nullptr;
  if (!handle || !DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0,
                                  FALSE, DUPLICATE_SAME_ACCESS))
    return nullptr;
  return copy;
}

// Closing keeps the thread's last error: owners close on failure paths.
void CloseOsHandle(OsHandle handle) {
  if (!handle || handle == INVALID_HANDLE_VALUE) return;
  DWORD error = GetLastError();
  CloseHandle(handle);
  SetLastError(error);
}

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }
uint64_t TickCountMs() { return GetTickCount64(); }
void SleepMs(uint32_t ms) { Sleep(ms); }
void YieldThread() { SwitchToThread(); }

bool RandomBytes(void* buffer, size_t length) {
  auto* out = static_cast<unsigned char*>(buffer);
  while (length > 0) {
    ULONG piece = length > 0x10000000 ? 0x10000000 : static_cast<ULONG>(length);
    if (!RtlGenRandom(out, piece)) return false;
    out += piece;
    length -= piece;
  }
  return true;
}

namespace {
struct ThreadStart {
  ThreadEntry entry;
  void* arg;
};

unsigned __stdcall ThreadMain(void* p) {
  ThreadStart start = *static_cast<ThreadStart*>(p);
  delete static_cast<ThreadStart*>(p);
  start.entry(start.arg);
  return 0;
}
}  // namespace

OsHandle StartThread(ThreadEntry entry, void* arg, size_t stackReserve, uint32_t* threadId) {
  auto* start = new (std::nothrow) ThreadStart{entry, arg};
  if (!start) return nullptr;
  unsigned id = 0;
  // _beginthreadex keeps the C runtime's per-thread state right.
  uintptr_t h = _beginthreadex(nullptr, static_cast<unsigned>(stackReserve), ThreadMain, start,
                               stackReserve ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0, &id);
  if (h == 0) {
    delete start;
    return nullptr;
  }
  if (threadId) *threadId = id;
  return reinterpret_cast<HANDLE>(h);
}

bool SetThreadPriorityLevel(OsHandle thread, int priority) {
  return thread && SetThreadPriority(thread, priority) != FALSE;
}

bool TerminateThreadObject(OsHandle thread) {
  return thread && TerminateThread(thread, 0) != FALSE;
}

FileHandle OpenFileAt(const WChar* path, FileOpenMode mode) {
  DWORD access = mode == FileOpenMode::kReadExisting ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
  DWORD disposition = mode == FileOpenMode::kCreateAlways ? CREATE_ALWAYS : OPEN_EXISTING;
  return CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

CreateResult CreateNewTempFile(const WChar* path, FileHandle* file) {
  *file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr);
  if (*file != INVALID_HANDLE_VALUE) return CreateResult::kCreated;
  DWORD error = GetLastError();
  if (error == ERROR_PATH_NOT_FOUND) return CreateResult::kPathNotFound;
  if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return CreateResult::kExists;
  return CreateResult::kFailed;
}

// ReadFile and WriteFile take 32-bit lengths; larger requests go in pieces.
constexpr size_t kMaxPiece = 0x40000000;

bool ReadFileBytes(FileHandle file, void* buffer, size_t length, size_t* got) {
  *got = 0;
  DWORD n = 0;
  DWORD piece = static_cast<DWORD>(length < kMaxPiece ? length : kMaxPiece);
  if (!ReadFile(file, buffer, piece, &n, nullptr)) return GetLastError() == ERROR_BROKEN_PIPE;
  *got = n;
  return true;
}

bool WriteFileBytes(FileHandle file, const void* data, size_t length, size_t* written) {
  *written = 0;
  const char* p = static_cast<const char*>(data);
  while (*written < length) {
    size_t left = length - *written;
    DWORD n = 0;
    if (!WriteFile(file, p + *written, static_cast<DWORD>(left < kMaxPiece ? left : kMaxPiece), &n,
                   nullptr))
      return false;
    if (n == 0) break;
    *written += n;
  }
  return true;
}

bool SeekFile(FileHandle file, int64_t offset, int origin, int64_t* newPosition) {
  if (origin < 0 || origin > 2) return false;
  LARGE_INTEGER distance, result;
  distance.QuadPart = offset;
  static const DWORD kMethods[] = {FILE_BEGIN, FILE_CURRENT, FILE_END};
  if (!SetFilePointerEx(file, distance, &result, kMethods[origin])) return false;
  if (newPosition) *newPosition = result.QuadPart;
  return true;
}

bool SetEndOfFileHere(FileHandle file) { return SetEndOfFile(file) != FALSE; }
bool CloseFile(FileHandle file) {
  if (!IsValidFile(file)) return false;
  DWORD error = GetLastError();
  bool closed = CloseHandle(file) != FALSE;
  if (closed) SetLastError(error);
  return closed;
}
bool DeleteFileAt(const WChar* path) { return path && DeleteFileW(path) != FALSE; }

bool CreateOneDirectory(const WChar* path) {
  if (!path || !*path) return false;
  if (CreateDirectoryW(path, nullptr)) return true;
  DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool GetTempDirectory(WChar* buffer, size_t capacity) {
  if (!buffer || capacity == 0 || capacity > MAXDWORD) return false;
  DWORD n = GetTempPathW(static_cast<DWORD>(capacity), buffer);
  return n > 0 && n < capacity;
}

bool OverlappedTransfer(bool write, FileHandle file, void* buffer, uint32_t length,
                        OsHandle ownEvent, OsHandle cancelEvent, uint32_t timeoutMs,
                        uint32_t* transferred, uint32_t* lastError,
                        const std::atomic<bool>* cancelFlag) {
  *transferred = 0;
  *lastError = 0;
  OVERLAPPED ov = {};
  ov.hEvent = ownEvent;  // ReadFile and WriteFile reset it as they start
  DWORD n = 0;
  BOOL done = write ? WriteFile(file, buffer, length, &n, &ov) : ReadFile(file, buffer, length, &n, &ov);
  if (done) {
    // Completed at once; a cancel that is already signalled still wins.
    bool maybeCancelled = cancelEvent && (!cancelFlag || cancelFlag->load());
    if (maybeCancelled && WaitForSingleObject(cancelEvent, 0) == WAIT_OBJECT_0) {
      *lastError = ERROR_OPERATION_ABORTED;
      return false;
    }
    *transferred = n;
    return true;
  }
  DWORD error = GetLastError();
  if (error != ERROR_IO_PENDING) {
    *lastError = error;
    return false;
  }
  HANDLE waits[2] = {cancelEvent, ownEvent};
  DWORD r = cancelEvent ? WaitForMultipleObjects(2, waits, FALSE, timeoutMs)
                        : WaitForSingleObject(ownEvent, timeoutMs);
  bool completed = cancelEvent ? r == WAIT_OBJECT_0 + 1 : r == WAIT_OBJECT_0;
  if (!completed) {
    CancelIo(file);
    // The I/O may still finish before the cancel takes; wait for the kernel
    // to let go of the buffer and the OVERLAPPED before returning, and keep
    // bytes that did move rather than losing them.
    if (GetOverlappedResult(file, &ov, &n, TRUE) && n > 0) {
      *transferred = n;
      return true;
    }
    *lastError = r == WAIT_TIMEOUT ? ERROR_TIMEOUT : ERROR_OPERATION_ABORTED;
    return false;
  }
  if (!GetOverlappedResult(file, &ov, &n, FALSE)) {
    *lastError = GetLastError();
    return false;
  }
  *transferred = n;
  return true;
}

}  // namespace platform
}  // namespace tarvixlib
