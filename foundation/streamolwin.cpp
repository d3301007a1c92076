// Overlapped I/O stream (Windows): the waiting and cancelling live in the
// platform seam's OverlappedTransfer.
#include "foundation/mystream.h"

namespace tarvixlib {

namespace {
constexpr size_t kMaxTransfer = 0x40000000;  // one transfer takes a 32-bit length
}

CMyStreamOLWin::CMyStreamOLWin(platform::FileHandle handle, platform::OsHandle cancelEvent,
                               uint32_t timeoutMs)
    : handle_(handle),
      cancelEvent_(cancelEvent),
      timeoutMs_(timeoutMs),
      ownEvent_(platform::CreateEventObject(/*manualReset=*/true, /*signalled=*/false)) {}

CMyStreamOLWin::~CMyStreamOLWin() { platform::CloseOsHandle(ownEvent_); }

size_t CMyStreamOLWin::Read(void* buffer, size_t length) {
  if (!IsOpen() || !ownEvent_ || length == 0) return 0;
  uint32_t got = 0;
  uint32_t piece = static_cast<uint32_t>(length < kMaxTransfer ? length : kMaxTransfer);
  if (!platform::OverlappedTransfer(false, handle_, buffer, piece, ownEvent_, cancelEvent_,
                                    timeoutMs_, &got, &lastError_, cancelFlag_))
    return 0;
  return got;
}

size_t CMyStreamOLWin::Write(const void* data, size_t length) {
  if (!IsOpen() || !ownEvent_) return 0;
  auto* p = static_cast<uint8_t*>(const_cast<void*>(data));
  size_t done = 0;
  while (done < length) {
    size_t left = length - done;
    uint32_t put = 0;
    if (!platform::OverlappedTransfer(true, handle_, p + done,
                                      static_cast<uint32_t>(left < kMaxTransfer ? left : kMaxTransfer),
                                      ownEvent_, cancelEvent_, timeoutMs_, &put, &lastError_,
                                      cancelFlag_) ||
        put == 0)
      break;
    done += put;
  }
  return done;
}

}  // namespace tarvixlib
