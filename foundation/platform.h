// The one seam between the platform-neutral core and the operating system.
// Everything in foundation/ that needs the OS goes through these functions;
// platform_win32.cpp and platform_posix.cpp are the two sides.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace tarvixlib {

// One 16-bit code unit of UTF-16 text: wchar_t on Windows, char16_t elsewhere.
#ifdef _WIN32
using WChar = wchar_t;
#else
using WChar = char16_t;
#endif
static_assert(sizeof(WChar) == 2, "UTF-16 code units are 16 bits");

// A literal of WChar text.
#ifdef _WIN32
#define TARVIX_WTEXT(s) L##s
#else
#define TARVIX_WTEXT(s) u##s
#endif

namespace platform {

// Converts between the calling thread's ANSI code page and UTF-16 (Windows:
// CP_THREAD_ACP; elsewhere Windows-1252). Lengths are in code units and
// exclude any terminator; srcLen -1 means the source is zero-terminated and
// the terminator is then converted too (as MultiByteToWideChar does).
// With dst null or dstCap 0 the function returns the length the conversion
// needs. Returns 0 on failure, including a destination that is too small.
int AnsiToWide(const char* src, int srcLen, WChar* dst, int dstCap);
int WideToAnsi(const WChar* src, int srcLen, char* dst, int dstCap);

// ---- Waitable objects, threads and time (platform_*_os.cpp) ----

// A waitable object: on Windows a HANDLE; elsewhere an object of the POSIX
// side (events and thread handles), reference counted per handle copy.
using OsHandle = void*;
constexpr uint32_t kInfinite = 0xFFFFFFFFu;
constexpr int kWaitTimeout = -1;  // WaitForAny: nothing signalled in time
constexpr int kWaitFailed = -2;   // WaitForAny: bad handle or OS failure

// Events; null on failure.
OsHandle CreateEventObject(bool manualReset, bool signalled);
bool SetEventObject(OsHandle event);
bool ResetEventObject(OsHandle event);
// Index of the first signalled handle (an auto-reset event is reset by the
// wait that obtains it), kWaitTimeout or kWaitFailed. count 1..64.
int WaitForAny(const OsHandle* handles, uint32_t count, uint32_t timeoutMs);
inline bool WaitForOne(OsHandle handle, uint32_t timeoutMs) {
  return WaitForAny(&handle, 1, timeoutMs) == 0;
}
// A second handle to the same object (closed separately); null on failure.
OsHandle DuplicateOsHandle(OsHandle handle);
void CloseOsHandle(OsHandle handle);

// Identifier of the calling thread; never 0.
uint32_t CurrentThreadId();
// Milliseconds of a monotonic clock.
uint64_t TickCountMs();
void SleepMs(uint32_t ms);
void YieldThread();
// Fills the buffer from the system's cryptographic random source; false
// when it cannot.
bool RandomBytes(void* buffer, size_t length);

// Starts a thread running entry(arg). The returned handle is signalled once
// entry has returned; null when the thread could not be created.
// stackReserve 0 takes the default stack.
using ThreadEntry = void (*)(void* arg);
OsHandle StartThread(ThreadEntry entry, void* arg, size_t stackReserve, uint32_t* threadId);
bool SetThreadPriorityLevel(OsHandle thread, int priority);
// Ends a thread by force with exit code 0 (Windows: TerminateThread). Where
// threads cannot be killed the thread is abandoned instead - it runs on to
// its end and its handle is signalled then - and the result is false.
bool TerminateThreadObject(OsHandle thread);

// ---- Files (platform_*_os.cpp) ----

// An open file: a HANDLE on Windows, a file descriptor elsewhere.
using FileHandle = void*;
inline FileHandle InvalidFileHandle() { return reinterpret_cast<FileHandle>(static_cast<intptr_t>(-1)); }
inline bool IsValidFile(FileHandle file) { return file != InvalidFileHandle() && file != nullptr; }

// Paths are UTF-16; outside Windows they are used as UTF-8 with "\" read
// as a directory separator.
enum class FileOpenMode { kReadExisting, kReadWriteExisting, kCreateAlways };
FileHandle OpenFileAt(const WChar* path, FileOpenMode mode);
enum class CreateResult { kCreated, kPathNotFound, kExists, kFailed };
// Creates a new file for reading and writing, shared for both, with the
// temporary attribute.
CreateResult CreateNewTempFile(const WChar* path, FileHandle* file);
bool ReadFileBytes(FileHandle file, void* buffer, size_t length, size_t* got);
bool WriteFileBytes(FileHandle file, const void* data, size_t length, size_t* written);
// origin: 0 begin, 1 current, 2 end.
bool SeekFile(FileHandle file, int64_t offset, int origin, int64_t* newPosition);
bool SetEndOfFileHere(FileHandle file);
bool CloseFile(FileHandle file);
bool DeleteFileAt(const WChar* path);
// True when the directory was created or already exists.
bool CreateOneDirectory(const WChar* path);
// The system's directory for temporary files, ending in a separator.
bool GetTempDirectory(WChar* buffer, size_t capacity);

// One overlapped read (write false) or write on a handle opened for
// overlapped I/O, started with ownEvent (manual-reset). A pending transfer
// waits for ownEvent, and for cancelEvent when not null, up to timeoutMs; a
// time-out or cancel cancels the I/O. Also fails when it completed at once
// but cancelEvent is set. cancelFlag, when given, is set by whoever signals
// cancelEvent before signalling it: while it reads false the event cannot be
// set, and a transfer that completed at once needs no kernel call to rule
// out a cancel. Windows only; elsewhere it always fails.
bool OverlappedTransfer(bool write, FileHandle file, void* buffer, uint32_t length,
                        OsHandle ownEvent, OsHandle cancelEvent, uint32_t timeoutMs,
                        uint32_t* transferred, uint32_t* lastError,
                        const std::atomic<bool>* cancelFlag = nullptr);

}  // namespace platform
}  // namespace tarvixlib
